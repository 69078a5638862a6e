// Operator control over a local stream socket: one command line in, a text
// reply out, then the connection closes. The server handles a connection to
// completion with short time-outs; a stuck operator client costs at most a
// couple of seconds of relaying, which is acceptable for a root-only socket.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "servers/relay/relay.h"

namespace relay {
namespace {

constexpr int kIoTimeoutMs = 1000;
char reply[1 << 20];
std::size_t replyLength = 0;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  if (replyLength >= sizeof reply) return;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(reply + replyLength, sizeof reply - replyLength, format, args);
  va_end(args);
  if (n > 0) replyLength += static_cast<std::size_t>(n);
  if (replyLength > sizeof reply) replyLength = sizeof reply;
}

void setTimeouts(int fd) {
  timeval tv{kIoTimeoutMs / 1000, (kIoTimeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool fillAddress(const char* path, sockaddr_un& sa) {
  sa = sockaddr_un{};
  sa.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof sa.sun_path) return false;
  std::strcpy(sa.sun_path, path);
  return true;
}

void listMembers() {
  const std::int64_t now = nowUs();
  say("%d members\n", state.memberCount);
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    const Channel& c = state.channels[ch];
    if (c.count == 0) continue;
    say("channel %d: %d members", ch, c.count);
    if (c.floorHolder != kNoMember) say(", floor acct %u", state.members[c.floorHolder].account);
    say("\n");
    for (int i = 0; i < c.count; ++i) {
      const Member& m = state.members[c.members[i]];
      char ip[INET_ADDRSTRLEN];
      in_addr a{m.ip};
      inet_ntop(AF_INET, &a, ip, sizeof ip);
      char version[24] = "?";
      if (m.versionKnown) formatVersion(m.version, version, sizeof version);
      say("  acct %u %s:%u token %u version %s idle %lld ms queued %d%s\n", m.account, ip,
          ntohs(m.port), m.token, version, static_cast<long long>((now - m.lastPollUs) / 1000),
          queuedBlocks(m), m.closePending ? " close-pending" : "");
    }
  }
}

// One line per channel, every channel, for the web host's console and other
// scripts: "key value" pairs, so fields can be added without breaking a reader.
void listChannels() {
  char version[24] = "none";
  if (state.config.minVersion) formatVersion(state.config.minVersion, version, sizeof version);
  say("load %llu capacity %d pace %d members %d min-version %s\n",
      static_cast<unsigned long long>(state.perSecond), state.config.capacity, state.pace,
      state.memberCount, version);
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    const Channel& c = state.channels[ch];
    say("channel %d members %d talker %u voice-blocks %llu accounts", ch, c.count,
        c.floorHolder != kNoMember ? state.members[c.floorHolder].account : 0u,
        static_cast<unsigned long long>(c.voiceBlocks));
    for (int i = 0; i < c.count; ++i) say(" %u", state.members[c.members[i]].account);
    say("\n");
  }
}

void runCommand(char* line) {
  char* save = nullptr;
  const char* verb = strtok_r(line, " \t\r\n", &save);
  const char* arg = strtok_r(nullptr, " \t\r\n", &save);
  if (!verb) {
    say("error: empty command\n");
  } else if (std::strcmp(verb, "members") == 0) {
    listMembers();
  } else if (std::strcmp(verb, "channels") == 0) {
    listChannels();
  } else if (std::strcmp(verb, "counters") == 0) {
    for (int k = 0; k < kCounterCount; ++k) {
      say("%s %llu\n", kCounterNames[k], static_cast<unsigned long long>(state.counters[k]));
    }
    say("members %d\npace %d\n", state.memberCount, state.pace);
  } else if (std::strcmp(verb, "close") == 0 && arg) {
    char* end = nullptr;
    long account = std::strtol(arg, &end, 10);
    if (*end != 0 || account < 0 || account > 0xFFFF) {
      say("error: bad account number '%s'\n", arg);
      return;
    }
    int marked = 0;
    for (Member& m : state.members) {
      if (m.used && m.account == account) {
        m.closePending = true;
        ++marked;
      }
    }
    if (marked == 0) {
      say("error: no member with account %ld\n", account);
    } else {
      logLine("operator: close acct %ld (%d connection%s)", account, marked, marked > 1 ? "s" : "");
      say("close %ld: %d connection%s notified at its next supervisor request\n", account, marked,
          marked > 1 ? "s" : "");
    }
  } else if (std::strcmp(verb, "min-version") == 0 && arg) {
    std::uint32_t version = 0;
    if (!parseVersionText(arg, version)) {
      say("error: bad version '%s'\n", arg);
      return;
    }
    state.config.minVersion = version;
    char text[24];
    formatVersion(version, text, sizeof text);
    logLine("operator: min-version %s", version ? text : "none");
    say("min-version %s\n", version ? text : "none");
  } else {
    say("error: unknown command '%s'\n", verb);
  }
}

}  // namespace

