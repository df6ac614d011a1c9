// An SQLite VFS that can only read: it opens a database and its journals
// read-only and never creates or deletes a file. A connection through it can
// read what exists but never leave a -wal, -journal or other file behind,
// whatever its user may write.
#pragma once

// The VFS's name for sqlite3_open_v2, registered on the first call; nullptr
// when SQLite has no default VFS to build on.
const char* readonly_vfs_name();
