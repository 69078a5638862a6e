// The pages people read in a browser: home, documentation, installer, the
// shared-picture board of each channel, and the member page where a member
// signs in and edits their profile. Plain server-rendered HTML and forms;
// nothing needs JavaScript.
#include <httplib.h>
#include <sys/stat.h>

#include <fstream>

#include "Orva-Lin/net/channels.h"
#include "Orva-Lin/web/records.h"
#include "servers/webhost/signin_guard.h"
#include "servers/webhost/webhost.h"

#ifndef ORVA_VERSION
#define ORVA_VERSION "0.0.0"
#endif

namespace webhost {

namespace {

constexpr const char* kHtmlType = "text/html; charset=utf-8";
constexpr const char* kCookie = "orva_session";
constexpr const char* kZipName = "Orva-Lin.zip";
constexpr const char* kSetupName = "Orva-Lin-Setup-" ORVA_VERSION ".exe";

constexpr const char* kStyle = R"(
body{font-family:Arial,Helvetica,sans-serif;background:#10141c;color:#eee;margin:0}
header{background:#000;border-bottom:3px solid #ff0;padding:12px 24px}
header a{color:#ff0;font-weight:bold;font-size:22px;text-decoration:none}
nav a{color:#fff;margin-right:18px}
main{max-width:860px;margin:0 auto;padding:16px 24px}
h1{color:#ff0}
a{color:#7cf}
label{display:block;margin-top:10px;font-weight:bold}
input[type=text],input[type=email],input[type=password],input[type=number]{width:100%;max-width:420px;padding:6px}
button{margin-top:14px;padding:8px 18px;font-weight:bold}
.erreur{background:#600;padding:8px;border-left:4px solid #f44}
.ok{background:#063;padding:8px;border-left:4px solid #4f4}
.portrait{border:1px solid red}
table{border-collapse:collapse}td,th{padding:4px 10px;border-bottom:1px solid #333;text-align:left}
small{color:#aaa}
.pastille{display:inline-block;width:28px;height:28px;border:1px solid #fff;margin-right:6px}
input[type=checkbox]{margin-right:8px}
)";

}  // namespace

std::string utf8(const wchar_t* text) {
  std::string out;
  // The pages' own French texts: all within the Basic Multilingual Plane.
  for (; *text; ++text) appendUtf8(out, static_cast<char16_t>(*text));
  return out;
}

static std::string page(std::string_view title, std::string_view body) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width\"><title>";
  html += htmlEscape(title);
  html += "</title><style>";
  html += kStyle;
  html += "</style></head><body><header><a href=\"/\">Orva-Lin</a> <nav style=\"display:inline;margin-left:30px\">"
          "<a href=\"/FR-Orva-Lin.php\">Documentation</a><a href=\"/installer.php\">Télécharger</a>"
          "<a href=\"/echange/\">Images partagées</a><a href=\"/membre\">Espace membre</a></nav></header><main>";
  html += body;
  html += "</main></body></html>\n";
  return html;
}

void sendPage(httplib::Response& res, std::string_view title, std::string_view body, int status) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Content-Security-Policy", "default-src 'self'; style-src 'unsafe-inline'; img-src 'self'");
  res.set_content(page(title, body), kHtmlType);
}

void redirect(httplib::Response& res, const std::string& to) {
  res.status = 303;
  res.set_header("Location", to);
}

std::string cookieValue(const httplib::Request& req, std::string_view name) {
  const std::string cookies = req.get_header_value("Cookie");
  const std::string key = std::string(name) + "=";
  for (std::size_t at = 0; at < cookies.size();) {
    while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
    std::size_t end = cookies.find(';', at);
    if (end == std::string::npos) end = cookies.size();
    if (cookies.compare(at, key.size(), key) == 0) return cookies.substr(at + key.size(), end - at - key.size());
    at = end;
  }
  return {};
}

namespace {

// ---- Static pages ------------------------------------------------------------
void home(const httplib::Request&, httplib::Response& res) {
  sendPage(res, "Orva-Lin",
           "<h1>Orva-Lin, la téléphonie de loisir</h1>"
           "<p>Orva-Lin relie des membres qui se parlent à l'alternat sur onze canaux de groupe. "
           "Ce serveur garde le profil de chaque membre (prénom, ville, phrase, couleur, portrait) "
           "et l'image partagée de chaque canal.</p>"
           "<ul><li><a href=\"/FR-Orva-Lin.php\">Lire la documentation</a></li>"
           "<li><a href=\"/installer.php\">Télécharger le programme</a></li>"
           "<li><a href=\"/echange/\">Voir les images partagées des canaux</a></li>"
           "<li><a href=\"/membre\">Modifier mon profil</a></li></ul>");
}

void documentation(const httplib::Request&, httplib::Response& res) {
  std::string channels = "<table><tr><th>Touche</th><th>Canal</th></tr>";
  for (int c = 0; c < web::kChannelCount; ++c) {
    channels += "<tr><td>" + (c < 10 ? std::to_string(c) : std::string("+ (pavé numérique)")) +
                "</td><td>" + htmlEscape(utf8(channels::kNames[c])) + "</td></tr>";
  }
  channels += "</table>";
  sendPage(res, "Documentation d'Orva-Lin",
           "<h1>Documentation d'Orva-Lin</h1>"
           "<h2>Parler et écouter</h2>"
           "<p>Maintenez la barre d'espace enfoncée pour parler ; relâchez-la pour écouter. "
           "Une seule personne parle à la fois sur un canal. Quand un membre parle, son portrait, "
           "son prénom, sa ville et sa phrase s'affichent sur le panneau.</p>"
           "<h2>Changer de canal</h2><p>Tapez le chiffre du canal ; la touche + du pavé numérique "
           "mène au canal 10.</p>" + channels +
           "<h2>Les fenêtres</h2><ul>"
           "<li>Cliquez dans le cadre du canal pour voir tous les groupes et leurs membres.</li>"
           "<li>Cliquez sur l'anneau NETWORK pour voir les membres du canal courant.</li>"
           "<li>Cliquez sur l'animation pour ouvrir l'image partagée du canal (sauf sur le canal 0) ; "
           "le menu Fichier permet de l'actualiser ou d'envoyer une nouvelle image "
           "(PNG, JPEG, BMP ou GIF de moins de 10 000 000 octets).</li>"
           "<li>Cliquez sur le bouton des paramètres pour voir vos périphériques audio, votre profil, "
           "et choisir la couleur de fond du panneau ; elle est gardée sur ce serveur.</li>"
           "<li>Le petit haut-parleur en haut à gauche lance le synthétiseur vocal Talvo, "
           "qui lit à voix haute le texte que vous tapez, sur le canal.</li></ul>"
           "<h2>Votre profil</h2><p>Votre prénom, votre ville, votre phrase et votre portrait se "
           "modifient dans l'<a href=\"/membre\">espace membre</a>, avec le mot de passe que "
           "l'administrateur du serveur vous a donné.</p>"
           "<p>Échap ou la croix rouge ferment le programme.</p>");
}

bool dataFileSize(const char* name, long long& size) {
  struct stat st {};
  const std::string path = options().dataDir + "/" + name;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  return true;
}

std::string sizeText(long long bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f Mo", static_cast<double>(bytes) / 1e6);
  return text;
}

void installer(const httplib::Request&, httplib::Response& res) {
  std::string body = "<h1>Installer Orva-Lin</h1>"
                     "<p>Orva-Lin fonctionne sous Windows. Version " ORVA_VERSION ".</p>";
  long long size = 0;
  bool any = false;
  if (dataFileSize(kSetupName, size)) {
    body += "<h2>Programme d'installation</h2><p><a href=\"/telechargement/" + std::string(kSetupName) +
            "\">" + kSetupName + "</a> <small>(" + sizeText(size) +
            ")</small><br>Lancez-le et suivez les étapes ; Orva-Lin s'installe dans "
            "C:\\Program Files\\Orva-Lin.</p>";
    any = true;
  }
  if (dataFileSize(kZipName, size)) {
    body += "<h2>Dossier du programme</h2><p><a href=\"/telechargement/" + std::string(kZipName) +
            "\">" + kZipName + "</a> <small>(" + sizeText(size) +
            ")</small><br>Décompressez l'archive dans C:\\Program Files\\Orva-Lin et lancez "
            "Orva-Lin.exe depuis ce dossier.</p>";
    any = true;
  }
  if (!any)
    body += "<p class=\"erreur\">Aucun fichier n'est encore proposé sur ce serveur. "
            "Revenez plus tard ou demandez-le à l'administrateur.</p>";
  sendPage(res, "Installer Orva-Lin", body);
}

// Only the two fixed names are served; nothing from the request reaches the path.
void download(const char* name, const char* type, httplib::Response& res) {
  long long size = 0;
  auto file = std::make_shared<std::ifstream>(options().dataDir + "/" + name, std::ios::binary);
  if (!dataFileSize(name, size) || !*file) return sendPage(res, "Introuvable", "<h1>Fichier introuvable</h1>", 404);
  res.set_header("Content-Disposition", std::string("attachment; filename=\"") + name + "\"");
  res.set_content_provider(static_cast<std::size_t>(size), type,
                           [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             char buffer[65536];
                             file->seekg(static_cast<std::streamoff>(offset));
                             file->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                             const auto got = file->gcount();
                             if (got <= 0) return false;
                             sink.write(buffer, static_cast<std::size_t>(got));
                             return true;
                           });
}

// ---- Shared pictures -------------------------------------------------------------
void boardIndex(const httplib::Request&, httplib::Response& res) {
  std::string body = "<h1>Images partagées</h1><p>Chaque canal a une image que ses membres "
                     "remplacent depuis Orva-Lin.</p><ul>";
  for (int c = 0; c < web::kChannelCount; ++c)
    body += "<li><a href=\"/echange/canal.php?F=" + std::to_string(c) + "\">Canal " + std::to_string(c) +
            " — " + htmlEscape(utf8(channels::kNames[c])) + "</a></li>";
  sendPage(res, "Images partagées", body + "</ul>");
}

void boardPage(const httplib::Request& req, httplib::Response& res) {
  const int channel = req.get_param_value_count("F") == 1 ? parseChannel(req.get_param_value("F")) : -1;
  if (channel < 0) return sendPage(res, "Canal inconnu", "<h1>Canal inconnu</h1><p>Les canaux vont de 0 à 10.</p>", 400);
  const std::string title = "Canal " + std::to_string(channel) + " — " + utf8(channels::kNames[channel]);
  std::string png, name;
  std::string body = "<h1>" + htmlEscape(title) + "</h1>";
  // Channel 0 has no board: whatever an older host let in there stays unshown.
  const Found found = channel == 0 ? Found::No : loadShare(channel, 1, png, &name);
  switch (found) {
    case Found::Yes:
      body += "<p><img src=\"/echange/pc_img_share_get.php?F=" + std::to_string(channel) +
              "&amp;N=1\" alt=\"Image partagée du canal\" style=\"max-width:100%\"></p><p><small>Fichier envoyé : " +
              htmlEscape(name) + "</small></p>";
      break;
    case Found::No:
      body += channel == 0 ? "<p>Le canal 0 n'a pas d'image partagée.</p>"
                           : "<p>Aucune image n'a encore été partagée sur ce canal.</p>";
      break;
    case Found::Error: return sendPage(res, "Erreur", "<h1>Erreur du serveur</h1>", 500);
  }
  sendPage(res, title, body + "<p><a href=\"/echange/\">Tous les canaux</a></p>");
}

// ---- Member page -------------------------------------------------------------------
std::string cookieToken(const httplib::Request& req) { return cookieValue(req, kCookie); }

// The signed-in member, or 0.
int signedIn(const httplib::Request& req, std::string* formKey = nullptr) {
  const std::string token = cookieToken(req);
  if (token.size() != 64) return 0;
  int number = 0;
  std::string key;
  if (loadSession(token, number, key) != Found::Yes) return 0;
  if (formKey) *formKey = key;
  return number;
}

void signInForm(httplib::Response& res, std::string_view message, int status) {
  std::string body = "<h1>Espace membre</h1>";
  if (!message.empty()) body += "<p class=\"erreur\">" + htmlEscape(message) + "</p>";
  body += "<form method=\"post\" action=\"/membre/connexion\">"
          "<label for=\"numero\">Numéro de membre</label>"
          "<input type=\"number\" id=\"numero\" name=\"numero\" min=\"1\" max=\"65535\" required>"
          "<label for=\"motdepasse\">Mot de passe</label>"
          "<input type=\"password\" id=\"motdepasse\" name=\"motdepasse\" required>"
          "<br><button type=\"submit\">Se connecter</button></form>"
          "<p><small>Le mot de passe vous est donné par l'administrateur du serveur.</small></p>";
  sendPage(res, "Espace membre", body, status);
}

void memberHome(const httplib::Request& req, httplib::Response& res) {
  if (signedIn(req)) return redirect(res, "/membre/profil");
  signInForm(res, {}, 200);
}

// A password check behind the sign-in guard. Every check is logged, so an
// operator sees guessing in the journal (and a test can count the hashes).
using Check = PasswordCheck;

Check checkMemberPassword(const httplib::Request& req, int number, const std::string& password) {
  std::string hash;
  if (loadPasswordHash(number, hash) != Found::Yes) hash.clear();
  const Check check = guardedPasswordCheck(SignInKind::Member, std::to_string(number), clientAddress(req),
                                           password, hash);
  // Same password, a stronger hash: not a change, the sessions stay.
  if (check == Check::Good && passwordNeedsRehash(hash)) {
    const std::string stronger = hashPassword(password);
    if (!stronger.empty() && savePasswordHash(number, stronger)) logLine("member %d password hash upgraded", number);
  }
  return check;
}

// Locked and Busy answers, shared by every form that checks a password.
bool refusedCheck(Check check, httplib::Response& res) {
  if (check == Check::Locked) {
    signInForm(res, "Trop d'essais manqués : réessayez dans un quart d'heure.", 429);
    return true;
  }
  if (check == Check::Busy) {
    signInForm(res, "Serveur occupé : réessayez dans quelques secondes.", 503);
    res.set_header("Retry-After", std::to_string(kSignInRetrySeconds));
    return true;
  }
  return false;
}

void signIn(const httplib::Request& req, httplib::Response& res) {
  const int number = parseMemberNumber(req.get_param_value("numero"));
  const std::string password = req.get_param_value("motdepasse");
  if (!number || password.empty()) return signInForm(res, "Numéro ou mot de passe incorrect.", 401);
  const Check check = checkMemberPassword(req, number, password);
  if (refusedCheck(check, res)) return;
  if (check != Check::Good) return signInForm(res, "Numéro ou mot de passe incorrect.", 401);
  std::string token, formKey;
  if (!createSession(number, token, formKey)) return signInForm(res, "Erreur du serveur, réessayez.", 500);
  res.set_header("Set-Cookie", std::string(kCookie) + "=" + token +
                                   "; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age=28800");
  redirect(res, "/membre/profil");
}

void signOut(const httplib::Request& req, httplib::Response& res) {
  const std::string token = cookieToken(req);
  if (!token.empty()) dropSession(token);
  res.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age=0");
  redirect(res, "/membre");
}

constexpr std::size_t kColoursShown = 5;
constexpr const char* kFieldLabels[kFieldCount] = {"Prénom", "Ville", "Phrase", "Jour", "E-mail", "Dossier"};
constexpr const char* kFieldInputs[kFieldCount] = {"prenom", "ville", "phrase", "jour", "email", "dossier"};

void profileForm(httplib::Response& res, int number, const Profile& p, const std::string& formKey,
                 const std::vector<std::string>& errors, const char* notice, int status) {
  std::string body = "<h1>Mon profil — membre " + std::to_string(number) + "</h1>";
  if (notice) body += std::string("<p class=\"ok\">") + notice + "</p>";
  if (!errors.empty()) {
    body += "<div class=\"erreur\"><p>Le profil n'a pas été enregistré :</p><ul>";
    for (const std::string& e : errors) body += "<li>" + htmlEscape(e) + "</li>";
    body += "</ul></div>";
  }
  body += "<p><img class=\"portrait\" src=\"/users/" + std::to_string(number) +
          "/images.php?N=2\" alt=\"Mon portrait\" width=\"200\" height=\"252\"></p>"
          "<form method=\"post\" action=\"/membre/profil\" enctype=\"multipart/form-data\">"
          "<input type=\"hidden\" name=\"jeton\" value=\"" + formKey + "\">";
  for (int f = 0; f < kFieldCount; ++f) {
    body += std::string("<label for=\"") + kFieldInputs[f] + "\">" + kFieldLabels[f] + "</label><input type=\"" +
            (f == Email ? "email" : "text") + "\" id=\"" + kFieldInputs[f] + "\" name=\"" + kFieldInputs[f] +
            "\" value=\"" + htmlEscape(p.field[f]) + "\">";
  }
  const std::string hidden = "<input type=\"hidden\" name=\"jeton\" value=\"" + formKey + "\">";
  auto box = [](const char* id, bool checked, const char* label, const char* why) {
    return std::string("<label><input type=\"checkbox\" id=\"") + id + "\" name=\"" + id + "\" value=\"1\"" +
           (checked ? " checked" : "") + "> " + label + "</label><small>" + why + "</small>";
  };
  body += box("publier", p.emailPublic, "Publier mon e-mail dans mon profil Orva-Lin",
              "Le profil que lit le programme (client.xml) est public : n'importe qui sur Internet peut le lire "
              "pour n'importe quel numéro. Sans cette case, votre adresse reste sur ce serveur et n'y figure pas.");
  body += "<label for=\"couleur\">Couleur du panneau</label><input type=\"color\" id=\"couleur\" name=\"couleur\" value=\"#" +
          rgbText(p.red, p.green, p.blue) + "\">" +
          box("verrou", p.colourLocked, "Garder cette couleur",
              "Orva-Lin envoie la couleur sans mot de passe : n'importe qui pourrait la changer à votre place. "
              "Gardée, elle ne change plus que depuis cette page.") +
          "<br>"
          "<label for=\"photo\">Nouveau portrait (PNG, JPEG, GIF, BMP ; facultatif)</label>"
          "<input type=\"file\" id=\"photo\" name=\"photo\" accept=\"image/*\">"
          "<br><button type=\"submit\">Enregistrer</button></form>";
  std::vector<ColourEntry> history;
  colourHistory(number, history);
  if (history.size() > kColoursShown) history.resize(kColoursShown);
  if (!history.empty()) {
    body += "<h2>Mes dernières couleurs</h2><p>";
    for (const ColourEntry& c : history)
      body += "<span class=\"pastille\" title=\"#" + rgbText(c.red, c.green, c.blue) + "\" style=\"background:#" +
              rgbText(c.red, c.green, c.blue) + "\"></span> ";
    body += "</p><form method=\"post\" action=\"/membre/couleur\">" + hidden +
            "<button type=\"submit\" id=\"annuler\">Revenir à la couleur précédente (#" +
            rgbText(history[0].red, history[0].green, history[0].blue) + ")</button></form>";
  }
  body += "<h2>Mot de passe</h2><form method=\"post\" action=\"/membre/motdepasse\">" + hidden +
          "<label for=\"actuel\">Mot de passe actuel</label><input type=\"password\" id=\"actuel\" name=\"actuel\" required>"
          "<label for=\"nouveau\">Nouveau mot de passe (8 caractères au moins)</label>"
          "<input type=\"password\" id=\"nouveau\" name=\"nouveau\" minlength=\"8\" maxlength=\"1024\" required>"
          "<br><button type=\"submit\">Changer le mot de passe</button>"
          "<small> Vos autres sessions ouvertes seront fermées.</small></form>"
          "<form method=\"post\" action=\"/membre/deconnexion\"><button type=\"submit\">Se déconnecter</button></form>";
  sendPage(res, "Mon profil", body, status);
}

void profilePage(const httplib::Request& req, httplib::Response& res) {
  std::string formKey;
  const int number = signedIn(req, &formKey);
  if (!number) return redirect(res, "/membre");
  Profile profile;
  if (loadProfile(number, profile) != Found::Yes) return signInForm(res, "Ce compte n'existe plus.", 404);
  const char* notice = req.has_param("enregistre") ? "Profil enregistré."
                       : req.has_param("annule")   ? "Couleur précédente rétablie."
                       : req.has_param("motdepasse") ? "Mot de passe changé ; vos autres sessions sont fermées."
                                                     : nullptr;
  profileForm(res, number, profile, formKey, {}, notice, 200);
}

void saveProfile(const httplib::Request& req, httplib::Response& res) {
  std::string formKey;
  const int number = signedIn(req, &formKey);
  if (!number) return signInForm(res, "Votre session a expiré : reconnectez-vous.", 401);
  if (!req.is_multipart_form_data() || req.get_file_value("jeton").content != formKey)
    return sendPage(res, "Refusé", "<h1>Formulaire refusé</h1><p><a href=\"/membre/profil\">Recommencer</a></p>", 403);
  Profile profile;
  if (loadProfile(number, profile) != Found::Yes) return signInForm(res, "Ce compte n'existe plus.", 404);

  std::vector<std::string> errors;
  for (int f = 0; f < kFieldCount; ++f) {
    const std::string value = req.get_file_value(kFieldInputs[f]).content;
    const std::string reason = checkFieldValue(static_cast<Field>(f), value);
    if (!reason.empty()) errors.push_back(std::string(kFieldLabels[f]) + " : " + reason);
    else profile.field[f] = value;
  }
  if (!parseRgb(req.get_file_value("couleur").content, profile.red, profile.green, profile.blue))
    errors.push_back("Couleur : attendue sous la forme #RRVVBB");
  profile.emailPublic = req.get_file_value("publier").content == "1";
  profile.colourLocked = req.get_file_value("verrou").content == "1";
  std::string small, large;
  const std::string& photo = req.get_file_value("photo").content;
  if (!photo.empty()) {
    std::string reason;
    if (!makePortraits({reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size()}, small, large, reason))
      errors.push_back("Portrait : " + reason);
  }
  if (!errors.empty()) return profileForm(res, number, profile, formKey, errors, nullptr, 400);
  const bool pictures = !small.empty();
  if (saveMember(number, profile, false, pictures ? &small : nullptr, pictures ? &large : nullptr) != SaveResult::Ok)
    return profileForm(res, number, profile, formKey, {"Erreur du serveur, réessayez."}, nullptr, 500);
  logLine("member %d edited the profile%s", number, pictures ? " and the portrait" : "");
  redirect(res, "/membre/profil?enregistre=1");
}

// The small forms of the member page: signed in, and carrying the form key.
int signedInForm(const httplib::Request& req, httplib::Response& res, std::string& formKey) {
  const int number = signedIn(req, &formKey);
  if (!number) {
    signInForm(res, "Votre session a expiré : reconnectez-vous.", 401);
    return 0;
  }
  if (req.get_param_value("jeton") != formKey) {
    sendPage(res, "Refusé", "<h1>Formulaire refusé</h1><p><a href=\"/membre/profil\">Recommencer</a></p>", 403);
    return 0;
  }
  return number;
}

void undoColour(const httplib::Request& req, httplib::Response& res) {
  std::string formKey;
  const int number = signedInForm(req, res, formKey);
  if (!number) return;
  bool undone = false;
  if (!undoBackground(number, undone)) return sendPage(res, "Erreur", "<h1>Erreur du serveur</h1>", 500);
  if (undone) logLine("member %d went back to the previous colour", number);
  redirect(res, undone ? "/membre/profil?annule=1" : "/membre/profil");
}

void changeOwnPassword(const httplib::Request& req, httplib::Response& res) {
  std::string formKey;
  const int number = signedInForm(req, res, formKey);
  if (!number) return;
  const std::string fresh = req.get_param_value("nouveau");
  Profile profile;
  if (loadProfile(number, profile) != Found::Yes) return signInForm(res, "Ce compte n'existe plus.", 404);
  const Check check = checkMemberPassword(req, number, req.get_param_value("actuel"));
  if (refusedCheck(check, res)) return;
  if (check != Check::Good)
    return profileForm(res, number, profile, formKey, {"Mot de passe actuel incorrect."}, nullptr, 401);
  if (fresh.size() < 8 || fresh.size() > 1024)
    return profileForm(res, number, profile, formKey, {"Nouveau mot de passe : 8 caractères au moins."}, nullptr, 400);
  const std::string hash = hashPassword(fresh);
  if (hash.empty() || !changePassword(number, hash, cookieToken(req)))
    return profileForm(res, number, profile, formKey, {"Erreur du serveur, réessayez."}, nullptr, 500);
  logLine("member %d changed the password; other sessions ended", number);
  redirect(res, "/membre/profil?motdepasse=1");
}

}  // namespace

PasswordCheck guardedPasswordCheck(SignInKind kind, std::string_view account, std::string_view address,
                                   std::string_view password, const std::string& hash) {
  SignInAttempt attempt;
  switch (beginSignIn(kind, account, address, attempt)) {
    case SignInVerdict::Go: break;
    case SignInVerdict::Locked: return PasswordCheck::Locked;
    case SignInVerdict::Busy: return PasswordCheck::Busy;
  }
  const std::string who(account), from(address);
  logLine("password check: %s %s from %s", kind == SignInKind::Member ? "member" : "operator", who.c_str(),
          from.c_str());
  static const std::string decoy = hashPassword("orva-decoy");
  const bool good = !hash.empty() && checkPassword(password, hash);
  if (hash.empty()) checkPassword(password, decoy);
  endSignIn(attempt, good);
  return good ? PasswordCheck::Good : PasswordCheck::Wrong;
}

void addPageRoutes(httplib::Server& server) {
  server.Get("/", home);
  server.Get("/FR-Orva-Lin.php", documentation);
  server.Get("/installer.php", installer);
  server.Get("/telechargement/Orva-Lin.zip",
             [](const httplib::Request&, httplib::Response& res) { download(kZipName, "application/zip", res); });
  server.Get("/telechargement/" + std::string(kSetupName),
             [](const httplib::Request&, httplib::Response& res) {
               download(kSetupName, "application/vnd.microsoft.portable-executable", res);
             });
  server.Get("/echange/", boardIndex);
  server.Get("/echange/canal.php", boardPage);
  server.Get("/membre", memberHome);
  server.Post("/membre/connexion", signIn);
  server.Post("/membre/deconnexion", signOut);
  server.Get("/membre/profil", profilePage);
  server.Post("/membre/profil", saveProfile);
  server.Post("/membre/couleur", undoColour);
  server.Post("/membre/motdepasse", changeOwnPassword);
}

}  // namespace webhost
