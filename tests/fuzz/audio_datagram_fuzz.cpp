// The client's handling of audio datagrams from the relay: a run of them,
// each on a channel picked by its tag (the echo channel attenuates), through
// one receiver and one playout buffer, with playback advancing now and then.
#include <cstddef>
#include <cstdint>

#include "Orva-Lin/audio/playout_fifo.h"
#include "Orva-Lin/net/voice_receive.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static net::AudioReceiver receiver;
  static PlayoutFifo fifo;
  static std::uint8_t played[kCycleBytes];
  receiver = net::AudioReceiver{};
  resetFifo(fifo);
  fuzzin::Reader in(data, size, 2 * proto::kDatagramBytes);
  fuzzin::Record r;
  while (in.next(r)) {
    const int port = proto::kVoicePortBase + (r.tag & 0x0F) % proto::kChannelCount;
    const net::AudioOutcome out = net::receiveAudio(receiver, fifo, r.bytes, port);
    if (out.accepted && (out.talkerNumber < 0 || out.talkerNumber > 0xFFFF)) __builtin_trap();
    if (r.tag & 0x80) advanceFifo(fifo, played);
    const std::int32_t w = fifoWriteIndex(fifo);
    if (w < 0 || w > kFifoLastSlot) __builtin_trap();
  }
  return 0;
}
