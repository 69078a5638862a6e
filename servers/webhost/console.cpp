// The console's links to the outside: the relay's control socket and the
// operator accounts on the command line. (Its sign-in goes through the
// shared guard of signin_guard.h.)
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

constexpr int kRelayTimeoutMs = 2000;
constexpr std::size_t kRelayReplyMax = 1 << 20;

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

const char* nextToken(char** save) {
  const char* t = strtok_r(nullptr, " ", save);
  return t ? t : "";
}

}  // namespace

bool relayCommand(const std::string& command, std::string& reply, std::string& error) {
  reply.clear();
  const std::string& path = options().relayCtl;
  if (path.empty()) return error = "aucun relais n'est configuré (option --relay-ctl)", false;
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) return error = "chemin du relais trop long", false;
  std::memcpy(sa.sun_path, path.c_str(), path.size());
  Fd s{socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (s.fd < 0) return error = std::strerror(errno), false;
  // Each step waits at most this long (a full listen queue included); the
  // whole exchange is bounded by the deadline.
  timeval tv{kRelayTimeoutMs / 1000, (kRelayTimeoutMs % 1000) * 1000};
  setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRelayTimeoutMs);
  const auto failed = [&error](const char* what) {
    error = std::string("le relais ne répond pas (") + what + ")";
    return false;
  };
  if (connect(s.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return failed(std::strerror(errno));
  const std::string line = command + "\n";
  if (send(s.fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
    return failed(std::strerror(errno));
  shutdown(s.fd, SHUT_WR);
  char buffer[16384];
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) return failed("délai dépassé");
    const ssize_t n = recv(s.fd, buffer, sizeof buffer, 0);
    if (n == 0) break;
    if (n < 0) return failed(errno == EAGAIN ? "délai dépassé" : std::strerror(errno));
    if (reply.size() + static_cast<std::size_t>(n) > kRelayReplyMax) return error = "réponse du relais trop longue", false;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  if (reply.empty()) return error = "le relais n'a rien répondu", false;
  if (reply.rfind("error:", 0) == 0) {
    error = "le relais refuse : " + reply.substr(0, reply.find('\n'));
    return false;
  }
  return true;
}

// The answer of "channels": a "load ..." line, then "channel N members M
// talker T voice-blocks B accounts A..." for every channel. Unknown keys are
// skipped, so a newer relay still reads.
bool parseRelayChannels(std::string_view text, RelayView& out) {
  bool head = false;
  int seen = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    char* save = nullptr;
    char* key = strtok_r(line.data(), " ", &save);
    if (!key) continue;
    if (std::strcmp(key, "load") == 0) {
      out.load = std::atoll(nextToken(&save));
      while (char* k = strtok_r(nullptr, " ", &save)) {
        const char* v = strtok_r(nullptr, " ", &save);
        if (!v) break;
        if (!std::strcmp(k, "capacity")) out.capacity = std::atoi(v);
        else if (!std::strcmp(k, "pace")) out.pace = std::atoi(v);
        else if (!std::strcmp(k, "members")) out.members = std::atoi(v);
        else if (!std::strcmp(k, "min-version")) out.minVersion = v;
      }
      head = true;
    } else if (std::strcmp(key, "channel") == 0) {
      const char* number = strtok_r(nullptr, " ", &save);
      const int ch = number ? parseChannel(number) : -1;
      if (ch < 0) return false;
      RelayChannel& c = out.channel[ch];
      c = RelayChannel{};
      while (char* k = strtok_r(nullptr, " ", &save)) {
        if (!std::strcmp(k, "accounts")) {
          while (char* a = strtok_r(nullptr, " ", &save)) c.accounts.push_back(std::atoi(a));
          break;
        }
        const char* v = strtok_r(nullptr, " ", &save);
        if (!v) break;
        if (!std::strcmp(k, "members")) c.members = std::atoi(v);
        else if (!std::strcmp(k, "talker")) c.talker = std::atoi(v);
        else if (!std::strcmp(k, "voice-blocks")) c.voiceBlocks = std::strtoull(v, nullptr, 10);
      }
      ++seen;
    }
  }
  return head && seen == proto::kChannelCount;
}

namespace {
// Every open console asks every 2 s; one answer serves them all for half a second,
// so the relay's loop spends the same time on its operators however many
// watch.
std::mutex cacheLock;
RelayView cachedView;
std::string cachedError;
bool cachedReached = false;
std::chrono::steady_clock::time_point cachedAt;
constexpr auto kCacheTime = std::chrono::milliseconds(500);

bool askRelay(RelayView& out, std::string& error) {
  std::string reply;
  if (!relayCommand("channels", reply, error)) return false;
  if (!parseRelayChannels(reply, out)) return error = "réponse du relais illisible", false;
  if (!relayCommand("counters", reply, error)) return false;
  out.counters.clear();
  for (std::size_t at = 0; at < reply.size();) {
    std::size_t end = reply.find('\n', at);
    if (end == std::string::npos) end = reply.size();
    const std::size_t space = reply.find(' ', at);
    if (space < end) out.counters.emplace_back(reply.substr(at, space - at), std::strtoull(reply.c_str() + space + 1, nullptr, 10));
    at = end + 1;
  }
  return true;
}
}  // namespace

void forgetRelayView() {
  std::lock_guard<std::mutex> guard(cacheLock);
  cachedAt = {};
}

bool readRelay(RelayView& out, std::string& error) {
  std::lock_guard<std::mutex> guard(cacheLock);
  const auto now = std::chrono::steady_clock::now();
  if (cachedAt.time_since_epoch().count() == 0 || now - cachedAt >= kCacheTime) {
    cachedView = RelayView{};
    cachedError.clear();
    cachedReached = askRelay(cachedView, cachedError);
    cachedAt = now;
  }
  out = cachedView;
  error = cachedError;
  return cachedReached;
}

// ---- Operator accounts on the command line -----------------------------------------------
bool validOperatorName(std::string_view name) {
  if (name.empty() || name.size() > 32) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
          c == '_'))
      return false;
  return true;
}


