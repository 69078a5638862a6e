// The client's side of the loopback link with Talvo: what a received
// datagram asks for.
#pragma once

#include <cstddef>
#include <cstdint>

enum class LinkCommand { None, TransmitOn, TransmitOff };

inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1, host order

// Only the companion, bound to 127.0.0.1:5555, may key the microphone: a
// datagram from any other address or port is ignored, whatever it holds.
// Only the first byte counts.
LinkCommand linkCommand(std::uint32_t fromAddress, std::uint16_t fromPort, const std::uint8_t* bytes,
                        std::size_t length);
