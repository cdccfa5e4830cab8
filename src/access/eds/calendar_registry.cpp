// Reaching EDS's source registry, connecting its calendars, and the calendars as the store
// reports them.
#include "access/eds/calendar_registry.h"

#include <algorithm>
#include <string_view>

#include "access/calendar_text.h"
#include "access/eds/bus.h"
#include "access/eds/store_messages.h"
#include "records/utf8.h"

namespace tembra::eds {

bool CalendarRegistry::reachable() {
  if (!reached_) {
    reachDeadline_ = deadlineWithin(kReachBudget, budget_.deadline());
    reached_ = registryAnswers(reachDeadline_);
  }
  return *reached_;
}

std::vector<Calendar> CalendarRegistry::all() {
  const std::vector<Ref<ESource>> sources = calendarSources();
  std::vector<ESource*> all;
  for (const Ref<ESource>& source : sources)
    all.push_back(source.get());
  connect(all);
  std::vector<Calendar> calendars;
  for (const Ref<ESource>& source : sources)
    calendars.push_back(calendarFrom(source.get()));
  return calendars;
}

std::optional<Calendar> CalendarRegistry::defaultCalendar() {
  if (!registry())
    return std::nullopt;
  Ref<ESource> source(e_source_registry_ref_default_calendar(registry_.get()));
  if (!source || !isUsableCalendar(source.get()))
    source.reset(e_source_registry_ref_builtin_calendar(registry_.get()));
  if (!source || !isUsableCalendar(source.get()))
    return std::nullopt;
  return calendarFrom(source.get());
}

std::optional<Calendar> CalendarRegistry::at(const std::string& uid) {
  const Ref<ESource> source = calendarSource(uid);
  if (!source)
    return std::nullopt;
  return calendarFrom(source.get());
}

bool CalendarRegistry::has(const std::string& uid) {
  return calendarSource(uid) != nullptr;
}

ECalClient* CalendarRegistry::client(const std::string& uid) {
  if (!connector_.find(uid)) {
    if (const Ref<ESource> source = calendarSource(uid))
      connect({source.get()});
  }
  const Connection* connection = connector_.find(uid);
  return connection ? connection->client.get() : nullptr;
}

StoreError CalendarRegistry::unopened(const std::string& uid) const {
  const Connection* connection = connector_.find(uid);
  if (!connection || connection->failure.empty())
    return StoreError{kNoSuchCalendar};
  return StoreError{repairUtf8(connection->failure)};
}

ESourceRegistry* CalendarRegistry::registry() {
  if (!registryTried_) {
    registryTried_ = true;
    if (reachable())
      registry_ = openRegistry(reachDeadline_);
  }
  return registry_.get();
}

bool CalendarRegistry::isUsableCalendar(ESource* source) {
  return e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR) &&
         e_source_registry_check_enabled(registry_.get(), source);
}

std::vector<Ref<ESource>> CalendarRegistry::calendarSources() {
  if (!registry())
    return {};
  std::vector<Ref<ESource>> sources = takeAll<ESource>(
      e_source_registry_list_enabled(registry_.get(), E_SOURCE_EXTENSION_CALENDAR));
  std::stable_sort(sources.begin(), sources.end(), [](const auto& a, const auto& b) {
    const int byTitle =
        g_utf8_collate(e_source_get_display_name(a.get()), e_source_get_display_name(b.get()));
    if (byTitle != 0)
      return byTitle < 0;
    return std::string_view(e_source_get_uid(a.get())) < e_source_get_uid(b.get());
  });
  return sources;
}

Ref<ESource> CalendarRegistry::calendarSource(const std::string& uid) {
  if (!registry())
    return nullptr;
  Ref<ESource> source(e_source_registry_ref_source(registry_.get(), uid.c_str()));
  if (!source || !isUsableCalendar(source.get()))
    return nullptr;
  return source;
}

void CalendarRegistry::connect(const std::vector<ESource*>& sources) {
  connector_.connect(sources, deadlineWithin(kConnectBudget, budget_.deadline()));
}

Calendar CalendarRegistry::calendarFrom(ESource* source) {
  Calendar calendar;
  calendar.calendarIdentifier = e_source_get_uid(source);
  const char* title = e_source_get_display_name(source);
  calendar.title = repairUtf8(title ? title : "");
  if (const char* parent = e_source_get_parent(source); parent && *parent) {
    if (const Ref<ESource> account{e_source_registry_ref_source(registry_.get(), parent)}) {
      const char* name = e_source_get_display_name(account.get());
      calendar.source = Source{repairUtf8(name ? name : "")};
    }
  }
  auto* selectable =
      static_cast<ESourceSelectable*>(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
  if (const char* color = e_source_selectable_get_color(selectable))
    calendar.color = parseColor(color);
  ECalClient* connected = client(calendar.calendarIdentifier);
  calendar.allowsContentModifications =
      connected && !e_client_is_readonly(reinterpret_cast<EClient*>(connected));
  return calendar;
}

}  // namespace tembra::eds
