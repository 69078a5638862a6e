// What Orva-Lin asks for: the member files under /users/ and the shared
// pictures under /echange/. Numbers are refused unless they are plain
// decimal; no part of a request ever becomes a file name.
#include <httplib.h>

#include <atomic>
#include <cstdlib>

#include "Orva-Lin/web/records.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

constexpr const char* kXmlType = "text/xml; charset=utf-8";
constexpr const char* kTextType = "text/plain; charset=utf-8";
// Channel 0 is where members wait without a group: it has no picture board.
constexpr const char* kNoShareOnZero = "le canal 0 n'a pas d'image partagée";

void refuse(httplib::Response& res, int status, std::string_view reason) {
  res.status = status;
  std::string text(reason);
  text += '\n';
  res.set_content(text, kTextType);
}

void noStore(httplib::Response& res) { res.set_header("Cache-Control", "no-store"); }

// The client declares its records as multipart/form-data but sends them raw
// with no boundary: reading the content here keeps the library from parsing
// it. The whole body is read even when it is refused, since a TLS peer that
// is answered before it has finished sending may see a reset instead of the
// answer; only the first `limit` bytes are kept, and the request guards
// have already refused a length far past the record.
struct Body {
  std::string bytes;
  std::size_t received = 0;
};

void readWhole(const httplib::Request& req, const httplib::ContentReader& reader, Body& body,
               std::size_t limit) {
  // Room for what the sender announces, within the limit: a short bogus
  // body does not cost a 10 MB buffer.
  const std::size_t announced = std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
  body.bytes.reserve(std::min(announced, limit));
  reader([&](const char* data, std::size_t length) {
    if (body.received < limit)
      body.bytes.append(data, std::min(length, limit - body.received));
    body.received += length;
    return true;
  });
}

// A record of 10 MB per upload in memory: a few at a time.
constexpr int kUploadSlots = 4;
std::atomic<int> uploadsInFlight{0};

struct UploadSlot {
  bool held = uploadsInFlight.fetch_add(1) < kUploadSlots;
  ~UploadSlot() { uploadsInFlight.fetch_sub(1); }
};

// The member number of the path, or -1 (answered 400) when it is not
// 0..65535 in decimal. 0 is a number the client may ask for (the talker
// before anyone has talked); no member has it, so it is answered 404.
int memberOf(const httplib::Request& req, httplib::Response& res) {
  const std::string text = req.matches[1].str();
  const int number = text == "0" ? 0 : parseMemberNumber(text);
  if (number == 0 && text != "0") {
    refuse(res, 400, "numéro de membre invalide (0..65535 en décimal)");
    return -1;
  }
  return number;
}

void tooMany(httplib::Response& res, std::string_view reason) {
  res.set_header("Retry-After", "3600");
  refuse(res, 429, reason);
}

void getClientXml(const httplib::Request& req, httplib::Response& res) {
  const int number = memberOf(req, res);
  if (number < 0) return;
  Profile profile;
  switch (loadProfile(number, profile)) {
    case Found::Yes:
      // Anyone may read any number's file: the address only when the
      // member chose to publish it.
      if (!profile.emailPublic) profile.field[Email].clear();
      res.set_content(clientXml(profile), kXmlType);
      noStore(res);
      return;
    case Found::No: refuse(res, 404, "membre inconnu"); return;
    case Found::Error: refuse(res, 500, "erreur de la base"); return;
  }
}

void getParamsXml(const httplib::Request& req, httplib::Response& res) {
  const int number = memberOf(req, res);
  if (number < 0) return;
  Profile profile;
  switch (loadProfile(number, profile)) {
    case Found::Yes: res.set_content(paramsXml(profile), kXmlType); noStore(res); return;
    case Found::No: refuse(res, 404, "membre inconnu"); return;
    case Found::Error: refuse(res, 500, "erreur de la base"); return;
  }
}

// "1" or "2" from a query parameter; 0 for anything else.
int pictureVariant(const httplib::Request& req, const char* name) {
  if (req.get_param_value_count(name) != 1) return 0;
  const std::string value = req.get_param_value(name);
  return value == "1" ? 1 : value == "2" ? 2 : 0;
}

void getPortrait(const httplib::Request& req, httplib::Response& res) {
  const int number = memberOf(req, res);
  if (number < 0) return;
  const int which = pictureVariant(req, "N");
  if (!which) return refuse(res, 400, "paramètre N attendu : 1 ou 2");
  std::string png;
  switch (loadPortrait(number, which, png)) {
    case Found::Yes: res.set_content(png, "image/png"); noStore(res); return;
    case Found::No: refuse(res, 404, "membre inconnu"); return;
    case Found::Error: refuse(res, 500, "erreur de la base"); return;
  }
}

