// The end of a command whose store could not answer what it asked.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "access/calendar_store.h"
#include "cli/messages.h"
#include "cli/output.h"
#include "records/utf8.h"

namespace tembra {

// What `answer` holds. A store that could not answer ends the command with status 1, `words` and
// the store's description: an empty list or "not found" would tell the host there is nothing.
template <typename T>
T answered(Output& output, Answer<T> answer, std::string_view words = messages::kReadFailed) {
  if (answer.failed())
    fail(output, std::string(words) + repairUtf8(answer.error().description));
  return std::move(answer).value();
}

}  // namespace tembra
