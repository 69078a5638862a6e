#include "tests/relay/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

extern char** environ;

namespace relaytest {

std::int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void sleepMs(int ms) { usleep(static_cast<useconds_t>(ms) * 1000); }

namespace {

// Every test runs in its own process (one per test under ctest), so an
// address derived from the process id keeps concurrent servers apart, and
// away from 127.0.0.x where demos and other suites run theirs.
std::string addressForProcess() {
  const unsigned pid = static_cast<unsigned>(getpid());
  unsigned b1 = 1 + (pid >> 16) % 254;
  unsigned b2 = (pid >> 8) & 0xFF;
  unsigned b3 = pid & 0xFF;
  if (b3 == 0 || b3 == 255) b3 = 1 + (b2 % 253);
  char text[32];
  std::snprintf(text, sizeof text, "127.%u.%u.%u", b1, b2, b3);
  return text;
}

sockaddr_in socketAddress(const std::string& address, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  return sa;
}

bool receiveWithin(int fd, Bytes& out, int ms, sockaddr_in* from = nullptr) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  std::uint8_t buf[2048];
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return false;
  out.assign(buf, buf + n);
  if (from) *from = sa;
  return true;
}

// The kernel's arrival stamp (wall clock), moved onto the monotonic clock, so
// that a test thread scheduled late does not squeeze the measured gaps.
bool receiveStamped(int fd, std::uint8_t* buf, std::size_t size, Received& out) {
  iovec iov{buf, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  msghdr msg{};
  out.from = sockaddr_in{};
  msg.msg_name = &out.from;
  msg.msg_namelen = sizeof out.from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
  if (n < 0) return false;
  out.us = nowUs();
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec arrival, wall;
      std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
      clock_gettime(CLOCK_REALTIME, &wall);
      const std::int64_t age = (static_cast<std::int64_t>(wall.tv_sec) - arrival.tv_sec) * 1000000 +
                               (wall.tv_nsec - arrival.tv_nsec) / 1000;
      if (age >= 0) out.us -= age;
    }
  }
  out.data.assign(buf, buf + n);
  return true;
}

}  // namespace

