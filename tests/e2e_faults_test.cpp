// Hostile inputs and failures, end to end: whatever the index, the package
// database, the term or standard output does, the run ends with the right
// status, never crashes or hangs, and creates or changes no file.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "lock_holder.h"
#include "pipe_gauge.h"
#include "runner.h"

using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

using fixture::command;
using fixture::counts;

const std::string zsh_not_installed =
    "- zsh-5.9_5 (/usr/ports/shells/zsh, Version: n/a [bapt@FreeBSD.org, /usr/local])\n";

// Names, sizes and contents of the files below a folder, to show nothing changed.
std::string snapshot(const fs::path& dir) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string line = entry.path().lexically_relative(dir).string();
        if (entry.is_regular_file()) {
            line +=
                " " + std::to_string(std::hash<std::string>{}(fixture::read_file(entry.path())));
        }
        entries.push_back(line);
    }
    std::sort(entries.begin(), entries.end());
    std::string all;
    for (const std::string& e : entries) {
        all += e + "\n";
    }
    return all;
}

// The fields of a line as the index format defines them: cut at every "|",
// each in its place, up to the first NUL; an empty field is absent. Written
// here independently of the program.
std::vector<std::optional<std::string>> fields_of(std::string line) {
    line = line.substr(0, line.find('\0'));
    std::vector<std::optional<std::string>> fields;
    std::string field;
    for (const char c : line + "|") {
        if (c == '|') {
            fields.push_back(field.empty() ? std::nullopt : std::optional(field));
            field.clear();
        } else {
            field += c;
        }
    }
    return fields;
}

bool is_root() {
    return geteuid() == 0;
}

// Where a program is on PATH; absent when it isn't there.
[[maybe_unused]] std::optional<std::string> find_on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        std::string candidate = dirs.substr(at, end - at) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        at = end + 1;
    }
    return std::nullopt;
}

// --- the index ---

struct index_case {
    const char* label;
    std::string content;
    std::vector<std::string> args;
    std::string out;
    friend void PrintTo(const index_case& c, std::ostream* os) { *os << c.label; }
};

class hostile_index_test : public testing::TestWithParam<index_case> {};

TEST_P(hostile_index_test, is_read_to_its_end) {
    const index_case& c = GetParam();
    const fixture::sample_system system;
    fixture::write_file(system.ports() / "INDEX-15", c.content);
    fs::remove(system.pkg() / "local.sqlite"); // so that not even SQLite's own files may appear
    const std::string before = snapshot(system.dir().path());
    RUN_OR_SKIP(got, system.setup(), command(c.args));
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(snapshot(system.dir().path()), before);
}

std::string ten_thousand_fields() {
    std::string line = "zsh-1";
    for (int i = 0; i < 9999; ++i) {
        line += "|f" + std::to_string(i);
    }
    return line + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    contents, hostile_index_test,
    testing::Values(index_case{"zero_bytes", "", {"-ar", ""}, counts(0, 0, 0)},
                    index_case{"only_newlines", "\n\n\n", {"-ar", ""}, counts(0, 0, 3)},
                    index_case{"a_line_of_100000_separators",
                               std::string(100000, '|') + "\nzsh-1|p\n",
                               {"-ar", "zsh"},
                               "- zsh-1 (p)\n" + counts(1, 1, 2)},
                    index_case{"crlf_line_ends",
                               "zsh-5.9|/usr/ports/shells/zsh\r\nbash-5|p\r\n",
                               {"-rf", "zsh"},
                               "- zsh-5.9 (/usr/ports/shells/zsh\r, Version: n/a [n/a, n/a])\n" +
                                   counts(1, 1, 2)},
                    index_case{"nul_bytes",
                               "zsh-5.9|/usr/ports/shells/z\0sh|x\nbash-5|p\n\0\n"s,
                               {"-r", "sh"},
                               "- zsh-5.9 (/usr/ports/shells/z)\n- bash-5 (p)\n" + counts(2, 2, 3)},
                    index_case{"byte_ff", "\xffzsh-1|\xff\n", {"zsh"}, "- \xffzsh-1 (\xff)\n"},
                    index_case{"ten_thousand_fields",
                               ten_thousand_fields(),
                               {"-r", "zsh"},
                               "- zsh-1 (f0)\n" + counts(1, 1, 1)},
                    index_case{"no_final_newline",
                               "a-1|p\nzsh-2|q",
                               {"-r", "zsh"},
                               "- zsh-2 (q)\n" + counts(1, 1, 2)}));

TEST(hostile_index, random_bytes_are_counted_line_by_line) {
    std::mt19937 random(42); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    std::string bytes(1 << 20, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFFU);
    }
    const auto lines =
        std::count(bytes.begin(), bytes.end(), '\n') + (bytes.back() != '\n' ? 1 : 0);
    const fixture::sample_system system;
    fixture::write_file(system.ports() / "INDEX-15", bytes);
    RUN_OR_SKIP(got, system.setup(), command({"-nfar", "\x01\x02\x03\x04"}));
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_TRUE(got.out.ends_with(" / Entries: " + std::to_string(lines) + "\n\n")) << got.out;
}

TEST(hostile_index, a_64_mib_line_costs_about_its_size_in_memory) {
    const fixture::sample_system system;
    const std::size_t line = std::size_t{64} << 20;
    fixture::write_file(system.ports() / "INDEX-15", std::string(line, 'a') + "\nxyz-1|p\n");
    RUN_OR_SKIP(got, system.setup(), command({"-r", "xyz"}));
    EXPECT_EQ(got.out, "- xyz-1 (p)\n" + counts(1, 1, 2));
    EXPECT_EQ(got.status, 0);
#if !defined(VANDREL_SANITIZED) // shadow memory, and a realloc that always copies
    EXPECT_GT(got.peak_kib, 64 * 1024);
    EXPECT_LT(got.peak_kib, 2 * 64 * 1024) << "peak resident memory in KiB";
#endif
}

