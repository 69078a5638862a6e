// Scripted clients for the relay tests: the real orva-relay binary on a
// loopback address of its own, and clients built from the same datagram code
// as Orva-Lin.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Orva-Lin/net/packets.h"

namespace relaytest {

using Bytes = std::vector<std::uint8_t>;

std::int64_t nowUs();
void sleepMs(int ms);

struct Server {
  int pid = -1;
  std::string address;   // dotted 127.x.y.z, unique to this test process
  std::string ctlPath;
  std::string logPath;
  std::string dir;
};

// Starts orva-relay with extra arguments and waits until it answers.
bool startServer(Server& server, const std::vector<std::string>& extraArgs = {});
void stopServer(Server& server);
std::string serverLog(const Server& server);
// Runs "orva-relay ctl --ctl PATH <command>"; returns its output.
std::string runCtl(const Server& server, const std::string& command, int* exitCode = nullptr);
std::map<std::string, std::uint64_t> counters(const Server& server);
// Another loopback address on the same /8, for a second client IP.
std::string otherAddress(const Server& server, int offset);

struct Received {
  std::int64_t us;
  Bytes data;
  sockaddr_in from;
};

struct Client {
  int voiceFd = -1;
  int supervisorFd = -1;
  std::uint16_t account = 0;
  int channel = 0;
  int pollVariant = 0;
  std::uint8_t voiceSequence = proto::kSequenceFirst;
  int pollPeriodMs = 0;            // 0: the scripted loop sends no polls
  std::int64_t nextPollUs = 0;
  std::vector<Received> audio;     // every datagram received on voiceFd
};

bool openClient(const Server& server, Client& client, std::uint16_t account, int channel,
                const std::string& bindAddress = "");
void closeClient(Client& client);
void sendPoll(const Server& server, Client& client);
void sendVoice(const Server& server, Client& client, std::uint32_t blockIndex);
void sendRaw(const Server& server, int fd, int port, const Bytes& bytes);
// Sends a request on the client's supervisor socket and waits for one reply.
bool listRequest(const Server& server, Client& client, int channel, net::ListReply& reply,
                 sockaddr_in* replyFrom = nullptr);
bool supervisorRequest(const Server& server, int fd, std::uint8_t echo, std::uint8_t& code,
                       sockaddr_in* replyFrom = nullptr);
int openUdp(const std::string& bindAddress);

// A block whose first four bytes carry its index and whose rest is derived from it.
Bytes testBlock(std::uint32_t index);
std::uint32_t blockIndex(const net::Audio& audio);

// Runs the clients for durationMs: each polls on its own period, every
// datagram is stamped on arrival, and step() runs on each pass (about every
// millisecond) with the elapsed time.
void runClients(const Server& server, const std::vector<Client*>& clients, int durationMs,
                const std::function<void(std::int64_t elapsedUs)>& step = {});

// Audio datagrams with a block (content 1) among what the client received.
std::vector<Received> blocksOf(const Client& client);

}  // namespace relaytest
