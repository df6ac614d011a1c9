// An SQLite VFS that can only read: it opens a database and its journals
// read-only and never creates or deletes a file. A connection through it can
// read what exists but never leave a -wal, -journal or other file behind,
// whatever its user may write.
//
// Registering it also changes two of SQLite's system calls for the whole
// process, which only ever reads databases:
//   - open: every file is opened without blocking and kept only if it is a
//     regular file or a folder, so that a FIFO or device put where a
//     database, -wal, -journal or -shm should be can't hang or feed a read;
//   - fchown and fchmod: do nothing. SQLite running as root gives every
//     -wal, -shm and -journal it opens its database's owner, and an empty one
//     its database's mode, which would change their change times, and a
//     reader has no business changing owners or modes.
// When it is the first use of SQLite in the process, it also has each
// connection's page cache start empty rather than with a bulk of pages.
#pragma once

#include <optional>
#include <string>

// The VFS's name for sqlite3_open_v2, registered on the first call; nullptr
// when SQLite has no default VFS to build on.
const char* readonly_vfs_name();

// The database's path as SQLite resolves it (absolute, symbolic links
// followed): the -wal, -shm and -journal SQLite uses are this path with their
// suffix. Absent when it can't be resolved.
std::optional<std::string> resolved_db_path(const std::string& path);
