#include "servers/webhost/signin_guard.h"

#include <semaphore>

#include "servers/webhost/rate_table.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

constexpr auto kWindow = std::chrono::minutes(kSignInWindowMinutes);
// Enough for every address and account seen in a window of a busy evening;
// past it the oldest windows are dropped first.
constexpr std::size_t kTableSize = 8192;

RateTable pairs(kTableSize, kWindow), accounts(kTableSize, kWindow), addresses(kTableSize, kWindow);
std::counting_semaphore<kHashSlots> hashing(kHashSlots);

std::string key(SignInKind kind, std::string_view a, std::string_view b = {}) {
  std::string k = kind == SignInKind::Member ? "m|" : "o|";
  k += a;
  if (!b.empty()) {
    k += '|';
    k += b;
  }
  return k;
}

}  // namespace

SignInVerdict beginSignIn(SignInKind kind, std::string_view account, std::string_view address,
                          SignInAttempt& attempt) {
  const std::string group = addressGroup(address);
  attempt = SignInAttempt{key(kind, account, group), key(kind, account), key(kind, group), false};
  const auto now = Clock::now();
  // Counted before the hash, in one step per table: of many parallel
  // guesses only the first few are counted in, the rest are refused here.
  const bool pair = pairs.take(attempt.pair, kPairFailures, now);
  const bool acc = pair && accounts.take(attempt.account, kAccountFailures, now);
  const bool addr = acc && addresses.take(attempt.address, kAddressFailures, now);
  const bool slot = addr && hashing.try_acquire_for(std::chrono::milliseconds(kSlotWaitMilliseconds));
  if (!slot) {
    if (pair) pairs.giveBack(attempt.pair);
    if (acc) accounts.giveBack(attempt.account);
    if (addr) addresses.giveBack(attempt.address);
    return addr ? SignInVerdict::Busy : SignInVerdict::Locked;
  }
  attempt.active = true;
  return SignInVerdict::Go;
}

void endSignIn(SignInAttempt& attempt, bool success) {
  if (!attempt.active) return;
  attempt.active = false;
  hashing.release();
  if (!success) return;
  pairs.forget(attempt.pair);
  accounts.giveBack(attempt.account);
  addresses.giveBack(attempt.address);
}

}  // namespace webhost
