// The relay's one state and the helpers every part of it shares, apart from
// main.cpp so that the fuzz targets can link the datagram handling without
// the sockets and the event loop.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "servers/relay/relay.h"

namespace relay {

Relay state;

const char* const kCounterNames[kCounterCount] = {
    "in.hello", "in.poll", "in.voice", "in.list", "in.supervisor",
    "out.audio", "out.keepalive", "out.echo", "out.list", "out.supervisor", "out.notice220",
    "out.notice240",
    "drop.malformed", "drop.oversize", "drop.not-member", "drop.wrong-channel", "drop.account",
    "drop.floor-busy", "drop.table-full", "drop.echo-busy", "drop.echo-full", "drop.send-failed",
    "queue.overflow", "supervisor.unknown-token", "members.joins", "members.leaves",
    "floor.changes",
};

std::int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void logLine(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "orva-relay: %s\n", line);
}

void formatVersion(std::uint32_t version, char* out, std::size_t size) {
  std::snprintf(out, size, "%u.%u.%u.%u", version >> 24, (version >> 16) & 0xFF,
                (version >> 8) & 0xFF, version & 0xFF);
}

// "0.7.5", "0.7.5.2", "075" or "075.2"; "0" or "none" clears the minimum.
bool parseVersionText(const char* text, std::uint32_t& version) {
  if (std::strcmp(text, "none") == 0 || std::strcmp(text, "0") == 0) {
    version = 0;
    return true;
  }
  int part[4] = {0, 0, 0, 0};
  const char* p = text;
  for (int i = 0; i < 3; ++i) {
    if (*p < '0' || *p > '9') return false;
    part[i] = *p++ - '0';
    if (*p == '.' && i < 2) ++p;
  }
  if (*p == '.') {
    char* end = nullptr;
    long tail = std::strtol(p + 1, &end, 10);
    if (end == p + 1 || *end != 0 || tail < 0 || tail > 255) return false;
    part[3] = static_cast<int>(tail);
  } else if (*p != 0) {
    return false;
  }
  version = (static_cast<std::uint32_t>(part[0]) << 24) | (part[1] << 16) | (part[2] << 8) |
            static_cast<std::uint32_t>(part[3]);
  return true;
}

}  // namespace relay
