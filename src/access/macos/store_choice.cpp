// The store choice on macOS, where the system's store is the only one: no environment variable is
// read and no run is handed over.
#include "access/store_factory.h"

namespace tembra {

std::optional<std::string> handOverToChosenBackend(char**) {
  return std::nullopt;
}

}  // namespace tembra
