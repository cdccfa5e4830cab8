// Standard error silenced at start-up: whatever a library writes there, and however it writes it,
// the host's standard error receives nothing.
#include "cli/standard_descriptors.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tembra {
namespace {

struct Writer {
  const char* name;
  void (*write)();
};

// Each as a library might write while the run goes on.
const Writer kWriters[] = {
    {"stdio_stderr", [] { std::fputs("stdio\n", stderr), std::fflush(stderr); }},
    // What NSLog and CFLog do on macOS, and GLib's fallbacks.
    {"descriptor_2_itself", [] { (void)!::write(STDERR_FILENO, "direct\n", 7); }},
    {"a_program_started_later", [] { (void)!std::system("echo child >&2"); }},
};

// In a child whose descriptors 1 and 2 are pipes: silences standard error, writes as `writer`
// does, then writes "out" to standard output. Returns what each pipe received.
std::pair<std::string, std::string> runSilenced(const Writer& writer) {
  int out[2], err[2];
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    for (const int fd : {out[0], out[1], err[0], err[1]})
      ::close(fd);
    keepStandardDescriptorsOpen();
    silenceStandardError();
    writer.write();
    (void)!::write(STDOUT_FILENO, "out", 3);
    ::_exit(0);
  }
  ::close(out[1]);
  ::close(err[1]);
  const auto drain = [](int fd) {
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
  };
  std::pair<std::string, std::string> received{drain(out[0]), drain(err[0])};
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  return received;
}

TEST(SilenceStandardError, NothingReachesTheHostsStandardError) {
  for (const Writer& writer : kWriters) {
    const auto [out, err] = runSilenced(writer);
    EXPECT_EQ(err, "") << writer.name;
    EXPECT_EQ(out, "out") << writer.name;
  }
}

}  // namespace
}  // namespace tembra
