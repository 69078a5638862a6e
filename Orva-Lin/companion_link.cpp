#include "Orva-Lin/companion_link.h"

#include "common/protocol.h"

LinkCommand linkCommand(std::uint32_t fromAddress, std::uint16_t fromPort, const std::uint8_t* bytes,
                        std::size_t length) {
  if (fromAddress != kLoopbackAddress || fromPort != proto::kCompanionPort) return LinkCommand::None;
  if (length == 0 || !bytes) return LinkCommand::None;
  if (bytes[0] == proto::kLinkTransmitOn) return LinkCommand::TransmitOn;
  if (bytes[0] == proto::kLinkTransmitOff) return LinkCommand::TransmitOff;
  return LinkCommand::None;
}
