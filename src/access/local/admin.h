// Administration of a local store: creating it, changing what its settings hold and rebuilding its
// index. Used by tembra-store and, for the creation on first use, by the store itself. Each
// operation takes the store lock and returns an error text on failure.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/local/files.h"
#include "access/local/index.h"

namespace tembra::local {

// The calendar a new store starts with.
inline constexpr const char* kStarterSourceFolder = "local";
inline constexpr const char* kStarterSourceTitle = "本地";
inline constexpr const char* kStarterCalendarFolder = "calendar";
inline constexpr const char* kStarterCalendarTitle = "日历";
inline constexpr const char* kStarterCalendarColor = "#1BADF8";

// Where a new store is put together before it is moved into place in two renames: its starter
// source folder, then its settings file, whose presence marks the store as made.
inline constexpr const char* kCreationFolder = ".creating";

// Creates the store when the folder is missing or empty: with the starter calendar as the default
// calendar, or with no calendar at all when `empty`. A store that exists is left as it is.
std::optional<std::string> createStoreIfAbsent(const std::filesystem::path& root, bool empty);

// Creates the store when it is absent, then takes its lock and finishes what dead writers left.
std::optional<std::string> lockStore(const std::filesystem::path& root,
                                     std::optional<StoreLock>& lock);

struct NewCalendar {
  std::string title;
  std::optional<std::string> source;  // absent: the calendar has no source
  std::optional<std::string> color;   // "#RRGGBB"
  bool readOnly = false;
};
// Adds a calendar folder and returns its identifier, or an error text.
std::optional<std::string> addCalendar(const std::filesystem::path& root,
                                       const NewCalendar& request, std::string& id);

std::optional<std::string> setAuthorization(const std::filesystem::path& root, int code);
std::optional<std::string> setAnswer(const std::filesystem::path& root, bool grant);
// An identifier of an existing calendar, or absent for no default calendar.
std::optional<std::string> setDefaultCalendar(const std::filesystem::path& root,
                                              const std::optional<std::string>& id);

// What a long operation tells of its course, for a person waiting for it (tembra-store shows it on
// a terminal). The calls come from the operation's own thread; the default does nothing.
class Progress {
 public:
  virtual ~Progress() = default;
  // A step begins, going through `items` items (0: a number not known beforehand).
  virtual void step(std::string_view /*name*/, std::size_t /*items*/) {}
  // `done` items of the current step are through.
  virtual void advance(std::size_t /*done*/) {}
};

// Deletes the store's index and builds it again from every event file: for changes the index
// cannot notice, such as a file rewritten in place by a tool that leaves its folder's time alone.
// `census`, when given, receives what the new index holds.
std::optional<std::string> rebuildIndex(const std::filesystem::path& root,
                                        Progress* progress = nullptr,
                                        Index::Census* census = nullptr);

}  // namespace tembra::local
