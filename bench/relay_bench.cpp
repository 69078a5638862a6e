// Load generator for orva-relay on loopback: one talker and N listeners on one
// channel, every listener polling every 10 ms (the busiest pace a client
// uses). The relay runs pinned to one core, the generator to the other. For
// rising N it reports lost blocks, the relay's turnaround (poll sent to block
// received) and the end-to-end delay (voice sent to block received, which
// includes waiting for the listener's next poll and the 31.25 ms pacing).
// Bounded: at most the listed levels, each a few seconds, and a wall-clock cap.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Orva-Lin/net/packets.h"

namespace {

constexpr int kChannel = 1;
constexpr int kPollMs = 10;
constexpr int kRunMs = 3000;
constexpr int kDrainMs = 800;
constexpr std::int64_t kDelayLimitNs = 5'000'000;
constexpr int kWallLimitS = 150;

std::int64_t wallNs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void pin(pid_t pid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(pid, sizeof set, &set);
}

sockaddr_in serverAddress;

int openSocket(const char* bindAddress) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, bindAddress, &sa.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void sendTo(int fd, int port, const std::uint8_t* data, std::size_t n) {
  sockaddr_in to = serverAddress;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  sendto(fd, data, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

struct Peer {
  int fd = -1;
  std::uint16_t account = 0;
  int pollVariant = 0;
  std::int64_t pollNs[4] = {};   // the last polls sent, newest at pollAt
  int pollAt = 0;
  std::int64_t nextPollNs = 0;
};

void sendPoll(Peer& p) {
  std::uint8_t buf[64];
  p.pollVariant = net::nextPollVariant(p.pollVariant);
  const std::size_t n = net::buildPoll(buf, p.pollVariant, p.account, "bench-client-001");
  p.pollAt = (p.pollAt + 1) % 4;
  p.pollNs[p.pollAt] = wallNs();
  sendTo(p.fd, proto::kVoicePortBase + kChannel, buf, n);
}

struct Level {
  int listeners;
  long sent;
  long skipped;
  long expected;
  long received;
  long overflow;
  long receiveBufferDrops;
  std::vector<std::int64_t> turnaround;
  std::vector<std::int64_t> endToEnd;
  double relayCpu;   // share of one core
  double benchCpu;
};

std::int64_t percentile(std::vector<std::int64_t>& v, double p) {
  if (v.empty()) return -1;
  const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1)));
  std::nth_element(v.begin(), v.begin() + k, v.end());
  return v[k];
}

long processTicks(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* f = std::fopen(path, "r");
  if (!f) return 0;
  char buf[1024];
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = 0;
  const char* p = std::strrchr(buf, ')');
  if (!p) return 0;
  long utime = 0, stime = 0;
  // Fields after the command: state, then 10 more before utime (field 14).
  std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime);
  return utime + stime;
}

// System-wide UDP datagrams dropped for a full receive buffer (relay or generator).
long udpReceiveBufferErrors() {
  FILE* f = std::fopen("/proc/net/snmp", "r");
  if (!f) return 0;
  char names[512], values[512];
  long result = 0;
  while (std::fgets(names, sizeof names, f) && std::fgets(values, sizeof values, f)) {
    if (std::strncmp(names, "Udp:", 4) != 0) continue;
    char* ns = nullptr;
    char* vs = nullptr;
    char* n = strtok_r(names, " \n", &ns);
    char* v = strtok_r(values, " \n", &vs);
    while (n && v) {
      if (std::strcmp(n, "RcvbufErrors") == 0) result = std::atol(v);
      n = strtok_r(nullptr, " \n", &ns);
      v = strtok_r(nullptr, " \n", &vs);
    }
    break;
  }
  std::fclose(f);
  return result;
}

long relayCounter(const std::string& ctl, const char* name) {
  const std::string command = std::string(ORVA_RELAY_BIN) + " ctl --ctl " + ctl + " counters 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char line[256];
  long value = -1;
  const std::size_t len = std::strlen(name);
  while (std::fgets(line, sizeof line, p)) {
    if (std::strncmp(line, name, len) == 0 && line[len] == ' ') value = std::atol(line + len + 1);
  }
  pclose(p);
  return value;
}

// Drains one socket; blocks carry (run, index, send time) in their first bytes.
void drain(Peer& p, std::uint32_t run, const std::vector<std::int64_t>& sentNs, Level& level,
           bool isListener) {
  std::uint8_t buf[2048];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  for (;;) {
    iovec iov{buf, sizeof buf};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(p.fd, &msg, MSG_DONTWAIT);
    if (n < 0) return;
    std::int64_t arrival = wallNs();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec ts;
        std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
        arrival = static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
      }
    }
    net::Audio audio;
    if (!isListener || !net::parseAudio(std::span(buf, static_cast<std::size_t>(n)), audio) ||
        audio.head.content != proto::kContentSound) {
      continue;
    }
    std::uint32_t blockRun = 0, index = 0;
    std::memcpy(&blockRun, audio.pcm.data(), 4);
    std::memcpy(&index, audio.pcm.data() + 4, 4);
    if (blockRun != run || index >= sentNs.size()) continue;
    ++level.received;
    // The block went out in answer to the last poll sent before it arrived;
    // a generator that drains late may have sent more polls since.
    std::int64_t poll = 0;
    for (int k = 0; k < 4 && poll == 0; ++k) {
      const std::int64_t t = p.pollNs[(p.pollAt + 4 - k) % 4];
      if (t != 0 && t <= arrival) poll = t;
    }
    if (poll != 0) level.turnaround.push_back(arrival - poll);
    level.endToEnd.push_back(arrival - sentNs[index]);
  }
}

