#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "db_files.h"
#include "fixtures.h"
#include "lock_holder.h"
#include "package_db.h"
#include "package_table.h"
#include "readonly_vfs.h"

using namespace std::string_literals;
using namespace std::string_view_literals;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using time_point = std::chrono::steady_clock::time_point;

// A clock the test moves by hand. With a step, every reading moves it on by
// that much too, so that a read that never ends still runs out of time.
struct manual_clock {
    time_point now{std::chrono::hours(1)};
    std::chrono::steady_clock::duration step{};
    std::function<time_point()> function() {
        return [this] {
            const time_point reading = now;
            now += step;
            return reading;
        };
    }
};

// What the files are said to be when the package database looks at them:
// the files as they are, or a state the test holds fixed; and how often it
// looked.
struct file_looks {
    std::optional<db_files_state> shown;
    int count = 0;
    std::function<db_files_state(const std::string&)> function() {
        return [this](const std::string& path) {
            ++count;
            return shown ? *shown : inspect_db_files(path);
        };
    }
};

package_db_timing timing_on(manual_clock& clock, file_looks* looks = nullptr) {
    package_db_timing timing;
    timing.now = clock.function();
    timing.limits.now = timing.now;
    if (looks != nullptr) {
        timing.inspect = looks->function();
    }
    return timing;
}

// The columns a search reads, in the journal mode given, with rows added by
// the SQL after it.
void make_db(const fs::path& db, std::string_view journal_mode, const std::string& rows) {
    fixture::run_sql(db, "PRAGMA journal_mode = " + std::string(journal_mode) +
                             "; CREATE TABLE packages (name TEXT, origin TEXT, version TEXT);" +
                             rows);
}

// Commits without the checkpoint that the last connection to a WAL database
// makes as it closes: the commit stays in the -wal, beside the -shm, as a
// writer that was killed leaves it.
void commit_leaving_wal(const fs::path& db, const std::string& sql) {
    const fixture::connection writer = fixture::open_for_writing(db);
    sqlite3_db_config(writer.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    fixture::exec(writer.get(), sql);
}

std::string answer_text(const std::optional<std::string>& answer) {
    return answer ? *answer : "(not installed)";
}

// Counts the reads of one database: each opens a connection, which opens the
// file read-only through SQLite's open system call. The count wraps that
// call (after the read-only VFS has hooked it) and puts it back when it goes;
// only one counter can be alive at a time.
class read_counter {
public:
    explicit read_counter(const fs::path& db) {
        if (readonly_vfs_name() == nullptr) {
            throw std::runtime_error("no read-only VFS");
        }
        watched = resolved_db_path(db).value_or(db.string());
        opens = 0;
        unix_vfs = sqlite3_vfs_find(nullptr);
        previous = reinterpret_cast<open_call>(unix_vfs->xGetSystemCall(unix_vfs, "open"));
        unix_vfs->xSetSystemCall(unix_vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(counting));
    }
    ~read_counter() {
        unix_vfs->xSetSystemCall(unix_vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(previous));
    }
    read_counter(const read_counter&) = delete;
    read_counter& operator=(const read_counter&) = delete;
    [[nodiscard]] static int reads() { return opens; }

private:
    using open_call = int (*)(const char*, int, int);
    static int counting(const char* path, int flags, int mode) {
        if (path == watched && (flags & O_ACCMODE) == O_RDONLY) {
            ++opens;
        }
        return previous(path, flags, mode);
    }
    static inline std::string watched;
    static inline int opens = 0;
    static inline open_call previous = nullptr;
    static inline sqlite3_vfs* unix_vfs = nullptr;
};

bool become_nobody() {
    const passwd* nobody = getpwnam("nobody");
    return nobody != nullptr && setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
}

// What a forked child wrote, and how it ended.
struct child_outcome {
    std::string output;
    int status = 0;
    [[nodiscard]] bool ended_well() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
    [[nodiscard]] std::string how() const {
        if (WIFSIGNALED(status)) {
            return WTERMSIG(status) == SIGALRM
                       ? "stuck until the alarm"
                       : "killed by signal " + std::to_string(WTERMSIG(status));
        }
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
};

// The longest a child may take before its alarm ends it: a read that blocks
// fails the test instead of hanging the suite.
constexpr unsigned child_seconds = 10;

// Runs body in a forked child, as nobody when asked, and collects what it
// returns.
child_outcome run_in_child(const std::function<std::string()>& body, bool as_nobody = false) {
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        alarm(child_seconds);
        if (as_nobody && !become_nobody()) {
            _exit(2);
        }
        std::string text;
        try {
            text = body();
        } catch (...) {
            _exit(3);
        }
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = write(out[1], text.data() + done, text.size() - done);
            if (n <= 0) {
                _exit(4);
            }
            done += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(out[1]);
    child_outcome outcome;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            outcome.output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(out[0]);
    waitpid(child, &outcome.status, 0);
    return outcome;
}

// Everything stat says of each file in a folder, the folder included, by name.
using folder_listing = std::map<std::string, std::string>;

folder_listing list_folder(const fs::path& folder) {
    const auto describe = [](const fs::path& path) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            return "unreadable"s;
        }
        return "type/mode " + std::to_string(status.st_mode) + ", owner " +
               std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + ", size " +
               std::to_string(status.st_size) + ", modified " +
               std::to_string(status.st_mtim.tv_sec) + "." +
               std::to_string(status.st_mtim.tv_nsec) + ", changed " +
               std::to_string(status.st_ctim.tv_sec) + "." + std::to_string(status.st_ctim.tv_nsec);
    };
    folder_listing listing{{".", describe(folder)}};
    for (const auto& entry : fs::directory_iterator(folder)) {
        listing[entry.path().filename().string()] = describe(entry.path());
    }
    return listing;
}

