// Talvo's side of the loopback link with Orva-Lin: the socket on
// 127.0.0.1:5555, the thread that speaks what the client sends, and the
// 'T' / 'R' markers that key the client's push-to-talk.
#pragma once

#include <windows.h>

#include <cstdint>

// Posted to the companion window when a datagram has come from a new or the
// same sender: the address lines must be redrawn.
inline constexpr UINT kPeerChangedMessage = WM_APP + 1;

// Socket set-up; on failure the link stays closed and Talvo runs without it.
void openLinkSocket();
void closeLinkSocket();

// The client's address as last seen, for painting. False before the first
// datagram (address 0, port 0).
struct LinkPeer {
  std::uint32_t address = 0;   // host order
  std::uint16_t port = 0;
};
bool linkPeer(LinkPeer& peer);

// Sends 'T' to the client when it is known and remembers where, so that
// endTransmit sends the 'R' there; endTransmit does nothing when no 'T' is
// owed one. Both on the window thread.
void beginTransmit();
void endTransmit();

// Receives texts from the client and speaks them; param is the companion
// window, told of each new sender with kPeerChangedMessage.
DWORD WINAPI LinkReceiveThread(void* companionWindow);
