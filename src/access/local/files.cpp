// Descriptors, the store lock and atomic writes.
#include "access/local/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

namespace tembra::local {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0)
    ::close(fd_);
}

std::string systemError(std::string_view what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::optional<StoreLock> StoreLock::acquire(const std::filesystem::path& root, std::string& error) {
  // Not blocking in open: something other than a file in the lock's place must not hang a run.
  UniqueFd fd(::open((root / kLockFileName).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, newFileMode(root)));
  if (!fd) {
    error = systemError("cannot open the store lock");
    return std::nullopt;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = (root / kLockFileName).string() + " is not a regular file";
    return std::nullopt;
  }
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = systemError("cannot lock the store");
      return std::nullopt;
    }
  }
  return StoreLock(std::move(fd));
}

namespace {

thread_local ReadWatch* watching = nullptr;

}  // namespace

ReadWatch::ReadWatch() : outer_(watching) {
  watching = this;
}

ReadWatch::~ReadWatch() {
  watching = outer_;
  if (outer_ && failure_ && !outer_->failure_)
    outer_->failure_ = failure_;
}

void noteReadError(std::string_view what) {
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR || error == ELOOP || !watching || watching->failure_)
    return;
  watching->failure_ = std::string(what) + ": " + std::strerror(error);
}

namespace {

std::vector<FolderEntry> entriesOf(DIR* stream, std::string_view what) {
  std::vector<FolderEntry> entries;
  if (!stream)
    return entries;
  errno = 0;
  while (const dirent* entry = ::readdir(stream))
    entries.push_back({entry->d_name, entry->d_type, static_cast<std::uint64_t>(entry->d_ino)});
  if (errno != 0)
    noteReadError(what);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
}

std::int64_t nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileVersion versionOf(const struct stat& info) {
#if defined(__APPLE__)
  const struct timespec &modified = info.st_mtimespec, &changed = info.st_ctimespec;
#else
  const struct timespec &modified = info.st_mtim, &changed = info.st_ctim;
#endif
  return {static_cast<std::uint64_t>(info.st_ino), static_cast<std::int64_t>(info.st_size),
          nanoseconds(modified), nanoseconds(changed)};
}

// Reads an open file to its end, whatever size it has grown or shrunk to since it was measured.
std::optional<std::string> readAll(int fd, std::size_t expected) {
  std::string content;
  content.resize(expected);
  std::size_t filled = 0;
  for (;;) {
    if (filled == content.size())
      content.resize(content.size() * 2 + 4096);
    const ssize_t got = ::read(fd, content.data() + filled, content.size() - filled);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      noteReadError("cannot read a file");
      return std::nullopt;
    }
    if (got == 0)
      break;
    filled += static_cast<std::size_t>(got);
  }
  content.resize(filled);
  return content;
}

}  // namespace

std::vector<FolderEntry> folderEntries(const std::filesystem::path& dir) {
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
  const std::string what = "cannot list " + dir.string();
  if (!stream)
    noteReadError(what);
  return entriesOf(stream.get(), what);
}

std::vector<FolderEntry> folderEntries(int dirFd) {
  // The stream takes its own descriptor, so that the caller's stays open and at its place.
  const int own = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) {
    noteReadError("cannot list a calendar folder");
    return {};
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(own), ::closedir);
  if (!stream)
    ::close(own);
  return entriesOf(stream.get(), "cannot list a calendar folder");
}

UniqueFd openFolder(const std::filesystem::path& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd)
    noteReadError("cannot open " + dir.string());
  return fd;
}

std::optional<FileVersion> fileVersionAt(int dirFd, const std::string& name) {
  struct stat info;
  if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    noteReadError("cannot look at " + name);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode))
    return std::nullopt;
  return versionOf(info);
}

std::optional<FileVersion> versionOfOpen(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0)
    return std::nullopt;
  return versionOf(info);
}

