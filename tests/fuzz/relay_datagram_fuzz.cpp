// Every datagram the relay takes from the network, through its real handling
// (members, floor, ring, echo recorder, lists, notices) with time passing
// between them. A record's tag picks the socket (voice or list port), the
// channel and the time step; its first two bytes pick the sender among 512
// addresses, the rest is the datagram. Replies go to a closed socket.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "servers/relay/relay.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

// Relay receive buffer, as main.cpp reads it.
constexpr std::size_t kMaxDatagram = 2048;
// The address the datagrams were sent to, as the relay learns it per datagram.
const std::uint32_t kRelayAddress = htonl(0x7F000001u);
// Each input starts an hour after the last, so the relay's own timers
// (sweep, load windows) always see time move forward.
std::int64_t clockUs = 1'000'000;

void resetRelay() {
  using namespace relay;
  state.config.capacity = kDefaultCapacity;
  state.config.minVersion = 0x00070500;
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    state.voiceFd[ch] = -1;
    state.listFd[ch] = -1;
    Channel& c = state.channels[ch];
    c.count = 0;
    c.floorHolder = kNoMember;
    c.head = 0;
    c.lastVoiceUs = 0;
  }
  for (EchoRecorder& r : state.echo) {
    r.member = kNoMember;
    r.count = 0;
    r.playing = false;
  }
  initMembers();
  std::memset(state.counters, 0, sizeof state.counters);
  state.tokenCursor = 0;
  state.pace = 0;
  state.traffic = 0;
  state.loadMark = 0;
  std::memset(state.loadWindows, 0, sizeof state.loadWindows);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  relay::state.config.ctlPath = "/nonexistent/orva-relay.sock";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace relay;
  resetRelay();
  clockUs += 3600LL * 1'000'000;
  fuzzin::Reader in(data, size, kMaxDatagram + 2);
  fuzzin::Record r;
  while (in.next(r)) {
    if (r.bytes.size() < 2) continue;
    const bool listPort = r.tag & 0x80;
    const int channel = (r.tag & 0x0F) % proto::kChannelCount;
    // 0, 5 ms, 31 ms or 2 s: pacing, ticks, a block, the floor and presence timeouts.
    static constexpr std::int64_t kSteps[] = {0, 5'000, 31'250, 2'000'000};
    clockUs += kSteps[(r.tag >> 4) & 3];
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000000u | (r.bytes[0] & 0x3F));
    from.sin_port = htons(static_cast<std::uint16_t>(40000 + (r.bytes[1] & 0x07)));
    const auto datagram = r.bytes.subspan(2);
    if (listPort) {
      onListPort(channel, from, kRelayAddress, datagram);
    } else {
      onVoicePort(channel, from, kRelayAddress, datagram, clockUs);
    }
    if (r.tag & 0x40) onTick(clockUs);
    if (state.memberCount < 0 || state.memberCount > kMaxMembers) __builtin_trap();
    for (int ch = 0; ch < proto::kChannelCount; ++ch) {
      const Channel& c = state.channels[ch];
      if (c.count < 0 || c.count > kMaxMembers) __builtin_trap();
    }
  }
  return 0;
}
