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

inline constexpr char kDefaultRelay[] = "127.0.0.1";
inline constexpr char kDefaultWebHost[] = "localhost";
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

// 16 hex characters from bytes that identify this machine (stable for the
// same bytes, spread by a 64-bit FNV-1a hash). `out` gets 16 chars and a
// terminator.
void makeClientIdentifier(std::span<const std::uint8_t> machine, std::span<char, 17> out);

}  // namespace config
