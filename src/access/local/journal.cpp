// The move journal and the recovery of writes cut short.
#include "access/local/journal.h"

#include <ctime>

#include <nlohmann/json.hpp>

#include "access/local/admin.h"
#include "access/local/event_files.h"
#include "access/local/files.h"
#include "access/local/layout.h"
#include "access/local/series.h"
#include "access/local/settings.h"
#include "access/local/store_messages.h"

namespace tembra::local {
namespace {

using nlohmann::json;

std::filesystem::path fileOf(const std::filesystem::path& root, const EventPath& path) {
  return root / path.calendar.source / path.calendar.calendar / path.file;
}

std::optional<Move> readJournal(const std::filesystem::path& root) {
  const auto text = readFile(root / kMoveJournalName);
  if (!text)
    return std::nullopt;
  const json document = json::parse(*text, nullptr, false);
  if (!document.is_object() || !document.contains("from") || !document["from"].is_string() ||
      !document.contains("to") || !document["to"].is_string()) {
    return std::nullopt;
  }
  Move move{document["from"].get<std::string>(), document["to"].get<std::string>(), {}};
  if (document.contains("occurrence") && document["occurrence"].is_number())
    move.occurrence = Instant{document["occurrence"].get<double>()};
  move.split = document.contains("split") && document["split"] == true;
  return move;
}

// The second half of a move whose first half, the new file, is in place.
std::optional<std::string> completeMove(const std::filesystem::path& root, const Move& move,
                                        const EventPath& from) {
  const std::filesystem::path dir = root / from.calendar.source / from.calendar.calendar;
  if (!isPresent(fileOf(root, from)))
    return std::nullopt;
  if (!move.occurrence)
    return removeFile(dir, from.file);
  std::optional<Series> series = readSeries(fileOf(root, from));
  if (!series)
    return std::nullopt;  // changed into something unreadable since: never rewritten
  const Instant now{static_cast<double>(std::time(nullptr))};
  if (move.split) {
    // Ending the series before the occurrence again changes nothing more.
    series->endBefore(*move.occurrence, now);
    if (!series->first())
      return removeFile(dir, from.file);
    return writeFileAtomically(dir, from.file, series->text());
  }
  const auto occurrence = series->occurrenceAt(*move.occurrence);
  if (!occurrence)
    return std::nullopt;  // already excluded
  series->exclude(*occurrence, Instant{static_cast<double>(std::time(nullptr))});
  if (!series->first())
    return removeFile(dir, from.file);
  return writeFileAtomically(dir, from.file, series->text());
}

}  // namespace

std::optional<std::string> beginMove(const std::filesystem::path& root, const Move& move) {
  json document = {{"from", move.from}, {"to", move.to}};
  if (move.occurrence)
    document["occurrence"] = move.occurrence->seconds;
  if (move.split)
    document["split"] = true;
  try {
    return writeFileAtomically(root, kMoveJournalName, document.dump() + "\n");
  } catch (const json::exception&) {
    return std::string("an identifier is not UTF-8");
  }
}

std::optional<std::string> endMove(const std::filesystem::path& root) {
  return removeFile(root, kMoveJournalName);
}

std::optional<StoreError> journalledMove(const std::filesystem::path& root, const Move& move,
                                         const MoveStep& arrive, const MoveStep& leave) {
  if (auto error = beginMove(root, move))
    return StoreError{kWriteFailed + *error};
  if (auto error = arrive())
    return error;
  if (auto error = leave())
    return error;
  if (auto error = endMove(root))
    return StoreError{kWriteFailed + *error};
  return std::nullopt;
}

bool moveUnfinished(const std::filesystem::path& root) {
  return isPresent(root / kMoveJournalName);
}

std::optional<std::string> finishInterruptedWrites(const std::filesystem::path& root) {
  // A creation killed after its last rename leaves its emptied folder behind.
  if (isPresent(root / kCreationFolder) && isPresent(root / kSettingsFileName)) {
    std::error_code ignored;
    std::filesystem::remove_all(root / kCreationFolder, ignored);
  }
  removeTemporaries(root);
  for (const CalendarPath& calendar : calendarPaths(root))
    removeTemporaries(root / calendar.source / calendar.calendar);
  if (!moveUnfinished(root))
    return std::nullopt;
  if (const auto move = readJournal(root)) {
    const auto from = parseEventId(move->from);
    const auto to = parseEventId(move->to);
    // Without its new file the move never happened: the event is where it was.
    if (from && to && isPresent(fileOf(root, *to))) {
      if (auto error = completeMove(root, *move, *from))
        return error;
    }
  }
  return endMove(root);
}

}  // namespace tembra::local
