#include "Orva-Lin/net/relay.h"

#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <span>

#include "Orva-Lin/audio/activity_ring.h"
#include "Orva-Lin/audio/levels.h"
#include "Orva-Lin/audio/playout_fifo.h"
#include "Orva-Lin/custom_dialog.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/net/packets.h"
#include "Orva-Lin/net/voice_receive.h"
#include "Orva-Lin/net/voice_send.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/transmit.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

std::atomic<SOCKET> voiceSocket{INVALID_SOCKET};
std::atomic<SOCKET> supervisorSocket{INVALID_SOCKET};
std::atomic<std::int32_t> serverEchoByte{0};

constexpr DWORD kReceiveWaitMs = 500;
constexpr DWORD kUnusableSocketPauseMs = 100;
constexpr DWORD kSupervisorSettleMs = 200;
constexpr DWORD kSupervisorRestMs = 500;
constexpr DWORD kNoticeRestMs = 200;

constexpr char kCloseText[] = "Le superviseur va fermer\nautomatiquement votre application\ndans 20 secondes";
constexpr wchar_t kSupervisorTitle[] = L"Info du Superviseur";
constexpr wchar_t kUpdateTextWide[] = L"Votre application doit être mise à jour";
constexpr wchar_t kInstallerPath[] = L"/installer.php";

sockaddr_in relayAt(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(relayAddress);
  a.sin_port = htons(static_cast<u_short>(port));
  return a;
}

int sendToRelay(SOCKET s, const std::uint8_t* bytes, std::size_t length, int port) {
  const sockaddr_in to = relayAt(port);
  return sendto(s, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// One socket of the set-up: false when the socket library cannot start.
// A socket that cannot be made or bound stays invalid, so every later send
// and receive on it fails quietly.
bool openRelaySocket(std::atomic<SOCKET>& slot, std::atomic<std::uint32_t>& lamp, const std::uint8_t* hello,
                     std::size_t helloLength) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    lamp.store(led::kRed, std::memory_order_relaxed);
    return false;
  }
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    s = INVALID_SOCKET;
  }
  slot.store(s);
  sendToRelay(s, hello, helloLength, channelPort.load(std::memory_order_relaxed));
  lamp.store(led::kYellow, std::memory_order_relaxed);
  return true;
}

enum class Received { Datagram, Nothing, Unusable };

// Waits up to `waitMs` for one datagram from the relay's address (any port);
// datagrams from anyone else are read and dropped without touching anything,
// and the wait goes on for what is left of it.
Received receiveFromRelay(SOCKET s, std::uint8_t (&buffer)[proto::kDatagramBytes], DWORD waitMs, int& length) {
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    if (s == INVALID_SOCKET) return Received::Unusable;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, &tv);
    if (ready == SOCKET_ERROR) return Received::Unusable;
    if (ready == 0) return Received::Nothing;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(s, reinterpret_cast<char*>(buffer), sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
    if (n <= 0) return Received::Nothing;
    if (net::fromRelay(ntohl(from.sin_addr.s_addr), relayAddress)) {
      length = n;
      return Received::Datagram;
    }
  }
}

void sendListRequest(int base) {
  std::uint8_t request[proto::kListRequestBytes];
  const std::size_t n = net::buildListRequest(request);
  const int port = static_cast<std::uint16_t>(base + proto::kListPortOffset);
  if (sendToRelay(supervisorSocket.load(), request, n, port) == SOCKET_ERROR)
    supervisorLed.store(led::kRed, std::memory_order_relaxed);
}

void sendSupervisorRequest() {
  std::uint8_t request[proto::kSupervisorRequestBytes];
  const auto echo = static_cast<std::uint8_t>(serverEchoByte.load(std::memory_order_relaxed) & 0xFF);
  const std::size_t n = net::buildSupervisorRequest(request, echo);
  sendToRelay(supervisorSocket.load(), request, n, channelPort.load(std::memory_order_relaxed) + proto::kListPortOffset);
}

void sendPoll() {
  static net::PollSender poll;
  const std::size_t n = net::nextPoll(poll, accountNumber.load(std::memory_order_relaxed), clientIdentifier);
  sendToRelay(voiceSocket.load(), poll.buffer, n, channelPort.load(std::memory_order_relaxed));
}

// Sent, not posted: the main window closes on its own thread while this one
// waits. Closing (rather than a bare destroy message) really destroys the
// window, so its children and timers go with it.
void closeApplication() { SendMessageW(mainWindow, WM_CLOSE, 0, 0); }

void actOnNotice(net::SupervisorAction action) {
  switch (action) {
    case net::SupervisorAction::Update: {
      MessageBoxW(mainWindow, kUpdateTextWide, kSupervisorTitle, MB_ICONWARNING | MB_OK);
      wchar_t address[300];
      webPageAddress(kInstallerPath, address, 300);
      win::ComApartment com;  // the shell may hand the address to a COM handler
      ShellExecuteW(nullptr, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
      closeApplication();
      break;
    }
    case net::SupervisorAction::Close:
      showCustomDialog(kCloseText);
      closeApplication();
      break;
    case net::SupervisorAction::None: break;
  }
}

}  // namespace