// The time of day so far ahead of now.
timespec time_ahead(std::chrono::seconds ahead) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return {now.tv_sec + static_cast<std::time_t>(ahead.count()), now.tv_nsec};
}

void set_file_times(const fs::path& path, const timespec& when) {
    const timespec times[2] = {when, when};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat " + path.string());
    }
}

// --- reading the table ---

// Names are found byte for byte, however the table's columns are declared:
// the table is read whole and compared here, not by SQLite's collation or
// affinity. The first row of a name stands for it; a NULL version, a NULL
// name and a name stored as a blob are no package.
TEST(read_installed_packages, names_match_byte_for_byte_whatever_the_column_declares) {
    const std::string rows =
        "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9_4'), ('ZSH', 'x/zsh', '1.0_1'),"
        " ('o''neil', 'misc/oneil', '1.0,1'), ('caf' || char(233), 'misc/cafe', '2.0_1'),"
        " ('twice', 'a/first', '1_1'), ('twice', 'a/second', '2_2'),"
        " ('nothing', 'a/nothing', NULL), ('empty', 'a/empty', ''), (NULL, 'a/null', '3_3'),"
        " ('nul', 'a/nul', 'a' || char(0) || 'b'), (x'6e756d', 'a/num', '4_4'),"
        " ('null-first', 'a/nf', NULL), ('null-first', 'a/nf2', '5_5');";
    using expectation = std::pair<std::optional<std::string_view>, std::optional<std::string>>;
    const std::vector<expectation> lookups = {
        {"zsh"sv, "5.9_4"},
        {"ZSH"sv, "1.0_1"},
        {"Zsh"sv, std::nullopt},
        {"zsh "sv, std::nullopt},
        {"zsh-5.9_4"sv, std::nullopt},
        {"o'neil"sv, "1.0,1"},
        {"x' OR '1'='1"sv, std::nullopt},
        {"zsh'; DROP TABLE packages; --"sv, std::nullopt},
        {"caf\u00e9"sv, "2.0_1"},
        {"CAF\u00c9"sv, std::nullopt},
        {"cafe"sv, std::nullopt},
        {"twice"sv, "1_1"},
        {"nothing"sv, std::nullopt},
        {"empty"sv, ""},
        {""sv, std::nullopt},
        {"nul"sv, "a"},
        {"num"sv, std::nullopt},
        {"null-first"sv, std::nullopt},
        {std::nullopt, std::nullopt},
    };
    const std::vector<std::pair<const char*, const char*>> declarations = {
        {"plain", "name TEXT, origin TEXT, version TEXT"},
        {"NOCASE", "name TEXT COLLATE NOCASE, origin TEXT COLLATE NOCASE, version TEXT"},
        {"NUMERIC", "name NUMERIC, origin NUMERIC, version NUMERIC"},
    };
    for (const auto& [label, columns] : declarations) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        fixture::run_sql(db, "PRAGMA journal_mode = DELETE; CREATE TABLE packages (" +
                                 std::string(columns) + ");" + rows);
        const std::string before = fixture::read_file(db);
        package_db database(db.string());
        for (const auto& [name, version] : lookups) {
            EXPECT_EQ(database.lookup_installed_version(name), version)
                << label << ": " << (name ? std::string(*name) : "(no name)");
        }
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9_4") << label << ", again";
        EXPECT_EQ(fixture::read_file(db), before) << label;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1)
            << label << ": no journal or other file was left beside it";
    }
}

