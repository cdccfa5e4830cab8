// Standard input, read whole for "--input -".
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "cli/process.h"

namespace tembra {

std::optional<std::string> readStandardInput() {
  std::string text;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got > 0) {
      if (text.size() + static_cast<std::size_t>(got) > kMaxStandardInput)
        return std::nullopt;
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      return text;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A host may hand over a non-blocking pipe: wait for more rather than take a pause for
      // the end.
      pollfd ready{STDIN_FILENO, POLLIN, 0};
      if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
        return std::nullopt;
    } else if (errno != EINTR) {
      return std::nullopt;
    }
  }
}

}  // namespace tembra
