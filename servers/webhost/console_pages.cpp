// The operator's console under /console: sign-in with operator accounts, the
// live view of the relay's channels, the member list, and the actions. Every
// page needs an operator session (a member's session opens nothing here);
// every form carries the session's form key; every action is confirmed on a
// page of its own (the member form by a box to tick) and written to the
// audit log.
#include <httplib.h>
#include <openssl/crypto.h>

#include <ctime>

#include "Orva-Lin/net/channels.h"
#include "servers/webhost/signin_guard.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

constexpr const char* kConsoleCookie = "orva_console";
constexpr int kPageSize = 50;
constexpr int kMaxShownPerChannel = 200;

constexpr const char* kConsoleStyle = R"(<style>
main{max-width:1180px}
.onglets a{margin-right:16px;font-weight:bold}
.canaux{display:flex;flex-wrap:wrap;gap:10px}
.canal{background:#1b2230;padding:6px 10px;width:250px;min-height:60px}
.canal h3{margin:2px 0 6px;font-size:15px;color:#ff0}
.canal ul{list-style:none;padding:0;margin:0}
.canal li{display:flex;flex-wrap:wrap;align-items:center;gap:6px;margin:3px 0}
.canal li.parle{background:#2a5d2a}
.canal li form{margin:0 0 0 auto}.canal li button,.canal form button{margin:0;padding:2px 6px;font-size:12px}
.parle b{color:#8f8;white-space:nowrap}
.compteurs{columns:4;font-size:12px}
.activite{display:flex;flex-wrap:wrap;gap:10px}.carte{background:#1b2230;padding:6px;font-size:12px}
form.ligne{display:inline}
</style>)";

struct Operator {
  std::string name, formKey;
};

bool signedIn(const httplib::Request& req, Operator& op) {
  const std::string token = cookieValue(req, kConsoleCookie);
  return token.size() == 64 && loadOperatorSession(token, op.name, op.formKey) == Found::Yes;
}

// A form value, from a multipart or a urlencoded body alike.
std::string field(const httplib::Request& req, const char* name) {
  if (req.is_multipart_form_data()) return req.get_file_value(name).content;
  return req.get_param_value_count(name) == 1 ? req.get_param_value(name) : std::string();
}

bool formKeyMatches(const httplib::Request& req, const Operator& op) {
  const std::string key = field(req, "jeton");
  return key.size() == op.formKey.size() && !key.empty() &&
         CRYPTO_memcmp(key.data(), op.formKey.data(), key.size()) == 0;
}

std::string hidden(const char* name, std::string_view value) {
  return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" + htmlEscape(value) + "\">";
}

std::string when(long long stamp) {
  const std::time_t t = static_cast<std::time_t>(stamp);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
  return text;
}

// An action whose audit line cannot be stored still leaves its trace in the
// host's log (the journal under systemd).
void audit(const std::string& who, const std::string& what) {
  if (!addAudit(who, what)) logLine("console: audit log not written: %s: %s", who.c_str(), what.c_str());
}

std::string channelTitle(int ch) { return std::to_string(ch) + " — " + htmlEscape(utf8(channels::kNames[ch])); }

void consolePage(httplib::Response& res, const Operator& op, std::string_view title, std::string_view body,
                 int status = 200) {
  std::string html = std::string(kConsoleStyle) +
                     "<p class=\"onglets\"><a href=\"/console\">En direct</a><a href=\"/console/membres\">Membres</a>"
                     "<a href=\"/console/journal\">Journal</a> <small>opérateur " + htmlEscape(op.name) +
                     "</small></p><form method=\"post\" action=\"/console/deconnexion\">" +
                     hidden("jeton", op.formKey) + "<button type=\"submit\">Se déconnecter</button></form>";
  html += body;
  sendPage(res, std::string("Console — ") + std::string(title), html, status);
}

void signInForm(httplib::Response& res, std::string_view message, int status) {
  std::string body = "<h1>Console de l'opérateur</h1>";
  if (!message.empty()) body += "<p class=\"erreur\">" + htmlEscape(message) + "</p>";
  body += "<form method=\"post\" action=\"/console/connexion\">"
          "<label for=\"nom\">Opérateur</label><input type=\"text\" id=\"nom\" name=\"nom\" maxlength=\"32\" required>"
          "<label for=\"motdepasse\">Mot de passe</label>"
          "<input type=\"password\" id=\"motdepasse\" name=\"motdepasse\" required>"
          "<br><button type=\"submit\">Se connecter</button></form>"
          "<p><small>Les comptes d'opérateur se créent sur le serveur : "
          "orva-webhost --data DOSSIER operator add NOM.</small></p>";
  sendPage(res, "Console de l'opérateur", body, status);
}

// A button that leads to the confirmation page of one action.
std::string actionButton(const Operator& op, const char* what, const char* label, const char* name = nullptr,
                         const std::string& value = {}) {
  std::string form = "<form class=\"ligne\" method=\"post\" action=\"/console/action\">" + hidden("jeton", op.formKey) +
                     hidden("quoi", what);
  if (name) form += hidden(name, value);
  return form + "<button type=\"submit\">" + label + "</button></form>";
}

// ---- Live view -----------------------------------------------------------------------------
std::string liveHtml(const Operator& op) {
  RelayView view;
  std::string error;
  const bool reached = readRelay(view, error);
  std::string html;
  if (reached) {
    html += "<p id=\"relais\">Relais : " + std::to_string(view.members) +
            (view.members > 1 ? " membres connectés" : " membre connecté") + " · charge " +
            std::to_string(view.load) + " datagrammes/s sur " + std::to_string(view.capacity) + " · allure " +
            std::to_string(view.pace) + "/4 · version minimale : " +
            htmlEscape(view.minVersion == "none" ? "aucune" : view.minVersion) + "</p>";
  } else {
    html += "<p class=\"erreur\" id=\"relais\">Le relais ne répond pas : " + htmlEscape(error) +
            ". La vue en direct reprendra dès qu'il répondra ; le reste de la console fonctionne.</p>";
  }
  html += "<div class=\"canaux\">";
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    const RelayChannel& c = view.channel[ch];
    html += "<section class=\"canal\" id=\"canal-" + std::to_string(ch) + "\"><h3>" + channelTitle(ch) + " <small>" +
            (reached ? std::to_string(c.members) + " présent" + (c.members > 1 ? "s" : "") : std::string("?")) +
            "</small></h3><ul>";
    int shown = 0;
    for (int account : c.accounts) {
      if (++shown > kMaxShownPerChannel) {
        html += "<li>… et " + std::to_string(c.accounts.size() - kMaxShownPerChannel) + " autres</li>";
        break;
      }
      Profile p;
      const bool known = account > 0 && loadProfile(account, p) == Found::Yes;
      const bool talking = account == c.talker;
      const std::string n = std::to_string(account);
      html += std::string("<li class=\"membre") + (talking ? " parle" : "") + "\" data-numero=\"" + n + "\">";
      if (known)
        html += "<img src=\"/users/" + n + "/images.php?N=1\" width=\"26\" height=\"33\" alt=\"\"><a href=\"/console/membre?N=" +
                n + "\">" + htmlEscape(p.field[Prenom]) + "</a> " + htmlEscape(p.field[Ville]) + " <small>" + n + "</small>";
      else
        html += "<span>n° " + n + " <small>(inconnu de ce serveur)</small></span>";
      if (talking) html += " <b>● parle</b>";
      html += actionButton(op, "fermer", "Fermer", "numero", n) + "</li>";
    }
    html += "</ul>";
    if (shareExists(ch) == Found::Yes)
      html += "<div class=\"partage\"><a href=\"/echange/canal.php?F=" + std::to_string(ch) + "\"><img src=\"/echange/pc_img_share_get.php?F=" +
              std::to_string(ch) + "&amp;N=2\" height=\"40\" alt=\"image partagée\"></a> " +
              actionButton(op, "retirer-image", "Retirer l'image partagée", "canal", std::to_string(ch)) + "</div>";
    html += "</section>";
  }
  html += "</div>";
  if (reached) {
    html += "<h3>Compteurs du relais</h3><div class=\"compteurs\">";
    for (const auto& [name, value] : view.counters)
      html += htmlEscape(name) + " <b>" + std::to_string(value) + "</b><br>";
    html += "</div>";
  }
  return html;
}

constexpr const char* kScript =
    "// Refreshes the live view every 2 s from the same page, without reloading it.\n"
    "(function () {\n"
    "  var box = document.getElementById('direct');\n"
    "  if (!box) return;\n"
    "  function tick() {\n"
    "    fetch('/console/direct', {credentials: 'same-origin', cache: 'no-store'})\n"
    "      .then(function (r) { return r.text(); })\n"
    "      .then(function (t) {\n"
    "        var fresh = new DOMParser().parseFromString(t, 'text/html').getElementById('direct');\n"
    "        if (fresh) box.innerHTML = fresh.innerHTML;\n"
    "        else box.innerHTML = '<p class=\"erreur\">Session terminée : rechargez la page pour vous reconnecter.</p>';\n"
    "      })\n"
    "      .catch(function () { box.setAttribute('data-hors-ligne', '1'); });\n"
    "  }\n"
    "  setInterval(tick, 2000);\n"
    "})();\n";

std::string auditHtml(int offset, int limit, int* total = nullptr) {
  std::vector<AuditLine> lines;
  int count = 0;
  if (!loadAudit(offset, limit, lines, count)) return "<p class=\"erreur\">Journal illisible (erreur de la base).</p>";
  if (total) *total = count;
  if (lines.empty()) return "<p>Aucune action pour l'instant.</p>";
  std::string html = "<table id=\"journal\"><tr><th>Quand</th><th>Qui</th><th>Quoi</th></tr>";
  for (const AuditLine& l : lines)
    html += "<tr><td>" + when(l.stamp) + "</td><td>" + htmlEscape(l.who) + "</td><td>" + htmlEscape(l.what) + "</td></tr>";
  return html + "</table>";
}

void home(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, {}, 200);
  std::string body = "<h1>Console de l'opérateur</h1>";
  if (req.has_param("fait")) body += "<p class=\"ok\">Action faite ; elle est inscrite au journal.</p>";
  body += "<div id=\"direct\">" + liveHtml(op) + "</div><script src=\"/console/console.js\"></script>";
  body += "<h2>Version minimale des clients</h2><form method=\"post\" action=\"/console/action\">" +
          hidden("jeton", op.formKey) + hidden("quoi", "version") +
          "<label for=\"version\">Plus ancienne version admise (0.7.5, 0.7.5.2 ; « aucune » pour toutes)</label>"
          "<input type=\"text\" id=\"version\" name=\"version\" maxlength=\"16\" required>"
          "<br><button type=\"submit\">Appliquer…</button></form>";
  body += "<h2>Activité</h2>" + activityHtml(static_cast<long long>(std::time(nullptr)));
  body += "<h2>Dernières actions</h2>" + auditHtml(0, 20) + "<p><a href=\"/console/journal\">Tout le journal</a></p>";
  consolePage(res, op, "En direct", body);
}

// The live view alone, fetched by the page's script every 2 s.
void live(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  consolePage(res, op, "En direct", "<div id=\"direct\">" + liveHtml(op) + "</div>");
}

void signIn(const httplib::Request& req, httplib::Response& res) {
  const std::string name = field(req, "nom");
  const std::string password = field(req, "motdepasse");
  if (!validOperatorName(name) || password.empty() || password.size() > 1024)
    return signInForm(res, "Nom ou mot de passe incorrect.", 401);
  // The same guard as the member page's: counted before the hash, per
  // name and address, per name, per address, and a bounded number of hashes.
  const std::string address = clientAddress(req);
  std::string hash;
  if (loadOperatorHash(name, hash) != Found::Yes) hash.clear();
  const PasswordCheck check = guardedPasswordCheck(SignInKind::Operator, name, address, password, hash);
  if (check == PasswordCheck::Locked)
    return signInForm(res, "Trop d'essais manqués : réessayez dans un quart d'heure.", 429);
  if (check == PasswordCheck::Busy) {
    res.set_header("Retry-After", std::to_string(kSignInRetrySeconds));
    return signInForm(res, "Serveur occupé : réessayez dans quelques secondes.", 503);
  }
  const bool good = check == PasswordCheck::Good;
  if (!good) {
    logLine("console: failed sign-in as \"%s\" from %s", name.c_str(), address.c_str());
    return signInForm(res, "Nom ou mot de passe incorrect.", 401);
  }
  std::string token, formKey;
  if (!createOperatorSession(name, token, formKey)) return signInForm(res, "Erreur du serveur, réessayez.", 500);
  audit(name, "connexion à la console depuis " + address);
  res.set_header("Set-Cookie", std::string(kConsoleCookie) + "=" + token +
                                   "; Path=/console; Secure; HttpOnly; SameSite=Strict; Max-Age=14400");
  redirect(res, "/console");
}

void signOut(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (signedIn(req, op) && formKeyMatches(req, op)) dropOperatorSession(cookieValue(req, kConsoleCookie));
  res.set_header("Set-Cookie", std::string(kConsoleCookie) + "=; Path=/console; Secure; HttpOnly; SameSite=Strict; Max-Age=0");
  redirect(res, "/console");
}

// ---- Members ---------------------------------------------------------------------------------
void memberList(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  std::string query = req.get_param_value("q");
  if (query.size() > 64) query.resize(64);
  const std::string pageText = req.get_param_value("page");
  int page = pageText.empty() ? 1 : parseMemberNumber(pageText);
  if (page < 1) page = 1;
  std::vector<MemberLine> lines;
  int total = 0;
  if (!searchMembers(query, (page - 1) * kPageSize, kPageSize, lines, total))
    return consolePage(res, op, "Membres", "<p class=\"erreur\">Erreur de la base.</p>", 500);
  const int pages = std::max(1, (total + kPageSize - 1) / kPageSize);
  std::string body = "<h1>Membres</h1><form method=\"get\" action=\"/console/membres\">"
                     "<label for=\"q\">Chercher (numéro, prénom, ville ou phrase)</label>"
                     "<input type=\"text\" id=\"q\" name=\"q\" value=\"" + htmlEscape(query) +
                     "\"> <button type=\"submit\">Chercher</button></form>"
                     "<p><a href=\"/console/membre\">Ajouter un membre</a></p><p id=\"resultat\">" +
                     std::to_string(total) + " membre" + (total > 1 ? "s" : "") + " · page " + std::to_string(page) +
                     " sur " + std::to_string(pages) + "</p><table id=\"membres\"><tr><th></th><th>Numéro</th>"
                     "<th>Prénom</th><th>Ville</th><th>Couleur</th><th>Mot de passe</th></tr>";
  for (const MemberLine& m : lines) {
    const std::string n = std::to_string(m.number);
    body += "<tr><td><img src=\"/users/" + n + "/images.php?N=1\" width=\"26\" height=\"33\" alt=\"\" loading=\"lazy\"></td><td>"
            "<a href=\"/console/membre?N=" + n + "\">" + n + "</a></td><td>" + htmlEscape(m.profile.field[Prenom]) +
            "</td><td>" + htmlEscape(m.profile.field[Ville]) + "</td><td>#" +
            rgbText(m.profile.red, m.profile.green, m.profile.blue) + "</td><td>" + (m.hasPassword ? "oui" : "—") +
            "</td></tr>";
  }
  body += "</table><p>";
  const std::string q = httplib::detail::encode_query_param(query);
  if (page > 1) body += "<a href=\"/console/membres?q=" + q + "&amp;page=" + std::to_string(page - 1) + "\">Précédente</a> ";
  if (page < pages) body += "<a href=\"/console/membres?q=" + q + "&amp;page=" + std::to_string(page + 1) + "\">Suivante</a>";
  consolePage(res, op, "Membres", body + "</p>");
}

constexpr const char* kFieldLabels[kFieldCount] = {"Prénom", "Ville", "Phrase", "Jour", "E-mail", "Dossier"};
constexpr const char* kFieldInputs[kFieldCount] = {"prenom", "ville", "phrase", "jour", "email", "dossier"};

void memberForm(httplib::Response& res, const Operator& op, int number, const Profile& p,
                const std::vector<std::string>& errors, bool done, int status) {
  const std::string n = std::to_string(number);
  std::string body = number ? "<h1>Membre " + n + "</h1>" : "<h1>Nouveau membre</h1>";
  if (done) body += "<p class=\"ok\">Action faite ; elle est inscrite au journal.</p>";
  if (!errors.empty()) {
    body += "<div class=\"erreur\"><p>Rien n'a été enregistré :</p><ul>";
    for (const std::string& e : errors) body += "<li>" + htmlEscape(e) + "</li>";
    body += "</ul></div>";
  }
  if (number)
    body += "<p><img class=\"portrait\" src=\"/users/" + n + "/images.php?N=2\" alt=\"Portrait\" width=\"100\" height=\"126\"></p>";
  body += "<form method=\"post\" action=\"/console/membre\" enctype=\"multipart/form-data\">" + hidden("jeton", op.formKey) +
          hidden("mode", number ? "modif" : "ajout");
  if (number) body += hidden("numero", n);
  else body += "<label for=\"numero\">Numéro</label><input type=\"number\" id=\"numero\" name=\"numero\" min=\"1\" max=\"65535\" required>";
  for (int f = 0; f < kFieldCount; ++f)
    body += std::string("<label for=\"") + kFieldInputs[f] + "\">" + kFieldLabels[f] + "</label><input type=\"text\" id=\"" +
            kFieldInputs[f] + "\" name=\"" + kFieldInputs[f] + "\" value=\"" + htmlEscape(p.field[f]) + "\">";
  body += "<label for=\"couleur\">Couleur du panneau</label><input type=\"color\" id=\"couleur\" name=\"couleur\" value=\"#" +
          rgbText(p.red, p.green, p.blue) + "\">"
          "<label for=\"photo\">Nouveau portrait (facultatif)</label><input type=\"file\" id=\"photo\" name=\"photo\" accept=\"image/*\">"
          "<label for=\"motdepasse\">Nouveau mot de passe de l'espace membre (vide : inchangé)</label>"
          "<input type=\"password\" id=\"motdepasse\" name=\"motdepasse\" autocomplete=\"new-password\">"
          "<label><input type=\"checkbox\" id=\"confirme\" name=\"confirme\" value=\"1\" required> Je confirme ces changements</label>"
          "<button type=\"submit\">Enregistrer</button></form>";
  if (number) {
    bool locked = false;
    colourLocked(number, locked);
    // A form inside <p> would close it: the buttons sit in <div>s.
    body += "<h2>Couleur</h2><div id=\"verrou\">" +
            std::string(locked ? "Couleur verrouillée : le programme ne peut plus la changer. "
                               : "Couleur libre : le programme peut la changer. ") +
            actionButton(op, locked ? "deverrouiller" : "verrouiller", locked ? "Déverrouiller…" : "Verrouiller…", "numero", n) +
            "</div>";
    std::vector<ColourEntry> history;
    colourHistory(number, history);
    if (history.empty()) body += "<p>Aucune couleur antérieure.</p>";
    else body += "<table id=\"couleurs\"><tr><th>Remplacée le</th><th>Couleur</th><th></th></tr>";
    for (const ColourEntry& e : history) {
      const std::string rgb = rgbText(e.red, e.green, e.blue);
      body += "<tr><td>" + when(e.stamp) + "</td><td><span style=\"display:inline-block;width:14px;height:14px;background:#" +
              rgb + "\"></span> #" + rgb + "</td><td><form class=\"ligne\" method=\"post\" action=\"/console/action\">" +
              hidden("jeton", op.formKey) + hidden("quoi", "retablir") + hidden("numero", n) +
              hidden("couleur", std::to_string(e.id)) + "<button type=\"submit\">Rétablir…</button></form></td></tr>";
    }
    if (!history.empty()) body += "</table>";
    body += "<h2>Supprimer</h2><div>" + actionButton(op, "supprimer", "Supprimer ce membre…", "numero", n) + "</div>";
  }
  consolePage(res, op, number ? "Membre " + n : "Nouveau membre", body, status);
}

void memberPage(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  Profile p;
  if (!req.has_param("N")) return memberForm(res, op, 0, p, {}, false, 200);
  const int number = parseMemberNumber(req.get_param_value("N"));
  const Found found = number ? loadProfile(number, p) : Found::No;
  if (found != Found::Yes)
    return consolePage(res, op, "Membre", found == Found::Error ? "<p class=\"erreur\">Erreur de la base.</p>"
                                                                : "<p class=\"erreur\">Membre inconnu.</p>",
                       found == Found::Error ? 500 : 404);
  memberForm(res, op, number, p, {}, req.has_param("fait"), 200);
}

void refused(httplib::Response& res, const Operator& op) {
  consolePage(res, op, "Refusé", "<h1>Formulaire refusé</h1><p>Il ne vient pas de cette session. "
                                 "<a href=\"/console\">Retour à la console</a></p>", 403);
}

void saveMemberForm(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  if (!req.is_multipart_form_data() || !formKeyMatches(req, op)) return refused(res, op);
  const bool create = field(req, "mode") == "ajout";
  const int number = parseMemberNumber(field(req, "numero"));
  Profile p;
  std::vector<std::string> errors;
  if (!number) return memberForm(res, op, 0, p, {"Numéro : de 1 à 65535"}, false, 400);
  if (!create && loadProfile(number, p) != Found::Yes)
    return consolePage(res, op, "Membre", "<p class=\"erreur\">Membre inconnu.</p>", 404);
  for (int f = 0; f < kFieldCount; ++f) {
    const std::string value = field(req, kFieldInputs[f]);
    const std::string reason = checkFieldValue(static_cast<Field>(f), value);
    if (!reason.empty()) errors.push_back(std::string(kFieldLabels[f]) + " : " + reason);
    else p.field[f] = value;
  }
  if (create && (p.field[Prenom].empty() || p.field[Ville].empty() || p.field[Phrase].empty()))
    errors.push_back("Prénom, ville et phrase sont demandés");
  if (create && p.field[Folder].empty()) p.field[Folder] = std::to_string(number);
  if (!parseRgb(field(req, "couleur"), p.red, p.green, p.blue)) errors.push_back("Couleur : attendue sous la forme #RRVVBB");
  const std::string password = field(req, "motdepasse");
  if (password.size() > 1024) errors.push_back("Mot de passe trop long");
  if (field(req, "confirme") != "1") errors.push_back("Cochez « Je confirme ces changements »");
  std::string small, large;
  const std::string& photo = req.get_file_value("photo").content;
  if (!photo.empty()) {
    std::string reason;
    if (!makePortraits({reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size()}, small, large, reason))
      errors.push_back("Portrait : " + reason);
  } else if (create) {
    const Image portrait = generatedPortrait(number, p.red, p.green, p.blue);
    large = encodePng(portrait);
    small = encodePng(coverResize(portrait, kSmallWidth, kSmallHeight));
  }
  if (!errors.empty()) return memberForm(res, op, create ? 0 : number, p, errors, false, 400);
  const bool pictures = !small.empty();
  const SaveResult saved = saveMember(number, p, create, pictures ? &small : nullptr, pictures ? &large : nullptr);
  if (saved == SaveResult::Exists) return memberForm(res, op, 0, p, {"Ce numéro est déjà pris"}, false, 409);
  if (saved != SaveResult::Ok) return memberForm(res, op, create ? 0 : number, p, {"Erreur de la base"}, false, 500);
  std::string what = "membre " + std::to_string(number) + (create ? " ajouté" : " modifié : profil");
  if (!photo.empty()) what += ", portrait";
  if (!password.empty()) {
    const std::string hash = hashPassword(password);
    if (hash.empty() || !savePasswordHash(number, hash))
      return memberForm(res, op, number, p, {"Profil enregistré, mais le mot de passe n'a pas pu l'être"}, false, 500);
    what += ", mot de passe réinitialisé";
  }
  audit(op.name, what);
  redirect(res, "/console/membre?N=" + std::to_string(number) + "&fait=1");
}

// ---- Actions ------------------------------------------------------------------------------------
struct Action {
  std::string what;        // quoi
  int number = 0;
  int channel = -1;
  std::string version;
  long long colour = 0;    // colour history entry
  std::string text;        // what the confirmation page and the audit log say
  std::string back;        // where the operator goes afterwards
};

bool versionText(const std::string& v) {
  if (v.empty() || v.size() > 16) return false;
  for (char c : v)
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  return true;
}

// Reads and checks the action; its French description, or an error.
bool readAction(const httplib::Request& req, Action& a, std::string& error) {
  a.what = field(req, "quoi");
  const std::string n = std::to_string(a.number = parseMemberNumber(field(req, "numero")));
  const bool needsMember = a.what == "fermer" || a.what == "verrouiller" || a.what == "deverrouiller" ||
                           a.what == "retablir" || a.what == "supprimer";
  if (needsMember && !a.number) return error = "numéro de membre invalide", false;
  a.back = "/console/membre?N=" + n;
  if (a.what == "fermer") {
    a.text = "fermer la session du membre " + n + " (avis 240 du superviseur)";
    a.back = "/console";
  } else if (a.what == "verrouiller") {
    a.text = "verrouiller la couleur du membre " + n;
  } else if (a.what == "deverrouiller") {
    a.text = "déverrouiller la couleur du membre " + n;
  } else if (a.what == "supprimer") {
    a.text = "supprimer le membre " + n + " (profil, portrait, mot de passe)";
    a.back = "/console/membres";
  } else if (a.what == "retablir") {
    char* end = nullptr;
    const std::string id = field(req, "couleur");
    a.colour = std::strtoll(id.c_str(), &end, 10);
    if (id.empty() || *end || a.colour <= 0) return error = "couleur inconnue", false;
    std::vector<ColourEntry> history;
    colourHistory(a.number, history);
    const ColourEntry* entry = nullptr;
    for (const ColourEntry& e : history)
      if (e.id == a.colour) entry = &e;
    if (!entry) return error = "cette couleur n'est plus dans l'historique du membre", false;
    a.text = "rétablir la couleur #" + rgbText(entry->red, entry->green, entry->blue) + " du membre " + n;
  } else if (a.what == "retirer-image") {
    a.channel = parseChannel(field(req, "canal"));
    if (a.channel < 0) return error = "canal invalide", false;
    a.text = "retirer l'image partagée du canal " + std::to_string(a.channel) + " — " + utf8(channels::kNames[a.channel]);
    a.back = "/console";
  } else if (a.what == "version") {
    a.version = field(req, "version");
    if (a.version == "aucune" || a.version == "none") a.version = "none";
    else if (!versionText(a.version)) return error = "version attendue sous la forme 0.7.5 ou 0.7.5.2, ou « aucune »", false;
    a.text = "version minimale des clients : " + (a.version == "none" ? std::string("aucune") : a.version) +
             " (avis 220 aux plus anciens)";
    a.back = "/console";
  } else {
    return error = "action inconnue", false;
  }
  return true;
}

// Does it; empty on success, else the French reason.
std::string perform(const Action& a) {
  std::string reply, error;
  bool found = true;
  bool ok = true;
  if (a.what == "fermer") {
    ok = relayCommand("close " + std::to_string(a.number), reply, error);
  } else if (a.what == "version") {
    ok = relayCommand("min-version " + a.version, reply, error);
  } else if (a.what == "verrouiller" || a.what == "deverrouiller") {
    ok = setColourLocked(a.number, a.what == "verrouiller", found);
  } else if (a.what == "retablir") {
    ColourEntry restored{};
    ok = restoreColour(a.number, a.colour, restored, found);
  } else if (a.what == "supprimer") {
    ok = removeMember(a.number, found);
  } else if (a.what == "retirer-image") {
    ok = removeShare(a.channel, found);
  }
  if (a.what == "fermer" || a.what == "version") forgetRelayView();
  if (!ok) return error.empty() ? "erreur de la base" : error;
  if (!found) return a.what == "retirer-image" ? "ce canal n'a pas d'image partagée" : "membre inconnu";
  return {};
}

void action(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  if (!formKeyMatches(req, op)) return refused(res, op);
  Action a;
  std::string error;
  if (!readAction(req, a, error))
    return consolePage(res, op, "Action refusée", "<h1>Action refusée</h1><p class=\"erreur\">" + htmlEscape(error) +
                                                      "</p><p><a href=\"/console\">Retour</a></p>", 400);
  if (field(req, "confirme") != "1") {
    std::string form = "<h1>Confirmer</h1><p id=\"confirmation\">Voulez-vous vraiment <b>" + htmlEscape(a.text) +
                       "</b> ?</p><form method=\"post\" action=\"/console/action\">" + hidden("jeton", op.formKey) +
                       hidden("quoi", a.what) + hidden("confirme", "1");
    for (const char* name : {"numero", "canal", "version", "couleur"})
      if (!field(req, name).empty()) form += hidden(name, field(req, name));
    form += "<button type=\"submit\" id=\"confirmer\">Confirmer</button></form><p><a href=\"" + htmlEscape(a.back) +
            "\">Annuler</a></p>";
    return consolePage(res, op, "Confirmer", form);
  }
  const std::string failure = perform(a);
  audit(op.name, failure.empty() ? a.text : a.text + " — échec : " + failure);
  logLine("console: %s: %s%s%s", op.name.c_str(), a.text.c_str(), failure.empty() ? "" : " failed: ", failure.c_str());
  if (!failure.empty())
    return consolePage(res, op, "Échec", "<h1>Action non faite</h1><p class=\"erreur\">" + htmlEscape(failure) +
                                             "</p><p><a href=\"" + htmlEscape(a.back) + "\">Retour</a></p>",
                       a.what == "fermer" || a.what == "version" ? 502 : 404);
  redirect(res, a.back + (a.back.find('?') == std::string::npos ? "?fait=1" : "&fait=1"));
}

void journal(const httplib::Request& req, httplib::Response& res) {
  Operator op;
  if (!signedIn(req, op)) return signInForm(res, "Connectez-vous pour ouvrir la console.", 401);
  const std::string pageText = req.get_param_value("page");
  int page = pageText.empty() ? 1 : parseMemberNumber(pageText);
  if (page < 1) page = 1;
  int total = 0;
  std::string body = "<h1>Journal des actions</h1>" + auditHtml((page - 1) * 100, 100, &total) + "<p>";
  if (page > 1) body += "<a href=\"/console/journal?page=" + std::to_string(page - 1) + "\">Plus récentes</a> ";
  if (page * 100 < total) body += "<a href=\"/console/journal?page=" + std::to_string(page + 1) + "\">Plus anciennes</a>";
  consolePage(res, op, "Journal", body + "</p>");
}

}  // namespace

void addConsoleRoutes(httplib::Server& server) {
  server.Get("/console", home);
  server.Get("/console/console.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-cache");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(kScript, "text/javascript; charset=utf-8");
  });
  server.Get("/console/direct", live);
  server.Post("/console/connexion", signIn);
  server.Post("/console/deconnexion", signOut);
  server.Get("/console/membres", memberList);
  server.Get("/console/membre", memberPage);
  server.Post("/console/membre", saveMemberForm);
  server.Post("/console/action", action);
  server.Get("/console/journal", journal);
}

}  // namespace webhost
