// The installed version of a port, from the package manager's SQLite database.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "db_files.h"
#include "package_table.h"

// When the database is read, looked at again and tried again.
struct package_db_timing {
    using duration = std::chrono::steady_clock::duration;
    // Lookups answered one query each, before the whole table is read once:
    // a search with few matches doesn't pay for reading every package.
    std::size_t direct_lookups = 8;
    // How often, at most, the files are looked at for a commit since the
    // table was read, or for a change that may make a failed database
    // readable: the longest a commit goes unseen.
    duration recheck = std::chrono::milliseconds(10);
    // How often, at most, a database that couldn't be read is tried again
    // though its files look the same (a lock that changed nothing).
    duration retry = std::chrono::milliseconds(250);
    // The clock those intervals are measured on.
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

// The package manager's database, asked about one port after another during
// a scan. It is only ever read: nothing is created, changed or deleted beside
// it, and no lock is held between lookups (see package_table.h).
//
// The first lookups each read one row; once matches keep coming the whole
// table is read into memory in one read, and the connection is closed. A
// search without a match never touches the database.
//
// Answers are fresh to within timing.recheck: a commit is seen by every
// lookup made that long after it. The files are looked at no more often than
// that, and the table is read again when they changed.
//
// Any failure (no file, not a database, no packages table, locked by a
// writer, a hot journal) makes every port absent, with no message and no
// wait. A failed database is tried again only when its files change, or
// after timing.retry.
class package_db {
public:
    explicit package_db(std::string path, package_db_timing timing = {});

    // The version of the package called name (without its version), absent
    // when it isn't installed or the database can't be read.
    std::optional<std::string> lookup_installed_version(std::optional<std::string_view> name);

private:
    using time_point = std::chrono::steady_clock::time_point;

    // Whether the files are to be looked at now, and if so marks it done.
    bool due_for_check(time_point now);
    std::optional<std::string> read(std::string_view name, time_point now);

    std::string path_;
    package_db_timing timing_;
    std::size_t reads_ = 0;                   // reads of one row so far
    std::optional<installed_versions> table_; // the table, once read whole
    bool failed_ = false;                     // the last read failed
    db_files_state state_; // the files when the table was read, or the read failed
    time_point checked_at_{};
    time_point failed_at_{};
};
