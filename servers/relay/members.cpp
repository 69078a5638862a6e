// Member table: fixed slots, and one open-addressing index that finds a member
// both by its voice address and by (IP, token) for supervisor requests, which
// come from another socket of the client and carry no account number.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "servers/relay/relay.h"

namespace relay {
namespace {

constexpr int kHashSize = 4 * 2 * kMaxMembers;   // two keys per member, load <= 1/4
constexpr std::uint64_t kEmpty = ~0ull;
constexpr std::uint64_t kTokenKeyTag = 1ull << 48;

std::uint64_t hashKeys[kHashSize];
std::int16_t hashValues[kHashSize];

// The last audio sequence sent to an address that left, so that a member
// who comes back after the presence timeout carries on from it: its client
// still holds that value, and a restart at 1 could repeat it and see the
// first datagram dropped as a duplicate. One slot per hash bucket; a
// collision forgets the older address, which then starts afresh.
struct Departed {
  std::uint64_t key;
  std::uint8_t sequence;
};
Departed departed[kMaxMembers];

std::uint64_t addressKey(std::uint32_t ip, std::uint16_t port) {
  return (static_cast<std::uint64_t>(ip) << 16) | port;
}

std::uint64_t tokenKey(std::uint32_t ip, std::uint8_t token) {
  return kTokenKeyTag | (static_cast<std::uint64_t>(ip) << 8) | token;
}

std::size_t bucketOf(std::uint64_t key) {
  key ^= key >> 33;
  key *= 0xff51afd7ed558ccdull;
  key ^= key >> 33;
  return static_cast<std::size_t>(key) & (kHashSize - 1);
}

int hashFind(std::uint64_t key) {
  for (std::size_t i = bucketOf(key);; i = (i + 1) & (kHashSize - 1)) {
    if (hashKeys[i] == kEmpty) return kNoMember;
    if (hashKeys[i] == key) return hashValues[i];
  }
}

void hashInsert(std::uint64_t key, int value) {
  std::size_t i = bucketOf(key);
  while (hashKeys[i] != kEmpty && hashKeys[i] != key) i = (i + 1) & (kHashSize - 1);
  hashKeys[i] = key;
  hashValues[i] = static_cast<std::int16_t>(value);
}

// Backward-shift deletion keeps probe chains intact without tombstones.
void hashErase(std::uint64_t key) {
  std::size_t i = bucketOf(key);
  while (hashKeys[i] != key) {
    if (hashKeys[i] == kEmpty) return;
    i = (i + 1) & (kHashSize - 1);
  }
  std::size_t hole = i;
  for (std::size_t j = (hole + 1) & (kHashSize - 1); hashKeys[j] != kEmpty;
       j = (j + 1) & (kHashSize - 1)) {
    std::size_t home = bucketOf(hashKeys[j]);
    bool movable = hole <= j ? (home <= hole || home > j) : (home <= hole && home > j);
    if (movable) {
      hashKeys[hole] = hashKeys[j];
      hashValues[hole] = hashValues[j];
      hole = j;
    }
  }
  hashKeys[hole] = kEmpty;
}

// Tokens rotate through 1..255 so that a member who rejoins rarely gets the
// token a stale client may still echo; 0 is what a client echoes before its
// first audio datagram, so it never names anyone.
std::uint8_t pickToken(std::uint32_t ip) {
  for (int tries = 0; tries < 255; ++tries) {
    state.tokenCursor = state.tokenCursor == 255 ? 1 : state.tokenCursor + 1;
    if (hashFind(tokenKey(ip, state.tokenCursor)) == kNoMember) return state.tokenCursor;
  }
  return 0;
}

void addToChannel(int index, int channel, std::int64_t now) {
  Member& m = state.members[index];
  Channel& c = state.channels[channel];
  m.channel = channel;
  m.lastTalker = 0;
  m.nextBlock = c.head;
  m.nextDueUs = now;
  c.members[c.count++] = static_cast<std::int16_t>(index);
}

void removeFromChannel(int index) {
  Member& m = state.members[index];
  Channel& c = state.channels[m.channel];
  int at = 0;
  while (at < c.count && c.members[at] != index) ++at;
  if (at == c.count) return;
  std::memmove(&c.members[at], &c.members[at + 1], (c.count - at - 1) * sizeof(c.members[0]));
  --c.count;
  if (c.floorHolder == index) releaseFloor(m.channel, "holder left");
  if (m.echo >= 0) freeEcho(index);
}

void addressText(const Member& m, char* out, std::size_t size) {
  char ip[INET_ADDRSTRLEN];
  in_addr a{m.ip};
  inet_ntop(AF_INET, &a, ip, sizeof ip);
  std::snprintf(out, size, "%s:%u", ip, ntohs(m.port));
}

}  // namespace

void initMembers() {
  for (int i = 0; i < kHashSize; ++i) hashKeys[i] = kEmpty;
  for (Departed& d : departed) d.key = kEmpty;
  state.freeCount = 0;
  for (int i = kMaxMembers - 1; i >= 0; --i) {
    state.members[i] = Member{};
    state.members[i].echo = -1;
    state.freeSlots[state.freeCount++] = i;
  }
  state.memberCount = 0;
}

int findMember(std::uint32_t ip, std::uint16_t port) {
  return hashFind(addressKey(ip, port));
}

int findMemberByToken(std::uint32_t ip, std::uint8_t token) {
  if (token == 0) return kNoMember;
  return hashFind(tokenKey(ip, token));
}

int joinMember(std::uint32_t ip, std::uint16_t port, std::uint16_t account, int channel,
               std::int64_t now) {
  if (state.freeCount == 0) return kNoMember;
  const int index = state.freeSlots[--state.freeCount];
  Member& m = state.members[index];
  m = Member{};
  m.used = true;
  m.ip = ip;
  m.port = port;
  m.account = account;
  m.echo = -1;
  m.lastPollUs = now;
  Departed& before = departed[bucketOf(addressKey(ip, port)) % kMaxMembers];
  if (before.key == addressKey(ip, port)) {
    m.sequence = before.sequence;
    before.key = kEmpty;
  }
  m.token = pickToken(ip);
  hashInsert(addressKey(ip, port), index);
  if (m.token != 0) hashInsert(tokenKey(ip, m.token), index);
  addToChannel(index, channel, now);
  ++state.memberCount;
  ++state.counters[kJoins];
  char addr[32];
  addressText(m, addr, sizeof addr);
  logLine("join ch %d acct %u from %s token %u", channel, account, addr, m.token);
  return index;
}

void moveMember(int index, int channel, std::int64_t now) {
  Member& m = state.members[index];
  logLine("leave ch %d acct %u (moved to ch %d)", m.channel, m.account, channel);
  ++state.counters[kLeaves];
  removeFromChannel(index);
  addToChannel(index, channel, now);
  ++state.counters[kJoins];
  char addr[32];
  addressText(m, addr, sizeof addr);
  logLine("join ch %d acct %u from %s token %u", channel, m.account, addr, m.token);
}

void leaveMember(int index, const char* reason) {
  Member& m = state.members[index];
  logLine("leave ch %d acct %u (%s)", m.channel, m.account, reason);
  ++state.counters[kLeaves];
  removeFromChannel(index);
  hashErase(addressKey(m.ip, m.port));
  if (m.token != 0) hashErase(tokenKey(m.ip, m.token));
  departed[bucketOf(addressKey(m.ip, m.port)) % kMaxMembers] = {addressKey(m.ip, m.port), m.sequence};
  m.used = false;
  state.freeSlots[state.freeCount++] = index;
  --state.memberCount;
}

void sweepMembers(std::int64_t now) {
  const std::int64_t limit = static_cast<std::int64_t>(proto::kPresenceTimeoutMs) * 1000;
  for (int i = 0; i < kMaxMembers; ++i) {
    if (state.members[i].used && now - state.members[i].lastPollUs > limit) {
      leaveMember(i, "timeout");
    }
  }
}

}  // namespace relay