void postParams(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) {
  Body body;
  readWhole(req, reader, body, web::kColourRecordSize + 1);
  const int number = memberOf(req, res);
  if (number < 0) return;
  if (body.received != web::kColourRecordSize)
    return refuse(res, body.received > web::kColourRecordSize ? 413 : 400,
                  web::colourErrorText(web::ColourError::Size));
  web::ColourUpdate colour;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.bytes.data());
  const web::ColourError error = web::parseColourRecord({bytes, body.bytes.size()}, colour);
  if (error != web::ColourError::None) return refuse(res, 400, web::colourErrorText(error));
  // The record names the account a second time; a record meant for another
  // member is a client fault, not an order to change someone else.
  if (colour.account != number) return refuse(res, 400, "le numéro du corps diffère de celui du chemin");
  // The record carries no credential: anyone can send it for any number.
  // The member (or the operator) can lock the colour, and nobody can change
  // it in a loop.
  const std::string address = clientAddress(req);
  if (!allowColourPost(number, address)) return tooMany(res, "trop de changements de couleur, réessayez plus tard");
  Profile profile;
  switch (loadProfile(number, profile)) {
    case Found::Yes: break;
    case Found::No: return refuse(res, 404, "membre inconnu");
    case Found::Error: return refuse(res, 500, "erreur de la base");
  }
  if (profile.colourLocked) return refuse(res, 403, "couleur verrouillée (par le membre ou l'opérateur)");
  bool found = false;
  if (!saveBackground(number, colour.red, colour.green, colour.blue, found))
    return refuse(res, 500, "erreur de la base");
  if (!found) return refuse(res, 404, "membre inconnu");
  logLine("member %d background %s from %s", number, rgbText(colour.red, colour.green, colour.blue).c_str(),
          address.c_str());
  res.set_content("OK\n", kTextType);
}

void getShare(const httplib::Request& req, httplib::Response& res) {
  if (req.get_param_value_count("F") != 1) return refuse(res, 400, "paramètre F attendu : canal 0..10");
  const int channel = parseChannel(req.get_param_value("F"));
  if (channel < 0) return refuse(res, 400, "paramètre F attendu : canal 0..10");
  const int which = pictureVariant(req, "N");
  if (!which) return refuse(res, 400, "paramètre N attendu : 1 ou 2");
  if (channel == 0) return refuse(res, 404, kNoShareOnZero);
  std::string png;
  switch (loadShare(channel, which, png)) {
    case Found::Yes: res.set_content(png, "image/png"); noStore(res); return;
    case Found::No: refuse(res, 404, "aucune image partagée sur ce canal"); return;
    case Found::Error: refuse(res, 500, "erreur de la base"); return;
  }
}

void postShare(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
  UploadSlot slot;
  Body body;
  readWhole(req, reader, body, slot.held ? web::kUploadRecordSize + 1 : 0);
  if (!slot.held) {
    res.set_header("Retry-After", "5");
    return refuse(res, 503, "trop d'envois en cours, réessayez");
  }
  if (body.received != web::kUploadRecordSize)
    return refuse(res, body.received > web::kUploadRecordSize ? 413 : 400,
                  web::uploadErrorText(web::UploadError::Size));
  web::Upload upload;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.bytes.data());
  const web::UploadError error = web::parseUploadRecord({bytes, body.bytes.size()}, upload);
  if (error != web::UploadError::None) return refuse(res, 400, web::uploadErrorText(error));
  if (upload.channel == 0) return refuse(res, 400, kNoShareOnZero);
  std::string name;
  if (!cp1252ToUtf8(upload.name, name)) return refuse(res, 400, web::uploadErrorText(web::UploadError::Name));
  const std::string address = clientAddress(req);
  if (!allowUpload(upload.channel, address)) return tooMany(res, "trop d'images envoyées, réessayez plus tard");

  Image picture;
  std::string reason;
  if (!decodePicture(upload.content, picture, reason)) return refuse(res, 415, reason);
  const std::string png = encodePng(fitWithin(picture, kShareMaxSide, kShareMaxSide));
  const std::string thumb = encodePng(fitWithin(picture, kShareThumbSide, kShareThumbSide));
  if (png.empty() || thumb.empty()) return refuse(res, 500, "conversion en PNG impossible");
  if (!saveShare(upload.channel, png, thumb, name)) return refuse(res, 500, "erreur de la base");
  countUpload(upload.channel);
  logLine("channel %d shared picture %dx%d from \"%s\" by %s", upload.channel, picture.width,
          picture.height, name.c_str(), address.c_str());
  res.set_content("OK\n", kTextType);
}

}  // namespace

void addClientRoutes(httplib::Server& server) {
  server.Get(R"(/users/([^/]*)/client\.xml)", getClientXml);
  server.Get(R"(/users/([^/]*)/params\.xml)", getParamsXml);
  server.Get(R"(/users/([^/]*)/images\.php)", getPortrait);
  server.Post(R"(/users/([^/]*)/params\.php)", postParams);
  server.Get("/echange/pc_img_share_get.php", getShare);
  server.Post("/echange/pc_img_share_post.php", postShare);
}

}  // namespace webhost