// One line from standard input; without echo when it is a terminal. A
// password never comes from the arguments, where `ps` would show it.
bool readPassword(const char* prompt, std::string& out) {
  const bool terminal = isatty(0);
  termios old{};
  if (terminal) {
    std::fprintf(stderr, "%s", prompt);
    tcgetattr(0, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(0, TCSAFLUSH, &quiet);
  }
  out.clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n' && out.size() < 1024) out += static_cast<char>(c);
  if (!out.empty() && out.back() == '\r') out.pop_back();
  if (terminal) {
    tcsetattr(0, TCSAFLUSH, &old);
    std::fprintf(stderr, "\n");
  }
  return !out.empty() && out.size() < 1024;
}


int operatorCommand(int argc, char** argv) {
  const std::string verb = argc > 0 ? argv[0] : "";
  if (verb == "list" && argc == 1) {
    std::vector<std::string> names;
    if (!listOperators(names)) return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
    for (const std::string& n : names) std::printf("%s\n", n.c_str());
    return 0;
  }
  if ((verb != "add" && verb != "remove") || argc != 2) {
    std::fprintf(stderr, "orva-webhost: operator add NAME | operator remove NAME | operator list\n");
    return 2;
  }
  const std::string name = argv[1];
  if (!validOperatorName(name)) {
    std::fprintf(stderr, "orva-webhost: operator name: 1 to 32 letters, digits, '.', '-' or '_'\n");
    return 2;
  }
  if (verb == "remove") {
    bool found = false;
    if (!removeOperator(name, found)) return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
    if (!found) return std::fprintf(stderr, "orva-webhost: no operator %s\n", name.c_str()), 1;
    std::printf("operator %s removed\n", name.c_str());
    return 0;
  }
  std::string password, again;
  if (!readPassword("Mot de passe : ", password))
    return std::fprintf(stderr, "orva-webhost: a password of 1 to 1023 bytes is needed on standard input\n"), 2;
  if (password.size() < 8) return std::fprintf(stderr, "orva-webhost: the password needs 8 characters or more\n"), 2;
  if (isatty(0) && (!readPassword("Encore une fois : ", again) || again != password))
    return std::fprintf(stderr, "orva-webhost: the two passwords differ\n"), 2;
  const std::string hash = hashPassword(password);
  if (hash.empty()) return std::fprintf(stderr, "orva-webhost: cannot hash the password\n"), 1;
  switch (addOperator(name, hash)) {
    case SaveResult::Ok: std::printf("operator %s added\n", name.c_str()); return 0;
    case SaveResult::Exists: return std::fprintf(stderr, "orva-webhost: operator %s already exists\n", name.c_str()), 1;
    default: return std::fprintf(stderr, "orva-webhost: store error\n"), 1;
  }
}

}  // namespace webhost