// The "TCP" lamp breathes blue / dark blue, five seconds each.
DWORD WINAPI LedBlinker(void*) {
  for (;;) {
    Sleep(5000);
    serverLedPhase.store(led::kBlue, std::memory_order_relaxed);
    Sleep(5000);
    serverLedPhase.store(led::kDarkBlue, std::memory_order_relaxed);
  }
}

int setUpRelaySockets() {
  std::uint8_t hello[proto::kSupervisorHelloBytes];
  std::size_t n = net::buildHello(hello);
  if (!openRelaySocket(voiceSocket, voiceLinkLed, hello, n)) return -1;
  n = net::buildSupervisorHello(hello);
  if (!openRelaySocket(supervisorSocket, supervisorLed, hello, n)) return -1;
  return 0;
}

void sendVoiceBlock(const std::uint8_t* pcm) {
  static net::VoiceSender voice;
  const std::size_t n = net::nextVoice(voice, accountNumber.load(std::memory_order_relaxed),
                                       std::span<const std::uint8_t>(pcm, proto::kPcmBlockBytes));
  sendToRelay(voiceSocket.load(), voice.buffer, n, channelPort.load(std::memory_order_relaxed));
  transmitLevelUpdate(pcm);
  countSentBlock(transmitChaser, LedRing(networkLedStates));
}

DWORD WINAPI SendLoop(void*) {
  // Sleeps of 10 to 30 ms need a 1-ms system timer; the default 15.6-ms
  // tick would turn the fastest pace into 15.6 ms.
  timeBeginPeriod(1);
  for (;;) {
    sendPoll();
    Sleep(static_cast<DWORD>(net::pollPeriodMs(sendPaceMode.load(std::memory_order_relaxed))));
  }
}

DWORD WINAPI VoiceReceiveThread(void*) {
  static std::uint8_t buffer[proto::kDatagramBytes];
  static net::AudioReceiver receiver;
  buffer[0] = 0;
  resetFifo(playbackFifo);
  for (;;) {
    int n = 0;
    const Received got = receiveFromRelay(voiceSocket.load(), buffer, kReceiveWaitMs, n);
    if (got != Received::Datagram) {
      std::memset(buffer, 0, sizeof buffer);
      sendPaceMode.store(proto::kPaceNoContact, std::memory_order_relaxed);
      // A socket that cannot wait fails at once: pause rather than spin.
      if (got == Received::Unusable) Sleep(kUnusableSocketPauseMs);
      continue;
    }
    const net::AudioOutcome o =
        net::receiveAudio(receiver, playbackFifo, std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)),
                          channelPort.load(std::memory_order_relaxed));
    if (o.packetLed) packetLed.store(o.packetLed, std::memory_order_relaxed);
    if (!o.accepted) continue;
    markReceived(playbackCursor, LedRing(networkLedStates), transmitFlagValue() == 1);
    serverEchoByte.store(o.serverEchoByte, std::memory_order_relaxed);
    talkerNumber.store(o.talkerNumber, std::memory_order_relaxed);
    sendPaceMode.store(o.sendPaceMode, std::memory_order_relaxed);
    if (o.voiceLinkLed) voiceLinkLed.store(o.voiceLinkLed, std::memory_order_relaxed);
  }
}

namespace {

// One list or supervisor datagram, as a cycle's read handles it; true when
// it carried a notice.
bool handleSupervisorDatagram(const std::uint8_t* buffer, int n) {
  supervisorLed.store(led::kGreen, std::memory_order_relaxed);
  const std::span<const std::uint8_t> reply(buffer, static_cast<std::size_t>(n));
  if (buffer[0] == proto::kKindSupervisor) {
    actOnNotice(net::supervisorAction(reply));
    supervisorLed.store(led::kYellow, std::memory_order_relaxed);
    return true;
  }
  if (buffer[0] == proto::kKindList)
    net::applyListReply(net::peerLists, channelPeerCount, reply, channelPort.load(std::memory_order_relaxed));
  return false;
}

}  // namespace

DWORD WINAPI SupervisorLoop(void*) {
  static std::uint8_t buffer[proto::kDatagramBytes];
  static net::SupervisorCycle cycle;
  for (;;) {
    const net::CyclePlan plan = net::nextSupervisorCycle(cycle, channelPort.load(std::memory_order_relaxed));
    if (plan.list) {
      for (int base : plan.listBases) sendListRequest(base);
    } else {
      sendSupervisorRequest();
    }
    supervisorLed.store(led::kBlue, std::memory_order_relaxed);
    Sleep(kSupervisorSettleMs);
    int n = 0;
    const SOCKET s = supervisorSocket.load();
    if (receiveFromRelay(s, buffer, kReceiveWaitMs, n) != Received::Datagram) {
      std::memset(buffer, 0, sizeof buffer);
      supervisorLed.store(led::kRed, std::memory_order_relaxed);
      Sleep(kSupervisorRestMs);
      continue;
    }
    bool notice = handleSupervisorDatagram(buffer, n);
    // A list cycle asks twice and the relay answers every request: reading
    // one datagram a cycle would leave the socket a reply behind each list
    // cycle, for ever, until the replies read were minutes old and a notice
    // could be dropped by a full queue. Whatever is already waiting is
    // handled now, without waiting for more.
    while (receiveFromRelay(s, buffer, 0, n) == Received::Datagram) notice |= handleSupervisorDatagram(buffer, n);
    if (notice) Sleep(kNoticeRestMs);
    Sleep(kSupervisorRestMs);
  }
}
