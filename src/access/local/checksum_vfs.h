// A SQLite VFS that keeps a checksum of every page of a database, in the database file and in its
// WAL, so that a page changed by anything but SQLite is noticed when it is read.
#pragma once

namespace tembra::local::sql {

// The bytes at the end of each page that hold its checksum: a database read through the VFS must
// reserve them (SQLITE_FCNTL_RESERVE_BYTES) before its first page is written.
inline constexpr int kChecksumBytes = 8;

// The name of the VFS, registered on first use, once per process and not as the default. It wraps
// the default VFS: a whole page written to a database or to its WAL gets its checksum, and a whole
// page read whose checksum does not match fails with SQLITE_IOERR_DATA. A database that has moved
// (deleted, or another file in its place) gets no new WAL. Null when SQLite has no VFS to wrap.
const char* checksumVfs();

}  // namespace tembra::local::sql
