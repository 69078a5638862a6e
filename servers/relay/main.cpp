// orva-relay: the relay server, one thread over 22 UDP sockets, a timer and
// the operator's control socket.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "servers/relay/relay.h"

namespace relay {

namespace {

constexpr std::uint32_t kTimerTag = 100;
constexpr std::uint32_t kCtlTag = 101;
constexpr int kMaxReadsPerWake = 64;   // keeps one flooded socket from starving the others
constexpr int kSocketBufferBytes = 4 << 20;

volatile sig_atomic_t stopRequested = 0;
std::uint8_t rx[2048];

void onSignal(int) { stopRequested = 1; }

void usage(FILE* to) {
  std::fprintf(to,
               "usage: orva-relay [--bind ADDR] [--capacity N] [--min-version V] [--ctl PATH]\n"
               "       orva-relay ctl [--ctl PATH] members | close ACCOUNT | min-version V | "
               "counters\n\n"
               "Relay server of the Orva-Lin voice network: UDP ports %d..%d (voice, one per\n"
               "channel) and %d..%d (lists and supervisor notices).\n\n"
               "  --bind ADDR         IPv4 address to listen on (default 0.0.0.0)\n"
               "  --capacity N        datagrams per second that count as full load; the pace\n"
               "                      value sent to clients rises 0..4 toward it (default %d)\n"
               "  --min-version V     oldest client version allowed, e.g. 0.7.5 or 0.7.5.2;\n"
               "                      older clients get notice 220 (default none)\n"
               "  --ctl PATH          operator control socket (default %s)\n"
               "  --help              this text\n",
               proto::kVoicePortBase, proto::kVoicePortBase + proto::kChannelCount - 1,
               proto::kListPortBase, proto::kListPortBase + proto::kChannelCount - 1,
               kDefaultCapacity, kDefaultCtlPath);
}

int openUdp(in_addr address, int port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // Root may exceed the system maximum; others get what the system allows.
  int size = kSocketBufferBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  }
  // Each datagram's destination address comes with it, so that replies
  // leave from the address the client sent to (see sendDatagram).
  int on = 1;
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr = address;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool addWatch(int epollFd, int fd, std::uint32_t tag) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = tag;
  return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void drainSocket(int fd, int channel, bool voicePort) {
  for (int i = 0; i < kMaxReadsPerWake; ++i) {
    sockaddr_in from{};
    iovec iov{rx, sizeof rx};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &msg, MSG_TRUNC);
    if (n < 0) return;   // EAGAIN, or an ICMP error reported on the socket
    ++state.traffic;
    if (static_cast<std::size_t>(n) > sizeof rx || from.sin_family != AF_INET) {
      ++state.counters[kDropOversize];
      continue;
    }
    std::uint32_t local = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        local = info.ipi_spec_dst.s_addr;
      }
    }
    std::span<const std::uint8_t> in(rx, static_cast<std::size_t>(n));
    if (voicePort) {
      onVoicePort(channel, from, local, in, nowUs());
    } else {
      onListPort(channel, from, local, in);
    }
  }
}

int parseArgs(int argc, char** argv) {
  state.config.bind.s_addr = htonl(INADDR_ANY);
  state.config.capacity = kDefaultCapacity;
  state.config.minVersion = 0;
  state.config.ctlPath = kDefaultCtlPath;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      usage(stdout);
      std::exit(0);
    } else if (std::strcmp(arg, "--bind") == 0 && value) {
      if (inet_pton(AF_INET, value, &state.config.bind) != 1) {
        std::fprintf(stderr, "orva-relay: bad address '%s'\n", value);
        return 2;
      }
      ++i;
    } else if (std::strcmp(arg, "--capacity") == 0 && value) {
      char* end = nullptr;
      long capacity = std::strtol(value, &end, 10);
      if (*end != 0 || capacity < 1 || capacity > 100000000) {
        std::fprintf(stderr, "orva-relay: bad capacity '%s'\n", value);
        return 2;
      }
      state.config.capacity = static_cast<int>(capacity);
      ++i;
    } else if (std::strcmp(arg, "--min-version") == 0 && value) {
      if (!parseVersionText(value, state.config.minVersion)) {
        std::fprintf(stderr, "orva-relay: bad version '%s'\n", value);
        return 2;
      }
      ++i;
    } else if (std::strcmp(arg, "--ctl") == 0 && value) {
      state.config.ctlPath = value;
      ++i;
    } else {
      std::fprintf(stderr, "orva-relay: unknown or incomplete option '%s'\n", arg);
      usage(stderr);
      return 2;
    }
  }
  return 0;
}