// The same as JSON: the line's fields are written out a chunk at a time, not
// built into a copy of the line. A long comment of two-byte characters,
// quotes and a byte that isn't UTF-8 (which the library escapes in chunks)
// and a long list of dependencies (an array of many short strings).
TEST(hostile_index, a_64_mib_line_as_json_costs_about_its_size_in_memory) {
    const fixture::sample_system system;
    constexpr std::string_view piece = "caf\xc3\xa9 \"q\" \xff ";
    constexpr std::size_t pieces = (std::size_t{40} << 20) / piece.size();
    constexpr std::size_t words = (std::size_t{24} << 20) / 10;
    const auto repeated = [](std::string_view text, std::size_t times) {
        std::string all;
        all.reserve(text.size() * times);
        for (std::size_t i = 0; i < times; ++i) {
            all += text;
        }
        return all;
    };
    // Nothing large is held by this process while a command runs: the runner
    // forks it, and its size counts in the command's peak until the exec.
    fixture::write_file(system.ports() / "INDEX-15",
                        "big-1|/usr/ports/misc/big|/usr/local|" + repeated(piece, pieces) +
                            "|d|m|misc||" + repeated("dep-1.0_1 ", words) + "|w|||\nxyz-1|p\n");
#if !defined(VANDREL_SANITIZED) // shadow memory, and a realloc that always copies
    long long_blocks_peak_kib = 0;
    {
        RUN_OR_SKIP(long_blocks, system.setup(), command({"-n", "-f", "big"}));
        EXPECT_EQ(long_blocks.status, 0);
        long_blocks_peak_kib = long_blocks.peak_kib;
    }
#endif
    RUN_OR_SKIP(got, system.setup(), command({"--json", "big"}));
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
#if !defined(VANDREL_SANITIZED)
    // Within 8 MiB of the long blocks' peak, which also hold the line and
    // print it: a copy of the comment, escaped or not, would be 40 MiB more.
    EXPECT_GT(got.peak_kib, 64 * 1024);
    EXPECT_LT(got.peak_kib, long_blocks_peak_kib + 8L * 1024) << "peak resident memory in KiB";
#endif
    ASSERT_EQ(std::count(got.out.begin(), got.out.end(), '\n'), 1) << got.out.substr(0, 200);
    const nlohmann::json port = nlohmann::json::parse(got.out);
    EXPECT_TRUE(port["comment"] == repeated("caf\xc3\xa9 \"q\" \xef\xbf\xbd ", pieces))
        << "(not shown: 40 MiB)";
    EXPECT_EQ(port["run_depends"].size(), words);
    EXPECT_EQ(port["run_depends"].back(), "dep-1.0_1");
}

// Writes to a FIFO from a thread of its own once a reader has opened it: the
// thread waits in a blocking open, which returns when the reader comes. When
// the run ends without opening the FIFO, finish() opens it itself to let the
// thread go, which then writes nothing.
class fifo_writer {
public:
    fifo_writer(fs::path fifo, std::function<void(int fd)> write)
        : fifo_(std::move(fifo)), thread_([this, write = std::move(write)] {
              int fd = -1;
              while ((fd = open(fifo_.c_str(), O_WRONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
              }
              {
                  const std::lock_guard<std::mutex> lock(mutex_);
                  if (fd < 0 || finishing_) {
                      if (fd >= 0) {
                          close(fd);
                      }
                      return;
                  }
                  opened_ = true;
              }
              write(fd);
              close(fd);
          }) {}
    ~fifo_writer() {
        if (thread_.joinable()) {
            finish();
        }
    }
    fifo_writer(const fifo_writer&) = delete;
    fifo_writer& operator=(const fifo_writer&) = delete;

    // After the run: lets the writer go if no reader came, waits for it, and
    // tells whether a reader opened the FIFO. A reader that opens it and
    // reads something can't end before the writer has written, so a run that
    // read the FIFO is always told apart from one that never opened it.
    bool finish() {
        bool opened = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            finishing_ = true;
            opened = opened_;
        }
        if (!opened) {
            // The writer is in its open, or past it and bound to see
            // finishing_: this open lets it go, without waiting for it, and
            // the read ends when it closes without writing.
            const int fd = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
                char byte = 0;
                while (read(fd, &byte, 1) < 0 && errno == EINTR) {
                }
                close(fd);
            }
        }
        thread_.join();
        return opened;
    }

private:
    fs::path fifo_;
    std::mutex mutex_;
    bool finishing_ = false; // finish() has begun: the writer must not write
    bool opened_ = false;    // the writer's open returned before finish()
    std::thread thread_;     // last: it starts once the rest exists
};

TEST(hostile_index, a_fifo_is_read_like_a_file) {
    const fixture::sample_system system;
    const fixture::run_result from_file =
        fixture::run_command(system.setup(), command({"-r", "zsh"}));
    if (from_file.skipped) {
        GTEST_SKIP() << from_file.err;
    }
    const fs::path fifo = system.ports() / "INDEX-15";
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string index = fixture::read_source_file("tests/data/INDEX-sample");
    fifo_writer writer(fifo, [&index](int fd) {
        EXPECT_EQ(write(fd, index.data(), index.size()), static_cast<ssize_t>(index.size()));
    });
    const fixture::run_result from_fifo =
        fixture::run_command(system.setup(), command({"-r", "zsh"}));
    EXPECT_TRUE(writer.finish()) << "the search never opened its index";
    EXPECT_EQ(from_fifo.out, from_file.out);
    EXPECT_EQ(from_fifo.err, "");
    EXPECT_EQ(from_fifo.status, 0);
}

// Reading a process's own memory file at offset 0 fails (EIO): a real read
// error part-way through the scan, which must not pass for the end of the file.
TEST(hostile_index, a_read_error_fails_the_run_without_counts) {
    if (!fs::exists("/proc/self/mem")) {
        GTEST_SKIP() << "needs a process memory file at /proc/self/mem (Linux)";
    }
    const fixture::sample_system system;
    fs::remove(system.ports() / "INDEX-15");
    fs::create_symlink("/proc/self/mem", system.ports() / "INDEX-15");
    RUN_OR_SKIP(got, system.setup(), command({"-r", "zsh"}));
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Could not read " + system.index().string() + ": Input/output error\n");
    EXPECT_EQ(got.status, 1);
}

TEST(hostile_index, a_file_the_user_cannot_read_is_not_opened) {
    if (!is_root()) {
        GTEST_SKIP() << "needs real root to run the search as nobody";
    }
    const fixture::sample_system system;
    fs::permissions(system.ports() / "INDEX-15", fs::perms::none);
    fixture::run_setup setup = system.setup();
    setup.user = "nobody";
    RUN_OR_SKIP(got, setup, command({"-r", "zsh"}));
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Could not open " + system.index().string() + "\n");
    EXPECT_EQ(got.status, 1);
}

// --- the package database ---

void rollback_journal_db(const fs::path& db, const std::string& sql) {
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;" + sql);
}