// Packages are found by origin too, in the order the table holds them; a
// table from before origins were kept is still read, by name.
TEST(read_installed_packages, finds_packages_by_origin_in_table_order) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    make_db(db, "WAL",
            "INSERT INTO packages VALUES ('py311-foo', 'devel/py-foo', '1.0'),"
            " ('zsh', 'shells/zsh', '5.9'), ('py312-foo', 'devel/py-foo', '1.1'),"
            " ('py310-foo', 'devel/py-foo', '0.9'), ('stray', NULL, '1');");
    const table_read read = read_installed_packages(db.string(), {});
    ASSERT_TRUE(read.packages) << read.failure;
    const installed_packages& table = *read.packages;
    EXPECT_TRUE(table.has_origins());
    const auto names_at = [&table](std::string_view origin) {
        std::vector<std::string> names;
        for (const installed_package* package : table.at_origin(origin)) {
            names.push_back(package->name);
        }
        return names;
    };
    EXPECT_EQ(names_at("devel/py-foo"),
              (std::vector<std::string>{"py311-foo", "py312-foo", "py310-foo"}));
    EXPECT_EQ(names_at("shells/zsh"), std::vector<std::string>{"zsh"});
    EXPECT_TRUE(names_at("devel/py").empty());
    EXPECT_TRUE(names_at("shells/zsh ").empty());
    ASSERT_NE(table.find_name("stray"), nullptr);
    EXPECT_EQ(table.find_name("stray")->origin, std::nullopt);
    EXPECT_EQ(table.find_name("py312-foo")->version, "1.1");
    EXPECT_EQ(table.all().size(), 5U);

    const fs::path old_db = dir / "old.sqlite";
    fixture::run_sql(old_db, "CREATE TABLE packages (name TEXT, version TEXT);"
                             "INSERT INTO packages VALUES ('zsh', '5.8'), ('bash', '5.2');");
    package_db old_database(old_db.string());
    const installed_packages* old_table = old_database.packages();
    ASSERT_NE(old_table, nullptr);
    EXPECT_FALSE(old_table->has_origins());
    EXPECT_TRUE(old_table->at_origin("shells/zsh").empty());
    EXPECT_EQ(old_database.lookup_installed_version("zsh"sv), "5.8");
    EXPECT_EQ(old_database.lookup_installed_version("bash"sv), "5.2");
    EXPECT_EQ(old_table->find_name("zsh")->origin, std::nullopt);
}

// A database that isn't there is no trouble: nothing is installed, nothing
// is reported, and nothing is created. A search that needs it hears why.
TEST(read_installed_packages, a_missing_database_is_an_empty_table_and_is_not_created) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    const table_read read = read_installed_packages(db.string(), {});
    EXPECT_TRUE(read.missing);
    ASSERT_TRUE(read.packages);
    EXPECT_TRUE(read.packages->all().empty());
    EXPECT_EQ(read.failure, "");

    int reports = 0;
    package_db database(db.string(), {}, [&reports](const std::string&) { ++reports; });
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt);
    EXPECT_EQ(reports, 0);
    const std::optional<std::string> needed = database.require();
    ASSERT_TRUE(needed);
    EXPECT_NE(*needed, "");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Every database that can't be read answers "not installed" with a reason,
// and is reported once however many lookups follow. The clock moves on at
// every reading, so a view that never ends runs out of time at once.
std::string verdict_on_unusable(const fs::path& db) {
    manual_clock clock;
    clock.step = 1ms;
    read_limits limits;
    limits.now = clock.function();
    const table_read read = read_installed_packages(db.string(), limits);
    std::string verdict = read.packages          ? "read a table"
                          : read.failure.empty() ? "failed without a reason"
                                                 : "failed with a reason";
    std::vector<std::string> reasons;
    package_db_timing timing = timing_on(clock);
    package_db database(db.string(), timing,
                        [&reasons](const std::string& reason) { reasons.push_back(reason); });
    int answered = 0;
    for (int lookup = 0; lookup < 6; ++lookup) {
        answered += database.lookup_installed_version("zsh"sv) ? 1 : 0;
        answered += database.lookup_installed_version("bash"sv) ? 1 : 0;
        clock.now += timing.retry;
    }
    const std::optional<std::string> needed = database.require();
    verdict +=
        "; answered " + std::to_string(answered) + "; reported " + std::to_string(reasons.size()) +
        (reasons.size() == 1 && reasons[0].empty() ? " without a reason" : "") + "; require " +
        (!needed           ? "passed"
         : needed->empty() ? "failed without a reason"
                           : "gave a reason");
    return verdict + "\n" + read.failure + " / " + (reasons.empty() ? "" : reasons[0]);
}

// A rollback-journal database whose writer died part way through a
// transaction it had spilled to the file: only a writer can roll it back.
void make_hot_journal(const fs::path& db) {
    const fixture::temp_dir work;
    const fs::path live = work / "live.sqlite";
    make_db(live, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
    fixture::run_sql(live, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 300) INSERT INTO packages SELECT 'p' || i, 'misc/p', "
                           "hex(randomblob(300)) FROM n;");
    const fixture::connection writer = fixture::open_for_writing(live);
    fixture::exec(writer.get(), "PRAGMA cache_size = 2; BEGIN; UPDATE packages SET version = "
                                "hex(randomblob(310));");
    fs::copy_file(live, db);
    fs::copy_file(work / "live.sqlite-journal", db.string() + "-journal");
}

