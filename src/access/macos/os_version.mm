// The running system's version, as the access rules need it on macOS.
#import <Foundation/Foundation.h>

#include "access/authorization.h"

namespace tembra {

bool runningMacOS14OrLater() {
  @autoreleasepool {
    const NSOperatingSystemVersion version = {14, 0, 0};
    return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:version];
  }
}

}  // namespace tembra
