// Preloaded into a tembra run by tests: every opening of a path that holds the text of
// TEMBRA_FAILING_READS fails as on a disk with I/O errors, so that a run meets the errors a real
// disk gives, which no permission can make for root.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

bool fails(const char* path) {
  const char* failing = std::getenv("TEMBRA_FAILING_READS");
  if (!failing || !*failing || !path || !std::strstr(path, failing))
    return false;
  errno = EIO;
  return true;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

mode_t modeOf(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

DIR* opendir(const char* path) {
  static const auto real = next<DIR* (*)(const char*)>("opendir");
  return fails(path) ? nullptr : real(path);
}

int open(const char* path, int flags, ...) {
  static const auto real = next<int (*)(const char*, int, ...)>("open");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeOf(flags, arguments);
  va_end(arguments);
  return fails(path) ? -1 : real(path, flags, mode);
}

int openat(int dirFd, const char* path, int flags, ...) {
  static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = modeOf(flags, arguments);
  va_end(arguments);
  return fails(path) ? -1 : real(dirFd, path, flags, mode);
}

}  // extern "C"