TEST(read_installed_packages, an_unusable_database_is_not_installed_and_reported_once) {
    struct unusable {
        const char* label;
        std::function<void(const fs::path&)> make;
        bool as_nobody = false;
    };
    const std::vector<unusable> cases = {
        {"text", [](const fs::path& db) { fixture::write_file(db, "not an SQLite database\n"); }},
        {"zero bytes", [](const fs::path& db) { fixture::write_file(db, ""); }},
        {"no packages table",
         [](const fs::path& db) {
             fixture::run_sql(db, "CREATE TABLE other (name TEXT, version TEXT);");
         }},
        {"no version column",
         [](const fs::path& db) {
             fixture::run_sql(db, "CREATE TABLE packages (name TEXT, origin TEXT);"
                                  "INSERT INTO packages VALUES ('zsh', 'shells/zsh');");
         }},
        {"a directory", [](const fs::path& db) { fs::create_directory(db); }},
        {"a FIFO",
         [](const fs::path& db) {
             if (mkfifo(db.c_str(), 0644) != 0) {
                 throw std::runtime_error("mkfifo");
             }
         }},
        {"a view that never ends",
         [](const fs::path& db) {
             fixture::run_sql(db, "CREATE VIEW packages AS WITH RECURSIVE n(i) AS (SELECT 1 "
                                  "UNION ALL SELECT i + 1 FROM n) SELECT 'p' || i AS name, "
                                  "'1' AS version FROM n;");
         }},
        {"a hot journal", make_hot_journal},
        {"mode 0600, read by another user",
         [](const fs::path& db) {
             make_db(db, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
             fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
         },
         true},
    };
    const std::string expected =
        "failed with a reason; answered 0; reported 1; require gave a reason";
    for (const unusable& c : cases) {
        if (c.as_nobody && geteuid() != 0) {
            std::printf("skipped \"%s\": needs root to become nobody\n", c.label);
            continue;
        }
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        fixture::open_to_all(dir.path());
        c.make(db);
        const folder_listing before = list_folder(dir.path());
        // In a child: a read that blocks ends there, and nobody is a child's to become.
        const child_outcome outcome =
            run_in_child([&db] { return verdict_on_unusable(db); }, c.as_nobody);
        ASSERT_TRUE(outcome.ended_well()) << c.label << ": " << outcome.how();
        const std::size_t end = outcome.output.find('\n');
        EXPECT_EQ(outcome.output.substr(0, end), expected)
            << c.label << ": " << outcome.output.substr(end + 1);
        EXPECT_EQ(list_folder(dir.path()), before) << c.label;
    }
}

// A view that makes rows without end is given up even when the clock stands
// still and the time limit can't end it.
TEST(read_installed_packages, rows_without_end_are_given_up_with_the_clock_standing_still) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    fixture::run_sql(db, "CREATE VIEW packages AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                         "SELECT i + 1 FROM n) SELECT 'p' || i AS name, 'misc/p' AS origin, "
                         "'1' AS version FROM n;");
    const child_outcome outcome = run_in_child([&db] {
        manual_clock clock;
        read_limits limits;
        limits.now = clock.function();
        const table_read read = read_installed_packages(db.string(), limits);
        return read.packages ? "read a table"s : read.failure.empty() ? "no reason"s : "failed"s;
    });
    ASSERT_TRUE(outcome.ended_well()) << outcome.how();
    EXPECT_EQ(outcome.output, "failed");
}

// A FIFO where a -wal, -journal or -shm would be is never opened so as to
// block: the read fails at once, naming it, and nothing is created beside
// the database.
TEST(read_installed_packages, a_fifo_beside_the_database_never_blocks_a_read) {
    for (const char* mode : {"WAL", "DELETE"}) {
        for (const char* companion : {"-wal", "-shm", "-journal"}) {
            const std::string label = std::string(mode) + ", " + companion;
            const fixture::temp_dir dir;
            const fs::path db = dir / "local.sqlite";
            make_db(db, mode, "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
            const std::string fifo = db.string() + companion;
            ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0) << label;
            const folder_listing before = list_folder(dir.path());
            const child_outcome outcome = run_in_child([&db, &fifo] {
                const table_read read = read_installed_packages(db.string(), {});
                package_db database(db.string());
                const std::optional<std::string> answer =
                    database.lookup_installed_version("zsh"sv);
                const bool named = read.failure.find(fifo) != std::string::npos;
                return answer_text(answer) + (named ? "" : ", " + read.failure);
            });
            ASSERT_TRUE(outcome.ended_well()) << label << ": " << outcome.how();
            EXPECT_EQ(outcome.output, "(not installed)") << label;
            EXPECT_EQ(list_folder(dir.path()), before) << label;
        }
    }
}

// SQLite keeps a database off descriptors 0 to 2 by opening /dev/null in
// their place. A process started with them closed reads the database all
// the same.
TEST(read_installed_packages, reads_with_the_standard_descriptors_closed) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    make_db(db, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
    const child_outcome outcome = run_in_child([&db] {
        const int keep = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 10);
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        const table_read read = read_installed_packages(db.string(), {});
        dup2(keep, STDERR_FILENO);
        if (!read.packages) {
            return "failed: " + read.failure;
        }
        const installed_package* zsh = read.packages->find_name("zsh");
        return zsh != nullptr ? answer_text(zsh->version) : "(not installed)"s;
    });
    ASSERT_TRUE(outcome.ended_well()) << outcome.how();
    EXPECT_EQ(outcome.output, "5.9");
}

// --- freshness ---

