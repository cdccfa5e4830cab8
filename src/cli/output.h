// The only way results leave the program: emit writes one JSON document, fail writes an error
// record and ends the process. Also the exit statuses.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "records/json_writer.h"

namespace tembra {

// Exit statuses, the host's way of telling one failure from another.
enum ExitStatus : int {
  kExitSuccess = 0,           // the command completed; its result is on stdout
  kExitFailure = 1,           // the store refused a write, or the output could not be written
  kExitAccessDenied = 2,      // calendar access is not granted
  kExitNoCalendar = 3,        // no default calendar, or no writable calendar
  kExitEventNotFound = 4,     // no event with the given identifier
  kExitCalendarNotFound = 5,  // no calendar with the given identifier
  kExitUsage = 64,            // the command line or the input object is unusable
};

// Written instead of a document that cannot be encoded; never passes through the JSON writer.
inline constexpr std::string_view kFallbackText = R"({"error":"json encode failed"})";

// Standard output and process exit, so that command bodies can run in process under tests.
class Output {
 public:
  virtual ~Output() = default;
  // Writes every byte; false when the stream cannot take them (the reader has gone, say).
  virtual bool write(std::string_view bytes) = 0;
  // Ends the run with the status; nothing more is written.
  [[noreturn]] void exit(int status) {
    end(status);
    std::abort();  // end must not return
  }

 private:
  virtual void end(int status) = 0;
};

// Writes every byte to the descriptor, going on after short writes and interruptions; false on
// any other error.
bool writeAll(int fd, std::string_view bytes);

// The process's standard output, written unbuffered; exit ends the process at once.
class StandardOutput final : public Output {
 public:
  StandardOutput();
  bool write(std::string_view bytes) override;

 private:
  void end(int status) override;
};

// Writes the value as compact JSON and a line feed. A value that cannot be encoded (a string that
// is not UTF-8) gives the fallback text and status 1; an output that cannot be written, status 1.
void emit(Output& output, const Json& value);
// The same for a document already written, such as a long list written record by record.
void emit(Output& output, const JsonWriter& document);

// Writes the fallback text and ends the run with status 1, for a document that cannot be encoded.
[[noreturn]] void fallBack(Output& output);

// A long document written as it is made, a piece at a time as the buffer fills, so that it never
// sits whole in memory. Everything that could make it fail must be settled before the first
// piece goes out: from then on only the output itself can fail, which ends the run with status 1
// as emit does.
class OutputBuffer {
 public:
  static constexpr std::size_t kPiece = 64 * 1024;

  explicit OutputBuffer(Output& output) : output_(output) { text_.reserve(kPiece + kPiece / 4); }

  std::string& text() { return text_; }
  void flushWhenFull() {
    if (text_.size() >= kPiece)
      flush();
  }
  // Writes the rest of the document and its line feed.
  void finish();

 private:
  void flush();

  Output& output_;
  std::string text_;
};

// Writes the error record {"error": message} and ends the run with the status.
[[noreturn]] void fail(Output& output, std::string_view message, int code = kExitFailure);

// The compact JSON text of the value, with "/" written as "\/"; none when it cannot be encoded.
std::optional<std::string> encodeJson(const Json& value);

}  // namespace tembra
