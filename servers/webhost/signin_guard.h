// The guard in front of every password check, for members and for any other
// kind of account the host signs in. An attempt is counted before the hash
// is computed, so parallel guesses cannot all slip in while the first ones
// are still hashing, and the number of hashes in flight is bounded.
//
//   SignInAttempt attempt;
//   switch (beginSignIn(SignInKind::Member, "7", clientAddress(req), attempt)) {
//     case SignInVerdict::Go: break;                 // check the password now
//     case SignInVerdict::Locked: answer 429;        // nothing was hashed
//     case SignInVerdict::Busy: answer 503 + Retry-After: kSignInRetrySeconds;
//   }
//   const bool good = checkPassword(...);
//   endSignIn(attempt, good);                        // always, after a Go
#pragma once

#include <string>
#include <string_view>

namespace webhost {

enum class SignInKind { Member, Operator };
enum class SignInVerdict { Go, Locked, Busy };

// Failures are counted per account and address pair (a stranger who guesses
// locks only their own address out), per account from every address (a
// higher ceiling, for guesses spread over many addresses), and per address
// over every account (one address trying many numbers). Each count lives
// kSignInWindowMinutes from its first failure.
inline constexpr int kPairFailures = 5;
inline constexpr int kAccountFailures = 30;
inline constexpr int kAddressFailures = 40;
inline constexpr int kSignInWindowMinutes = 15;
// Password hashes computed at once; each takes tens of megabytes and a core.
// A counted attempt waits a moment for a slot, then is answered Busy.
inline constexpr int kHashSlots = 2;
inline constexpr int kSlotWaitMilliseconds = 3000;
inline constexpr int kSignInRetrySeconds = 2;

struct SignInAttempt {
  std::string pair, account, address;   // the keys counted
  bool active = false;                   // a Go not yet ended
};

// Go counts the attempt as a failure and holds a hashing slot until
// endSignIn; Locked and Busy count nothing and hold nothing. May wait up to
// kSlotWaitMilliseconds for a slot.
SignInVerdict beginSignIn(SignInKind kind, std::string_view account, std::string_view address,
                          SignInAttempt& attempt);
// Frees the slot; a success clears the pair's failures and takes back the
// failure counted in advance.
void endSignIn(SignInAttempt& attempt, bool success);

enum class PasswordCheck { Good, Wrong, Locked, Busy };
// One whole guarded check, logged as it reaches the hash. `hash` is the
// account's stored hash, empty when it has none: that is checked against a
// decoy, so the delay does not tell which accounts can sign in.
PasswordCheck guardedPasswordCheck(SignInKind kind, std::string_view account, std::string_view address,
                                   std::string_view password, const std::string& hash);

}  // namespace webhost