std::optional<FileContent> readFileAt(int dirFd, const std::string& name,
                                      const std::function<void()>& whileReading) {
  // As in readFile: a FIFO or a device in the file's place must not block the run.
  if (!fileVersionAt(dirFd, name))
    return std::nullopt;
  UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  if (!fd)
    noteReadError("cannot open " + name);
  struct stat info;
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  FileContent content;
  content.version = versionOf(info);
  auto bytes = readAll(fd.get(), static_cast<std::size_t>(info.st_size));
  if (!bytes)
    return std::nullopt;
  content.bytes = std::move(*bytes);
  if (whileReading)
    whileReading();
  // A writer that replaced the file meanwhile changed its ctime (the old file lost its name);
  // one that wrote into it changed its size or times.
  content.steady = ::fstat(fd.get(), &info) == 0 && versionOf(info) == content.version &&
                   content.bytes.size() == static_cast<std::size_t>(info.st_size);
  return content;
}

std::optional<std::string> syncFolder(const std::filesystem::path& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || ::fsync(fd.get()) != 0)
    return systemError("cannot flush " + dir.string());
  return std::nullopt;
}

bool isTemporaryName(std::string_view name) {
  // "." name ".tmp-" pid "-" number, as temporaryName makes them.
  const std::size_t mark = name.rfind(".tmp-");
  if (name.size() < 2 || name.front() != '.' || mark == std::string_view::npos || mark < 2)
    return false;
  const std::string_view tail = name.substr(mark + 5);
  const std::size_t dash = tail.find('-');
  const auto digits = [](std::string_view part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return dash != std::string_view::npos && digits(tail.substr(0, dash)) &&
         digits(tail.substr(dash + 1));
}

void removeTemporaries(const std::filesystem::path& dir) {
  bool removed = false;
  for (const FolderEntry& entry : folderEntries(dir)) {
    if ((entry.type == DT_REG || entry.type == DT_UNKNOWN) && isTemporaryName(entry.name))
      removed |= ::unlink((dir / entry.name).c_str()) == 0;
  }
  if (removed)
    syncFolder(dir);
}

namespace {

// Hidden, so that no reader takes it for an event file, and unique among writers: each has its
// own pid, and a number of its own for each file.
std::string temporaryName(const std::string& name, unsigned number = std::random_device{}()) {
  return "." + name + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(number);
}

}  // namespace

mode_t folderMode(const std::filesystem::path& dir) {
  struct stat info;
  if (::stat(dir.c_str(), &info) != 0)
    return 0700;
  return info.st_mode & 07777;
}

mode_t newFileMode(const std::filesystem::path& dir) {
  return folderMode(dir) & 0666;
}

std::optional<std::string> makeFolders(const std::filesystem::path& dir, mode_t mode) {
  if (dir.empty() || isPresent(dir))
    return std::nullopt;
  if (dir.parent_path() != dir) {
    if (auto error = makeFolders(dir.parent_path(), mode))
      return error;
  }
  if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST)
    return systemError("cannot create " + dir.string());
  return std::nullopt;
}

