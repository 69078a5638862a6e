// Wire constants shared by the client, the companion and the reference
// servers. Every port, size, offset and code lives here once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace proto {

// ---- Relay server: voice sockets -------------------------------------------
inline constexpr int kChannelCount = 11;          // channels 0..10
inline constexpr int kVoicePortBase = 30000;      // channel ch: 30000 + ch
inline constexpr int kListPortOffset = 1000;      // list/supervisor: 31000 + ch
inline constexpr int kListPortBase = kVoicePortBase + kListPortOffset;
inline constexpr int kEchoChannel = 10;           // "Tests divers": 'B' played at 1/10

inline constexpr std::size_t kPcmBlockBytes = 1000;     // 250 stereo frames, 31.25 ms
inline constexpr std::size_t kPcmBlockSamples = kPcmBlockBytes / 2;
inline constexpr std::size_t kDatagramBytes = 1024;     // every receive buffer
inline constexpr std::size_t kPcmOffset = 24;           // PCM in voice/audio datagrams
inline constexpr int kSampleRate = 8000;
inline constexpr int kChannelsPerFrame = 2;
inline constexpr int kBytesPerFrame = 4;
inline constexpr int kBlockMicros = 31250;

// Hello: "T.WIN" and four zero bytes; the supervisor socket sends it twice.
inline constexpr std::size_t kHelloBytes = 9;
inline constexpr std::size_t kSupervisorHelloBytes = 18;
inline constexpr char kHelloTag[5] = {'T', '.', 'W', 'I', 'N'};

// Poll: "R." 0 acctLo acctHi 0 0 0 0, then the N / D / V body.
inline constexpr std::size_t kPollHeadBytes = 9;
inline constexpr std::size_t kPollNBytes = 26;
inline constexpr std::size_t kPollDBytes = 27;
inline constexpr std::size_t kPollDShortBytes = 20;   // clientIdentifier not 16 chars
inline constexpr std::size_t kPollVBytes = 14;
inline constexpr std::size_t kClientIdentifierChars = 16;
inline constexpr char kPollNBody[] = "NWIN.PSEUDO.WIN.";   // 16 chars
inline constexpr char kPollDFallback[] = "DEVICE.ID";     // 9 chars
inline constexpr std::uint8_t kPollVersionMajor = '0';
inline constexpr std::uint8_t kPollVersionMinor = '7';
inline constexpr std::uint8_t kPollVersionPatch = '5';
inline constexpr std::uint8_t kPollVersionTail = 2;

// Voice (client to relay), always 1024 bytes.
inline constexpr std::uint8_t kKindAudio = 'A';
inline constexpr std::uint8_t kKindEcho = 'B';         // echo playback, channel 10
inline constexpr char kVoiceTag[] = "WIN-APP-Radio";   // 13 chars at offset 7

// Audio (relay to client): field offsets.
inline constexpr std::size_t kAudioKind = 0;
inline constexpr std::size_t kAudioSequence = 1;
inline constexpr std::size_t kAudioEcho = 2;
inline constexpr std::size_t kAudioTalkerLo = 3;
inline constexpr std::size_t kAudioTalkerHi = 4;
inline constexpr std::size_t kAudioPace = 5;
inline constexpr std::size_t kAudioContent = 7;
inline constexpr std::uint8_t kContentSilence = 0;
inline constexpr std::uint8_t kContentSound = 1;
inline constexpr std::uint8_t kContentKeepAlive = 2;   // any other value: no block

// Pace value: 0..4 from the relay, 99 when nothing arrives.
inline constexpr int kPaceNoContact = 99;

// ---- Relay server: list and supervisor socket -----------------------------
inline constexpr std::uint8_t kKindList = 'L';
inline constexpr std::uint8_t kKindSupervisor = 'A';
inline constexpr std::size_t kListRequestBytes = 3;
inline constexpr std::size_t kSupervisorRequestBytes = 3;
inline constexpr int kListMaxMembers = 16;
inline constexpr std::size_t kListReplyHeadBytes = 3;
inline constexpr std::uint8_t kNoticeNone = 0;
inline constexpr std::uint8_t kNoticeUpdate = 220;
inline constexpr std::uint8_t kNoticeClose = 240;

// ---- Local link between Orva-Lin and Talvo (loopback UDP) ------------------
inline constexpr std::uint16_t kCompanionPort = 5555;
inline constexpr std::uint8_t kLinkTransmitOn = 'T';
inline constexpr std::uint8_t kLinkTransmitOff = 'R';
inline constexpr std::size_t kLinkMaxText = 1023;

// ---- Single-instance mutexes ----------------------------------------------
inline constexpr wchar_t kClientMutexName[] = L"Orva-Lin";
inline constexpr wchar_t kCompanionMutexName[] = L"Orva-LinSynthe";

}  // namespace proto