// A commit shows once the files were looked at again: when timing.recheck
// has passed since the last look, and not before. Commits come as pkg makes
// them: to a rollback-journal database, to a WAL database by a writer that
// checkpoints as it closes, and left in the -wal by one that didn't.
TEST(package_db_freshness, a_commit_shows_once_the_recheck_interval_has_passed) {
    struct writer_case {
        const char* label;
        const char* journal_mode;
        std::function<void(const fs::path&, const std::string&)> commit;
    };
    const std::vector<writer_case> cases = {
        {"rollback journal", "DELETE", fixture::run_sql},
        {"WAL, checkpointed on close", "WAL", fixture::run_sql},
        {"WAL, left in the -wal", "WAL", commit_leaving_wal},
    };
    for (const writer_case& c : cases) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, c.journal_mode, "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
        manual_clock clock;
        const package_db_timing timing = timing_on(clock);
        package_db database(db.string(), timing);
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << c.label;
        for (int version = 2; version <= 4; ++version) {
            const std::string expected = std::to_string(version);
            c.commit(db, "UPDATE packages SET version = '" + expected + "';");
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::to_string(version - 1))
                << c.label << ": not looked at yet";
            clock.now += timing.recheck - 1ns;
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::to_string(version - 1))
                << c.label << ": still not";
            clock.now += 1ns;
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), expected) << c.label;
        }
    }
}

// The files are looked at no more often than timing.recheck, and while they
// stay as they were the table is kept, not read again.
TEST(package_db_freshness, unchanged_files_are_looked_at_each_recheck_and_not_reread) {
    for (const char* mode : {"DELETE", "WAL"}) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, mode, "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
        manual_clock clock;
        file_looks looks;
        const package_db_timing timing = timing_on(clock, &looks);
        const read_counter counter(db);
        package_db database(db.string(), timing);
        for (int lookup = 0; lookup < 10; ++lookup) {
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << mode;
        }
        EXPECT_EQ(counter.reads(), 1) << mode;
        EXPECT_EQ(looks.count, 0) << mode << ": the recheck interval hasn't passed";
        for (int recheck = 1; recheck <= 20; ++recheck) {
            clock.now += timing.recheck / 2;
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << mode;
            clock.now += timing.recheck / 2;
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1") << mode;
            EXPECT_EQ(database.lookup_installed_version("bash"sv), std::nullopt) << mode;
            EXPECT_EQ(looks.count, recheck) << mode;
        }
        EXPECT_EQ(counter.reads(), 1) << mode << ": the table was read again";
    }
}

// A commit that changes none of the markers (a WAL writer that came and went
// between two looks, on a file system whose clock is too coarse to date it)
// still shows once timing.trust has passed since the table was read: the
// files are said to be as they were, the data says otherwise.
TEST(package_db_freshness, a_commit_the_markers_miss_shows_once_the_trust_is_spent) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    make_db(db, "WAL", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
    manual_clock clock;
    file_looks looks;
    looks.shown = inspect_db_files(db.string());
    const package_db_timing timing = timing_on(clock, &looks);
    package_db database(db.string(), timing);
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "1");
    fixture::run_sql(db, "UPDATE packages SET version = '2';");
    const time_point read = clock.now;
    for (clock.now += timing.recheck; clock.now - read < timing.trust;
         clock.now += timing.recheck) {
        ASSERT_EQ(database.lookup_installed_version("zsh"sv), "1")
            << "read again " << (clock.now - read).count() << " ns after";
    }
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2");
}

// A read that fails for want of a lock is tried again after timing.retry
// though the files look the same. A database that is broken is tried again
// only when its files change, however long that takes. Either way the
// trouble is reported once.
TEST(package_db_freshness, a_locked_database_is_retried_and_a_broken_one_waits_for_a_change) {
    const fixture::temp_dir dir;
    const fs::path db = dir / "local.sqlite";
    make_db(db, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
    {
        fixture::lock_holder holder(db);
        ASSERT_TRUE(holder.locked());
        read_limits at_once;
        at_once.lock_wait = 0ms;
        const table_read read = read_installed_packages(db.string(), at_once);
        EXPECT_FALSE(read.packages);
        EXPECT_TRUE(read.locked);
        EXPECT_NE(read.failure, "");

        manual_clock clock;
        int reports = 0;
        package_db_timing timing = timing_on(clock);
        timing.limits.lock_wait = 0ms;
        package_db database(db.string(), timing, [&reports](const std::string&) { ++reports; });
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt) << "locked";
        holder.release();
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt) << "not tried again";
        // The files are looked at every recheck and look the same.
        const time_point failed = clock.now;
        for (clock.now += timing.recheck; clock.now - failed < timing.retry;
             clock.now += timing.recheck) {
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt)
                << "tried again " << (clock.now - failed).count() << " ns after";
        }
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9") << "tried again";
        EXPECT_EQ(reports, 1);
    }

    const fs::path broken = dir / "broken.sqlite";
    fixture::write_file(broken, "not an SQLite database\n");
    manual_clock clock;
    file_looks looks;
    looks.shown = inspect_db_files(broken.string());
    const package_db_timing timing = timing_on(clock, &looks);
    int reports = 0;
    package_db database(broken.string(), timing, [&reports](const std::string&) { ++reports; });
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt);
    // Mended, but the files are said to be as they were.
    fs::rename(db, broken);
    for (int lookup = 0; lookup < 5; ++lookup) {
        clock.now += timing.retry;
        EXPECT_EQ(database.lookup_installed_version("zsh"sv), std::nullopt) << "tried again";
    }
    EXPECT_EQ(looks.count, 5);
    looks.shown.reset();
    clock.now += timing.recheck;
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "5.9") << "the files changed";
    EXPECT_EQ(reports, 1);
}

