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

#include "cli/output.h"

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
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
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

std::vector<FolderEntry> folderEntries(const std::filesystem::path& dir) {
  std::vector<FolderEntry> entries;
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
  if (!stream)
    return entries;
  while (const dirent* entry = ::readdir(stream.get()))
    entries.push_back({entry->d_name, entry->d_type});
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return entries;
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

std::optional<std::string> writeFileAtomically(const std::filesystem::path& dir,
                                               const std::string& name, std::string_view bytes) {
  const std::filesystem::path temporary = dir / temporaryName(name);
  {
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd)
      return systemError("cannot create " + temporary.string());
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
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
    folder_ = UniqueFd(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_)
      return systemError("cannot open " + dir_.string());
  }
  // Numbered in turn: a random number for each file would cost more than writing it.
  const std::string temporary = temporaryName(name, next_++);
  const std::filesystem::path path = dir_ / temporary;
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd)
    return systemError("cannot create " + path.string());
  pending_.emplace_back(temporary, name);
  bool written = writeAll(fd.get(), bytes);
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
  return syncFolder(dir_);
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
  if (look(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode))
    return std::nullopt;
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::follow ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd)
    return std::nullopt;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_ino != before.st_ino ||
      info.st_dev != before.st_dev) {
    return std::nullopt;
  }
  std::string content;
  content.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  for (;;) {
    if (filled == content.size())
      content.resize(content.size() * 2 + 4096);
    const ssize_t got = ::read(fd.get(), content.data() + filled, content.size() - filled);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      return std::nullopt;
    }
    if (got == 0)
      break;
    filled += static_cast<std::size_t>(got);
  }
  content.resize(filled);
  return content;
}

}  // namespace tembra::local
