// What every request goes through before its route: who the client is, how
// much body a route may be sent, which methods exist at all, and how many
// ranges an answer may hold. Nothing here reads a body.
#include <arpa/inet.h>
#include <httplib.h>

#include "Orva-Lin/web/records.h"
#include "servers/webhost/rate_table.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

bool isAddress(const std::string& text) {
  unsigned char bytes[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), bytes) == 1 || inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

// The two records the client posts: answered only once their body is read
// to its end (a TLS client still sending when the answer comes may see a
// reset instead), so a body a little too long is read and thrown away;
// one far too long is refused at once.
constexpr std::size_t kRecordSlack = 1 << 20;

struct BodyBound {
  std::size_t most;    // the route's largest body
  std::size_t slack;   // read past it and discarded before answering 413
  bool record;         // one of the client's raw records
};

// The POST routes and their bounds; false for a path no POST route takes.
bool postBound(const std::string& path, BodyBound& bound) {
  if (path == "/echange/pc_img_share_post.php") bound = {web::kUploadRecordSize, kRecordSlack, true};
  else if (path.rfind("/users/", 0) == 0 && path.ends_with("/params.php")) bound = {web::kColourRecordSize, kRecordSlack, true};
  // A portrait of up to the upload's size, with the profile's fields around it.
  else if (path == "/membre/profil" || path == "/console/membre") bound = {web::kUploadContentSize + 64 * 1024, 0, false};
  else if (path == "/membre/connexion" || path == "/membre/couleur" || path == "/membre/motdepasse" ||
           path == "/membre/deconnexion" || path == "/console/connexion" || path == "/console/deconnexion" ||
           path == "/console/action")
    bound = {4096, 0, false};
  else return false;
  return true;
}

// Plain decimal only; false for anything the length could be misread from.
bool parseLength(const std::string& text, std::size_t& length) {
  if (text.empty() || text.size() > 15) return false;
  length = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    length = length * 10 + static_cast<std::size_t>(c - '0');
  }
  return true;
}

using Verdict = httplib::Server::HandlerResponse;

Verdict answerNow(const httplib::Request& req, httplib::Response& res, int status, const char* reason) {
  // What follows the head on this connection is not a request: close it.
  auto& raw = const_cast<httplib::Request&>(req);
  raw.headers.erase("Connection");
  raw.headers.emplace("Connection", "close");
  res.status = status;
  res.set_content(std::string(reason) + "\n", "text/plain; charset=utf-8");
  return Verdict::Handled;
}

Verdict guard(const httplib::Request& req, httplib::Response& res) {
  auto& raw = const_cast<httplib::Request&>(req);   // the server's own request, handed over as const
  // The library has parsed the ranges already: more than one gets the whole
  // body, never a list of parts built in memory.
  if (req.has_header("Range") && (req.get_header_value_count("Range") != 1 || !isSingleRange(req.get_header_value("Range")))) {
    raw.headers.erase("Range");
    raw.ranges.clear();
  }
  // Only GET and HEAD are read without a body; the library expects one for
  // POST, PUT, PATCH, DELETE and PRI, and no route takes anything else.
  if (req.method == "GET" || req.method == "HEAD") return Verdict::Unhandled;
  std::size_t length = 0;
  // The library reads a body without a length until the peer closes; a
  // chunked one has no length to check before it is read.
  if (req.has_header("Transfer-Encoding") || !req.has_header("Content-Length"))
    return answerNow(req, res, 411, "longueur du corps (Content-Length) exigée");
  if (req.get_header_value_count("Content-Length") != 1 || !parseLength(req.get_header_value("Content-Length"), length))
    return answerNow(req, res, 400, "Content-Length invalide");
  if (req.method != "POST") {
    res.set_header("Allow", "GET, HEAD, POST");
    return answerNow(req, res, 405, "méthode non prise en charge");
  }
  BodyBound bound;
  if (!postBound(req.path, bound)) return answerNow(req, res, 404, "introuvable");
  if (length > bound.most + bound.slack) return answerNow(req, res, 413, "corps trop long");
  // The client declares its records as multipart/form-data but sends them
  // raw with no boundary; the library would refuse that before the route
  // could read it.
  if (bound.record) {
    raw.headers.erase("Content-Type");
    raw.headers.emplace("Content-Type", "application/octet-stream");
  }
  return Verdict::Unhandled;
}

// Hours of ordinary use stay far below these; a script changing other
// members' colours or replacing a channel's picture in a loop does not.
constexpr auto kHour = std::chrono::hours(1);
constexpr int kColoursPerMember = 100, kColoursPerAddress = 300;
constexpr int kUploadsPerChannel = 12, kUploadsPerAddress = 30;
RateTable colourMembers(8192, kHour), colourAddresses(8192, kHour);
RateTable uploadChannels(64, kHour), uploadAddresses(8192, kHour);

bool takeBoth(RateTable& first, const std::string& firstKey, int firstLimit, RateTable& second,
              const std::string& secondKey, int secondLimit) {
  const auto now = Clock::now();
  if (!first.take(firstKey, firstLimit, now)) return false;
  if (second.take(secondKey, secondLimit, now)) return true;
  first.giveBack(firstKey);
  return false;
}

}  // namespace

std::string clientAddress(const httplib::Request& req) {
  if (!options().front.empty() && req.remote_addr == options().front) {
    const std::string named = req.get_header_value("X-Real-IP");
    if (isAddress(named)) return named;
  }
  return req.remote_addr;
}

std::size_t largestBody() { return web::kUploadRecordSize + kRecordSlack; }

void addRequestGuards(httplib::Server& server) { server.set_pre_routing_handler(guard); }

bool allowColourPost(int number, const std::string& address) {
  return takeBoth(colourMembers, std::to_string(number), kColoursPerMember, colourAddresses,
                  addressGroup(address), kColoursPerAddress);
}

// An address pays for every upload it sends (each costs a decode); a
// channel counts only the pictures that replaced its own, so strangers'
// unreadable files do not use up its members' uploads.
bool allowUpload(int channel, const std::string& address) {
  const auto now = Clock::now();
  return uploadChannels.count(std::to_string(channel), now) < kUploadsPerChannel &&
         uploadAddresses.take(addressGroup(address), kUploadsPerAddress, now);
}

void countUpload(int channel) {
  uploadChannels.take(std::to_string(channel), kUploadsPerChannel, Clock::now());
}

}  // namespace webhost
