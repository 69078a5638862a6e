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
inline constexpr int kPaceMax = 4;

// Poll, voice and audio field offsets.
inline constexpr char kPollTag[2] = {'R', '.'};
inline constexpr std::size_t kPollAccountLo = 3;
inline constexpr std::size_t kPollAccountHi = 4;
inline constexpr std::size_t kPollBody = 9;
inline constexpr std::size_t kPollIdentifier = 10;     // D body text, V version chars
inline constexpr std::size_t kPollVersionTailAt = 13;
inline constexpr std::uint8_t kPollKindD = 'D';
inline constexpr std::uint8_t kPollKindV = 'V';
inline constexpr int kPollVariantV = 0;                // rotation value that picks each body
inline constexpr int kPollVariantN = 1;
inline constexpr int kPollVariantD = 2;
inline constexpr int kPollVariantCount = 3;

inline constexpr std::size_t kVoiceSequence = 1;
inline constexpr std::size_t kVoiceMarkerAt = 2;
inline constexpr std::uint8_t kVoiceMarker = 2;
inline constexpr std::size_t kVoiceAccountLo = 3;
inline constexpr std::size_t kVoiceAccountHi = 4;
inline constexpr std::size_t kVoiceNAt = 6;
inline constexpr std::uint8_t kVoiceN = 'N';
inline constexpr std::size_t kVoiceTagAt = 7;
inline constexpr std::size_t kVoiceTagChars = 13;
inline constexpr std::uint8_t kSequenceFirst = 1;      // sequences run 1..255, never 0
inline constexpr std::uint8_t kSequenceLast = 255;

// The client reads audio bytes 0..7 only unless the content flag is 1.
inline constexpr std::size_t kAudioMinBytes = kAudioContent + 1;
inline constexpr std::size_t kAudioNoBlockBytes = kPcmOffset;

// ---- Relay server: list and supervisor socket -----------------------------
inline constexpr std::uint8_t kKindList = 'L';
inline constexpr std::uint8_t kKindSupervisor = 'A';
inline constexpr std::size_t kListRequestBytes = 3;
inline constexpr std::size_t kSupervisorRequestBytes = 3;
inline constexpr int kListMaxMembers = 16;
inline constexpr std::size_t kListReplyHeadBytes = 3;
inline constexpr std::size_t kListReplyChannel = 1;
inline constexpr std::size_t kListReplyCount = 2;
inline constexpr std::size_t kListReplyMaxBytes = kListReplyHeadBytes + 2 * kListMaxMembers;
inline constexpr std::uint8_t kSupervisorMarker = 1;   // byte 1 of request and reply
inline constexpr std::size_t kSupervisorEchoAt = 2;    // request: echo byte
inline constexpr std::size_t kSupervisorCodeAt = 2;    // reply: notice code
inline constexpr std::size_t kSupervisorReplyBytes = 3;
inline constexpr std::uint8_t kNoticeNone = 0;
inline constexpr std::uint8_t kNoticeUpdate = 220;
inline constexpr std::uint8_t kNoticeClose = 240;

// ---- Relay server: behaviour the clients rely on ---------------------------
inline constexpr int kPresenceTimeoutMs = 2000;   // no poll for this long: member leaves
inline constexpr int kFloorHoldMs = 300;          // floor kept this long after the last voice block
inline constexpr int kKeepAliveMs = 300;          // longest gap between audio datagrams to a member
inline constexpr int kListenerQueueBlocks = 16;   // per listener; the oldest block goes first
inline constexpr int kEchoRecordBlocks = 320;     // 10 s of speech recorded on the echo channel
inline constexpr int kEchoDelayMs = 500;          // playback starts this long after the last block

// ---- Local link between Orva-Lin and Talvo (loopback UDP) ------------------
inline constexpr std::uint16_t kCompanionPort = 5555;
inline constexpr std::uint8_t kLinkTransmitOn = 'T';
inline constexpr std::uint8_t kLinkTransmitOff = 'R';
inline constexpr std::size_t kLinkMaxText = 1023;

// ---- Single-instance mutexes ----------------------------------------------
inline constexpr wchar_t kClientMutexName[] = L"Orva-Lin";
inline constexpr wchar_t kCompanionMutexName[] = L"Orva-LinSynthe";

}  // namespace proto
