// The client's handling of what arrives on its list and supervisor socket:
// list replies into the channel tables, notices into an action.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Orva-Lin/net/packets.h"
#include "Orva-Lin/net/voice_receive.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static net::PeerLists lists;
  static std::atomic<std::int32_t> channelPeerCount{0};
  fuzzin::Reader in(data, size, 2 * proto::kDatagramBytes);
  fuzzin::Record r;
  while (in.next(r)) {
    const int port = proto::kVoicePortBase + (r.tag & 0x0F) % proto::kChannelCount;
    net::applyListReply(lists, channelPeerCount, r.bytes, port);
    net::supervisorAction(r.bytes);
    net::ListReply reply;
    if (net::parseListReply(r.bytes, reply) &&
        (reply.channel < 0 || reply.channel >= proto::kChannelCount || reply.count < 0 ||
         reply.count > proto::kListMaxMembers)) {
      __builtin_trap();
    }
    const std::int32_t count = channelPeerCount.load();
    if (count < 0 || count > proto::kListMaxMembers) __builtin_trap();
  }
  return 0;
}
