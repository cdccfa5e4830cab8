// The import: iCalendar text split into one file per UID, written together and indexed at once.
#include "access/local/import.h"

#include <algorithm>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>

#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/ical.h"
#include "access/local/index_handle.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "records/utf8.h"

namespace tembra::local {
namespace {

// The TZIDs the component and its children use.
void collectTzids(icalcomponent* component, std::set<std::string>& tzids) {
  for (icalcomponent* each : ical::descendants(component)) {
    for (icalproperty* property : ical::properties(each, ICAL_ANY_PROPERTY)) {
      if (auto tzid = ical::parameterText(property, ICAL_TZID_PARAMETER))
        tzids.insert(*tzid);
    }
  }
}

// The texts of the files an import makes, one per UID: the calendar's properties (but METHOD,
// which stored objects must not carry), the VTIMEZONEs the events use, then the events. What the
// files share is written once, so that each file costs only its own events, however many the
// calendar holds.
class FileTexts {
 public:
  explicit FileTexts(icalcomponent* source) : head_("BEGIN:VCALENDAR\r\n") {
    bool version = false, prodid = false;
    for (icalproperty* property : ical::properties(source, ICAL_ANY_PROPERTY)) {
      const icalproperty_kind kind = icalproperty_isa(property);
      if (kind == ICAL_METHOD_PROPERTY)
        continue;
      version |= kind == ICAL_VERSION_PROPERTY;
      prodid |= kind == ICAL_PRODID_PROPERTY;
      head_ += ical::serialize(property);
    }
    if (!version)
      head_ += "VERSION:2.0\r\n";
    if (!prodid)
      head_ += "PRODID:-//tembra//tembra//EN\r\n";
    // A calendar defines each TZID once; of one that defines a TZID again, the files hold one
    // definition, as a file may hold only one.
    for (icalcomponent* zone : ical::children(source, ICAL_VTIMEZONE_COMPONENT)) {
      icalproperty* tzid = icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY);
      const char* name = tzid ? icalproperty_get_tzid(tzid) : nullptr;
      if (name && !zones_.count(name))
        zones_.emplace(name, Zone{zones_.size(), ical::serialize(zone)});
    }
  }

  std::string text(const std::vector<icalcomponent*>& events) const {
    std::set<std::string> tzids;
    for (icalcomponent* event : events)
      collectTzids(event, tzids);
    std::vector<const Zone*> used;
    for (const std::string& tzid : tzids) {
      const auto found = zones_.find(tzid);
      if (found != zones_.end())
        used.push_back(&found->second);
    }
    // In the order libical reads them from the calendar.
    std::sort(used.begin(), used.end(),
              [](const Zone* a, const Zone* b) { return a->order < b->order; });
    std::string text = head_;
    for (const Zone* zone : used)
      text += zone->text;
    for (icalcomponent* event : events)
      text += ical::serialize(event);
    return text + "END:VCALENDAR\r\n";
  }

 private:
  struct Zone {
    std::size_t order;
    std::string text;
  };
  std::string head_;
  std::map<std::string, Zone> zones_;  // by TZID
};

// Leaves of the events of one UID a single series: where several have no RECURRENCE-ID, the one
// that supersedes the others, as the store reads such a file. A server refuses a file with two,
// and the others are earlier versions of the same event.
void keepOneSeries(std::vector<icalcomponent*>& events) {
  icalcomponent* series = nullptr;
  for (icalcomponent* event : events) {
    if (!icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY) &&
        (!series || supersedes(event, series))) {
      series = event;
    }
  }
  std::erase_if(events, [series](icalcomponent* event) {
    return event != series && !icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY);
  });
}

// One file of an import, checked to be a series the store can read.
struct ImportedFile {
  std::string uid;
  std::string text;
  std::string name;
};