// A writer's lock fails a read only for a moment: the read is tried again
// while limits.lock_wait allows, and gets the table once the writer is done.
// The writer, another process, lets go when the read's clock says 30 ms have
// passed, each look at the clock finding a millisecond gone: within a wait
// of 5 s the table is read; a wait of 20 ms gives up first, locked.
TEST(package_db_freshness, a_read_waits_out_a_writer_within_the_lock_wait) {
    for (const std::chrono::milliseconds wait : {5000ms, 20ms}) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '5.9');");
        fixture::lock_holder holder(db);
        ASSERT_TRUE(holder.locked());
        manual_clock clock;
        clock.step = 1ms;
        const time_point start = clock.now;
        read_limits limits;
        limits.lock_wait = wait;
        limits.now = [tick = clock.function(), &holder, start] {
            const time_point reading = tick();
            if (reading - start >= 30ms) {
                holder.release();
            }
            return reading;
        };
        const table_read read = read_installed_packages(db.string(), limits);
        if (wait > 30ms) {
            ASSERT_TRUE(read.packages) << read.failure;
            EXPECT_EQ(read.packages->find_name("zsh")->version, "5.9");
            EXPECT_GE(clock.now - start, 30ms) << "read before the writer let go";
        } else {
            EXPECT_FALSE(read.packages);
            EXPECT_TRUE(read.locked) << read.failure;
        }
    }
}

// Reads after the first take at most 1 / (share + 1) of the time since the
// first ended: with every look saying a commit happened, cheap
// reads follow every recheck, and costly ones are held back to the budget
// but still made.
TEST(package_db_freshness, costly_rereads_are_held_to_their_share_of_the_time) {
    struct cost_case {
        std::chrono::milliseconds cost;
        int least_rereads;
        int most_rereads;
    };
    constexpr int lookups = 300;
    for (const cost_case& c : {cost_case{0ms, lookups - 1, lookups - 1}, cost_case{10ms, 3, 10}}) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, "DELETE", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
        // After a look that finds a commit, the clock jumps by the cost at its
        // next reading, which the read that follows makes as its query starts.
        // The first read costs nothing.
        time_point now{std::chrono::hours(1)};
        bool charge = false;
        int rereads = 0;
        package_db_timing timing;
        timing.recheck = 1ms;
        timing.now = [&] {
            if (charge) {
                now += c.cost;
                charge = false;
            }
            return now;
        };
        // Every look finds a commit.
        timing.inspect = [&](const std::string& path) {
            db_files_state state = inspect_db_files(path);
            state.change_counter[3] ^= 1U;
            ++rereads;
            charge = true;
            return state;
        };
        package_db database(db.string(), timing);
        ASSERT_EQ(database.lookup_installed_version("zsh"sv), "1");
        const time_point first_read = now;
        for (int lookup = 1; lookup < lookups; ++lookup) {
            now += timing.recheck;
            ASSERT_EQ(database.lookup_installed_version("zsh"sv), "1") << c.cost.count();
            const auto spent = rereads * c.cost;
            EXPECT_LE((spent - c.cost) * (timing.share + 1), now - first_read)
                << c.cost.count() << " ms a read, lookup " << lookup;
        }
        EXPECT_GE(rereads, c.least_rereads) << c.cost.count() << " ms a read";
        EXPECT_LE(rereads, c.most_rereads) << c.cost.count() << " ms a read";
    }
}

// Files dated ahead of the clock, an hour or a year, are like any others:
// the table is read once and kept while they stay as they were, and a
// commit shows after the recheck even when the files are dated ahead again
// after it. In WAL mode the -wal holds commits not yet in the database.
TEST(package_db_freshness, files_dated_in_the_future_are_read_once_and_commits_still_show) {
    for (const char* mode : {"DELETE", "WAL"}) {
        for (const std::chrono::seconds ahead :
             {std::chrono::seconds(1h), std::chrono::seconds(24h * 365)}) {
            const std::string label =
                std::string(mode) + ", " + std::to_string(ahead.count()) + " s ahead";
            const timespec when = time_ahead(ahead);
            const fixture::temp_dir dir;
            const fs::path db = dir / "local.sqlite";
            const fs::path wal = db.string() + "-wal";
            make_db(db, mode, "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
            const bool in_wal = std::string(mode) == "WAL";
            const auto commit = [&](std::string_view version) {
                const std::string update =
                    "UPDATE packages SET version = '" + std::string(version) + "';";
                in_wal ? commit_leaving_wal(db, update) : fixture::run_sql(db, update);
                set_file_times(db, when);
                if (in_wal) {
                    set_file_times(wal, when);
                }
            };
            commit("2");
            ASSERT_EQ(fs::exists(wal), in_wal) << label;
            manual_clock clock;
            file_looks looks;
            const package_db_timing timing = timing_on(clock, &looks);
            const read_counter counter(db);
            package_db database(db.string(), timing);
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2") << label;
            for (int lookup = 0; lookup < 20; ++lookup) {
                clock.now += timing.recheck;
                EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2") << label;
            }
            EXPECT_EQ(counter.reads(), 1) << label << ": read again though nothing changed";
            EXPECT_EQ(looks.count, 20) << label;
            // Dated as before: only what SQLite's commit changed can show it.
            commit("3");
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2") << label << ": not yet";
            clock.now += timing.recheck;
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), "3") << label;
            EXPECT_EQ(counter.reads(), 2) << label;
        }
    }
}