// Commits sql to a WAL database and leaves it in the -wal, beside its -shm,
// as a writer that ends without a checkpoint does.
void leave_in_wal(const fs::path& db, const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    const fixture::connection writer(raw);
    ASSERT_EQ(sqlite3_db_config(writer.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer.get(), sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
}

// A writer that dies part-way through a transaction, after its cache has
// spilled changed pages into the database file, leaves a hot journal: the
// file then holds data that was never committed, and only rolling the
// journal back (which needs writing) gives the committed state.
void crash_a_writer_mid_transaction(const fs::path& db) {
    const pid_t writer = fork();
    if (writer == 0) {
        sqlite3* raw = nullptr;
        if (sqlite3_open(db.c_str(), &raw) == SQLITE_OK) {
            sqlite3_exec(raw,
                         "PRAGMA cache_size = 10; BEGIN;"
                         "UPDATE packages SET version = 'UNCOMMITTED' WHERE name = 'zsh';"
                         "CREATE TABLE filler (x);"
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                         "WHERE i < 400) INSERT INTO filler SELECT randomblob(2000) FROM n;",
                         nullptr, nullptr, nullptr);
        }
        raise(SIGKILL);
    }
    waitpid(writer, nullptr, 0);
}

// What the database file says of zsh when read as it stands, journal ignored.
std::string version_in_the_file_alone(const fs::path& db) {
    sqlite3* raw = nullptr;
    const std::string uri = "file:" + db.string() + "?immutable=1";
    sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    const fixture::connection reader(raw);
    sqlite3_stmt* statement = nullptr;
    std::string version;
    if (sqlite3_prepare_v2(reader.get(), "SELECT version FROM packages WHERE name = 'zsh'", -1,
                           &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        version = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return version;
}

// The sample database in rollback-journal mode.
void sample_rollback_db(const fs::path& db) {
    fixture::make_package_db(db, fixture::read_source_file("tests/data/installed.sql"));
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;");
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFFU);
    }
    return bytes;
}

// Whatever a trouble case leaves running beside the search (a writer's lock),
// ended when the case is done.
using keeper = std::shared_ptr<void>;

struct trouble_case {
    const char* label;
    keeper (*make)(const fs::path& db);
    const char* reason = nullptr; // the reason given, where it is stable; "@" is the database
    const char* user = "";        // who searches
    bool locked = false;          // a writer holds the database all through the run
    friend void PrintTo(const trouble_case& c, std::ostream* os) { *os << c.label; }
};

class troubled_database_test
    : public testing::TestWithParam<std::tuple<trouble_case, const char*>> {};

// A database that is there but can't be read: the plain search shows every
// port as not installed, says why on one line and succeeds; --outdated,
// which can't go on without the database, prints nothing and fails with the
// reason. Either way no file in the folder is created or changed, nothing
// hangs, and only --outdated waits for a writer.
TEST_P(troubled_database_test, is_reported_on_one_line_and_changes_nothing) {
    const auto& [c, option] = GetParam();
    if (*c.user != '\0' && !is_root()) {
        GTEST_SKIP() << "needs real root to run the search as " << c.user;
    }
    const bool required = *option != '\0';
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    const keeper kept = c.make(db);
    if (HasFatalFailure()) {
        return;
    }
    const std::string before = snapshot(system.pkg());
    fixture::run_setup setup = system.setup();
    setup.user = c.user;
    setup.timeout = std::chrono::seconds(30);
    std::vector<std::string> args = {"-f", "zsh-5"};
    if (required) {
        args.insert(args.begin(), option);
    }
    const auto start = std::chrono::steady_clock::now();
    RUN_OR_SKIP(got, setup, command(args));
    const auto took = std::chrono::steady_clock::now() - start;
    const std::string prefix = "vandrel: " + db.string() + ": ";
    const std::string suffix = required ? "\n" : "; installed ports are not marked\n";
    EXPECT_EQ(got.out, required ? "" : zsh_not_installed);
    EXPECT_TRUE(got.err.starts_with(prefix) && got.err.ends_with(suffix) &&
                got.err.size() > prefix.size() + suffix.size() &&
                got.err.find('\n') == got.err.size() - 1)
        << got.err;
    if (required) {
        EXPECT_EQ(got.err.find("installed ports are not marked"), std::string::npos) << got.err;
    }
    if (c.reason != nullptr) {
        std::string reason = c.reason;
        if (reason.starts_with('@')) {
            reason.replace(0, 1, db.string());
        }
        EXPECT_EQ(got.err, prefix + reason + suffix);
    }
    EXPECT_EQ(got.status, required ? 1 : 0);
    EXPECT_EQ(got.signal, 0);
    EXPECT_FALSE(got.timed_out);
    EXPECT_EQ(snapshot(system.pkg()), before);
    if (c.locked && required) {
        EXPECT_GE(took, std::chrono::milliseconds(4500)) << "gave up before the lock wait";
    } else if (c.locked) {
        EXPECT_LT(took, std::chrono::seconds(4)) << "the plain search waited for the writer";
    }
}

INSTANTIATE_TEST_SUITE_P(databases, troubled_database_test,
                         testing::
                             Combine(testing::
                                         Values(trouble_case{"zero_bytes",
                                                             [](const fs::path& db) {
                                                                 fixture::write_file(db, "");
                                                                 return keeper();
                                                             },
                                                             "no such table: packages"},
                                                trouble_case{"random_bytes",
                                                             [](const fs::path& db) {
                                                                 fixture::write_file(
                                                                     db, random_bytes(65536, 7));
                                                                 return keeper();
                                                             },
                                                             "file is not a database"},
                                                trouble_case{"sqlite_header_then_garbage",
                                                             [](const fs::path& db) {
                                                                 fixture::write_file(
                                                                     db,
                                                                     "SQLite format 3\0"s +
                                                                         std::string(8192, 'x'));
                                                                 return keeper();
                                                             },
                                                             "file is not a database"},
                                                trouble_case{
                                                    "a_truncated_copy",
                                                    [](const fs::path& db) {
                                                        std::string inserts =
                                                            fixture::read_source_file(
                                                                "tests/data/installed.sql");
                                                        for (int i = 0; i < 400; ++i) {
                                                            inserts += fixture::package_insert(
                                                                "filler" + std::to_string(i),
                                                                "1.0");
                                                        }
                                                        fixture::make_package_db(db, inserts);
                                                        // One file to cut in half.
                                                        fixture::run_sql(
                                                            db, "PRAGMA journal_mode = DELETE;");
                                                        const std::string whole =
                                                            fixture::read_file(db);
                                                        fixture::write_file(
                                                            db, whole.substr(0, whole.size() / 2));
                                                        return keeper();
                                                    },
                                                    "database disk image is malformed"},
                                                trouble_case{"no_packages_table",
                                                             [](const fs::path& db) {
                                                                 rollback_journal_db(
                                                                     db, "CREATE TABLE pkgs (name "
                                                                         "TEXT, version TEXT);");
                                                                 return keeper();
                                                             },
                                                             "no such table: packages"},
                                                trouble_case{"packages_without_version",
                                                             [](const fs::path& db) {
                                                                 rollback_journal_db(
                                                                     db, "CREATE TABLE packages "
                                                                         "(name TEXT, origin TEXT);"
                                                                         "INSERT INTO packages "
                                                                         "VALUES ('zsh', 'x');");
                                                                 return keeper();
                                                             },
                                                             "no such column: version"},
                                                trouble_case{"a_directory",
                                                             [](const fs::path& db) {
                                                                 fs::create_directory(db);
                                                                 return keeper();
                                                             },
                                                             "not a regular file"},
                                                trouble_case{"a_fifo",
                                                             [](const fs::path& db) {
                                                                 EXPECT_EQ(mkfifo(db.c_str(), 0644),
                                                                           0);
                                                                 return keeper();
                                                             },
                                                             "not a regular file"},
                                                trouble_case{
                                                    "a_view_that_never_ends",
                                                    [](const fs::path& db) {
                                                        // Not a row, ever: only the clock stops
                                                        // it.
                                                        rollback_journal_db(
                                                            db,
                                                            "CREATE VIEW packages AS WITH "
                                                            "RECURSIVE n(i) AS (SELECT 1 "
                                                            "UNION ALL SELECT i + 1 FROM n) "
                                                            "SELECT 'zsh' AS name, "
                                                            "'1' AS version FROM n WHERE i = 0;");
                                                        return keeper();
                                                    },
                                                    "reading the packages table took too long"},
                                                trouble_case{
                                                    "a_view_of_endless_rows",
                                                    [](const fs::path& db) {
                                                        rollback_journal_db(
                                                            db, "CREATE VIEW packages AS WITH "
                                                                "RECURSIVE n(i) AS (SELECT 1 "
                                                                "UNION ALL SELECT i + 1 FROM n) "
                                                                "SELECT 'zsh' || i AS name, "
                                                                "'1' AS version FROM n;");
                                                        return keeper();
                                                    }},
                                                trouble_case{"a_wal_without_its_shm",
                                                             [](const fs::path& db) {
                                                                 fixture::make_package_db(
                                                                     db, fixture::package_insert(
                                                                             "zsh", "5.9_4"));
                                                                 leave_in_wal(db,
                                                                              "UPDATE packages SET "
                                                                              "version = '5.9_9';");
                                                                 fs::remove(db.string() + "-shm");
                                                                 return keeper();
                                                             },
                                                             "@-wal without its -shm, which "
                                                             "only a writer can make"},
                                                trouble_case{"a_fifo_at_the_wal",
                                                             [](const fs::path& db) {
                                                                 fixture::make_package_db(
                                                                     db, fixture::read_source_file(
                                                                             "tests/data/"
                                                                             "installed.sql"));
                                                                 EXPECT_EQ(
                                                                     mkfifo((db.string() + "-wal")
                                                                                .c_str(),
                                                                            0644),
                                                                     0);
                                                                 return keeper();
                                                             },
                                                             "@-wal is not a regular file"},
                                                trouble_case{"a_fifo_at_the_shm",
                                                             [](const fs::path& db) {
                                                                 fixture::make_package_db(
                                                                     db, fixture::read_source_file(
                                                                             "tests/data/"
                                                                             "installed.sql"));
                                                                 leave_in_wal(db,
                                                                              "UPDATE packages SET "
                                                                              "version = '5.9_9';");
                                                                 fs::remove(db.string() + "-shm");
                                                                 EXPECT_EQ(
                                                                     mkfifo((db.string() + "-shm")
                                                                                .c_str(),
                                                                            0644),
                                                                     0);
                                                                 return keeper();
                                                             },
                                                             "@-shm is not a regular file"},
                                                trouble_case{
                                                    "a_fifo_at_the_journal",
                                                    [](const fs::path& db) {
                                                        sample_rollback_db(db);
                                                        EXPECT_EQ(
                                                            mkfifo(
                                                                (db.string() + "-journal").c_str(),
                                                                0644),
                                                            0);
                                                        return keeper();
                                                    },
                                                    "@-journal is not a regular file"},
                                                trouble_case{"mode_0600_read_by_another_user",
                                                             [](const fs::path& db) {
                                                                 sample_rollback_db(db);
                                                                 fs::permissions(
                                                                     db,
                                                                     fs::perms::owner_read |
                                                                         fs::perms::owner_write);
                                                                 return keeper();
                                                             },
                                                             "Permission denied", "nobody"},
                                                trouble_case{"locked_by_a_writer",
                                                             [](const fs::path& db) {
                                                                 sample_rollback_db(db);
                                                                 auto holder = std::make_shared<
                                                                     fixture::lock_holder>(db);
                                                                 EXPECT_TRUE(holder->locked());
                                                                 return keeper(holder);
                                                             },
                                                             "database is locked", "", true},
                                                trouble_case{"a_hot_journal",
                                                             [](const fs::path& db) {
                                                                 sample_rollback_db(db);
                                                                 crash_a_writer_mid_transaction(db);
                                                                 EXPECT_TRUE(fs::exists(
                                                                     db.string() + "-journal"));
                                                                 EXPECT_EQ(
                                                                     version_in_the_file_alone(db),
                                                                     "UNCOMMITTED")
                                                                     << "the writer's change "
                                                                        "should have reached the "
                                                                        "file";
                                                                 fixture::open_to_all(
                                                                     db.parent_path());
                                                                 return keeper();
                                                             },
                                                             "an interrupted write left a "
                                                             "journal that only a writer can "
                                                             "roll back"},
                                                trouble_case{
                                                    "a_hot_journal_read_by_another_user",
                                                    [](const fs::path& db) {
                                                        sample_rollback_db(db);
                                                        crash_a_writer_mid_transaction(db);
                                                        EXPECT_TRUE(
                                                            fs::exists(db.string() + "-journal"));
                                                        fixture::open_to_all(db.parent_path());
                                                        return keeper();
                                                    },
                                                    "an interrupted write left a journal that "
                                                    "only a writer can roll back",
                                                    "nobody"}),
                                     testing::Values("", "--outdated")),
                         [](const testing::TestParamInfo<troubled_database_test::ParamType>& info) {
                             return std::string(std::get<0>(info.param).label) +
                                    (*std::get<1>(info.param) == '\0' ? "_plain" : "_outdated");
                         });

// No database at all is no trouble for a plain search: nothing is installed,
// and nothing is said. The options that show only installed packages need
// it, and fail.
TEST(missing_database, is_silent_unless_the_search_needs_it) {
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    RUN_OR_SKIP(plain, system.setup(), command({"-f", "zsh-5"}));
    EXPECT_EQ(plain.out, zsh_not_installed);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.status, 0);
    for (const char* option : {"--installed", "--outdated", "--status"}) {
        RUN_OR_SKIP(got, system.setup(), command({option, "-r", ""}));
        EXPECT_EQ(got.out, "") << option;
        EXPECT_EQ(got.err, "vandrel: " + db.string() + ": No such file or directory\n") << option;
        EXPECT_EQ(got.status, 1) << option;
    }
    EXPECT_TRUE(fs::is_empty(system.pkg())) << "no database was created";
}

// The files' access and modification times set this far ahead of the clock,
// as a clock set back after the package manager ran leaves them.
template <int seconds_ahead> void times_ahead(const fs::path& db) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const timespec ahead[2] = {{now.tv_sec + seconds_ahead, 0}, {now.tv_sec + seconds_ahead, 0}};
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string file = db.string() + suffix;
        if (fs::exists(file)) {
            EXPECT_EQ(utimensat(AT_FDCWD, file.c_str(), ahead, 0), 0) << file;
        }
    }
}

