// Event identifiers of the EDS back-end: the calendar's source UID and the event's UID, each
// percent-encoded, joined by "/". They are stable across runs, unique in the store (a calendar
// holds a UID once), ASCII whatever bytes a UID holds, and read back only in exactly the form
// they are written in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tembra::eds {

struct EventKey {
  std::string calendar;  // the source UID
  std::string uid;
  friend bool operator==(const EventKey&, const EventKey&) = default;
};

std::string eventIdentifier(const EventKey& key);

// The key an identifier was made from; absent for any text eventIdentifier does not write.
std::optional<EventKey> parseEventIdentifier(std::string_view identifier);

}  // namespace tembra::eds