// --- other processes ---

// A second process commits a new version again and again, opening and
// closing the database each time, while lookups go on with no recheck
// interval: every answer is a version that was committed, never one older
// than an answer before it, and never "not installed". After each commit the
// writer waits until a dozen lookups have begun since the reader heard of
// it, so that the lookups keep up with the commits whatever the two
// processes' pace, and run on while the next commit is made.
TEST(package_db_writers, lookups_during_a_storm_of_commits_see_committed_versions) {
    for (const char* mode : {"DELETE", "WAL"}) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, mode, "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '0');");
        package_db_timing timing;
        timing.recheck = 0s;
        // No share of the time held back: reads that wait out the writer's
        // locks would otherwise put off the last commit past the end.
        timing.share = 0;
        package_db database(db.string(), timing);
        ASSERT_EQ(database.lookup_installed_version("zsh"sv), "0") << mode;

        constexpr int commits = 25;
        constexpr int lookups_per_commit = 12;
        int done[2];
        int go[2];
        ASSERT_EQ(pipe(done), 0);
        ASSERT_EQ(pipe(go), 0);
        const pid_t writer = fork();
        if (writer == 0) {
            close(done[0]);
            close(go[1]);
            alarm(child_seconds);
            for (int version = 1; version <= commits; ++version) {
                sqlite3* raw = nullptr;
                sqlite3_open(db.c_str(), &raw);
                sqlite3_busy_timeout(raw, 2000);
                const std::string update =
                    "UPDATE packages SET version = '" + std::to_string(version) + "';";
                const bool committed =
                    sqlite3_exec(raw, update.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
                sqlite3_close(raw);
                const char mark = committed ? '+' : '!';
                if (write(done[1], &mark, 1) != 1) {
                    _exit(1);
                }
                // Until the reader lets it go on; the end of the pipe means
                // the reader gave up.
                char next = 0;
                if (version < commits && read(go[0], &next, 1) != 1) {
                    _exit(1);
                }
            }
            _exit(0);
        }
        close(done[1]);
        close(go[0]);
        ASSERT_EQ(fcntl(done[0], F_SETFL, O_NONBLOCK), 0);
        int committed = 0;
        int let_go = 0;        // commits the writer was let past
        int lookups_since = 0; // lookups begun since the last commit was heard of
        bool writer_failed = false;
        int highest = 0;
        int lookups = 0;
        std::set<int> seen;
        std::vector<std::string> wrong;
        bool writer_done = false;
        while (!writer_done && lookups < 1'000'000) {
            const std::optional<std::string> answer = database.lookup_installed_version("zsh"sv);
            ++lookups;
            ++lookups_since;
            char marks[64];
            ssize_t n = 0;
            while ((n = read(done[0], marks, sizeof marks)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    writer_failed |= marks[i] != '+';
                    ++committed;
                    lookups_since = 0;
                }
            }
            writer_done = n == 0;
            // The writer waits after every commit but the last.
            if (committed > let_go && let_go < commits - 1 && lookups_since >= lookups_per_commit) {
                const char next = 'g';
                ASSERT_EQ(write(go[1], &next, 1), 1) << mode;
                ++let_go;
            }
            // The writer tells of a commit after making it: one may be seen first.
            int version = -1;
            if (answer) {
                std::from_chars(answer->data(), answer->data() + answer->size(), version);
            }
            if (!answer || *answer != std::to_string(version) || version < highest ||
                version > committed + 1) {
                if (wrong.size() < 5) {
                    wrong.push_back("lookup " + std::to_string(lookups) + ": " +
                                    answer_text(answer) + " after " + std::to_string(highest) +
                                    ", " + std::to_string(committed) + " committed");
                }
                continue;
            }
            highest = version;
            seen.insert(version);
        }
        close(done[0]);
        close(go[1]);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << mode << ": writer " << status;
        EXPECT_FALSE(writer_failed) << mode;
        EXPECT_EQ(committed, commits) << mode;
        EXPECT_GE(lookups, commits * lookups_per_commit) << mode;
        EXPECT_TRUE(wrong.empty()) << mode << ": " << testing::PrintToString(wrong);
        EXPECT_GE(seen.size(), 5U) << mode << ": the table didn't follow the commits";
        // A read the writer's last moments failed is tried again within the
        // retry interval at most.
        const auto writer_gone = std::chrono::steady_clock::now();
        std::optional<std::string> last;
        do {
            last = database.lookup_installed_version("zsh"sv);
        } while (last != std::to_string(commits) &&
                 std::chrono::steady_clock::now() - writer_gone < timing.retry + 1s);
        EXPECT_EQ(last, std::to_string(commits)) << mode;
    }
}