// The files for the events of iCalendar text, one per UID in the order the UIDs first come; an
// error text when the text or one of its events cannot be stored.
std::optional<std::string> importedFiles(std::string_view text, std::vector<ImportedFile>& files) {
  std::vector<std::pair<std::string, std::string>> texts;  // UID, file text
  {
    ical::Component source = ical::parse(text);
    if (!source)
      return std::string("the file is not iCalendar text");
    if (const auto error = ical::firstParseError(source.get()))
      return "the file has iCalendar errors: " + *error;
    ical::keepReadableOnceWritten(source.get());
    std::unordered_map<std::string, std::size_t> slots;  // UID to its place in byUid
    std::vector<std::pair<std::string, std::vector<icalcomponent*>>> byUid;
    for (icalcomponent* event : ical::children(source.get(), ICAL_VEVENT_COMPONENT)) {
      std::string key = ical::uid(event);
      if (key.empty()) {
        key = newUuid();
        ical::removeAll(event, ICAL_UID_PROPERTY);
        icalcomponent_set_uid(event, key.c_str());
      }
      const auto [slot, added] = slots.try_emplace(key, byUid.size());
      if (added)
        byUid.emplace_back(key, std::vector<icalcomponent*>{});
      byUid[slot->second].second.push_back(event);
    }
    for (auto& [uid, events] : byUid)
      keepOneSeries(events);
    if (byUid.empty())
      return std::string("the file holds no event");
    const FileTexts maker(source.get());
    texts.reserve(byUid.size());
    for (const auto& [uid, events] : byUid)
      texts.emplace_back(uid, maker.text(events));
  }  // the parsed calendar is freed before the files are parsed
  files.reserve(texts.size());
  for (auto& [uid, fileText] : texts) {
    std::string problem;
    if (!Series::parse(fileText, &problem))
      return "the event " + repairUtf8(uid) + " cannot be stored: " + problem;
    files.push_back({std::move(uid), std::move(fileText), {}});
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> importEvents(const std::filesystem::path& root,
                                        const std::string& calendarId, std::string_view text,
                                        std::vector<std::string>& ids, Progress* progress) {
  Progress quiet;
  Progress& shown = progress ? *progress : quiet;
  if (auto error = createStoreIfAbsent(root, false))
    return error;
  const auto path = parseCalendarId(calendarId);
  if (!path || !isCalendarFolder(root, *path))
    return "no calendar with identifier " + calendarId;
  shown.step("reading the events", 0);
  std::vector<ImportedFile> files;
  if (auto error = importedFiles(text, files))
    return error;

  std::optional<StoreLock> lock;
  if (auto error = lockStore(root, lock))
    return error;
  const std::filesystem::path dir = root / path->source / path->calendar;
  std::map<std::string, std::string> existing;  // UID to file name
  for (const std::string& name : eventFileNames(dir)) {
    if (auto series = readSeries(dir / name))
      existing.emplace(series->uid(), name);
  }
  std::set<std::string> taken;  // names given in this import, not yet on disk
  FolderWrite write(dir);
  shown.step("writing the files", files.size());
  for (ImportedFile& file : files) {
    const auto known = existing.find(file.uid);
    file.name = known != existing.end() ? known->second : fileNameForUid(file.uid, dir);
    while (!taken.insert(file.name).second)
      file.name = fileNameForUid(newUuid(), dir);
    if (auto error = write.add(file.name, file.text))
      return error;
    shown.advance(taken.size());
  }
  shown.step("flushing the files to disk", 0);
  if (auto error = write.commit())
    return error;
  for (const ImportedFile& file : files)
    ids.push_back(path->id() + "/" + file.name);

  // The index learns of the files at once, so that the next run need not read them. It lists the
  // folder as any run does, once the file-system clock has moved past the last write: a file no
  // older than the check that saw it would be looked at again by the next run.
  std::this_thread::sleep_for(kCoarseTimeWithin + std::chrono::milliseconds(10));
  shown.step("indexing the files", files.size());
  // Should SQLite fail, the next run catches up instead.
  std::size_t indexed = 0;
  IndexHandle(root).catchUp([&] { shown.advance(++indexed); });
  return std::nullopt;
}

}  // namespace tembra::local