constexpr int an_hour = 3600;
constexpr int a_year = 365 * 24 * 3600;

// The states a healthy database is found in, each read as root and as an
// ordinary user who can't write its folder: the right version shows, and the
// folder is left exactly as it was, no -wal, -shm or -journal created and no
// byte of any file changed.
struct healthy_state {
    const char* label;
    void (*make)(const fs::path& db);
    const char* version; // what -f shows for zsh
    friend void PrintTo(const healthy_state& c, std::ostream* os) { *os << c.label; }
};

class healthy_database_test
    : public testing::TestWithParam<std::tuple<healthy_state, const char*>> {};

TEST_P(healthy_database_test, is_read_and_left_as_it_was) {
    const auto& [state, user] = GetParam();
    if (*user != '\0' && !is_root()) {
        GTEST_SKIP() << "needs real root to run the search as " << user;
    }
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    state.make(db);
    fixture::open_to_all(system.pkg());
    const std::string before = snapshot(system.pkg());
    fixture::run_setup setup = system.setup();
    setup.user = user;
    RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
    EXPECT_EQ(got.out, "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: "s + state.version +
                           " [bapt@FreeBSD.org, /usr/local])\n");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(snapshot(system.pkg()), before);
}

void last_commit_in_the_wal(const fs::path& db) {
    // The last commit is only in the -wal: it must be seen.
    leave_in_wal(db, "UPDATE packages SET version = '5.9_9' WHERE name = 'zsh';");
    ASSERT_TRUE(fs::exists(db.string() + "-wal"));
    ASSERT_TRUE(fs::exists(db.string() + "-shm"));
}

