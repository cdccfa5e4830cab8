// The store's authorization states for events, in one place: each state, the status code that
// numbers it, and the text the status command and the access check report for a code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tembra {

// The states a store reports, numbered by their status codes.
enum class AuthorizationState : int {
  notDetermined = 0,  // the user has not been asked
  restricted = 1,     // access is barred by policy
  denied = 2,         // the user refused access
  fullAccess = 3,     // access is granted (full access from macOS 14 on)
  writeOnly = 4,      // only writing is granted (macOS 14 and later)
};

// A status code that numbers no state, for a state that could not be read: reported as
// "unknown", and asked about as any code the access check does not know.
inline constexpr int kNoStateCode = -1;

// The status code that numbers the state.
constexpr int statusCode(AuthorizationState state) {
  return static_cast<int>(state);
}

// The state a status code numbers; none for any other code a store may report.
std::optional<AuthorizationState> authorizationState(int code);

// The state's name as macOS 14 and later report it: "notDetermined", "restricted", "denied",
// "fullAccess", "writeOnly".
std::string_view stateName(AuthorizationState state);

// True on macOS 14 and later, where full access replaced plain access; asked anew at each call.
// Off macOS the program follows the rules of macOS 14 and later.
bool runningMacOS14OrLater();

// The status text of a code: its state's name, but "authorized" for full access and "unknown"
// for write-only before macOS 14; "unknown" for a code that numbers no state.
std::string authorizationStatusString(int code, bool macOS14OrLater = runningMacOS14OrLater());

}  // namespace tembra
