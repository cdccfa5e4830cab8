// Running the real executables for the end-to-end tests.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string_view>

#include <gtest/gtest.h>

#include "support/black_box.h"

extern char** environ;

namespace tembra::testing {

std::string testZone() {
  const char* zone = std::getenv("TEMBRA_TEST_ZONE");
  return zone && *zone ? zone : "UTC";
}

ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const std::string& input,
                         std::chrono::milliseconds limit) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos)
      environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : env)
    environment[name] = value;
  std::vector<std::string> envText;
  for (const auto& [name, value] : environment)
    envText.push_back(name + "=" + value);

  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : envText)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC) || ::pipe2(in, O_CLOEXEC)) {
    throw std::runtime_error("pipe");
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(in[0]);
  // The input goes in as the program takes it, beside its output: input larger than a pipe holds
  // would otherwise wait on a program that waits on its output being read. A program that ends
  // without reading it all must not end this one with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  std::string_view pending = input;
  if (pending.empty()) {
    ::close(in[1]);
    in[1] = -1;
  } else {
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
  }

  ProcessResult result;
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
  int open = 2;
  char buffer[65536];
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);  // the pipes close with it
      break;
    }
    if (::poll(fds, 3, static_cast<int>(left.count())) <= 0)
      continue;
    if (fds[2].fd >= 0 && fds[2].revents) {
      const ssize_t put = ::write(fds[2].fd, pending.data(), pending.size());
      if (put > 0)
        pending.remove_prefix(static_cast<std::size_t>(put));
      if (pending.empty() || (put < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
    for (pollfd& fd : fds) {
      if (fd.fd < 0 || fd.fd == fds[2].fd || !(fd.revents & (POLLIN | POLLHUP)))
        continue;
      const ssize_t got = ::read(fd.fd, buffer, sizeof buffer);
      if (got <= 0) {
        ::close(fd.fd);
        fd.fd = -1;
        --open;
      } else {
        (fd.fd == out[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0)
      ::close(fd.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TempStore::TempStore() {
  static std::mt19937_64 random{std::random_device{}()};
  path_ = std::filesystem::temp_directory_path() /
          ("tembra-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
}

TempStore::~TempStore() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ProcessResult TempStore::tembra(const std::vector<std::string>& args) const {
  return runProgram(TEMBRA_BINARY, args, {{"TEMBRA_STORE", path_.string()}, {"TZ", zone}});
}

ProcessResult TempStore::admin(const std::vector<std::string>& args) const {
  std::vector<std::string> all{"--store", path_.string()};
  all.insert(all.end(), args.begin(), args.end());
  return runProgram(TEMBRA_STORE_BINARY, all, {{"TZ", zone}});
}

std::string TempStore::adminOk(const std::vector<std::string>& args) const {
  ProcessResult result = admin(args);
  EXPECT_EQ(result.status, 0) << result.err;
  if (!result.out.empty() && result.out.back() == '\n')
    result.out.pop_back();
  return result.out;
}

}  // namespace tembra::testing
