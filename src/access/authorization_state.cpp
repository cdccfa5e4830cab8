// The authorization states' codes and texts.
#include "access/authorization_state.h"

namespace tembra {

std::optional<AuthorizationState> authorizationState(int code) {
  if (code < statusCode(AuthorizationState::notDetermined) ||
      code > statusCode(AuthorizationState::writeOnly)) {
    return std::nullopt;
  }
  return static_cast<AuthorizationState>(code);
}

std::string_view stateName(AuthorizationState state) {
  switch (state) {
    case AuthorizationState::notDetermined:
      return "notDetermined";
    case AuthorizationState::restricted:
      return "restricted";
    case AuthorizationState::denied:
      return "denied";
    case AuthorizationState::fullAccess:
      return "fullAccess";
    case AuthorizationState::writeOnly:
      return "writeOnly";
  }
  return "unknown";
}

std::string authorizationStatusString(int code, bool macOS14OrLater) {
  const std::optional<AuthorizationState> state = authorizationState(code);
  if (!state)
    return "unknown";
  if (!macOS14OrLater && *state == AuthorizationState::fullAccess)
    return "authorized";
  if (!macOS14OrLater && *state == AuthorizationState::writeOnly)
    return "unknown";
  return std::string(stateName(*state));
}

}  // namespace tembra