int openCtlSocket(const char* path) {
  sockaddr_un sa;
  if (!fillAddress(path, sa)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISSOCK(st.st_mode)) {
    // A socket nobody answers on is left over from a crash; a live one is
    // another relay's, and taking it would cut that operator off.
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = connect(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(probe);
    if (live) {
      errno = EADDRINUSE;
      return -1;
    }
    unlink(path);
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const mode_t old = umask(077);
  const int bound = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  umask(old);
  if (bound != 0 || listen(fd, 4) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

void onCtlReadable(int listenFd) {
  int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  setTimeouts(fd);
  char line[256];
  std::size_t got = 0;
  while (got < sizeof line - 1) {
    ssize_t n = recv(fd, line + got, sizeof line - 1 - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
    if (std::memchr(line, '\n', got)) break;
  }
  line[got] = 0;
  replyLength = 0;
  runCommand(line);
  std::size_t sent = 0;
  while (sent < replyLength) {
    ssize_t n = send(fd, reply + sent, replyLength - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  close(fd);
}

int runCtlClient(int argc, char** argv) {
  const char* path = kDefaultCtlPath;
  char command[256] = "";
  std::size_t used = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--ctl") == 0 && i + 1 < argc) {
      path = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: orva-relay ctl [--ctl PATH] members | channels | "
                  "close ACCOUNT | min-version V | counters\n");
      return 0;
    } else {
      int n = std::snprintf(command + used, sizeof command - used, "%s%s", used ? " " : "",
                            argv[i]);
      if (n < 0 || static_cast<std::size_t>(n) >= sizeof command - used) {
        std::fprintf(stderr, "orva-relay ctl: command too long\n");
        return 2;
      }
      used += static_cast<std::size_t>(n);
    }
  }
  if (used == 0) {
    std::fprintf(stderr, "usage: orva-relay ctl [--ctl PATH] members | channels | "
                         "close ACCOUNT | min-version V | counters\n");
    return 2;
  }
  sockaddr_un sa;
  if (!fillAddress(path, sa)) {
    std::fprintf(stderr, "orva-relay ctl: path too long\n");
    return 2;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    std::fprintf(stderr, "orva-relay ctl: cannot reach %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  setTimeouts(fd);
  command[used] = '\n';
  if (send(fd, command, used + 1, MSG_NOSIGNAL) != static_cast<ssize_t>(used + 1)) {
    std::fprintf(stderr, "orva-relay ctl: send failed: %s\n", std::strerror(errno));
    return 1;
  }
  shutdown(fd, SHUT_WR);
  bool failed = false;
  bool first = true;
  char buf[4096];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0) {
      std::fprintf(stderr, "orva-relay ctl: no reply: %s\n", std::strerror(errno));
      return 1;
    }
    if (n == 0) break;
    if (first && n >= 6 && std::memcmp(buf, "error:", 6) == 0) failed = true;
    first = false;
    std::fwrite(buf, 1, static_cast<std::size_t>(n), stdout);
  }
  close(fd);
  if (first) {
    std::fprintf(stderr, "orva-relay ctl: empty reply\n");
    return 1;
  }
  return failed ? 1 : 0;
}

}  // namespace relay
