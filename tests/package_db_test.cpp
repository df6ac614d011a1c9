#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fixtures.h"
#include "package_db.h"

using namespace std::string_view_literals;

namespace {

using namespace std::chrono_literals;

// A clock the test moves by hand.
struct manual_clock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    void advance(std::chrono::steady_clock::duration by) { now += by; }
};

// Timing that looks at the files before every lookup: each lookup sees every
// commit made before it.
package_db_timing always_fresh(std::size_t direct_lookups) {
    package_db_timing timing;
    timing.direct_lookups = direct_lookups;
    timing.recheck = 0s;
    timing.retry = 0s;
    return timing;
}

// The two ways of answering: a query per lookup, and the table read whole at
// the first lookup. Every answer must be the same either way.
class lookup_installed_version_test : public testing::TestWithParam<std::size_t> {
protected:
    fixture::temp_dir dir;
    std::filesystem::path db = dir / "local.sqlite";

    [[nodiscard]] package_db open_db() const { return package_db(db, always_fresh(GetParam())); }

    // A lookup by a database object of its own, as the first match of a scan.
    std::optional<std::string> lookup(std::optional<std::string_view> name) {
        package_db database = open_db();
        return database.lookup_installed_version(name);
    }

    // A fresh database in the journal mode given, holding zsh at version.
    void make_zsh_db(const std::string& journal_mode, const std::string& version) {
        std::filesystem::remove(db);
        fixture::run_sql(db, "PRAGMA journal_mode = " + journal_mode +
                                 "; CREATE TABLE packages (name TEXT, version TEXT);"
                                 "INSERT INTO packages VALUES ('zsh', '" +
                                 version + "');");
    }
};

INSTANTIATE_TEST_SUITE_P(reads, lookup_installed_version_test, testing::Values(1000, 0),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             return info.param == 0 ? "whole_table" : "one_row_each";
                         });

TEST_P(lookup_installed_version_test, answers_from_the_packages_table) {
    fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4") +
                                     fixture::package_insert("py311-requests", "2.32.3") +
                                     fixture::package_insert("o'neil", "1.0,1"));
    package_db database = open_db();
    const auto lookup = [&database](std::optional<std::string_view> name) {
        return database.lookup_installed_version(name);
    };
    EXPECT_EQ(lookup("zsh"sv), "5.9_4");
    EXPECT_EQ(lookup("py311-requests"sv), "2.32.3");
    EXPECT_EQ(lookup("bash"sv), std::nullopt);
    EXPECT_EQ(lookup("ZSH"sv), std::nullopt) << "names compare exactly";
    EXPECT_EQ(lookup("zsh-5.9_4"sv), std::nullopt) << "the name has no version";
    EXPECT_EQ(lookup("o'neil"sv), "1.0,1") << "a quote in a name is part of the name";
    EXPECT_EQ(lookup("x' OR '1'='1"sv), std::nullopt) << "a quote can't end the literal";
    EXPECT_EQ(lookup("zsh'; DROP TABLE packages; --"sv), std::nullopt);
    EXPECT_EQ(lookup("zsh"sv), "5.9_4") << "the table is still there";
    EXPECT_EQ(lookup(std::nullopt), std::nullopt);
}

TEST_P(lookup_installed_version_test, takes_the_first_row_and_treats_null_as_absent) {
    fixture::run_sql(
        db, "CREATE TABLE packages (name TEXT, version TEXT);"
            "INSERT INTO packages VALUES ('twice', '1'), ('twice', '2'),"
            " ('nothing', NULL), ('empty', ''), (NULL, '3'), ('nul', 'a' || char(0) || 'b'),"
            " (x'6e756d', '4'), ('null-first', NULL), ('null-first', '5');");
    EXPECT_EQ(lookup("twice"sv), "1");
    EXPECT_EQ(lookup("nothing"sv), std::nullopt);
    EXPECT_EQ(lookup("empty"sv), "");
    EXPECT_EQ(lookup("nul"sv), "a") << "a NUL ends the version";
    EXPECT_EQ(lookup("num"sv), std::nullopt) << "a name stored as a blob is not that text";
    EXPECT_EQ(lookup("null-first"sv), std::nullopt);
}

