// The running system's version, as the access rules need it, off macOS: there the program follows
// the rules of macOS 14 and later.
#include "access/authorization.h"

namespace tembra {

bool runningMacOS14OrLater() {
  return true;
}

}  // namespace tembra
