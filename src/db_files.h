// What an SQLite database's files say at one moment, from outside SQLite: how
// the database is journalled, which of its companion files (-wal, -shm,
// -journal) exist, and the markers that every commit changes.
#pragma once

#include <array>
#include <cerrno>
#include <ctime>
#include <string>
#include <sys/types.h>

// How the database's header says it is journalled.
enum class journal_mode {
    unknown,  // no readable SQLite header: missing, empty, not a database
    rollback, // a -journal while a transaction writes
    wal,      // a write-ahead log (-wal) and its index (-shm)
};

// Identity, size and modification time of one file, or that it doesn't
// exist. The change time is left out: it tells of owners and modes, not of
// data. Times are only ever compared with the same file's earlier times,
// never with the clock, so a file dated in the future is like any other.
struct file_stamp {
    bool exists = false;
    bool regular = false; // a regular file, not a FIFO, device or folder
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::time_t modified_s = 0;
    long modified_ns = 0;
    bool operator==(const file_stamp&) const = default;
};

// The database and its companions at one moment. Two states compare equal
// only if nothing was committed between them: a rollback-mode commit
// increments the header's change counter, and a WAL-mode commit appends to
// the -wal (its size grows) or starts it afresh (its salts change), then
// publishes itself in the -shm's index header (its change counter and last
// frame move; a state taken between the two steps differs from the one
// after). Sizes and times are compared too, which only ever makes a state
// differ more often; the -shm's times are not, since readers write it.
struct db_files_state {
    // The paths SQLite uses: the database with symbolic links resolved.
    std::string resolved_path;
    file_stamp database;
    int database_error = 0; // errno of a database that couldn't be opened, or 0
    journal_mode journal = journal_mode::unknown;
    // Header bytes 24-27, the change counter.
    std::array<unsigned char, 4> change_counter{};
    file_stamp wal;
    // WAL header bytes 12-23: the checkpoint sequence and the two salts.
    std::array<unsigned char, 12> wal_salts{};
    file_stamp rollback_journal;
    file_stamp wal_index;
    // The start of the -shm: the WAL index header.
    std::array<unsigned char, 48> wal_index_header{};

    bool operator==(const db_files_state& other) const;
};

// Looks at the database at path and its companions (beside the file the path
// resolves to, as SQLite finds them) without locking or changing anything.
// Only regular files are opened, and without blocking, so a FIFO or device at
// one of the paths is never read.
db_files_state inspect_db_files(const std::string& path);
