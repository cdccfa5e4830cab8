// Standard descriptors a host closed, opened again on /dev/null, and standard error silenced.
#include "cli/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define TEMBRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEMBRA_SANITIZED 1
#endif
#endif
#ifdef TEMBRA_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace tembra {
namespace {

// A report of the sanitizers is what a failing test run must show: it goes to a copy of the
// descriptor the run was given, closed on exec so that a program started later does not hold it.
void keepSanitizerReports() {
#ifdef TEMBRA_SANITIZED
  const int copy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (copy >= 0)
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(copy)));
#endif
}

}  // namespace

void keepStandardDescriptorsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    // open gives the lowest free number, which is this one: those below it are open by now.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd)
      ::close(opened);
  }
}

void silenceStandardError() {
  // Without O_CLOEXEC: were descriptor 2 closed, this would be it, and a program started later
  // must inherit it.
  const int sink = ::open("/dev/null", O_WRONLY);
  if (sink < 0)
    return;
  keepSanitizerReports();
  if (sink != STDERR_FILENO) {
    ::dup2(sink, STDERR_FILENO);
    ::close(sink);
  }
}

}  // namespace tembra
