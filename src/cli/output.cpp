// emit and fail over standard output.
#include "cli/output.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace tembra {

StandardOutput::StandardOutput() {
  // A reader that has gone away must give a write error, not a signal that kills the process.
  std::signal(SIGPIPE, SIG_IGN);
}

bool StandardOutput::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void StandardOutput::end(int status) {
  std::_Exit(status);
}

std::string encodeJson(const Json& value) {
  std::string text = value.dump();
  // The writer never puts "/" outside a string, so every one of them is inside one.
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '/')
      escaped += '\\';
    escaped += c;
  }
  return escaped;
}

void emit(Output& output, const Json& value) {
  std::string text;
  try {
    text = encodeJson(value);
  } catch (const nlohmann::json::exception&) {
    output.write(kFallbackText);
    output.exit(kExitFailure);
  }
  if (!output.write(text) || !output.write("\n"))
    output.exit(kExitFailure);
}

void fail(Output& output, std::string_view message, int code) {
  Json record = Json::object();
  record["error"] = message;
  emit(output, record);
  output.exit(code);
}

}  // namespace tembra
