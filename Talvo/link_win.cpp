#include "Talvo/link_win.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

#include "Talvo/speaker_win.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;   // 127.0.0.1, host order
constexpr UINT kClientCodePage = 1252;            // what the client's texts are written in
constexpr long kReceiveWaitMs = 500;              // the thread looks at linkClosing this often

std::atomic<SOCKET> synthSocket{INVALID_SOCKET};
std::atomic<bool> linkClosing{false};

// Address and port in one word, so a reader never pairs the address of one
// datagram with the port of another: bit 48 set once a peer is known, the
// address in bits 16..47, the port in bits 0..15.
constexpr std::uint64_t kPeerKnown = std::uint64_t{1} << 48;
std::atomic<std::uint64_t> peerWord{0};
// Where the 'T' of an unfinished send sequence went; 0 when none is owed.
std::atomic<std::uint64_t> transmitPeer{0};

std::uint64_t packPeer(std::uint32_t address, std::uint16_t port) {
  return kPeerKnown | std::uint64_t{address} << 16 | port;
}

void sendMarker(std::uint8_t marker, std::uint64_t peer) {
  const SOCKET s = synthSocket.load();
  if (s == INVALID_SOCKET || !(peer & kPeerKnown)) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(peer >> 16));
  to.sin_port = htons(static_cast<std::uint16_t>(peer));
  const char byte = static_cast<char>(marker);
  sendto(s, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);   // result ignored: no peer, no harm
}

}  // namespace

void openLinkSocket() {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    WSACleanup();
    return;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(kLoopback);
  local.sin_port = htons(proto::kCompanionPort);
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    WSACleanup();
    return;
  }
  synthSocket.store(s);
}

void closeLinkSocket() {
  linkClosing.store(true);
  const SOCKET s = synthSocket.exchange(INVALID_SOCKET);
  if (s == INVALID_SOCKET) return;
  closesocket(s);
  WSACleanup();
}

void closeLink(HANDLE receiver, DWORD waitMs) {
  linkClosing.store(true);
  WaitForSingleObject(receiver, waitMs);
  closeLinkSocket();
}

bool linkPeer(LinkPeer& peer) {
  const std::uint64_t word = peerWord.load(std::memory_order_relaxed);
  peer.address = static_cast<std::uint32_t>(word >> 16);
  peer.port = static_cast<std::uint16_t>(word);
  return (word & kPeerKnown) != 0;
}

void beginTransmit() {
  const std::uint64_t peer = peerWord.load();
  if (!(peer & kPeerKnown)) return;   // nobody to key yet
  sendMarker(proto::kLinkTransmitOn, peer);
  transmitPeer.store(peer);
}

void endTransmit() {
  sendMarker(proto::kLinkTransmitOff, transmitPeer.exchange(0));
}

DWORD WINAPI LinkReceiveThread(void* companionWindow) {
  static char received[proto::kLinkMaxText + 1];
  static wchar_t text[proto::kLinkMaxText + 1];
  const HWND window = static_cast<HWND>(companionWindow);
  while (!linkClosing.load()) {
    const SOCKET s = synthSocket.load();
    if (s == INVALID_SOCKET) return 0;   // no link: nothing will ever arrive
    // Wait for a datagram rather than spin on the non-blocking socket; the
    // timeout lets the loop see linkClosing.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{0, kReceiveWaitMs * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    sockaddr_in from{};
    int fromLength = sizeof from;
    // A datagram longer than kLinkMaxText fails with WSAEMSGSIZE and is
    // dropped unspoken.
    const int n = recvfrom(s, received, static_cast<int>(proto::kLinkMaxText), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) continue;
    received[n] = 0;
    peerWord.store(packPeer(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)));
    PostMessageW(window, kPeerChangedMessage, 0, 0);
    const int length = MultiByteToWideChar(kClientCodePage, 0, received, n, text, static_cast<int>(proto::kLinkMaxText));
    // Queued, never spoken here: this thread keeps reading (and a full
    // queue drops the text) while an utterance plays.
    if (length > 0) sayText(text, static_cast<std::size_t>(length));
  }
  return 0;
}
