// The journal of a move between calendars: a move writes the event into its new calendar and then
// takes it out of the old one, so a writer that dies between the two would leave it in both. The
// journal, written first, lets the next writer finish the move.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "access/calendar_store.h"

namespace tembra::local {

inline constexpr const char* kMoveJournalName = ".move";

struct Move {
  std::string from;  // the event identifier it leaves
  std::string to;    // the event identifier it is written to
  // For one occurrence of a repeating event split off into an event of its own: its original
  // start, excluded from the series left behind. Absent when the whole file moves.
  std::optional<Instant> occurrence;
  // The occurrence and all after it left as a series of their own: the series left behind ends
  // before the occurrence, rather than exclude it alone.
  bool split = false;
};

// Writes the journal durably; an error text on failure.
std::optional<std::string> beginMove(const std::filesystem::path& root, const Move& move);
// Removes the journal once both halves of the move are done.
std::optional<std::string> endMove(const std::filesystem::path& root);

// A move carried out under the journal: it is written first, then `arrive` writes the event into
// its new calendar and `leave` takes it out of the old one, and then it goes. A failed step keeps
// the journal too: the new file may be in place although its folder could not be flushed, and the
// next writer finishes the move, or drops it when the file is not there. Returns the error of the
// journal or of the step that failed.
using MoveStep = std::function<std::optional<StoreError>()>;
std::optional<StoreError> journalledMove(const std::filesystem::path& root, const Move& move,
                                         const MoveStep& arrive, const MoveStep& leave);

// True when a move was begun and not ended.
bool moveUnfinished(const std::filesystem::path& root);

// Finishes what writers that died under the store lock left undone, for a caller that holds the
// lock: a move whose new file was written is completed (its old file removed, or its occurrence
// excluded there), one whose new file was not is dropped, and temporary files of the store's
// folders are removed, as is the folder of a creation that was finished. An error text when the
// journal names a move it cannot finish.
std::optional<std::string> finishInterruptedWrites(const std::filesystem::path& root);

}  // namespace tembra::local