void rollback_journal(const fs::path& db) {
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;");
}

INSTANTIATE_TEST_SUITE_P(
    states, healthy_database_test,
    testing::Combine(testing::Values(healthy_state{"wal_closed", [](const fs::path&) {}, "5.9_4"},
                                     healthy_state{"wal_with_its_wal_and_shm",
                                                   last_commit_in_the_wal, "5.9_9"},
                                     healthy_state{"rollback_journal", rollback_journal, "5.9_4"},
                                     healthy_state{"wal_an_hour_ahead",
                                                   [](const fs::path& db) {
                                                       last_commit_in_the_wal(db);
                                                       times_ahead<an_hour>(db);
                                                   },
                                                   "5.9_9"},
                                     healthy_state{"wal_a_year_ahead",
                                                   [](const fs::path& db) {
                                                       last_commit_in_the_wal(db);
                                                       times_ahead<a_year>(db);
                                                   },
                                                   "5.9_9"},
                                     healthy_state{"rollback_journal_an_hour_ahead",
                                                   [](const fs::path& db) {
                                                       rollback_journal(db);
                                                       times_ahead<an_hour>(db);
                                                   },
                                                   "5.9_4"},
                                     healthy_state{"rollback_journal_a_year_ahead",
                                                   [](const fs::path& db) {
                                                       rollback_journal(db);
                                                       times_ahead<a_year>(db);
                                                   },
                                                   "5.9_4"}),
                     testing::Values("", "nobody")),
    [](const testing::TestParamInfo<healthy_database_test::ParamType>& info) {
        return std::string(std::get<0>(info.param).label) +
               (*std::get<1>(info.param) == '\0' ? "_as_root" : "_as_nobody");
    });

// Owner, group, mode, change time and contents of every file below a folder,
// and of the folder itself: what a search that wrote, chowned or chmodded
// anything would leave changed.
std::string status_snapshot(const fs::path& dir) {
    std::string all;
    const auto add = [&all](const fs::path& path, const std::string& name) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            all += name + " gone\n";
            return;
        }
        all += name + " uid " + std::to_string(st.st_uid) + " gid " + std::to_string(st.st_gid) +
               " mode " + std::to_string(st.st_mode) + " ctime " +
               std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) +
               " mtime " + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec) + " size " + std::to_string(st.st_size) + "\n";
    };
    add(dir, ".");
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        add(file, file.lexically_relative(dir).string());
    }
    return all + snapshot(dir);
}

// Run as root, which could write, chown or chmod anything: a search leaves
// the owners, modes and change times of the database, and of the -wal and
// -shm a writer left (owned by another user), as they were.
TEST(package_database_as_root, leaves_owners_modes_and_change_times_alone) {
    if (!is_root()) {
        GTEST_SKIP() << "needs real root: owners and change times only root could move";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (void (*make)(const fs::path&) : {last_commit_in_the_wal, rollback_journal}) {
        const fixture::sample_system system;
        const fs::path db = system.pkg() / "local.sqlite";
        make(db);
        for (const auto& entry : fs::directory_iterator(system.pkg())) {
            ASSERT_EQ(chown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        const std::string before = status_snapshot(system.pkg());
        const std::string version = fs::exists(db.string() + "-wal") ? "5.9_9" : "5.9_4";
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"-f", "zsh-5"},
              std::vector<std::string>{"--status", "zsh-5"},
              std::vector<std::string>{"--outdated", "-r", ""}}) {
            RUN_OR_SKIP(got, system.setup(), command(args));
            EXPECT_EQ(got.err, "") << args[0];
            EXPECT_EQ(got.status, 0) << args[0];
        }
        RUN_OR_SKIP(got, system.setup(), command({"-f", "zsh-5"}));
        EXPECT_EQ(got.out, "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: " + version +
                               " [bapt@FreeBSD.org, /usr/local])\n");
        EXPECT_EQ(status_snapshot(system.pkg()), before) << version;
    }
}

