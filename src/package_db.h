// The package manager's database, asked about one port after another during
// a scan. It is only ever read: nothing is created, changed or deleted beside
// it, and no lock is held between lookups (see package_table.h).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "db_files.h"
#include "package_table.h"

// When the database is read, looked at again and tried again, and the seams
// through which a test stands in for the clock and the files.
struct package_db_timing {
    using duration = std::chrono::steady_clock::duration;
    // How often, at most, the files are looked at for a commit since the
    // table was read: the longest a commit goes unseen while reads are quick.
    duration recheck = std::chrono::milliseconds(10);
    // How long after a failure for want of a lock (a writer at work) the
    // database is tried again though its files look the same. Other failures
    // are tried again only when the files change.
    duration retry = std::chrono::milliseconds(250);
    // The longest a table is kept without being read again while lookups go
    // on. A WAL writer that opens, commits, checkpoints and closes between
    // two looks changes none of SQLite's markers, only the data and the
    // file's time, which on a file system with a coarse clock (a second on
    // some) may read the same: such a commit shows within this.
    duration trust = std::chrono::seconds(1);
    // Reads after the first are made only while they have taken no more
    // than 1 / (share + 1) of the time since the first ended: a slow table
    // reread in a storm of commits, or a database that fails slowly and is
    // tried again, can't take over the search.
    int share = 4;
    // How long one read may wait for a lock and run.
    read_limits limits;
    // The clock of those intervals, and what the files say.
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
    std::function<db_files_state(const std::string& path)> inspect = inspect_db_files;
};

// Called once, with the reason, the first time a lookup is answered without
// the table because the database couldn't be read.
using db_trouble_report = std::function<void(const std::string& reason)>;

// The table is read whole at the first lookup and kept; the files are looked
// at again every timing.recheck (or longer after a slow read), and the table
// is read again when they say a commit happened. Freshness is decided by
// what the files say, never by their times against the clock.
//
// A read that fails keeps the table read before, if any: the last committed
// state known, rather than "not installed" because a writer is busy. A
// database that can't be read at all (not a database, no packages table,
// permission, a hot journal, locked, a FIFO) answers every lookup as not
// installed, and is reported once. A database that doesn't exist is no
// trouble: nothing is installed.
class package_db {
public:
    explicit package_db(std::string path, package_db_timing timing = {},
                        db_trouble_report report = nullptr);

    // The packages table as it stands now (fresh to within timing.recheck);
    // nullptr while the database can't be read.
    const installed_packages* packages();

    // Reads the database now, for a search that can't go on without it: the
    // reason it can't be read, a missing file included, or absent when it can.
    std::optional<std::string> require();

    // The version of the package called name (without its version), absent
    // when it isn't installed or the database can't be read.
    std::optional<std::string> lookup_installed_version(std::optional<std::string_view> name);

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    using time_point = std::chrono::steady_clock::time_point;

    void refresh(time_point now);
    void read(time_point now);

    std::string path_;
    package_db_timing timing_;
    db_trouble_report report_;
    std::optional<installed_packages> table_;
    bool read_once_ = false;
    bool missing_ = false;
    std::string failure_; // why the last read failed; empty after a good one
    bool locked_ = false; // the last read failed for want of a lock
    bool reported_ = false;
    db_files_state state_;                        // the files before the last read
    time_point checked_at_{};                     // when the files were last looked at or read
    time_point failed_at_{};                      // when the last read failed
    time_point read_at_{};                        // when the table was last read
    time_point first_read_at_{};                  // when the first read ended
    std::chrono::steady_clock::duration spent_{}; // in reads after the first
};
