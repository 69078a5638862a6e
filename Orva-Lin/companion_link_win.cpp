#include "Orva-Lin/companion_link_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

#include "Orva-Lin/companion_link.h"
#include "Orva-Lin/input_map.h"
#include "Orva-Lin/transmit.h"
#include "common/protocol.h"

namespace {

std::atomic<SOCKET> companionSocket{INVALID_SOCKET};

sockaddr_in loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(kLoopbackAddress);
  a.sin_port = htons(port);
  return a;
}

}  // namespace

void openCompanionLink() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    WSACleanup();
    return;
  }
  // Bound to loopback, not to every interface: no other host can reach the
  // socket that switches the microphone on.
  const sockaddr_in local = loopback(0);
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    closesocket(s);
    WSACleanup();
    return;
  }
  companionSocket.store(s);
  sendToCompanion(input::kTextGreeting.length, input::kTextGreeting.c_str());
}

int sendToCompanion(std::uint64_t length, const char* bytes) {
  if (length > 2147483647ull) return 0;
  const SOCKET s = companionSocket.load();
  if (s == INVALID_SOCKET) return SOCKET_ERROR;
  const sockaddr_in to = loopback(proto::kCompanionPort);
  return sendto(s, bytes, static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

DWORD WINAPI CompanionReceiveThread(void*) {
  static char buffer[proto::kDatagramBytes];
  for (;;) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(companionSocket.load(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
    if (n > 0) {
      switch (linkCommand(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port),
                          reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(n))) {
        case LinkCommand::TransmitOn: setTransmitFlag(1); break;
        case LinkCommand::TransmitOff: setTransmitFlag(0); break;
        case LinkCommand::None: break;
      }
    }
    Sleep(100);
  }
}