// local.sqlite a link into another folder, where the database's -wal holds
// commits not yet copied into it: those are read, from beside the file the
// link names, and neither folder changes.
TEST(package_database, a_symlink_to_a_database_whose_wal_holds_the_last_commit) {
    const fixture::sample_system system;
    const fixture::temp_dir elsewhere;
    const fs::path real = elsewhere / "local.sqlite";
    fs::rename(system.pkg() / "local.sqlite", real);
    last_commit_in_the_wal(real);
    fs::create_symlink(real, system.pkg() / "local.sqlite");
    fixture::open_to_all(elsewhere.path());
    const std::string before = snapshot(elsewhere.path()) + snapshot(system.pkg());
    for (const char* user : {"", "nobody"}) {
        if (*user != '\0' && !is_root()) {
            break;
        }
        fixture::run_setup setup = system.setup();
        setup.user = user;
        RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
        EXPECT_EQ(got.out, "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_9 "
                           "[bapt@FreeBSD.org, /usr/local])\n")
            << user;
        EXPECT_EQ(got.err, "") << user;
        RUN_OR_SKIP(status, setup, command({"--status", "zsh-5"}));
        EXPECT_EQ(status.out, "> shells/zsh zsh-5.9_9 (index has 5.9_5)\n") << user;
    }
    EXPECT_EQ(snapshot(elsewhere.path()) + snapshot(system.pkg()), before);
}

// Whether the process has the file open, from Linux's /proc/PID/fd.
bool has_open(pid_t pid, const fs::path& file) {
    std::error_code error;
    const fs::path target = fs::canonical(file, error);
    for (fs::directory_iterator fd(fs::path("/proc") / std::to_string(pid) / "fd", error), end;
         !error && fd != end; fd.increment(error)) {
        std::error_code ignored;
        if (fs::read_symlink(fd->path(), ignored) == target) {
            return true;
        }
    }
    return false;
}

// --outdated waits for a writer that holds the database: let go once the
// search has tried the database, found it locked and tried again, the
// database is read and the search goes on as usual.
TEST(package_database, a_writer_that_lets_go_within_the_wait_is_waited_for) {
#if !defined(__linux__)
    GTEST_SKIP() << "sees the search open the database in Linux's /proc/PID/fd";
#endif
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    sample_rollback_db(db);
    fixture::lock_holder holder(db);
    ASSERT_TRUE(holder.locked());
    fixture::run_setup setup = system.setup();
    setup.timeout = std::chrono::seconds(30);
    fixture::command_process search(setup, command({"--outdated", "-f", "zsh"}));
    ASSERT_GT(search.pid(), 0);
    // Seen opening the database twice, closed between: it tried again.
    int opens = 0;
    bool was_open = false;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (opens < 2 && std::chrono::steady_clock::now() < give_up && kill(search.pid(), 0) == 0) {
        const bool open = has_open(search.pid(), db);
        opens += open && !was_open ? 1 : 0;
        was_open = open;
        std::this_thread::yield();
    }
    holder.release();
    const fixture::run_result got = search.finish();
    EXPECT_EQ(opens, 2) << "the search was not seen trying the database again";
    EXPECT_EQ(got.out, "+ zsh-5.9_5 (/usr/ports/shells/zsh, Version: 5.9_4 "
                       "[bapt@FreeBSD.org, /usr/local])\n");
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

// --- the package database while the package manager writes it ---

// Waits until the search blocks on its full output, or ends the test:
// skipped where no namespace can be made, failed when the search ended first.
#define WAIT_UNTIL_OUTPUT_BLOCKS(search)                                                           \
    if (!(search).wait_until_output_blocks()) {                                                    \
        const fixture::run_result ended = (search).finish();                                       \
        if (ended.skipped) {                                                                       \
            GTEST_SKIP() << ended.err;                                                             \
        }                                                                                          \
        FAIL() << "the search never waited for its reader: " << ended.err;                         \
    }

// A system whose index holds port0 to port<count - 1> in misc/, then one port
// called latecomer; the database, in the given journal mode, lists all but
// the latecomer at version 1.0, so that every lookup but the last finds a row.
struct busy_system {
    fixture::sample_system system;
    fs::path db = system.pkg() / "local.sqlite";

    busy_system(int count, const std::string& journal_mode) {
        std::string index;
        for (int i = 0; i <= count; ++i) {
            const std::string name = i < count ? "port" + std::to_string(i) : "latecomer";
            const std::string path = "/usr/ports/misc/" + name;
            index.append(name).append("-1.0|").append(path).append("|/usr/local|Port ");
            index.append(name).append("|").append(path).append("/pkg-descr|ports@FreeBSD.org|");
            index.append("misc|||https://example.org/|||\n");
        }
        fixture::write_file(system.ports() / "INDEX-15", index);
        std::string inserts = "BEGIN;";
        for (int i = 0; i < count; ++i) {
            inserts += fixture::package_insert("port" + std::to_string(i), "1.0");
        }
        fs::remove(db);
        fixture::make_package_db(db, inserts + "COMMIT;");
        fixture::run_sql(db, "PRAGMA journal_mode = " + journal_mode + ";");
        fixture::open_to_all(system.pkg());
    }
};

// The marks that begin the output's lines, in order.
std::string marks_of(const std::string& out) {
    std::string marks;
    for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
        marks += out[at];
    }
    return marks;
}

class concurrent_writer_test : public testing::TestWithParam<const char*> {};

