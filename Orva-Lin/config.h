// Settings that a deployment chooses, read once at start-up from the
// environment (the programs take no arguments and read no file or registry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace config {

inline constexpr char kRelayVar[] = "ORVALIN_RELAY";
inline constexpr char kWebHostVar[] = "ORVALIN_WEBHOST";
inline constexpr char kAccountVar[] = "ORVALIN_ACCOUNT";

// A community builds its programs once for its own servers: the build sets
// these (CMake cache variables ORVA_DEFAULT_RELAY / ORVA_DEFAULT_WEBHOST, which
// it checks), and the environment still overrides them.
#ifndef ORVA_DEFAULT_RELAY
#define ORVA_DEFAULT_RELAY "127.0.0.1"
#endif
#ifndef ORVA_DEFAULT_WEBHOST
#define ORVA_DEFAULT_WEBHOST "localhost"
#endif
inline constexpr char kDefaultRelay[] = ORVA_DEFAULT_RELAY;
inline constexpr char kDefaultWebHost[] = ORVA_DEFAULT_WEBHOST;
inline constexpr std::uint16_t kDefaultWebPort = 443;
inline constexpr std::uint16_t kDefaultAccount = 1;
inline constexpr std::size_t kHostChars = 128;

// Dotted IPv4 text to the address in host order (a.b.c.d -> a<<24 | ...).
std::optional<std::uint32_t> parseIpv4(std::string_view text);

struct WebHost {
  char name[kHostChars] = {};
  std::uint16_t port = kDefaultWebPort;
};
// "host" or "host:port"; the name holds letters, digits, '.', '-' only.
std::optional<WebHost> parseWebHost(std::string_view text);

// A decimal account number 0..65535.
std::optional<std::uint16_t> parseAccount(std::string_view text);

struct Settings {
  std::uint32_t relayAddress = 0;
  WebHost webHost;
  std::uint16_t accountNumber = kDefaultAccount;
  // Variables that were set but did not parse (their default is used).
  const char* rejected[3] = {};
  int rejectedCount = 0;
};
// The environment over the compiled-in defaults; `lookup` is getenv.
Settings readSettings(const char* (*lookup)(const char* name));

// 16 hex characters from bytes that identify this machine (stable for the
// same bytes, spread by a 64-bit FNV-1a hash). `out` gets 16 chars and a
// terminator.
void makeClientIdentifier(std::span<const std::uint8_t> machine, std::span<char, 17> out);

}  // namespace config
