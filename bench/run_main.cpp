// tembra-bench-run: times whole runs of a program and reports the median wall time and the peak
// memory of the runs; with --then, also those of a second program run after each of them.
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Measure {
  double milliseconds;
  long peakKilobytes;
  int status;
};

Measure runOnce(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& arg : command)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return {std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128};
}

std::vector<std::string> splitWords(const std::string& line) {
  std::istringstream words(line);
  std::vector<std::string> split;
  for (std::string word; words >> word;)
    split.push_back(word);
  return split;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15, warmup = 2;
  std::string before, argsFile, then;
  int at = 1;
  for (; at < argc && std::string(argv[at]) != "--"; ++at) {
    const std::string option = argv[at];
    if (at + 1 >= argc)
      break;
    if (option == "--runs")
      runs = std::atoi(argv[++at]);
    else if (option == "--warmup")
      warmup = std::atoi(argv[++at]);
    else if (option == "--before")
      before = argv[++at];
    else if (option == "--args-file")
      argsFile = argv[++at];
    else if (option == "--then")
      then = argv[++at];
  }
  if (at >= argc - 1) {
    std::cerr << "usage: tembra-bench-run [--runs N] [--warmup W] [--before SHELL] "
                 "[--args-file F] [--then WORDS] -- PROGRAM ARGS...\n"
                 "With --args-file each run appends the words of the next line to ARGS.\n"
                 "With --then each run is followed by one of the program and arguments WORDS\n"
                 "(split at blanks, run without a shell), timed on their own: the output is\n"
                 "then the median and peak of the runs, and the median and peak of WORDS.\n";
    return 2;
  }
  const std::vector<std::string> base(argv + at + 1, argv + argc);
  std::vector<std::vector<std::string>> extra;
  if (!argsFile.empty()) {
    std::ifstream file(argsFile);
    for (std::string line; std::getline(file, line);)
      extra.push_back(splitWords(line));
  }
  // The runner and every run share one CPU. On virtual machines a child started on the other,
  // idle CPU waits for it to wake up, which adds up to a scheduler tick (4 ms) of nothing to the
  // run; on one CPU the run starts as soon as the runner waits for it.
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  sched_setaffinity(0, sizeof one, &one);

  const std::vector<std::string> next = splitWords(then);
  std::vector<double> times, nextTimes;
  long peak = 0, nextPeak = 0;
  for (int i = 0; i < warmup + runs; ++i) {
    if (!before.empty() && std::system(before.c_str()) != 0) {
      std::cerr << "tembra-bench-run: the --before command failed\n";
      return 1;
    }
    std::vector<std::string> command = base;
    if (!extra.empty()) {
      const auto& words = extra[static_cast<std::size_t>(i) % extra.size()];
      command.insert(command.end(), words.begin(), words.end());
    }
    const Measure measure = runOnce(command);
    if (measure.status != 0) {
      std::cerr << "tembra-bench-run: run " << i << " exited with " << measure.status << "\n";
      return 1;
    }
    std::optional<Measure> after;
    if (!next.empty()) {
      after = runOnce(next);
      if (after->status != 0) {
        std::cerr << "tembra-bench-run: run " << i << " of --then exited with " << after->status
                  << "\n";
        return 1;
      }
    }
    if (i < warmup)
      continue;
    times.push_back(measure.milliseconds);
    peak = std::max(peak, measure.peakKilobytes);
    if (after) {
      nextTimes.push_back(after->milliseconds);
      nextPeak = std::max(nextPeak, after->peakKilobytes);
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("%.2f %.1f", times[times.size() / 2], peak / 1024.0);
  if (!nextTimes.empty()) {
    std::sort(nextTimes.begin(), nextTimes.end());
    std::printf(" %.2f %.1f", nextTimes[nextTimes.size() / 2], nextPeak / 1024.0);
  }
  std::printf("\n");
  return 0;
}