// The search blocks on its full output part-way through the index; a commit
// then must succeed, and the ports after it must show what it committed.
TEST_P(concurrent_writer_test, a_commit_while_the_search_waits_succeeds_and_is_seen) {
    const busy_system busy(20000, GetParam());
    fixture::command_process search(busy.system.setup(), command({"-f", ""}));
    WAIT_UNTIL_OUTPUT_BLOCKS(search);
    {
        const fixture::connection writer = fixture::open_for_writing(busy.db);
        fixture::exec(writer.get(), "PRAGMA busy_timeout = 10000;" +
                                        fixture::package_insert("latecomer", "2.0_1"));
    }
    const fixture::run_result got = search.finish();
    EXPECT_TRUE(got.out.ends_with("+ port19999-1.0 (/usr/ports/misc/port19999, Version: 1.0 "
                                  "[ports@FreeBSD.org, /usr/local])\n"
                                  "+ latecomer-1.0 (/usr/ports/misc/latecomer, Version: 2.0_1 "
                                  "[ports@FreeBSD.org, /usr/local])\n"))
        << got.out.substr(got.out.size() - std::min<std::size_t>(got.out.size(), 300));
    EXPECT_TRUE(got.out.starts_with("+ port0-1.0 (/usr/ports/misc/port0, Version: 1.0 "
                                    "[ports@FreeBSD.org, /usr/local])\n"));
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

// Each time the search waits for its reader, a writer commits: every commit
// must succeed, however long the search runs.
TEST_P(concurrent_writer_test, commits_succeed_all_through_a_long_search) {
    const busy_system busy(20000, GetParam());
    fixture::command_process search(busy.system.setup(), command({"-r", ""}));
    const fixture::connection writer = fixture::open_for_writing(busy.db);
    fixture::exec(writer.get(), "PRAGMA busy_timeout = 10000;");
    int commits = 0;
    while (search.wait_until_output_blocks()) {
        ++commits;
        fixture::exec(writer.get(), "UPDATE packages SET version = '" + std::to_string(commits) +
                                        "' WHERE name = 'port0';");
        search.read_output(65536);
    }
    const fixture::run_result got = search.finish();
    if (got.skipped) {
        GTEST_SKIP() << got.err;
    }
    EXPECT_GE(commits, 5) << "the search should have waited for its reader many times";
    EXPECT_TRUE(got.out.ends_with(counts(20001, 20001, 20001)));
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

// A package manager committing again and again, as another process: each
// round opens the database, changes a version, commits and closes. A round
// is made each time the test asks for one, in turn; the writer tells of each
// commit as it makes it, and when told to stop, of how many it made.
class looping_writer {
public:
    explicit looping_writer(const fs::path& db) {
        if (pipe2(go_, O_CLOEXEC) != 0 || pipe2(made_, O_CLOEXEC) != 0 ||
            pipe2(count_, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
        child_ = fork();
        if (child_ == 0) {
            close(go_[1]);
            close(made_[0]);
            close(count_[0]);
            int commits = 0;
            char round = 0;
            // Until the test closes its end: the rounds asked for are all made.
            while (read(go_[0], &round, 1) == 1) {
                sqlite3* db_handle = nullptr;
                if (sqlite3_open(db.c_str(), &db_handle) == SQLITE_OK) {
                    sqlite3_busy_timeout(db_handle, 10000);
                    const std::string sql = "BEGIN IMMEDIATE; UPDATE packages SET version = '" +
                                            std::to_string(commits % 2 == 0 ? 2 : 1) +
                                            ".0' WHERE name = 'port0'; COMMIT;";
                    if (sqlite3_exec(db_handle, sql.c_str(), nullptr, nullptr, nullptr) ==
                        SQLITE_OK) {
                        ++commits;
                    }
                }
                sqlite3_close(db_handle);
                if (write(made_[1], &round, 1) != 1) {
                    _exit(1);
                }
            }
            _exit(write(count_[1], &commits, sizeof commits) == sizeof commits ? 0 : 1);
        }
        close(go_[0]);
        close(made_[1]);
        close(count_[1]);
    }
    ~looping_writer() { stop(); }
    looping_writer(const looping_writer&) = delete;
    looping_writer& operator=(const looping_writer&) = delete;

    // Asks for one more round, made after those asked for before.
    void ask() {
        const char round = '+';
        if (write(go_[1], &round, 1) != 1) {
            throw std::runtime_error("the writer is gone");
        }
        ++asked_;
    }

    // Waits until every round asked for is made: false when the writer
    // ended first, or after a minute, a guard against one that hangs.
    bool wait_for_rounds() {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        char rounds[64];
        while (made_rounds_ < asked_) {
            pollfd told{made_[0], POLLIN, 0};
            if (poll(&told, 1, fixture::milliseconds_until(guard)) == 0) {
                return false;
            }
            const ssize_t got = read(made_[0], rounds, sizeof rounds);
            if (got == 0) {
                return false;
            }
            made_rounds_ += static_cast<int>(std::max<ssize_t>(got, 0));
        }
        return true;
    }

    // Stops the writer once it has made the rounds asked for, and returns how
    // many of them committed.
    int stop() {
        if (child_ > 0) {
            close(go_[1]);
            if (read(count_[0], &commits_, sizeof commits_) != sizeof commits_) {
                commits_ = -1;
            }
            close(count_[0]);
            close(made_[0]);
            waitpid(child_, nullptr, 0);
            child_ = -1;
        }
        return commits_;
    }

    [[nodiscard]] int asked() const { return asked_; }

private:
    int go_[2] = {-1, -1};
    int made_[2] = {-1, -1};
    int count_[2] = {-1, -1};
    pid_t child_ = -1;
    int asked_ = 0;
    int made_rounds_ = 0;
    int commits_ = 0;
};

// Commits all through a long search, by another process that opens and
// closes the database each time: every installed port shows as installed,
// none as not, nothing is reported, and every commit succeeds. A round is
// asked for each time the search waits for its reader, and made while the
// search reads on; the first is waited for, so that one at least is made
// while the search waits part-way, whatever the two processes' pace.
TEST_P(concurrent_writer_test, a_writer_committing_in_a_loop_never_hides_installed_ports) {
    const busy_system busy(20000, GetParam());
    looping_writer writer(busy.db);
    fixture::run_setup setup = busy.system.setup();
    setup.timeout = std::chrono::seconds(60);
    fixture::command_process search(setup, command({"-f", ""}));
    WAIT_UNTIL_OUTPUT_BLOCKS(search);
    writer.ask();
    EXPECT_TRUE(writer.wait_for_rounds()) << "the writer couldn't commit beside the search";
    while (search.wait_until_output_blocks()) {
        writer.ask();
    }
    const fixture::run_result got = search.finish();
    const int commits = writer.stop();
    const std::string marks = marks_of(got.out);
    ASSERT_EQ(marks.size(), 20001U);
    EXPECT_EQ(marks.find('-'), 20000U) << "only the latecomer isn't installed";
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_GE(writer.asked(), 5) << "the search should have waited for its reader many times";
    EXPECT_EQ(commits, writer.asked());
}

INSTANTIATE_TEST_SUITE_P(journal_modes, concurrent_writer_test, testing::Values("DELETE", "WAL"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "WAL" ? "wal" : "rollback_journal";
                         });

// The lines of /proc/locks that belong to the process.
std::string locks_of(const std::string& pid) {
    std::string held;
    const std::string all = fixture::read_file("/proc/locks");
    for (std::size_t at = 0; at < all.size(); at = all.find('\n', at) + 1) {
        const std::string line = all.substr(at, all.find('\n', at) - at);
        if (line.find(" " + pid + " ") != std::string::npos) {
            held += line + "\n";
        }
    }
    return held;
}

// While the search waits on its reader, it holds no lock on the database:
// another connection can even switch the journal mode, which needs the
// database to itself.
TEST_P(concurrent_writer_test, no_lock_is_held_while_the_search_waits_on_its_output) {
#if !defined(__linux__)
    GTEST_SKIP() << "reads the locks a process holds from Linux's /proc/locks";
#endif
    const busy_system busy(20000, GetParam());
    fixture::command_process search(busy.system.setup(), command({"-r", ""}));
    WAIT_UNTIL_OUTPUT_BLOCKS(search);
    ASSERT_GT(search.pid(), 0);
    EXPECT_EQ(locks_of(std::to_string(search.pid())), "");
    const bool wal = std::string(GetParam()) == "WAL";
    {
        const fixture::connection writer = fixture::open_for_writing(busy.db);
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(
            sqlite3_prepare_v2(writer.get(),
                               wal ? "PRAGMA journal_mode = DELETE" : "PRAGMA journal_mode = WAL",
                               -1, &statement, nullptr),
            SQLITE_OK);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)),
                     wal ? "delete" : "wal");
        sqlite3_finalize(statement);
    }
    const fixture::run_result got = search.finish();
    EXPECT_TRUE(got.out.ends_with(counts(20001, 20001, 20001)));
    EXPECT_EQ(got.status, 0);
}

// Locked by a writer at the first matches and unlocked before later ones: the
// early matches show "-", every one after the unlock "+".
TEST(hostile_database, a_database_unlocked_part_way_is_seen_from_then_on) {
    const busy_system busy(20000, "DELETE");
    fixture::connection writer = fixture::begin_exclusive_write(busy.db, "7");
    fixture::command_process search(busy.system.setup(), command({""}));
    WAIT_UNTIL_OUTPUT_BLOCKS(search);
    fixture::exec(writer.get(), "COMMIT;");
    const fixture::run_result got = search.finish();
    const std::string marks = marks_of(got.out);
    ASSERT_EQ(marks.size(), 20001U);
    const std::size_t unlocked = marks.find('+');
    ASSERT_NE(unlocked, std::string::npos) << "no port was seen as installed";
    EXPECT_GT(unlocked, 1000U) << "the first matches came while the writer held the lock";
    // Every installed port after the unlock shows "+"; the latecomer isn't one.
    EXPECT_EQ(marks.find_last_of('-', marks.size() - 2) + 1, unlocked)
        << "a \"-\" after the unlock, at line " << marks.find_last_of('-', marks.size() - 2);
    EXPECT_EQ(marks.back(), '-');
    // Said once, for the ports shown while the writer held it.
    EXPECT_EQ(got.err, "vandrel: " + busy.db.string() +
                           ": database is locked; installed ports are not marked\n");
    EXPECT_EQ(got.status, 0);
}

// --- the term ---

struct term_case {
    const char* label;
    std::string term;
    friend void PrintTo(const term_case& c, std::ostream* os) { *os << c.label; }
};

class hostile_term_test : public testing::TestWithParam<term_case> {};

// Every search over all fields must find exactly what the index format says.
TEST_P(hostile_term_test, finds_exactly_the_fields_that_hold_it) {
    const std::string& term = GetParam().term;
    int results = 0;
    int matches = 0;
    int entries = 0;
    const std::string index = fixture::read_source_file("tests/data/INDEX-sample");
    for (std::size_t at = 0; at < index.size();) {
        // The last line may lack its newline.
        const std::size_t end = std::min(index.find('\n', at), index.size());
        const std::vector<std::optional<std::string>> f = fields_of(index.substr(at, end - at));
        at = end + 1;
        ++entries;
        int found = 0;
        for (const std::size_t field :
             {0, 1, 3, 5, 7, 8}) { // name, path, comment, maintainer, deps
            if (f[0] && field < f.size() && f[field] &&
                strcasestr(f[field]->c_str(), term.c_str()) != nullptr) {
                ++found;
            }
        }
        matches += found;
        results += found > 0 ? 1 : 0;
    }
    const fixture::sample_system system;
    RUN_OR_SKIP(got, system.setup(), command({"-ar", term}));
    EXPECT_TRUE(got.out.ends_with(counts(results, matches, entries))) << got.out.substr(0, 200);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    terms, hostile_term_test,
    testing::Values(term_case{"as_long_as_an_argument_can_be", std::string(131071, 'z')},
                    term_case{"format_directives", "%s%n%x"}, term_case{"a_separator", "|"},
                    term_case{"a_single_quote", "'"}, term_case{"non_ascii", "\xc3\xa9\xff"},
                    term_case{"empty_over_all_fields", ""}));

// --- standard output ---

// A reader that stops early must stop the run, not leave it failing writes to
// the end of a long index: the writer of the index (a FIFO here) sees its
// reader go long before it has written everything.
void expect_early_stop(bool ignore_sigpipe) {
    std::signal(SIGPIPE, SIG_IGN); // for this test's own writer
    const fixture::sample_system system;
    const fs::path fifo = system.ports() / "INDEX-15";
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string sample = fixture::read_source_file("tests/data/INDEX-sample");
    constexpr int copies = 20000; // about 7 million lines
    std::atomic<int> written{0};
    fifo_writer writer(fifo, [&](int fd) {
        for (int i = 0; i < copies; ++i) {
            if (write(fd, sample.data(), sample.size()) != static_cast<ssize_t>(sample.size())) {
                break;
            }
            ++written;
        }
    });
    fixture::run_setup setup = system.setup();
    setup.stdout_limit = 100;
    setup.ignore_sigpipe = ignore_sigpipe;
    const fixture::run_result got = fixture::run_command(setup, command({"-n", ""}));
    const bool opened = writer.finish();
    if (got.skipped) {
        GTEST_SKIP() << got.err;
    }
    EXPECT_TRUE(opened) << "the search never opened its index";
    EXPECT_LT(written.load(), copies);
    EXPECT_EQ(got.out.size(), 100U);
    if (ignore_sigpipe) {
        EXPECT_EQ(got.err, "vandrel: write error: Broken pipe\n");
        EXPECT_EQ(got.status, 1);
    } else {
        EXPECT_EQ(got.signal, SIGPIPE);
        EXPECT_EQ(got.err, "");
    }
}

TEST(output, a_reader_that_closes_early_ends_the_run_by_sigpipe) {
    expect_early_stop(false);
}

TEST(output, with_sigpipe_ignored_a_closed_reader_is_a_write_error) {
    expect_early_stop(true);
}

// --- leaks and memory errors ---

TEST(valgrind, long_blocks_for_every_entry_run_clean) {
#if defined(VANDREL_SANITIZED)
    GTEST_SKIP() << "valgrind can't run a sanitized binary";
#else
    const std::optional<std::string> valgrind = find_on_path("valgrind");
    if (!valgrind) {
        GTEST_SKIP() << "valgrind is not installed";
    }
    const fixture::sample_system system;
    RUN_OR_SKIP(plain, system.setup(), command({"-nfar", ""}));
    RUN_OR_SKIP(checked, system.setup(),
                {*valgrind, "--quiet", "--leak-check=full", "--error-exitcode=99",
                 fixture::vandrel_binary(), "-nfar", ""});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_EQ(checked.err, "");
    EXPECT_TRUE(checked.out == plain.out) << "the output differs under valgrind";
    EXPECT_TRUE(plain.out.ends_with(" / Entries: 358\n\n"));
#endif
}

} // namespace
