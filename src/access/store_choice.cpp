// Choosing the store from TEMBRA_BACKEND, and handing the run to the executable that serves it.
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "access/store_factory.h"
#include "cli/messages.h"
#include "records/utf8.h"

namespace tembra {

std::optional<std::string> handOverToChosenBackend(char** argv) {
  const char* value = std::getenv("TEMBRA_BACKEND");
  if (!value || !*value || std::string_view(value) == "local")
    return std::nullopt;
  if (std::string_view(value) != "eds")
    return std::string(messages::kUnknownBackend) + repairUtf8(value);
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    std::string path(self, static_cast<std::size_t>(length));
    path.resize(path.rfind('/') + 1);
    path += "tembra-eds";
    ::execv(path.c_str(), argv);
  }
  return std::string(messages::kBackendNotInstalled) + value;
}

}  // namespace tembra
