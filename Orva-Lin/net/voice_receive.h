// What the client does with each datagram from the relay: audio into the
// playout buffer and the link LEDs, list replies into the channel tables,
// supervisor notices into an action. Pure functions over the received bytes;
// the threads apply the results to the shared words.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "Orva-Lin/audio/playout_fifo.h"
#include "common/protocol.h"

namespace net {

// Datagrams are taken from the relay's IPv4 address only (any port): anyone
// else could otherwise speak on the channel or close the client.
bool fromRelay(std::uint32_t fromAddress, std::uint32_t relayAddress);

// 0 -> 10 ms ... 3 -> 25 ms; 4 and above, negatives and 99 -> 30 ms.
int pollPeriodMs(int sendPaceMode);

struct AudioReceiver {
  std::uint8_t lastAudioSequence = 0;
  int blinkCounter = 0;                            // 0..9
  std::uint8_t padded[proto::kDatagramBytes] = {};  // received bytes, zeros past them
  std::uint8_t block[proto::kPcmBlockBytes] = {};   // attenuated copy on the echo channel
};

struct AudioOutcome {
  std::uint32_t packetLed = 0;      // 0: no datagram to judge
  bool accepted = false;
  std::int32_t serverEchoByte = 0;  // the next three only when accepted
  std::int32_t talkerNumber = 0;
  std::int32_t sendPaceMode = 0;
  std::uint32_t voiceLinkLed = 0;   // 0: unchanged
};

// One received audio datagram of `received.size()` bytes (up to 1024 are
// read; bytes that did not arrive count as zero). Accepted blocks go into
// the FIFO.
AudioOutcome receiveAudio(AudioReceiver& r, PlayoutFifo& fifo, std::span<const std::uint8_t> received,
                          int channelPort);

// One tenth, truncated toward zero, sign kept: -32768 -> -3276.
std::int16_t attenuateEchoSample(std::int16_t s);

struct PeerLists {
  std::atomic<std::int32_t> peerCounts[proto::kChannelCount];
  std::atomic<std::int32_t> peerTable[proto::kChannelCount][proto::kListMaxMembers];
};
extern PeerLists peerLists;

// A list reply into the tables; false (nothing changed) when the channel or
// the count is out of range or fewer member numbers arrived than announced.
bool applyListReply(PeerLists& lists, std::atomic<std::int32_t>& channelPeerCount,
                    std::span<const std::uint8_t> received, int channelPort);

enum class SupervisorAction { None, Update, Close };
SupervisorAction supervisorAction(std::span<const std::uint8_t> received);

// The list and supervisor cycles alternate, list first. A list cycle asks for
// the member's own channel and for one other channel in turn (0..10).
struct SupervisorCycle {
  bool listNext = true;
  int listRotation = 0;
};
struct CyclePlan {
  bool list = false;
  int listBases[2] = {};  // list cycle: each request goes to base + 1000
};
CyclePlan nextSupervisorCycle(SupervisorCycle& c, int channelPort);

}  // namespace net
