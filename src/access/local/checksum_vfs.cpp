// Page checksums for SQLite: a shim over the default VFS.
#include "access/local/checksum_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace tembra::local::sql {
namespace {

constexpr const char* kName = "tembra-checksums";

// The WAL's layout (SQLite's file format): a 32-byte header, then frames, each a 24-byte header
// and a page.
constexpr sqlite3_int64 kWalHeader = 32;
constexpr sqlite3_int64 kFrameHeader = 24;

// A file of the VFS, in the space SQLite gives it: this, then the wrapped file.
struct File {
  sqlite3_file base;  // what SQLite sees; first, so that both have one address
  File* database;     // the database file: this one, or the one this WAL belongs to
  bool wal;
  bool checkpointing;  // of a database: a checkpoint is copying pages into it from the WAL

  sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};
static_assert(sizeof(File) % alignof(std::int64_t) == 0, "the wrapped file follows, aligned");

File& fileOf(sqlite3_file* file) {
  return *reinterpret_cast<File*>(file);
}
sqlite3_file* inner(sqlite3_file* file) {
  return fileOf(file).inner();
}
sqlite3_vfs* wrapped(sqlite3_vfs* vfs) {
  return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

struct Free {
  void operator()(unsigned char* bytes) const { sqlite3_free(bytes); }
};

// SQLite reads and writes the pages of a database and of its WAL whole, and everything else
// (headers, frame headers, whole frames) in pieces of other sizes.
bool isPage(int size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

std::uint32_t littleEndian(const unsigned char* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
std::uint32_t bigEndian(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}
void putLittleEndian(unsigned char* bytes, std::uint32_t value) {
  for (int at = 0; at < 4; ++at)
    bytes[at] = static_cast<unsigned char>(value >> (8 * at));
}
void putBigEndian(unsigned char* bytes, std::uint32_t value) {
  for (int at = 0; at < 4; ++at)
    bytes[at] = static_cast<unsigned char>(value >> (24 - 8 * at));
}

// Two running sums over 32-bit words, as SQLite checksums WAL frames: cheap, and a changed byte
// always changes them. The byte order is a parameter of the template so that each word is one load:
// this runs over every page the index reads.
template <bool bigEndianWords>
void carrySumsIn(const unsigned char* bytes, int size, std::uint32_t sums[2]) {
  const auto word = bigEndianWords ? bigEndian : littleEndian;
  for (int at = 0; at < size; at += 8) {
    sums[0] += word(bytes + at) + sums[1];
    sums[1] += word(bytes + at + 4) + sums[0];
  }
}

void carrySums(const unsigned char* bytes, int size, bool bigEndianWords, std::uint32_t sums[2]) {
  if (bigEndianWords) {
    carrySumsIn<true>(bytes, size, sums);
  } else {
    carrySumsIn<false>(bytes, size, sums);
  }
}

// The checksum of a page, over all of it but the reserved bytes at its end that hold it.
void pageChecksum(const unsigned char* page, int size, unsigned char* checksum) {
  std::uint32_t sums[2] = {0, 0};
  carrySumsIn<false>(page, size - kChecksumBytes, sums);
  putLittleEndian(checksum, sums[0]);
  putLittleEndian(checksum + 4, sums[1]);
}

bool checksumMatches(const unsigned char* page, int size) {
  unsigned char checksum[kChecksumBytes];
  pageChecksum(page, size, checksum);
  return std::memcmp(checksum, page + size - kChecksumBytes, kChecksumBytes) == 0;
}

// SQLite writes a frame as its header, whose checksum covers the page as its cache holds it, then
// the page; the page written here carries a checksum of its own, so the frame's checksum is made
// again over the page as written, carried on from the one before it in the file. Otherwise the
// next recovery of the WAL would stop at that frame and lose the transactions after it.
int rewriteFrameChecksum(sqlite3_file* wal, sqlite3_int64 frame, const unsigned char* page,
                         int size) {
  const sqlite3_io_methods& io = *wal->pMethods;
  unsigned char walHeader[kWalHeader], header[kFrameHeader], before[8];
  int status = io.xRead(wal, walHeader, sizeof walHeader, 0);
  if (status == SQLITE_OK)
    status = io.xRead(wal, header, sizeof header, frame);
  if (status != SQLITE_OK)
    return status;
  // Salts and checksum still zero: SQLite checksums this frame again, from the file, when its
  // transaction commits.
  constexpr unsigned char kUnsalted[16] = {};
  if (std::memcmp(header + 8, kUnsalted, sizeof kUnsalted) == 0)
    return SQLITE_OK;
  if (frame == kWalHeader) {
    std::memcpy(before, walHeader + 24, sizeof before);
  } else {
    status = io.xRead(wal, before, sizeof before, frame - size - kFrameHeader + 16);
    if (status != SQLITE_OK)
      return status;
  }
  // The header's magic number, 0x377f0682 or 0x377f0683, names the byte order of the words.
  const bool bigEndianWords = (walHeader[3] & 1) != 0;
  std::uint32_t sums[2] = {bigEndian(before), bigEndian(before + 4)};
  carrySums(header, 8, bigEndianWords, sums);
  carrySums(page, size, bigEndianWords, sums);
  putBigEndian(header + 16, sums[0]);
  putBigEndian(header + 20, sums[1]);
  return io.xWrite(wal, header, sizeof header, frame);
}

int closeWrapped(sqlite3_file* file) {
  return inner(file)->pMethods->xClose(inner(file));
}

int readChecked(sqlite3_file* file, void* data, int size, sqlite3_int64 offset) {
  File& self = fileOf(file);
  const int status = self.inner()->pMethods->xRead(self.inner(), data, size, offset);
  // A checkpoint copies pages as they are (see writeChecksummed); their checksums are checked when
  // read.
  if (status != SQLITE_OK || !isPage(size) || self.database->checkpointing)
    return status;
  return checksumMatches(static_cast<const unsigned char*>(data), size) ? SQLITE_OK
                                                                        : SQLITE_IOERR_DATA;
}

int writeChecksummed(sqlite3_file* file, const void* data, int size, sqlite3_int64 offset) {
  File& self = fileOf(file);
  sqlite3_file* to = self.inner();
  // Pages a checkpoint copies from the WAL carry their checksums already, right or wrong: made
  // again, they would hide a page damaged in the WAL. Nor would a checkpoint that stopped at one
  // be better: the database would hold some pages of its last transactions and not others.
  if (!isPage(size) || self.database->checkpointing)
    return to->pMethods->xWrite(to, data, size, offset);
  const std::unique_ptr<unsigned char, Free> page(
      static_cast<unsigned char*>(sqlite3_malloc(size)));
  if (!page)
    return SQLITE_NOMEM;
  std::memcpy(page.get(), data, static_cast<std::size_t>(size));
  pageChecksum(page.get(), size, page.get() + size - kChecksumBytes);
  const sqlite3_int64 frame = offset - kFrameHeader;
  if (self.wal && frame >= kWalHeader && (frame - kWalHeader) % (size + kFrameHeader) == 0) {
    if (const int status = rewriteFrameChecksum(to, frame, page.get(), size); status != SQLITE_OK)
      return status;
  }
  return to->pMethods->xWrite(to, page.get(), size, offset);
}

int fileControl(sqlite3_file* file, int operation, void* argument) {
  File& self = fileOf(file);
  // SQLite tells the database file when a checkpoint starts and ends.
  if (operation == SQLITE_FCNTL_CKPT_START || operation == SQLITE_FCNTL_CKPT_DONE)
    self.checkpointing = operation == SQLITE_FCNTL_CKPT_START;
  return self.inner()->pMethods->xFileControl(self.inner(), operation, argument);
}

// Pages mapped into memory would be read past their checksums; declining makes SQLite read them.
int fetch(sqlite3_file*, sqlite3_int64, int, void** page) {
  *page = nullptr;
  return SQLITE_OK;
}

// The methods of a file, in the version of those of the file it wraps: SQLite asks the WAL
// methods of a database (version 2) and memory mapping (version 3) only of files that have them.
constexpr sqlite3_io_methods methodsOfVersion(int version) {
  sqlite3_io_methods methods{};
  methods.iVersion = version;
  methods.xClose = closeWrapped;
  methods.xRead = readChecked;
  methods.xWrite = writeChecksummed;
  methods.xTruncate = [](sqlite3_file* file, sqlite3_int64 size) {
    return inner(file)->pMethods->xTruncate(inner(file), size);
  };
  methods.xSync = [](sqlite3_file* file, int flags) {
    return inner(file)->pMethods->xSync(inner(file), flags);
  };
  methods.xFileSize = [](sqlite3_file* file, sqlite3_int64* size) {
    return inner(file)->pMethods->xFileSize(inner(file), size);
  };
  methods.xLock = [](sqlite3_file* file, int lock) {
    return inner(file)->pMethods->xLock(inner(file), lock);
  };
  methods.xUnlock = [](sqlite3_file* file, int lock) {
    return inner(file)->pMethods->xUnlock(inner(file), lock);
  };
  methods.xCheckReservedLock = [](sqlite3_file* file, int* held) {
    return inner(file)->pMethods->xCheckReservedLock(inner(file), held);
  };
  methods.xFileControl = fileControl;
  methods.xSectorSize = [](sqlite3_file* file) {
    return inner(file)->pMethods->xSectorSize(inner(file));
  };
  methods.xDeviceCharacteristics = [](sqlite3_file* file) {
    return inner(file)->pMethods->xDeviceCharacteristics(inner(file));
  };
  if (version >= 2) {
    methods.xShmMap = [](sqlite3_file* file, int region, int size, int extend,
                         void volatile** memory) {
      return inner(file)->pMethods->xShmMap(inner(file), region, size, extend, memory);
    };
    methods.xShmLock = [](sqlite3_file* file, int offset, int count, int flags) {
      return inner(file)->pMethods->xShmLock(inner(file), offset, count, flags);
    };
    methods.xShmBarrier = [](sqlite3_file* file) {
      inner(file)->pMethods->xShmBarrier(inner(file));
    };
    methods.xShmUnmap = [](sqlite3_file* file, int remove) {
      return inner(file)->pMethods->xShmUnmap(inner(file), remove);
    };
  }
  if (version >= 3) {
    methods.xFetch = fetch;
    methods.xUnfetch = [](sqlite3_file* file, sqlite3_int64 offset, void* page) {
      return inner(file)->pMethods->xUnfetch(inner(file), offset, page);
    };
  }
  return methods;
}

constexpr sqlite3_io_methods kMethods[] = {methodsOfVersion(1), methodsOfVersion(2),
                                           methodsOfVersion(3)};

int openChecked(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags,
                int* outFlags) {
  sqlite3_vfs* base = wrapped(vfs);
  // Journals and temporary files hold no pages to check: they are the wrapped VFS's own.
  if ((flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_WAL)) == 0)
    return base->xOpen(base, name, file, flags, outFlags);
  File* self = new (static_cast<void*>(file)) File{};
  self->database = self;
  self->wal = (flags & SQLITE_OPEN_WAL) != 0;
  if (self->wal) {
    self->database = &fileOf(sqlite3_database_file_object(name));
    // A database deleted or replaced under its connection gets no new WAL: one made beside what
    // now has its name would be shared with that other database.
    sqlite3_file* database = self->database->inner();
    int moved = 0;
    if (database->pMethods->xFileControl(database, SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
        moved) {
      return SQLITE_CANTOPEN;
    }
  }
  sqlite3_file* opened = self->inner();
  const int status = base->xOpen(base, name, opened, flags, outFlags);
  if (status != SQLITE_OK) {
    if (opened->pMethods)
      opened->pMethods->xClose(opened);
    return status;
  }
  self->base.pMethods = &kMethods[std::clamp(opened->pMethods->iVersion, 1, 3) - 1];
  return SQLITE_OK;
}

sqlite3_vfs vfsOver(sqlite3_vfs* base) {
  sqlite3_vfs vfs{};
  vfs.iVersion = base->iVersion;
  vfs.szOsFile = static_cast<int>(sizeof(File)) + base->szOsFile;
  vfs.mxPathname = base->mxPathname;
  vfs.zName = kName;
  vfs.pAppData = base;
  vfs.xOpen = openChecked;
  vfs.xDelete = [](sqlite3_vfs* self, const char* name, int syncFolder) {
    return wrapped(self)->xDelete(wrapped(self), name, syncFolder);
  };
  vfs.xAccess = [](sqlite3_vfs* self, const char* name, int flags, int* result) {
    return wrapped(self)->xAccess(wrapped(self), name, flags, result);
  };
  vfs.xFullPathname = [](sqlite3_vfs* self, const char* name, int size, char* full) {
    return wrapped(self)->xFullPathname(wrapped(self), name, size, full);
  };
  vfs.xDlOpen = [](sqlite3_vfs* self, const char* name) {
    return wrapped(self)->xDlOpen(wrapped(self), name);
  };
  vfs.xDlError = [](sqlite3_vfs* self, int size, char* message) {
    wrapped(self)->xDlError(wrapped(self), size, message);
  };
  vfs.xDlSym = [](sqlite3_vfs* self, void* library, const char* symbol) {
    return wrapped(self)->xDlSym(wrapped(self), library, symbol);
  };
  vfs.xDlClose = [](sqlite3_vfs* self, void* library) {
    wrapped(self)->xDlClose(wrapped(self), library);
  };
  vfs.xRandomness = [](sqlite3_vfs* self, int size, char* bytes) {
    return wrapped(self)->xRandomness(wrapped(self), size, bytes);
  };
  vfs.xSleep = [](sqlite3_vfs* self, int microseconds) {
    return wrapped(self)->xSleep(wrapped(self), microseconds);
  };
  vfs.xCurrentTime = [](sqlite3_vfs* self, double* now) {
    return wrapped(self)->xCurrentTime(wrapped(self), now);
  };
  vfs.xGetLastError = [](sqlite3_vfs* self, int size, char* message) {
    return wrapped(self)->xGetLastError(wrapped(self), size, message);
  };
  vfs.xCurrentTimeInt64 = [](sqlite3_vfs* self, sqlite3_int64* now) {
    return wrapped(self)->xCurrentTimeInt64(wrapped(self), now);
  };
  vfs.xSetSystemCall = [](sqlite3_vfs* self, const char* name, sqlite3_syscall_ptr call) {
    return wrapped(self)->xSetSystemCall(wrapped(self), name, call);
  };
  vfs.xGetSystemCall = [](sqlite3_vfs* self, const char* name) {
    return wrapped(self)->xGetSystemCall(wrapped(self), name);
  };
  vfs.xNextSystemCall = [](sqlite3_vfs* self, const char* name) {
    return wrapped(self)->xNextSystemCall(wrapped(self), name);
  };
  return vfs;
}

}  // namespace

const char* checksumVfs() {
  static const char* const name = []() -> const char* {
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    if (!base)
      return nullptr;
    // SQLite keeps this one for the life of the process and links it into its list.
    static sqlite3_vfs vfs = vfsOver(base);
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? kName : nullptr;
  }();
  return name;
}

}  // namespace tembra::local::sql
