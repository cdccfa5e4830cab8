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
    std::string folder(self, static_cast<std::size_t>(length));
    folder.resize(folder.rfind('/') + 1);
    // Installed, the helper is the installation's; in a build folder or a host's own bundle, it
    // is the copy beside this one. execv returns only when it cannot start the file.
    for (const char* place : {TEMBRA_EDS_FROM_BINDIR "/tembra-eds", "tembra-eds"}) {
      const std::string path = folder + place;
      ::execv(path.c_str(), argv);
    }
  }
  return std::string(messages::kBackendNotInstalled) + value;
}

}  // namespace tembra
