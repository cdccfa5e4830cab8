// emit and fail over standard output.
#include "cli/output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace tembra {

StandardOutput::StandardOutput() {
  // A reader that has gone away must give a write error, not a signal that kills the process.
  std::signal(SIGPIPE, SIG_IGN);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      // A host may hand over a non-blocking pipe: a full one is drained in time, not an error.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
          return false;
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool StandardOutput::write(std::string_view bytes) {
  return writeAll(STDOUT_FILENO, bytes);
}

void StandardOutput::end(int status) {
  std::_Exit(status);
}

std::optional<std::string> encodeJson(const Json& value) {
  JsonWriter writer;
  writer.value(value);
  if (!writer.valid())
    return std::nullopt;
  return writer.text();
}

void fallBack(Output& output) {
  output.write(kFallbackText);
  output.exit(kExitFailure);
}

void OutputBuffer::flush() {
  if (!output_.write(text_))
    output_.exit(kExitFailure);
  text_.clear();
}

void OutputBuffer::finish() {
  text_ += '\n';
  flush();
}

void emit(Output& output, const JsonWriter& document) {
  if (!document.valid())
    fallBack(output);
  if (!output.write(document.text()) || !output.write("\n"))
    output.exit(kExitFailure);
}

void emit(Output& output, const Json& value) {
  JsonWriter writer;
  writer.value(value);
  emit(output, writer);
}

void fail(Output& output, std::string_view message, int code) {
  Json record = Json::object();
  record["error"] = message;
  emit(output, record);
  output.exit(code);
}

}  // namespace tembra