TEST_P(lookup_installed_version_test, a_missing_database_is_absent_and_not_created) {
    EXPECT_EQ(lookup("zsh"sv), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(db));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_P(lookup_installed_version_test, unusable_databases_are_absent) {
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"text", [&] { fixture::write_file(db, "this is not an SQLite database\n"); }},
        {"zero bytes", [&] { fixture::write_file(db, ""); }},
        {"no packages table",
         [&] { fixture::run_sql(db, "CREATE TABLE other (name TEXT, version TEXT);"); }},
        {"no version column",
         [&] {
             fixture::run_sql(db, "CREATE TABLE packages (name TEXT, origin TEXT);"
                                  "INSERT INTO packages VALUES ('zsh', 'shells/zsh');");
         }},
        {"a directory", [&] { std::filesystem::create_directory(db); }},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(db.c_str(), 0644), 0); }},
        {"a view that never ends",
         [&] {
             fixture::run_sql(db, "CREATE VIEW packages AS WITH RECURSIVE n(i) AS (SELECT 1 "
                                  "UNION ALL SELECT i + 1 FROM n) SELECT 'p' || i AS name, "
                                  "'1' AS version FROM n;");
         }},
    };
    for (const auto& [label, make] : cases) {
        std::filesystem::remove_all(db);
        make();
        EXPECT_EQ(lookup("zsh"sv), std::nullopt) << label;
    }
}

TEST_P(lookup_installed_version_test, never_changes_a_rollback_journal_database) {
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;"
                         "CREATE TABLE packages (name TEXT, version TEXT);"
                         "INSERT INTO packages VALUES ('zsh', '5.9');");
    const std::string before = fixture::read_file(db);
    const auto modified = std::filesystem::last_write_time(db);
    EXPECT_EQ(lookup("zsh"sv), "5.9");
    EXPECT_EQ(lookup("bash"sv), std::nullopt);
    EXPECT_EQ(fixture::read_file(db), before);
    EXPECT_EQ(std::filesystem::last_write_time(db), modified);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no journal or other file was left beside it";
}

// One database object through a scan: locked at the first lookups, unlocked
// before a later one.
TEST_P(lookup_installed_version_test, a_database_locked_by_a_writer_is_absent_at_once) {
    for (const char* mode : {"DELETE", "WAL"}) {
        make_zsh_db(mode, "5.9");
        package_db database = open_db();
        const fixture::connection writer = fixture::begin_exclusive_write(db, "6");
        // A rollback journal locks readers out; WAL lets them read the last commit.
        const std::optional<std::string> expected =
            std::string(mode) == "WAL" ? std::optional<std::string>("5.9") : std::nullopt;
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), expected) << mode;
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), expected) << mode << ", again";
        fixture::exec(writer.get(), "COMMIT;");
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "6")
            << mode << ", after the writer is done";
    }
}

// No read outlives a lookup: a writer without a busy timeout commits at once
// between two lookups, and the next lookup sees the commit.
TEST_P(lookup_installed_version_test, no_lock_outlives_a_lookup) {
    for (const char* mode : {"DELETE", "WAL"}) {
        make_zsh_db(mode, "1");
        package_db database = open_db();
        const fixture::connection writer = fixture::open_for_writing(db);
        for (int version = 1; version <= 5; ++version) {
            EXPECT_EQ(database.lookup_installed_version("bash"sv), std::nullopt) << mode;
            // A row found is where a read could be left open.
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::to_string(version)) << mode;
            fixture::exec(writer.get(), "BEGIN EXCLUSIVE; UPDATE packages SET version = '" +
                                            std::to_string(version + 1) + "'; COMMIT;");
        }
    }
}

TEST_P(lookup_installed_version_test, a_database_that_appears_part_way_is_seen) {
    package_db database = open_db();
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "nothing was created";
    fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4"));
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9_4");
}

// A commit shows once the files were looked at again: at most timing.recheck
// after it, and never before the clock says so.
TEST(lookup_installed_version_timing, a_commit_shows_within_the_recheck_interval) {
    const fixture::temp_dir dir;
    const std::filesystem::path db = dir / "local.sqlite";
    fixture::make_package_db(db, fixture::package_insert("zsh", "1"));
    manual_clock clock;
    package_db_timing timing;
    timing.direct_lookups = 1;
    timing.now = [&clock] { return clock.now; };
    package_db database(db, timing);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << "one row";
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << "the whole table";
    // Older than a clock tick, so that the commit shows in the file's time.
    std::this_thread::sleep_for(30ms);
    fixture::run_sql(db, "UPDATE packages SET version = '2';");
    clock.advance(timing.recheck / 2);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << "not looked at yet";
    clock.advance(timing.recheck / 2);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2");
}

// Another process holding the lock bytes of a database, as a writer in the
// middle of a commit does, without changing any of its files.
class lock_holder {
public:
    explicit lock_holder(const std::filesystem::path& db) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) {
            return;
        }
        child_ = fork();
        if (child_ == 0) {
            close(release_[1]); // the parent's end: closing it releases the lock
            // SQLite's lock bytes: the pending byte, the reserved byte and
            // the shared range, from 1 GiB on.
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = 0x40000000;
            lock.l_len = 512;
            const int fd = ::open(db.c_str(), O_RDWR);
            const char done = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            char go = 0;
            if (write(ready[1], &done, 1) != 1 || read(release_[0], &go, 1) < 0) {
                _exit(1);
            }
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char done = 0;
        locked_ = read(ready[0], &done, 1) == 1 && done == 'y';
        close(ready[0]);
    }
    ~lock_holder() { release(); }
    lock_holder(const lock_holder&) = delete;
    lock_holder& operator=(const lock_holder&) = delete;
    [[nodiscard]] bool locked() const { return locked_; }
    void release() {
        if (child_ > 0) {
            close(release_[1]);
            waitpid(child_, nullptr, 0);
            child_ = -1;
        }
    }