int openUdp(const std::string& bindAddress) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  sockaddr_in sa = socketAddress(bindAddress, 0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool startServer(Server& server, const std::vector<std::string>& extraArgs) {
  char dirTemplate[] = "/tmp/orva-relay-test-XXXXXX";
  if (!mkdtemp(dirTemplate)) return false;
  server.dir = dirTemplate;
  server.address = addressForProcess();
  server.ctlPath = server.dir + "/ctl.sock";
  server.logPath = server.dir + "/relay.log";
  std::vector<std::string> args = {ORVA_RELAY_BIN, "--bind", server.address, "--ctl",
                                   server.ctlPath};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, server.logPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  server.pid = pid;
  // Ready once the control socket answers (it opens after the 22 UDP sockets).
  for (int i = 0; i < 200; ++i) {
    int code = -1;
    runCtl(server, "counters", &code);
    if (code == 0) return true;
    int status = 0;
    if (waitpid(server.pid, &status, WNOHANG) == server.pid) {
      server.pid = -1;
      return false;
    }
    sleepMs(20);
  }
  return false;
}

void stopServer(Server& server) {
  if (server.pid > 0) {
    kill(server.pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(server.pid, &status, WNOHANG) == 0; ++i) sleepMs(10);
    if (waitpid(server.pid, &status, WNOHANG) == 0) {
      kill(server.pid, SIGKILL);
      waitpid(server.pid, &status, 0);
    }
    server.pid = -1;
  }
  if (!server.dir.empty()) {
    unlink(server.logPath.c_str());
    unlink(server.ctlPath.c_str());
    rmdir(server.dir.c_str());
  }
}

std::string serverLog(const Server& server) {
  std::ifstream in(server.logPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string runCtl(const Server& server, const std::string& command, int* exitCode) {
  const std::string line =
      std::string(ORVA_RELAY_BIN) + " ctl --ctl " + server.ctlPath + " " + command + " 2>&1";
  FILE* pipe = popen(line.c_str(), "r");
  std::string out;
  if (!pipe) {
    if (exitCode) *exitCode = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::map<std::string, std::uint64_t> counters(const Server& server) {
  std::map<std::string, std::uint64_t> out;
  std::istringstream in(runCtl(server, "counters"));
  std::string name;
  std::uint64_t value;
  while (in >> name >> value) out[name] = value;
  return out;
}

std::string otherAddress(const Server& server, int offset) {
  in_addr a;
  inet_pton(AF_INET, server.address.c_str(), &a);
  std::uint32_t host = ntohl(a.s_addr);
  std::uint32_t last = ((host & 0xFF) + offset - 1) % 254 + 1;
  a.s_addr = htonl((host & 0xFFFFFF00u) | last);
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool openClient(const Server& server, Client& client, std::uint16_t account, int channel,
                const std::string& bindAddress) {
  const std::string address = bindAddress.empty() ? server.address : bindAddress;
  client.voiceFd = openUdp(address);
  client.supervisorFd = openUdp(address);
  client.account = account;
  client.channel = channel;
  if (client.voiceFd < 0 || client.supervisorFd < 0) return false;
  std::uint8_t hello[proto::kSupervisorHelloBytes];
  sendRaw(server, client.voiceFd, proto::kVoicePortBase + channel,
          Bytes(hello, hello + net::buildHello(hello)));
  sendRaw(server, client.supervisorFd, proto::kVoicePortBase + channel,
          Bytes(hello, hello + net::buildSupervisorHello(hello)));
  return true;
}

void closeClient(Client& client) {
  if (client.voiceFd >= 0) close(client.voiceFd);
  if (client.supervisorFd >= 0) close(client.supervisorFd);
  client.voiceFd = client.supervisorFd = -1;
}

void sendRaw(const Server& server, int fd, int port, const Bytes& bytes) {
  sockaddr_in to = socketAddress(server.address, port);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void sendPoll(const Server& server, Client& client) {
  client.pollVariant = net::nextPollVariant(client.pollVariant);
  std::uint8_t buf[64];
  const std::size_t n = net::buildPoll(buf, client.pollVariant, client.account, "relay-test-00001");
  sendRaw(server, client.voiceFd, proto::kVoicePortBase + client.channel, Bytes(buf, buf + n));
}

Bytes testBlock(std::uint32_t index) {
  Bytes pcm(proto::kPcmBlockBytes);
  for (std::size_t i = 4; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 13 + index);
  std::memcpy(pcm.data(), &index, 4);
  return pcm;
}

std::uint32_t blockIndex(const net::Audio& audio) {
  std::uint32_t index = 0;
  if (audio.pcm.size() >= 4) std::memcpy(&index, audio.pcm.data(), 4);
  return index;
}

void sendVoice(const Server& server, Client& client, std::uint32_t index) {
  const Bytes pcm = testBlock(index);
  std::uint8_t buf[proto::kDatagramBytes];
  const std::size_t n = net::buildVoice(buf, client.voiceSequence, client.account, pcm);
  client.voiceSequence = net::nextSequence(client.voiceSequence);
  sendRaw(server, client.voiceFd, proto::kVoicePortBase + client.channel, Bytes(buf, buf + n));
}

bool listRequest(const Server& server, Client& client, int channel, net::ListReply& reply,
                 sockaddr_in* replyFrom) {
  std::uint8_t buf[8];
  sendRaw(server, client.supervisorFd, proto::kListPortBase + channel,
          Bytes(buf, buf + net::buildListRequest(buf)));
  Bytes in;
  sockaddr_in from{};
  for (int tries = 0; tries < 4; ++tries) {
    if (!receiveWithin(client.supervisorFd, in, 1000, &from)) return false;
    if (net::parseListReply(in, reply) && reply.channel == channel) {
      if (replyFrom) *replyFrom = from;
      return true;
    }
  }
  return false;
}

bool supervisorRequest(const Server& server, int fd, std::uint8_t echo, std::uint8_t& code,
                       sockaddr_in* replyFrom) {
  std::uint8_t buf[8];
  sendRaw(server, fd, proto::kListPortBase, Bytes(buf, buf + net::buildSupervisorRequest(buf, echo)));
  Bytes in;
  return receiveWithin(fd, in, 1000, replyFrom) && net::parseSupervisorReply(in, code);
}

void runClients(const Server& server, const std::vector<Client*>& clients, int durationMs,
                const std::function<void(std::int64_t elapsedUs)>& step) {
  const std::int64_t start = nowUs();
  const std::int64_t end = start + static_cast<std::int64_t>(durationMs) * 1000;
  for (Client* c : clients) c->nextPollUs = start;
  std::vector<pollfd> fds;
  for (Client* c : clients) fds.push_back({c->voiceFd, POLLIN, 0});
  for (;;) {
    std::int64_t now = nowUs();
    if (now >= end) break;
    for (Client* c : clients) {
      if (c->pollPeriodMs > 0 && now >= c->nextPollUs) {
        sendPoll(server, *c);
        c->nextPollUs += static_cast<std::int64_t>(c->pollPeriodMs) * 1000;
        if (c->nextPollUs < now) c->nextPollUs = now;   // a stall skips polls, never bursts
      }
    }
    if (step) step(now - start);
    for (pollfd& p : fds) p.revents = 0;
    poll(fds.data(), fds.size(), 1);
    for (std::size_t i = 0; i < clients.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      std::uint8_t buf[2048];
      Received r;
      while (receiveStamped(clients[i]->voiceFd, buf, sizeof buf, r)) {
        clients[i]->audio.push_back(std::move(r));
      }
    }
  }
}

std::vector<Received> blocksOf(const Client& client) {
  std::vector<Received> out;
  for (const Received& r : client.audio) {
    net::Audio a;
    if (net::parseAudio(r.data, a) && a.head.content == proto::kContentSound) out.push_back(r);
  }
  return out;
}

}  // namespace relaytest
