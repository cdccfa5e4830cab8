// A window's events from the index, in steps: its occurrences, their components as events, a look
// at the files those came from, and the series held only up to a horizon read from their files.
#include <algorithm>
#include <unordered_map>

#include "access/local/event_files.h"
#include "access/local/index.h"
#include "access/local/index_rows.h"

namespace tembra::local {

// The occurrences of a window as the index holds them, each with the number of its component: a
// year of a weekly series is fifty occurrences of one component, which becomes one event.
struct Index::Found {
  EventWindow window;              // the occurrences; one event per number to come
  std::vector<ComponentKey> keys;  // by number
  std::unordered_map<ComponentKey, std::uint32_t, ComponentKeyHash> numbers;
};

// A file an event of the window is answered from, and the version of it that was read.
struct Index::AnsweredFile {
  std::int64_t file = 0;
  const Calendar* calendar = nullptr;  // null: not asked for, or read from its file
  std::string name;                    // of the file, in the folder of `calendar`
  FileVersion version;
};

EventWindow Index::window(const std::map<std::string, Calendar>& calendars, Instant from,
                          Instant to) {
  // The files the answer comes from are looked at first; any that changed since they were read
  // (written in place, which no folder shows) are read again and the window asked again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    FileNames stale;
    EventWindow events = windowOnce(calendars, from, to, stale);
    if (stale.empty())
      return events;
    readAgain(stale);
  }
  // Files that change faster than they can be read: the caller reads them all itself.
  throw sql::IndexFailure("the files of the window keep changing", SQLITE_BUSY);
}

EventWindow Index::windowOnce(const std::map<std::string, Calendar>& calendars, Instant from,
                              Instant to, FileNames& stale) {
  // One read transaction for the whole window: one lock, and one state of the index.
  sql::Transaction reading(db_, true);
  Found found = occurrencesIn(from, to);
  std::vector<AnsweredFile> files = readComponents(found, calendars, from, to);
  EventWindow& window = found.window;
  // Occurrences of calendars not asked for go, and only a series has occurrence dates.
  std::erase_if(window.occurrences, [&](const EventWindow::Entry& occurrence) {
    return files[occurrence.event].calendar == nullptr;
  });
  for (EventWindow::Entry& occurrence : window.occurrences) {
    if (!window.events[occurrence.event].hasRecurrenceRules)
      occurrence.occurrenceDate.reset();
  }
  stale = changedSinceRead(std::move(files));
  if (!stale.empty())
    return {};
  addOpenSeries(window, calendars, from, to);
  reading.commit();
  sortInWindowOrder(window);
  return std::move(window);
}

Index::Found Index::occurrencesIn(Instant from, Instant to) {
  // Most occurrences are found by their start; the few long ones by their end.
  const std::string columns = std::string("SELECT ") + OccurrenceRow::kColumns;
  auto& rows = db_.cached(
      columns +
      " FROM occurrences WHERE start < :to AND start >= :lower AND (end > :from OR start >= :from)"
      " UNION ALL " +
      columns + " FROM occurrences WHERE long = 1 AND end > :from AND start < :lower");
  rows.bind(1, to.seconds).bind(2, from.seconds - kLongEvent).bind(3, from.seconds);
  Found found;
  while (rows.step()) {
    const OccurrenceRow row = OccurrenceRow::read(rows);
    const auto [number, added] = found.numbers.try_emplace(row.component, found.keys.size());
    if (added)
      found.keys.push_back(row.component);
    found.window.occurrences.push_back({Instant{row.start}, Instant{row.end}, Instant{row.original},
                                        number->second, row.detached});
  }
  rows.reset();
  return found;
}