private:
    int release_[2] = {-1, -1};
    pid_t child_ = -1;
    bool locked_ = false;
};

// A database that can't be read costs one attempt: while its files stay as
// they were it is tried again only once timing.retry has passed.
TEST(lookup_installed_version_timing, a_failed_database_is_tried_again_after_the_retry_interval) {
    const fixture::temp_dir dir;
    const std::filesystem::path db = dir / "local.sqlite";
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;"
                         "CREATE TABLE packages (name TEXT, version TEXT);"
                         "INSERT INTO packages VALUES ('zsh', '5.9');");
    manual_clock clock;
    package_db_timing timing;
    timing.now = [&clock] { return clock.now; };
    package_db database(db, timing);
    lock_holder holder(db);
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt) << "locked";
    holder.release();
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt) << "not tried again";
    clock.advance(timing.recheck);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt)
        << "the files look the same";
    clock.advance(timing.retry - timing.recheck);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9") << "tried again";
}

// A name that isn't installed is an answer, not a failure: the lookups after
// it are answered as before (one row each: from the file, which is not taken
// for broken; the whole table: from memory, without the file being read
// again, so that even a rename doesn't show before the recheck).
TEST(lookup_installed_version_timing, a_name_not_installed_is_no_failure) {
    for (const std::size_t direct_lookups : {std::size_t{1000}, std::size_t{0}}) {
        const fixture::temp_dir dir;
        const std::filesystem::path db = dir / "local.sqlite";
        fixture::make_package_db(db, fixture::package_insert("zsh", "5.9"));
        manual_clock clock;
        package_db_timing timing;
        timing.direct_lookups = direct_lookups;
        timing.now = [&clock] { return clock.now; };
        package_db database(db, timing);
        const char* const mode = direct_lookups == 0 ? "whole table" : "one row each";
        EXPECT_EQ(database.lookup_installed_version("bash"sv), std::nullopt) << mode;
        if (direct_lookups == 0) {
            std::filesystem::rename(db, dir / "moved.sqlite");
        }
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9") << mode;
        EXPECT_EQ(database.lookup_installed_version("bash"sv), std::nullopt) << mode;
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9") << mode;
    }
}

// As an ordinary user, in a folder that user can't write, a WAL database can only be read as it
// stands; the folder's name must survive the URI that asks for that. Read as it stands, the
// database sees no change of its own, so a change to the file must still reach the next lookup.
TEST(lookup_installed_version, an_ordinary_user_reads_a_wal_database_it_cannot_write_beside) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become nobody";
    }
    const fixture::temp_dir dir;
    const std::filesystem::path folder = dir / "pkg?a=1%20#b";
    std::filesystem::create_directory(folder);
    const std::filesystem::path db = folder / "local.sqlite";
    fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4"));
    fixture::open_to_all(dir.path());

    int answers[2];
    int go_on[2];
    ASSERT_EQ(pipe(answers), 0);
    ASSERT_EQ(pipe(go_on), 0);
    const pid_t child = fork();
    if (child == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
            _exit(2);
        }
        package_db database(db, always_fresh(0));
        for (int lookup = 0; lookup < 2; ++lookup) {
            char go = 0;
            if (lookup > 0 && read(go_on[0], &go, 1) != 1) {
                _exit(3);
            }
            const std::string answer =
                database.lookup_installed_version("zsh"sv).value_or("absent") + "\n";
            if (write(answers[1], answer.data(), answer.size()) <= 0) {
                _exit(4);
            }
        }
        _exit(0);
    }
    close(answers[1]);
    close(go_on[0]);
    FILE* from_child = fdopen(answers[0], "r");
    const auto next_answer = [from_child] {
        char line[64] = {};
        return std::fgets(line, sizeof line, from_child) != nullptr ? std::string(line) : "";
    };
    EXPECT_EQ(next_answer(), "5.9_4\n");
    // The writer's close moves the change into the main file.
    fixture::run_sql(db, "UPDATE packages SET version = '5.9_5' WHERE name = 'zsh';");
    EXPECT_EQ(write(go_on[1], "x", 1), 1);
    EXPECT_EQ(next_answer(), "5.9_5\n");
    std::fclose(from_child);
    close(go_on[1]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(folder / "local.sqlite-shm"));
}

} // namespace
