// File-system primitives of the local store: owned descriptors, the store lock and atomic writes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tembra::local {

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// An exclusive lock on the store, held by writers while they read, change and write. Readers take
// none: every file they read is replaced whole, by rename.
class StoreLock {
 public:
  // Blocks until the lock is held; an error text when the lock file cannot be opened.
  static std::optional<StoreLock> acquire(const std::filesystem::path& root, std::string& error);

 private:
  explicit StoreLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

inline constexpr std::string_view kLockFileName = ".lock";

// Writes bytes to dir/name through a temporary file beside it: written, flushed to disk, then
// renamed over the target, and the folder flushed, so a reader sees the old or the new file and
// never a part. An error text on failure, with the temporary file removed. A failure to flush the
// folder is a failure too, although the new file may then already be in place.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& dir,
                                               const std::string& name, std::string_view bytes);

// The store's files are as private as their folders. A file that is replaced keeps its mode and
// group, whatever the umask (a user who made an event 0600 keeps it so); a new file gets the
// read and write bits of its folder (0600 in a folder of 0700, 0644 in one of 0755), narrowed by
// the umask. Folders tembra makes get their parent's mode, but a new store's own folder, which is
// 0700.
mode_t newFileMode(const std::filesystem::path& dir);
// Makes the folder and any missing folder above it, each with `mode` (narrowed by the umask);
// an error text on failure.
std::optional<std::string> makeFolders(const std::filesystem::path& dir, mode_t mode);
// The permission bits of an existing folder; 0700 when it cannot be read.
mode_t folderMode(const std::filesystem::path& dir);

// Many files of one folder written as writeFileAtomically writes one, with one flush for all of
// them: every file is written to its temporary file, the file system is flushed once, then each
// is renamed over its target, and the folder is flushed once. A reader sees each file old or new,
// never a part; after a crash each file is old or new too, and every one is new once commit
// succeeded. Temporary files not renamed are removed when it ends; those of a writer killed
// meanwhile are left to removeTemporaries. Only for a caller that holds the store lock.
class FolderWrite {
 public:
  explicit FolderWrite(std::filesystem::path dir);
  FolderWrite(const FolderWrite&) = delete;
  FolderWrite& operator=(const FolderWrite&) = delete;
  ~FolderWrite();

  // Writes the bytes of dir/name to its temporary file; an error text on failure.
  std::optional<std::string> add(const std::string& name, std::string_view bytes);
  // Flushes, renames and flushes the folder, as above; an error text on failure, after which
  // some files may be new and the others old.
  std::optional<std::string> commit();

 private:
  std::filesystem::path dir_;
  // Opened before the first file is written: a flush through it reports every write error since.
  UniqueFd folder_;
  std::vector<std::pair<std::string, std::string>> pending_;  // temporary name, target name
  unsigned next_;  // the number of the next temporary file
};

// Removes dir/name and flushes the folder; an error text on failure.
std::optional<std::string> removeFile(const std::filesystem::path& dir, const std::string& name);

// True when something, of any type, is at the path; a symbolic link is not followed.
bool isPresent(const std::filesystem::path& path);

// Whether a path may lead through a symbolic link: never in the store, whose files come from
// other tools; the system's own data (time zones) links names to one another.
enum class Links { refuse, follow };

// The whole content of a regular file; absent when it cannot be read, or is a link (unless
// followed), a FIFO, a device or anything else that is not a regular file. Never blocks on one.
std::optional<std::string> readFile(const std::filesystem::path& path, Links links = Links::refuse);

// One entry of a folder: its name, its type as the listing gives it (DT_REG, DT_DIR, ..., or
// DT_UNKNOWN where the file system does not say), and the inode number the listing gives.
struct FolderEntry {
  std::string name;
  unsigned char type;
  std::uint64_t inode = 0;
};

// Every entry of a folder, "." and ".." included, in name order; empty when it cannot be read.
std::vector<FolderEntry> folderEntries(const std::filesystem::path& dir);
std::vector<FolderEntry> folderEntries(int dirFd);

// Opens a folder for reading its entries and the files in it; no link is followed.
UniqueFd openFolder(const std::filesystem::path& dir);

// What tells one version of a file from another: a file replaced by rename has another inode, one
// written in place another size or time (to the nanosecond; ctime moves on every change, even one
// that sets the modification time back).
struct FileVersion {
  std::uint64_t inode = 0;
  std::int64_t size = 0, modified = 0, changed = 0;
  bool operator==(const FileVersion&) const = default;
  // The later of its two times.
  std::int64_t latest() const { return modified > changed ? modified : changed; }
};

// The version of the regular file `name` in the folder; none when it is missing or no regular
// file.
std::optional<FileVersion> fileVersionAt(int dirFd, const std::string& name);
// The version of what the descriptor is open on, a folder as well as a file.
std::optional<FileVersion> versionOfOpen(int fd);

// A regular file's content and the version it was read from, taken from the open descriptor
// before and after reading it: `steady` is false when the file changed while it was read.
struct FileContent {
  std::string bytes;
  FileVersion version;
  bool steady = true;
};

// Reads the regular file `name` in the folder as readFile does; `whileReading`, when given, is
// called between reading and taking the version again.
std::optional<FileContent> readFileAt(int dirFd, const std::string& name,
                                      const std::function<void()>& whileReading = {});

// Flushes a folder's entries to disk; an error text on failure.
std::optional<std::string> syncFolder(const std::filesystem::path& dir);

// True for the names of the temporary files that writeFileAtomically makes.
bool isTemporaryName(std::string_view name);

// Removes the temporary files of writers that died before they renamed them. Only for a caller
// that holds the store lock: every live writer holds it while its temporary file exists.
void removeTemporaries(const std::filesystem::path& dir);

// The text of errno for a failed operation.
std::string systemError(std::string_view what);

// Collects, while it lives and on its thread, the first error that the store's reads meet other
// than "not there" (no such file or folder, or a link where the store keeps none): a disk error, a
// permission refused, a folder that cannot be listed. A lookup that met one cannot answer, since
// what it would leave out is unknown; a file that reads but is no iCalendar is no such error.
// Reads note nothing while no watch lives. Watches nest: an inner one hands what it met outward.
class ReadWatch {
 public:
  ReadWatch();
  ~ReadWatch();
  ReadWatch(const ReadWatch&) = delete;
  ReadWatch& operator=(const ReadWatch&) = delete;

  // The first error met, in words; none while every read found what was there or nothing.
  const std::optional<std::string>& failure() const { return failure_; }

 private:
  friend void noteReadError(std::string_view what);
  ReadWatch* outer_;
  std::optional<std::string> failure_;
};

// Called right after a read of `what` failed: notes errno's error to the living watch, unless it
// says that nothing is there.
void noteReadError(std::string_view what);

}  // namespace tembra::local
