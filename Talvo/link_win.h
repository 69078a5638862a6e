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
// At exit: waits up to `waitMs` for the receive thread to end, then closes
// the socket, so no datagram is read into a closing program and no second
// copy starts while this one still holds port 5555.
void closeLink(HANDLE receiver, DWORD waitMs);

// The client's address as last seen, for painting. False before the first
// datagram (address 0, port 0).
struct LinkPeer {
  std::uint32_t address = 0;   // host order
  std::uint16_t port = 0;
};
bool linkPeer(LinkPeer& peer);

// Sends 'T' to the client when it is known and remembers where, so that
// endTransmit sends the 'R' there; endTransmit does nothing when no 'T' is
// owed one, so the speaking thread and a closing window can both call it.
void beginTransmit();
void endTransmit();

// Receives texts from the client and queues them for the speaking thread;
// param is the companion window, told of each new sender with
// kPeerChangedMessage. Ends within half a second of closeLinkSocket.
DWORD WINAPI LinkReceiveThread(void* companionWindow);
