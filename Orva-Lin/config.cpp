#include "Orva-Lin/config.h"

namespace config {

namespace {

std::optional<std::uint32_t> parseDecimal(std::string_view text, std::uint32_t max) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > max) return std::nullopt;
  return v;
}

}  // namespace

std::optional<std::uint32_t> parseIpv4(std::string_view text) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.');
    const bool last = part == 3;
    if (last != (dot == std::string_view::npos)) return std::nullopt;
    const std::string_view digits = last ? text : text.substr(0, dot);
    if (digits.size() > 3) return std::nullopt;
    const auto octet = parseDecimal(digits, 255);
    if (!octet) return std::nullopt;
    address = (address << 8) | *octet;
    if (!last) text.remove_prefix(dot + 1);
  }
  return address;
}

std::optional<WebHost> parseWebHost(std::string_view text) {
  WebHost host;
  const std::size_t colon = text.find(':');
  std::string_view name = text.substr(0, colon);
  if (colon != std::string_view::npos) {
    const auto port = parseDecimal(text.substr(colon + 1), 65535);
    if (!port || *port == 0) return std::nullopt;
    host.port = static_cast<std::uint16_t>(*port);
  }
  if (name.empty() || name.size() >= kHostChars) return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-';
    if (!ok) return std::nullopt;
    host.name[i] = c;
  }
  return host;
}

std::optional<std::uint16_t> parseAccount(std::string_view text) {
  const auto v = parseDecimal(text, 65535);
  if (!v) return std::nullopt;
  return static_cast<std::uint16_t>(*v);
}

Settings readSettings(const char* (*lookup)(const char* name)) {
  Settings s;
  s.relayAddress = parseIpv4(kDefaultRelay).value_or(0x7F000001);
  s.webHost = parseWebHost(kDefaultWebHost).value_or(WebHost{});
  auto reject = [&s](const char* name) { s.rejected[s.rejectedCount++] = name; };
  if (const char* v = lookup(kRelayVar)) {
    if (auto a = parseIpv4(v)) s.relayAddress = *a;
    else reject(kRelayVar);
  }
  if (const char* v = lookup(kWebHostVar)) {
    if (auto h = parseWebHost(v)) s.webHost = *h;
    else reject(kWebHostVar);
  }
  if (const char* v = lookup(kAccountVar)) {
    if (auto n = parseAccount(v)) s.accountNumber = *n;
    else reject(kAccountVar);
  }
  return s;
}

void makeClientIdentifier(std::span<const std::uint8_t> machine, std::span<char, 17> out) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::uint8_t b : machine) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (int i = 15; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kHex[h & 0xF];
    h >>= 4;
  }
  out[16] = '\0';
}

}  // namespace config