namespace {

// Writes every byte to a file just created, going on after short writes and interruptions; false
// on any other error. (A regular file never asks to be waited for, as a pipe may.)
bool writeWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The temporary file that will replace `name` in the folder: with the mode and group of the file
// it replaces, or the mode of a new file of the folder.
UniqueFd createReplacement(const std::filesystem::path& dir, const std::string& name,
                           const std::filesystem::path& temporary) {
  struct stat target;
  const bool replacing = ::lstat((dir / name).c_str(), &target) == 0 && S_ISREG(target.st_mode);
  const mode_t mode = replacing ? target.st_mode & 07777 : newFileMode(dir);
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd && replacing) {
    // Exactly as it was, which the umask may have narrowed; the group too, where this user may
    // give it (a file of another group stays readable to that group only if it keeps it).
    ::fchmod(fd.get(), mode);
    struct stat made;
    if (::fstat(fd.get(), &made) == 0 && made.st_gid != target.st_gid) {
      [[maybe_unused]] const int ignored =
          ::fchown(fd.get(), static_cast<uid_t>(-1), target.st_gid);
    }
  }
  return fd;
}

}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& dir,
                                               const std::string& name, std::string_view bytes) {
  const std::filesystem::path temporary = dir / temporaryName(name);
  {
    UniqueFd fd = createReplacement(dir, name, temporary);
    if (!fd)
      return systemError("cannot create " + temporary.string());
    if (!writeWhole(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
      std::string error = systemError("cannot write " + temporary.string());
      ::unlink(temporary.c_str());
      return error;
    }
  }
  if (::rename(temporary.c_str(), (dir / name).c_str()) != 0) {
    std::string error = systemError("cannot replace " + (dir / name).string());
    ::unlink(temporary.c_str());
    return error;
  }
  // Until the folder is flushed the rename may not survive a power loss; a write that cannot be
  // made durable is reported as failed.
  return syncFolder(dir);
}

FolderWrite::FolderWrite(std::filesystem::path dir)
    : dir_(std::move(dir)), next_(std::random_device{}()) {}

FolderWrite::~FolderWrite() {
  for (const auto& [temporary, name] : pending_)
    ::unlink((dir_ / temporary).c_str());
}

std::optional<std::string> FolderWrite::add(const std::string& name, std::string_view bytes) {
  if (!folder_) {
    folder_ = openFolder(dir_);
    if (!folder_)
      return systemError("cannot open " + dir_.string());
  }
  // Numbered in turn: a random number for each file would cost more than writing it.
  const std::string temporary = temporaryName(name, next_++);
  const std::filesystem::path path = dir_ / temporary;
  UniqueFd fd = createReplacement(dir_, name, path);
  if (!fd)
    return systemError("cannot create " + path.string());
  pending_.emplace_back(temporary, name);
  bool written = writeWhole(fd.get(), bytes);
#if !defined(__linux__)
  // Elsewhere no call flushes one file system: each file is flushed by itself.
  written = written && ::fsync(fd.get()) == 0;
#endif
  if (!written)
    return systemError("cannot write " + path.string());
  return std::nullopt;
}

std::optional<std::string> FolderWrite::commit() {
  if (pending_.empty())
    return std::nullopt;
#if defined(__linux__)
  // One flush of the file system instead of one per file, each of which would wait for a commit
  // of its journal. Since Linux 5.8 it reports the write errors of every file written since the
  // folder was opened.
  if (::syncfs(folder_.get()) != 0)
    return systemError("cannot flush the files written to " + dir_.string());
#endif
  for (std::size_t at = 0; at < pending_.size(); ++at) {
    const auto& [temporary, name] = pending_[at];
    if (::rename((dir_ / temporary).c_str(), (dir_ / name).c_str()) != 0) {
      std::string error = systemError("cannot replace " + (dir_ / name).string());
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
      return error;
    }
  }
  pending_.clear();
  // Until the folder is flushed the renames may not survive a power loss.
  if (::fsync(folder_.get()) != 0)
    return systemError("cannot flush " + dir_.string());
  return std::nullopt;
}

std::optional<std::string> removeFile(const std::filesystem::path& dir, const std::string& name) {
  if (::unlink((dir / name).c_str()) != 0)
    return systemError("cannot remove " + (dir / name).string());
  return syncFolder(dir);
}

bool isPresent(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::string> readFile(const std::filesystem::path& path, Links links) {
  // What the path is decides before it is opened: a FIFO or a device would block the open or
  // the read for ever. The descriptor is then checked to be that same regular file.
  struct stat before;
  const auto look = links == Links::follow ? ::stat : ::lstat;
  if (look(path.c_str(), &before) != 0) {
    noteReadError("cannot look at " + path.string());
    return std::nullopt;
  }
  if (!S_ISREG(before.st_mode))
    return std::nullopt;
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::follow ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd) {
    noteReadError("cannot open " + path.string());
    return std::nullopt;
  }
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_ino != before.st_ino ||
      info.st_dev != before.st_dev) {
    return std::nullopt;
  }
  return readAll(fd.get(), static_cast<std::size_t>(info.st_size));
}

}  // namespace tembra::local