Level runLevel(std::vector<Peer>& listeners, Peer& talker, int count, std::uint32_t run,
               pid_t relayPid, const std::string& ctl, int epollFd) {
  Level level{};
  level.listeners = count;
  const int blocks = static_cast<int>(kRunMs * 1000 / proto::kBlockMicros);
  std::vector<std::int64_t> sentNs(blocks, 0);
  level.turnaround.reserve(static_cast<std::size_t>(blocks) * count);
  level.endToEnd.reserve(static_cast<std::size_t>(blocks) * count);
  const long overflowBefore = relayCounter(ctl, "queue.overflow");
  const long rcvbufBefore = udpReceiveBufferErrors();

  std::vector<Peer*> all;
  all.push_back(&talker);
  for (int i = 0; i < count; ++i) all.push_back(&listeners[i]);
  const std::int64_t warmup = 400'000'000;
  const std::int64_t start = wallNs();
  const std::int64_t talkStart = start + warmup;
  const std::int64_t end = talkStart + static_cast<std::int64_t>(kRunMs + kDrainMs) * 1'000'000;
  const long relayTicks0 = processTicks(relayPid);
  const long benchTicks0 = processTicks(getpid());
  // Real clients poll on their own clocks: spread the polls over the period.
  const std::int64_t periodNs = kPollMs * 1'000'000LL;
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i]->nextPollNs = start + periodNs * static_cast<std::int64_t>(i) / all.size();
  }
  std::size_t cursor = 0;
  int sent = 0;
  Level discard{};
  std::vector<std::int64_t> none;
  epoll_event events[256];
  for (;;) {
    const std::int64_t now = wallNs();
    if (now >= end) break;
    for (std::size_t k = 0; k < all.size() && all[cursor]->nextPollNs <= now; ++k) {
      Peer& p = *all[cursor];
      sendPoll(p);
      p.nextPollNs += periodNs;
      if (p.nextPollNs < now) p.nextPollNs = now;
      cursor = (cursor + 1) % all.size();
    }
    // A stalled generator skips the blocks it missed rather than bursting
    // them: a burst would build queues that the 31.25 ms schedule never
    // drains while the talker goes on, and the figures would measure the stall.
    while (sent < blocks - 1 && now >= talkStart + (sent + 1) * proto::kBlockMicros * 1000LL) {
      ++sent;
      ++level.skipped;
    }
    if (sent < blocks && now >= talkStart + sent * proto::kBlockMicros * 1000LL) {
      std::uint8_t pcm[proto::kPcmBlockBytes] = {};
      sentNs[sent] = wallNs();
      std::memcpy(pcm, &run, 4);
      std::memcpy(pcm + 4, &sent, 4);
      std::uint8_t buf[proto::kDatagramBytes];
      const std::size_t n = net::buildVoice(buf, static_cast<std::uint8_t>(sent % 255 + 1),
                                            talker.account, pcm);
      sendTo(talker.fd, proto::kVoicePortBase + kChannel, buf, n);
      ++sent;
    }
    std::int64_t wake = all[cursor]->nextPollNs;
    if (sent < blocks) wake = std::min<std::int64_t>(wake, talkStart + sent * proto::kBlockMicros * 1000LL);
    const int timeoutMs = wake > wallNs() ? 1 : 0;
    const int n = epoll_wait(epollFd, events, 256, timeoutMs);
    for (int i = 0; i < n; ++i) {
      const std::uint32_t who = events[i].data.u32;
      if (who == 0) {
        drain(talker, run, none, discard, false);
      } else if (static_cast<int>(who) <= count) {
        drain(listeners[who - 1], run, sentNs, level, wallNs() >= talkStart);
      } else {
        drain(listeners[who - 1], run, none, discard, false);   // idle listener of a later level
      }
    }
  }
  const double seconds = (wallNs() - start) / 1e9;
  const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
  level.relayCpu = (processTicks(relayPid) - relayTicks0) / hz / seconds;
  level.benchCpu = (processTicks(getpid()) - benchTicks0) / hz / seconds;
  level.sent = sent - level.skipped;
  level.expected = level.sent * count;
  level.overflow = relayCounter(ctl, "queue.overflow") - overflowBefore;
  level.receiveBufferDrops = udpReceiveBufferErrors() - rcvbufBefore;
  return level;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> levels = {100, 250, 500, 1000, 1500, 2000, 2500, 3000, 3500, 4000};
  bool keepGoing = false;
  std::vector<int> asked;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: relay_bench [--keep-going] [N ...]\n"
                  "  N             listener counts to try (default 100..4000)\n"
                  "  --keep-going  go on past the first level that loses or delays blocks\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--keep-going") == 0) {
      keepGoing = true;
    } else {
      const int n = std::atoi(argv[i]);
      if (n < 1 || n > 4000) {
        std::fprintf(stderr, "relay_bench: listener count %s outside 1..4000\n", argv[i]);
        return 2;
      }
      asked.push_back(n);
    }
  }
  if (!asked.empty()) levels = asked;
  const int most = *std::max_element(levels.begin(), levels.end());
  rlimit lim;
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < static_cast<rlim_t>(most + 64)) {
    std::fprintf(stderr, "relay_bench: open-file limit %lu too low for %d listeners\n",
                 static_cast<unsigned long>(lim.rlim_cur), most);
    return 1;
  }
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  const char* address = "127.0.77.77";
  char dir[] = "/tmp/relay-bench-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string ctl = std::string(dir) + "/ctl.sock";
  serverAddress.sin_family = AF_INET;
  inet_pton(AF_INET, address, &serverAddress.sin_addr);

  const pid_t relay = fork();
  if (relay == 0) {
    if (cpus > 1) pin(0, 0);
    // Other work on a shared machine should not be what the figures measure.
    setpriority(PRIO_PROCESS, 0, -15);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execl(ORVA_RELAY_BIN, ORVA_RELAY_BIN, "--bind", address, "--ctl", ctl.c_str(), "--capacity",
          "100000000", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (cpus > 1) pin(0, 1);
  setpriority(PRIO_PROCESS, 0, -10);
  for (int i = 0; i < 100 && relayCounter(ctl, "in.poll") < 0; ++i) usleep(20000);

  const int epollFd = epoll_create1(EPOLL_CLOEXEC);
  Peer talker;
  talker.fd = openSocket(address);
  talker.account = 1;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = 0;
  epoll_ctl(epollFd, EPOLL_CTL_ADD, talker.fd, &ev);
  std::vector<Peer> listeners;
  listeners.reserve(most);

  double load[3] = {};
  getloadavg(load, 3);
  std::printf("relay pinned to cpu 0, generator to cpu 1 (%ld cpus, load %.2f); one talker, "
              "listeners polling every %d ms, %d ms of speech per level\n",
              cpus, load[0], kPollMs, kRunMs);
  std::printf("%9s %7s %9s %6s %8s %7s %8s %8s %8s %8s %8s %7s %7s\n", "listeners", "blocks",
              "delivered", "lost", "overflow", "rcvbuf", "turn p50", "turn p99", "turn max",
              "e2e p50", "e2e p99", "relay", "gen");
  const std::int64_t wallStart = wallNs();
  int served = 0;
  bool failed = false;
  std::uint32_t run = 0;
  for (int count : levels) {
    if ((wallNs() - wallStart) / 1'000'000'000 > kWallLimitS) {
      std::printf("wall-clock limit reached\n");
      break;
    }
    while (static_cast<int>(listeners.size()) < count) {
      Peer p;
      p.fd = openSocket(address);
      p.account = static_cast<std::uint16_t>(1000 + listeners.size());
      if (p.fd < 0) {
        std::fprintf(stderr, "relay_bench: socket: %s\n", std::strerror(errno));
        return 1;
      }
      ev.data.u32 = static_cast<std::uint32_t>(listeners.size() + 1);
      epoll_ctl(epollFd, EPOLL_CTL_ADD, p.fd, &ev);
      listeners.push_back(p);
    }
    Level level = runLevel(listeners, talker, count, ++run, relay, ctl, epollFd);
    const long lost = level.expected - level.received;
    const std::int64_t t50 = percentile(level.turnaround, 0.50);
    const std::int64_t t99 = percentile(level.turnaround, 0.99);
    const std::int64_t tmax = percentile(level.turnaround, 1.0);
    const std::int64_t e50 = percentile(level.endToEnd, 0.50);
    const std::int64_t e99 = percentile(level.endToEnd, 0.99);
    std::printf("%9d %7ld %9ld %6ld %8ld %7ld %6.2fms %6.2fms %6.2fms %6.2fms %6.2fms %6.0f%% "
                "%6.0f%%\n",
                count, level.sent, level.received, lost, level.overflow, level.receiveBufferDrops,
                t50 / 1e6, t99 / 1e6,
                tmax / 1e6, e50 / 1e6, e99 / 1e6, level.relayCpu * 100, level.benchCpu * 100);
    std::fflush(stdout);
    if (lost > 0 || t99 > kDelayLimitNs) {
      std::printf("limit: %d listeners %s\n", count,
                  lost > 0 ? "lost blocks" : "had p99 turnaround above 5 ms");
      failed = true;
      if (!keepGoing) break;
    } else if (!failed) {
      served = count;
    }
  }
  std::printf("served without loss and with p99 turnaround <= 5 ms: %d listeners\n", served);
  kill(relay, SIGTERM);
  waitpid(relay, nullptr, 0);
  rmdir(dir);
  return 0;
}
