// orva-relay: state and operations of the reference relay server. One thread
// owns everything below; all tables are fixed and live in static storage.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>

#include "common/protocol.h"

namespace relay {

inline constexpr int kMaxMembers = 4096;
inline constexpr int kEchoRecorders = 8;     // members recording or hearing an echo at once
inline constexpr int kNoMember = -1;
inline constexpr int kTickMs = 5;
inline constexpr int kSweepMs = 100;
inline constexpr int kLoadWindowMs = 250;    // load is summed over four such windows
inline constexpr int kDefaultCapacity = 100000;   // datagrams per second
inline constexpr char kDefaultCtlPath[] = "/run/orva-relay.sock";
inline constexpr std::int64_t kBlockUs = proto::kBlockMicros;

enum Counter {
  kInHello, kInPoll, kInVoice, kInList, kInSupervisor,
  kOutAudio, kOutKeepAlive, kOutEcho, kOutList, kOutSupervisor, kOutNotice220, kOutNotice240,
  kDropMalformed, kDropOversize, kDropNotMember, kDropWrongChannel, kDropAccount,
  kDropFloorBusy, kDropTableFull, kDropEchoBusy, kDropEchoFull, kDropSendFailed,
  kQueueOverflow, kSupervisorUnknown, kJoins, kLeaves, kFloorChanges,
  kCounterCount
};
extern const char* const kCounterNames[kCounterCount];

struct Member {
  bool used;
  std::uint32_t ip;      // network order, as received
  std::uint16_t port;    // network order
  std::uint32_t local;   // our address its polls were sent to, network order; 0: unknown
  std::uint16_t account;
  int channel;
  std::uint8_t token;
  std::uint8_t sequence;   // last sent, 0 before the first
  std::uint16_t lastTalker;   // last talker whose block it was sent on its channel, 0: none yet
  bool closePending;
  bool versionKnown;
  std::uint32_t version;
  std::int64_t lastPollUs;
  std::int64_t lastAudioOutUs;   // 0: never
  std::int64_t nextDueUs;        // earliest release of the next block
  std::uint64_t nextBlock;       // serial in the channel ring
  int echo;                      // recorder, or -1
};

// The floor holder's blocks go into a ring as long as a listener's queue; a
// listener's queue is then just the serials from nextBlock to head.
struct Channel {
  int count;
  std::int16_t members[kMaxMembers];   // join order, for list replies
  int floorHolder;
  std::int64_t lastVoiceUs;
  std::uint64_t voiceBlocks;   // voice blocks taken: the floor holder's, every sender's on the echo channel
  std::uint64_t head;
  std::uint16_t talkers[proto::kListenerQueueBlocks];
  std::uint8_t blocks[proto::kListenerQueueBlocks][proto::kPcmBlockBytes];
};

struct EchoRecorder {
  int member;            // kNoMember when free
  int count;
  int played;
  bool playing;
  std::int64_t lastVoiceUs;
  std::uint8_t blocks[proto::kEchoRecordBlocks][proto::kPcmBlockBytes];
};

struct Config {
  in_addr bind;
  int capacity;
  std::uint32_t minVersion;   // 0: no minimum
  const char* ctlPath;
};

struct Relay {
  Config config;
  int voiceFd[proto::kChannelCount];
  int listFd[proto::kChannelCount];
  Member members[kMaxMembers];
  int freeSlots[kMaxMembers];
  int freeCount;
  int memberCount;
  Channel channels[proto::kChannelCount];
  EchoRecorder echo[kEchoRecorders];
  std::uint64_t counters[kCounterCount];
  std::uint8_t tokenCursor;
  int pace;
  std::uint64_t loadWindows[4];
  std::uint64_t loadMark;
  std::uint64_t traffic;      // datagrams in and out, for the pace value
  std::uint64_t perSecond;    // datagrams over the last second, as the pace value saw them
  std::uint8_t tx[proto::kDatagramBytes];
};

extern Relay state;

std::int64_t nowUs();
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void formatVersion(std::uint32_t version, char* out, std::size_t size);
bool parseVersionText(const char* text, std::uint32_t& version);

// members.cpp
void initMembers();
int findMember(std::uint32_t ip, std::uint16_t port);
int findMemberByToken(std::uint32_t ip, std::uint8_t token);
int joinMember(std::uint32_t ip, std::uint16_t port, std::uint16_t account, int channel,
               std::int64_t now);
void moveMember(int index, int channel, std::int64_t now);
void leaveMember(int index, const char* reason);
void sweepMembers(std::int64_t now);

// delivery.cpp
// `local` is the address the datagram was sent to (network order, 0 when
// unknown): replies leave from it.
void onVoicePort(int channel, const sockaddr_in& from, std::uint32_t local,
                 std::span<const std::uint8_t> in, std::int64_t now);
void onListPort(int channel, const sockaddr_in& from, std::uint32_t local,
                std::span<const std::uint8_t> in);
void onTick(std::int64_t now);
void releaseFloor(int channel, const char* reason);
void freeEcho(int member);
int queuedBlocks(const Member& m);

// ctl.cpp
int openCtlSocket(const char* path);
void onCtlReadable(int listenFd);
int runCtlClient(int argc, char** argv);

}  // namespace relay