int serve() {
  initMembers();
  for (Channel& c : state.channels) c.floorHolder = kNoMember;
  for (EchoRecorder& r : state.echo) r.member = kNoMember;

  const int epollFd = epoll_create1(EPOLL_CLOEXEC);
  if (epollFd < 0) {
    std::perror("orva-relay: epoll");
    return 1;
  }
  char address[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &state.config.bind, address, sizeof address);
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    state.voiceFd[ch] = openUdp(state.config.bind, proto::kVoicePortBase + ch);
    state.listFd[ch] = openUdp(state.config.bind, proto::kListPortBase + ch);
    if (state.voiceFd[ch] < 0 || state.listFd[ch] < 0) {
      std::fprintf(stderr, "orva-relay: cannot bind %s ports %d/%d: %s\n", address,
                   proto::kVoicePortBase + ch, proto::kListPortBase + ch, std::strerror(errno));
      return 1;
    }
    addWatch(epollFd, state.voiceFd[ch], static_cast<std::uint32_t>(ch));
    addWatch(epollFd, state.listFd[ch], static_cast<std::uint32_t>(proto::kChannelCount + ch));
  }
  const int timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  itimerspec period{};
  period.it_interval.tv_nsec = kTickMs * 1000000L;
  period.it_value.tv_nsec = kTickMs * 1000000L;
  if (timerFd < 0 || timerfd_settime(timerFd, 0, &period, nullptr) != 0) {
    std::perror("orva-relay: timer");
    return 1;
  }
  addWatch(epollFd, timerFd, kTimerTag);
  const int ctlFd = openCtlSocket(state.config.ctlPath);
  if (ctlFd < 0) {
    std::fprintf(stderr, "orva-relay: cannot open control socket %s: %s\n", state.config.ctlPath,
                 std::strerror(errno));
    return 1;
  }
  addWatch(epollFd, ctlFd, kCtlTag);

  struct sigaction sa{};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  logLine("listening on %s ports %d-%d and %d-%d, capacity %d, control %s", address,
          proto::kVoicePortBase, proto::kVoicePortBase + proto::kChannelCount - 1,
          proto::kListPortBase, proto::kListPortBase + proto::kChannelCount - 1,
          state.config.capacity, state.config.ctlPath);

  epoll_event events[32];
  while (!stopRequested) {
    const int n = epoll_wait(epollFd, events, 32, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("orva-relay: epoll_wait");
      break;
    }
    for (int i = 0; i < n; ++i) {
      const std::uint32_t tag = events[i].data.u32;
      if (tag < static_cast<std::uint32_t>(proto::kChannelCount)) {
        drainSocket(state.voiceFd[tag], static_cast<int>(tag), true);
      } else if (tag < static_cast<std::uint32_t>(2 * proto::kChannelCount)) {
        const int ch = static_cast<int>(tag) - proto::kChannelCount;
        drainSocket(state.listFd[ch], ch, false);
      } else if (tag == kTimerTag) {
        std::uint64_t expirations;
        if (read(timerFd, &expirations, sizeof expirations) > 0) onTick(nowUs());
      } else if (tag == kCtlTag) {
        onCtlReadable(ctlFd);
      }
    }
  }
  unlink(state.config.ctlPath);
  logLine("stopped");
  return 0;
}

}  // namespace
}  // namespace relay

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "ctl") == 0) return relay::runCtlClient(argc - 1, argv + 1);
  if (int rc = relay::parseArgs(argc, argv)) return rc;
  return relay::serve();
}
