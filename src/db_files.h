// What an SQLite database's files look like at one moment, from outside
// SQLite: how the database is journalled, which of its companion files
// (-wal, -shm, -journal) exist, and a state that changes with every commit.
#pragma once

#include <array>
#include <string>
#include <sys/types.h>

// How the database's header says it is journalled.
enum class journal_mode {
    unknown,  // no readable SQLite header: missing, empty, not a database
    rollback, // a -journal while a transaction writes
    wal,      // a write-ahead log (-wal) and its index (-shm)
};

// Identity, size and modification time of one file, or that it doesn't
// exist. The change time is left out: SQLite running as root gives a -wal or
// -journal its database's owner each time it opens one, which changes that
// time though nothing was written.
struct file_stamp {
    bool exists = false;
    bool regular = false; // a regular file, not a FIFO, device or folder
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long modified_s = 0;
    long modified_ns = 0;
    bool operator==(const file_stamp&) const = default;
};

// The database and its companions at one moment. Two states compare equal
// only if no transaction was committed between them, with one exception that
// settled covers: file times are only as fine as the kernel's clock tick, so
// a commit in the same tick as an earlier write can leave the times alone.
struct db_files_state {
    file_stamp database;
    journal_mode journal = journal_mode::unknown;
    // Header bytes 24-27, the change counter that every rollback-mode commit
    // increments.
    std::array<unsigned char, 4> change_counter{};
    file_stamp wal;
    file_stamp rollback_journal;
    file_stamp wal_index;
    // The start of the -shm file: the WAL index header that every WAL-mode
    // commit rewrites.
    std::array<unsigned char, 48> wal_index_header{};
    // Whether the database, -wal and -journal were last written long enough
    // ago (more than a clock tick) for a later commit to show in their
    // times. Not compared.
    bool settled = true;

    bool operator==(const db_files_state& other) const;
};

// Looks at the database at path and its companions without locking or
// changing anything. Only regular files are opened, and without blocking, so
// a FIFO or device at one of the paths is never opened.
db_files_state inspect_db_files(const std::string& path);