std::vector<Index::AnsweredFile> Index::readComponents(
    Found& found, const std::map<std::string, Calendar>& calendars, Instant from, Instant to) {
  std::map<std::string, std::shared_ptr<const Calendar>, std::less<>> shared;
  for (const auto& [id, calendar] : calendars)
    shared.emplace(id, std::make_shared<const Calendar>(calendar));
  EventWindow& window = found.window;
  std::vector<AnsweredFile> files(found.keys.size());
  window.events.resize(found.keys.size());
  std::vector<char> taken(found.keys.size());
  const auto take = [&](ComponentRow row, std::uint32_t number) {
    taken[number] = true;
    const auto calendar = shared.find(row.calendar);
    // A series held only up to a horizon before the window's end is read from its file.
    const bool open = row.horizon && *row.horizon < to.seconds;
    if (calendar == shared.end() || open)
      return;
    Event& event = window.events[number];
    event.eventIdentifier = std::move(row.event);
    event.calendar = CalendarRef(calendar->second);
    if (!row.uid.empty())
      event.calendarItemExternalIdentifier = std::move(row.uid);
    event.hasRecurrenceRules = row.repeats;
    event.title = std::move(row.title);
    event.notes = std::move(row.notes);
    event.location = std::move(row.location);
    event.isAllDay = row.allDay;
    event.alarms = decodeAlarms(row.alarms);
    if (row.lastModified)
      event.lastModifiedDate = Instant{*row.lastModified};
    event.recurrenceRule = std::move(row.rule);
    files[number] = {row.file, calendar->second.get(), std::move(row.name), row.version};
  };
  // Most components begin in the window, and are read in one pass over its part of the table;
  // series that began before it are looked up one by one.
  const std::string select = std::string("SELECT ") + ComponentRow::kColumns + " FROM components ";
  auto& inWindow = db_.cached(select + "WHERE first >= ? AND first < ?");
  inWindow.bind(1, from.seconds).bind(2, to.seconds);
  while (inWindow.step()) {
    const auto number = found.numbers.find(ComponentKey::read(inWindow));
    if (number != found.numbers.end())
      take(ComponentRow::read(inWindow), number->second);
  }
  inWindow.reset();
  auto& byKey = db_.cached(select + "WHERE first = ? AND id = ?");
  for (std::uint32_t number = 0; number < found.keys.size(); ++number) {
    if (taken[number])
      continue;
    byKey.bind(1, found.keys[number].first).bind(2, found.keys[number].id);
    // Written in one transaction with its occurrences: without it, the index is damaged.
    if (!byKey.step())
      db_.damaged("an occurrence without its component");
    take(ComponentRow::read(byKey), number);
    byKey.reset();
  }
  return files;
}

Index::FileNames Index::changedSinceRead(std::vector<AnsweredFile> files) {
  // Each file answered from must still be the version that was read.
  std::erase_if(files, [](const AnsweredFile& file) { return file.calendar == nullptr; });
  std::sort(files.begin(), files.end(),
            [](const AnsweredFile& a, const AnsweredFile& b) { return a.file < b.file; });
  files.erase(
      std::unique(files.begin(), files.end(),
                  [](const AnsweredFile& a, const AnsweredFile& b) { return a.file == b.file; }),
      files.end());
  FileNames stale;
  std::map<const Calendar*, const Folder*> folderOf;
  for (const AnsweredFile& file : files) {
    const Folder*& folder = folderOf[file.calendar];
    if (!folder)
      folder = &this->folder(*parseCalendarId(file.calendar->calendarIdentifier));
    const auto now = folder->fd ? fileVersionAt(folder->fd.get(), file.name) : std::nullopt;
    if (!now || *now != file.version)
      stale.emplace_back(folder->path, file.name);
  }
  return stale;
}

void Index::addOpenSeries(EventWindow& window, const std::map<std::string, Calendar>& calendars,
                          Instant from, Instant to) {
  auto& open = db_.cached(std::string("SELECT ") + FileRow::kColumns +
                          " FROM files WHERE horizon IS NOT NULL AND horizon < ?");
  open.bind(1, to.seconds);
  while (open.step()) {
    const FileRow row = FileRow::read(open);
    const auto calendar = calendars.find(row.calendar);
    if (calendar == calendars.end())
      continue;
    const auto path = parseCalendarId(calendar->first);
    const auto series = readSeries(root_ / path->source / path->calendar / row.name);
    if (!series)
      continue;
    for (const Occurrence& occurrence : series->occurrences(from, to)) {
      Event event =
          eventFrom(*series, occurrence, calendar->first + "/" + row.name, calendar->second);
      window.occurrences.push_back({event.startDate, event.endDate, event.occurrenceDate,
                                    static_cast<std::uint32_t>(window.events.size()),
                                    event.isDetached});
      window.events.push_back(std::move(event));
    }
  }
  open.reset();
}

}  // namespace tembra::local