// The database found through a symbolic link is read with the -wal beside
// the file the link leads to, where SQLite keeps it: a commit that is only
// in that -wal is seen.
TEST(package_db_writers, a_symlinked_database_is_read_with_the_wal_beside_its_target) {
    const fixture::temp_dir dir;
    fs::create_directories(dir / "real");
    fs::create_directories(dir / "pkg");
    const fs::path target = dir / "real" / "packages.sqlite";
    const fs::path db = dir / "pkg" / "local.sqlite";
    make_db(target, "WAL", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
    commit_leaving_wal(target, "UPDATE packages SET version = '2';");
    ASSERT_GT(fs::file_size(target.string() + "-wal"), 0U);
    fs::create_symlink(fs::path("..") / "real" / "packages.sqlite", db);
    {
        // The database file on its own still holds the first commit.
        sqlite3* raw = nullptr;
        const std::string uri = "file:" + target.string() + "?immutable=1";
        ASSERT_EQ(
            sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
            SQLITE_OK);
        const fixture::connection alone(raw);
        std::string version;
        sqlite3_exec(
            alone.get(), "SELECT version FROM packages",
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "";
                return 0;
            },
            &version, nullptr);
        ASSERT_EQ(version, "1");
    }
    const folder_listing before = list_folder(dir / "real");
    package_db database(db.string());
    EXPECT_EQ(database.lookup_installed_version("zsh"sv), "2");
    EXPECT_EQ(list_folder(dir / "real"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "pkg"), {}), 1)
        << "nothing was made beside the link";
}

// Root reading a WAL database whose -wal and -shm belong to another user
// changes nothing of any file in the folder: not its owner, its mode, its
// size or its times. SQLite as root would give the files the database's
// owner, and a -wal of no bytes the database's mode.
TEST(package_db_writers, root_reading_changes_no_owner_mode_or_time) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: only root can give files to nobody and take them back";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    struct wal_case {
        const char* label;
        const char* before_close;
        const char* expected;
    };
    const std::vector<wal_case> cases = {
        {"commits in the -wal", "UPDATE packages SET version = '2';", "2"},
        {"a -wal emptied by a truncating checkpoint",
         "UPDATE packages SET version = '2'; PRAGMA wal_checkpoint(TRUNCATE);", "2"},
    };
    for (const wal_case& c : cases) {
        const fixture::temp_dir dir;
        const fs::path db = dir / "local.sqlite";
        make_db(db, "WAL", "INSERT INTO packages VALUES ('zsh', 'shells/zsh', '1');");
        commit_leaving_wal(db, c.before_close);
        for (const char* suffix : {"-wal", "-shm"}) {
            const std::string companion = db.string() + suffix;
            ASSERT_TRUE(fs::exists(companion)) << c.label << suffix;
            ASSERT_EQ(chown(companion.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
            ASSERT_EQ(chmod(companion.c_str(), 0640), 0);
        }
        const folder_listing before = list_folder(dir.path());
        manual_clock clock;
        package_db database(db.string(), timing_on(clock));
        for (int lookup = 0; lookup < 3; ++lookup) {
            EXPECT_EQ(database.lookup_installed_version("zsh"sv), c.expected) << c.label;
            clock.now += 1s;
        }
        EXPECT_EQ(database.require(), std::nullopt) << c.label;
        const folder_listing after = list_folder(dir.path());
        for (const auto& [name, status] : before) {
            EXPECT_EQ(after.count(name) == 1 ? after.at(name) : "gone", status)
                << c.label << ": " << name;
        }
        EXPECT_EQ(after.size(), before.size()) << c.label;
    }
}

// As an ordinary user, in a folder that user can't write, a WAL database is
// read as it stands; the folder's name must survive the URI that asks for
// that. A change to the file must still reach the next lookup.
TEST(package_db_writers, an_ordinary_user_reads_a_wal_database_it_cannot_write_beside) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become nobody";
    }
    const fixture::temp_dir dir;
    const fs::path folder = dir / "pkg?a=1%20#b";
    fs::create_directory(folder);
    const fs::path db = folder / "local.sqlite";
    fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4"));
    fixture::open_to_all(dir.path());

    int answers[2];
    int go_on[2];
    ASSERT_EQ(pipe(answers), 0);
    ASSERT_EQ(pipe(go_on), 0);
    const pid_t child = fork();
    if (child == 0) {
        alarm(child_seconds);
        if (!become_nobody()) {
            _exit(2);
        }
        package_db_timing timing;
        timing.recheck = 0s;
        timing.share = 0; // however long the parent's commit takes, the second read is made
        package_db database(db.string(), timing);
        for (int lookup = 0; lookup < 2; ++lookup) {
            char go = 0;
            if (lookup > 0 && read(go_on[0], &go, 1) != 1) {
                _exit(3);
            }
            const std::string answer =
                answer_text(database.lookup_installed_version("zsh"sv)) + "\n";
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
    EXPECT_FALSE(fs::exists(folder / "local.sqlite-shm"));
    EXPECT_FALSE(fs::exists(folder / "local.sqlite-wal"));
}

} // namespace
