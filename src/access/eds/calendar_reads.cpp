// The series of a window and the components of a UID, read from one EDS calendar.
#include "access/eds/calendar_reads.h"

#include <algorithm>
#include <map>
#include <set>

#include "access/eds/store_messages.h"
#include "records/utf8.h"

namespace tembra::eds {
namespace {

// The time-range query is asked for a little more than the window: the calendar reads all-day
// dates in its own zone, and the exact window is applied to the occurrences afterwards.
constexpr double kQueryMargin = 2 * 86400;

// From this many series to read again, one pass over the calendar costs less than a look-up each
// (docs/performance.md).
constexpr std::size_t kOnePassFrom = 8;

// Times outside years 0001 to 9999 have no iCalendar text: a query with one would find nothing.
std::string rangeQuery(Instant from, Instant to) {
  const Instant start = std::max(from + -kQueryMargin, kEarliest);
  const Instant end = std::min(to + kQueryMargin, Instant{253402300799});  // 9999-12-31T23:59:59Z
  return "(occur-in-time-range? (make-time \"" + timeText(utcTime(start)) + "\") (make-time \"" +
         timeText(utcTime(end)) + "\"))";
}

// Keeps the first failure of a read in `failure`: none that says only that nothing is there.
void noteFailure(GError* error, std::optional<std::string>& failure) {
  if (!error || failure ||
      g_error_matches(error, E_CAL_CLIENT_ERROR, E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND)) {
    return;
  }
  failure = kReadFailed + repairUtf8(error->message ? error->message : "");
}

// What the calendar returns for a query; a query that fails finds nothing and says why in
// `failure`.
std::vector<Ref<ICalComponent>> query(ECalClient* client, const std::string& sexp,
                                      GCancellable* cancellable,
                                      std::optional<std::string>& failure) {
  GSList* found = nullptr;
  GError* raw = nullptr;
  e_cal_client_get_object_list_sync(client, sexp.c_str(), &found, cancellable, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  noteFailure(error.get(), failure);
  return takeAll<ICalComponent>(found);
}

bool repeatsOrDetached(ICalComponent* component) {
  return e_cal_util_component_has_recurrences(component) ||
         e_cal_util_component_is_instance(component);
}

// Reads the series of the UIDs again from the calendar's components: a few by a look-up each,
// more in one pass over the calendar.
void readAgain(ECalClient* client, const std::vector<std::string>& uids,
               std::map<std::string, std::vector<Ref<ICalComponent>>>& byUid,
               GCancellable* cancellable, std::optional<std::string>& failure) {
  for (const std::string& uid : uids)
    byUid[uid].clear();
  if (uids.size() < kOnePassFrom) {
    for (const std::string& uid : uids)
      byUid[uid] = componentsOf(client, uid, cancellable, failure);
    return;
  }
  // A query without a time range is evaluated against the components themselves, not the
  // index of time ranges.
  const std::set<std::string> wanted(uids.begin(), uids.end());
  for (Ref<ICalComponent>& component : query(client, "(has-recurrences?)", cancellable, failure)) {
    if (const auto entry = byUid.find(uidOf(component.get()));
        entry != byUid.end() && wanted.contains(entry->first)) {
      entry->second.push_back(std::move(component));
    }
  }
}

}  // namespace

std::vector<Ref<ICalComponent>> componentsOf(ECalClient* client, const std::string& uid,
                                             GCancellable* cancellable,
                                             std::optional<std::string>& failure) {
  GSList* found = nullptr;
  GError* raw = nullptr;
  e_cal_client_get_objects_for_uid_sync(client, uid.c_str(), &found, cancellable, &raw);
  const std::unique_ptr<GError, ErrorFree> error(raw);
  noteFailure(error.get(), failure);
  std::vector<Ref<ICalComponent>> components;
  for (const Ref<ECalComponent>& component : takeAll<ECalComponent>(found)) {
    components.emplace_back(
        I_CAL_COMPONENT(g_object_ref(e_cal_component_get_icalcomponent(component.get()))));
  }
  return components;
}

std::vector<Series> seriesInWindow(ECalClient* client, const Zones& zones, Instant from, Instant to,
                                   GCancellable* cancellable, std::optional<std::string>& failure) {
  std::vector<Series> found;
  std::vector<std::string> order;
  std::map<std::string, std::vector<Ref<ICalComponent>>> byUid;
  for (Ref<ICalComponent>& component : query(client, rangeQuery(from, to), cancellable, failure)) {
    const std::string uid = uidOf(component.get());
    auto [entry, added] = byUid.try_emplace(uid);
    if (added)
      order.push_back(uid);
    entry->second.push_back(std::move(component));
  }
  std::vector<std::string> again;
  for (const std::string& uid : order) {
    const auto& parts = byUid[uid];
    if (std::any_of(parts.begin(), parts.end(),
                    [](const auto& c) { return repeatsOrDetached(c.get()); })) {
      again.push_back(uid);
    }
  }
  readAgain(client, again, byUid, cancellable, failure);
  for (const std::string& uid : order) {
    if (auto series = Series::of(std::move(byUid[uid]), zones))
      found.push_back(std::move(*series));
  }
  return found;
}

}  // namespace tembra::eds
