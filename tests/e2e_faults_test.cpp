// Hostile inputs and failures, end to end: whatever the index, the package
// database, the term or standard output does, the run ends with the right
// status, never crashes or hangs, and creates or changes no file.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
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

// Writes to a FIFO from a thread of its own once a reader has opened it. When
// the run ends without opening it, finish() lets the writer go at once rather
// than leave it blocked in open() until the test times out.
class fifo_writer {
public:
    fifo_writer(const fs::path& fifo, std::function<void(int fd)> write)
        : thread_([this, fifo, write = std::move(write)] {
              int fd = -1;
              // Without a reader, a non-blocking open fails with ENXIO.
              while ((fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
                  if (errno != ENXIO || done_) {
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
              fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
              opened_ = true;
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

    // After the run: stops waiting for a reader, waits for the writer, and
    // tells whether a reader ever opened the FIFO.
    bool finish() {
        done_ = true;
        thread_.join();
        return opened_;
    }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> opened_{false};
    std::thread thread_; // last: it starts once the flags exist
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

struct database_case {
    const char* label;
    void (*make)(const fs::path& db);
    friend void PrintTo(const database_case& c, std::ostream* os) { *os << c.label; }
};

class hostile_database_test : public testing::TestWithParam<database_case> {};

TEST_P(hostile_database_test, shows_ports_as_not_installed_and_changes_nothing) {
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    GetParam().make(db);
    fixture::open_to_all(system.pkg());
    const std::string before = snapshot(system.pkg());
    RUN_OR_SKIP(got, system.setup(), command({"-f", "zsh-5"}));
    EXPECT_EQ(got.out, zsh_not_installed);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(snapshot(system.pkg()), before);
}

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

INSTANTIATE_TEST_SUITE_P(
    databases, hostile_database_test,
    testing::Values(
        database_case{"missing", [](const fs::path&) {}},
        database_case{"zero_bytes", [](const fs::path& db) { fixture::write_file(db, ""); }},
        database_case{"random_bytes",
                      [](const fs::path& db) {
                          std::mt19937 random(7); // NOLINT(cert-msc32-c,cert-msc51-cpp)
                          std::string bytes(65536, '\0');
                          for (char& c : bytes) {
                              c = static_cast<char>(random() & 0xFFU);
                          }
                          fixture::write_file(db, bytes);
                      }},
        database_case{"sqlite_header_then_garbage",
                      [](const fs::path& db) {
                          fixture::write_file(db, "SQLite format 3\0"s + std::string(8192, 'x'));
                      }},
        database_case{"no_packages_table",
                      [](const fs::path& db) {
                          rollback_journal_db(db, "CREATE TABLE pkgs (name TEXT, version TEXT);");
                      }},
        database_case{"packages_without_version",
                      [](const fs::path& db) {
                          rollback_journal_db(db, "CREATE TABLE packages (name TEXT, origin TEXT);"
                                                  "INSERT INTO packages VALUES ('zsh', 'x');");
                      }},
        database_case{"a_directory", [](const fs::path& db) { fs::create_directory(db); }},
        database_case{"a_fifo", [](const fs::path& db) { ASSERT_EQ(mkfifo(db.c_str(), 0644), 0); }},
        database_case{"a_view_that_never_ends",
                      [](const fs::path& db) {
                          rollback_journal_db(
                              db, "CREATE VIEW packages AS WITH RECURSIVE n(i) AS (SELECT 1 "
                                  "UNION ALL SELECT i + 1 FROM n) SELECT 'zsh' || i AS name, "
                                  "'1' AS version FROM n;");
                      }},
        database_case{"a_wal_without_its_shm", [](const fs::path& db) {
                          fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4"));
                          leave_in_wal(db, "UPDATE packages SET version = '5.9_9';");
                          fs::remove(db.string() + "-shm");
                      }}));

TEST(hostile_database, a_truncated_copy_neither_crashes_nor_changes) {
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    std::string inserts = fixture::read_source_file("tests/data/installed.sql");
    for (int i = 0; i < 400; ++i) {
        inserts += fixture::package_insert("filler" + std::to_string(i), "1.0");
    }
    fixture::make_package_db(db, inserts);
    fixture::run_sql(db, "PRAGMA journal_mode = DELETE;"); // one file to cut in half
    const std::string whole = fixture::read_file(db);
    fixture::write_file(db, whole.substr(0, whole.size() / 2));
    fixture::open_to_all(system.pkg());
    const std::string before = snapshot(system.pkg());
    RUN_OR_SKIP(got, system.setup(), command({"-r", "zsh"}));
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.status, 0);
    EXPECT_TRUE(got.out.ends_with(counts(5, 5, 358))) << got.out;
    EXPECT_EQ(snapshot(system.pkg()), before);
}

TEST(hostile_database, a_database_locked_by_a_writer_shows_not_installed_at_once) {
    const fixture::sample_system system;
    const fs::path db = system.pkg() / "local.sqlite";
    fs::remove(db);
    rollback_journal_db(db, "CREATE TABLE packages (name TEXT, version TEXT);"
                            "INSERT INTO packages VALUES ('zsh', '5.9');");
    fixture::open_to_all(system.pkg());
    const fixture::connection writer = fixture::begin_exclusive_write(db, "6");
    RUN_OR_SKIP(got, system.setup(), command({"-f", "zsh-5"}));
    EXPECT_EQ(got.out, zsh_not_installed);
    EXPECT_EQ(got.status, 0);
    fixture::exec(writer.get(), "COMMIT;");
}

TEST(hostile_database, a_file_the_user_cannot_read_shows_not_installed) {
    if (!is_root()) {
        GTEST_SKIP() << "needs real root to run the search as nobody";
    }
    const fixture::sample_system system;
    fs::permissions(system.pkg() / "local.sqlite", fs::perms::none);
    const std::string before = snapshot(system.pkg());
    fixture::run_setup setup = system.setup();
    setup.user = "nobody";
    RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
    EXPECT_EQ(got.out, zsh_not_installed);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(snapshot(system.pkg()), before);
}

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

INSTANTIATE_TEST_SUITE_P(
    states, healthy_database_test,
    testing::Combine(
        testing::Values(healthy_state{"wal_closed", [](const fs::path&) {}, "5.9_4"},
                        healthy_state{"wal_with_its_wal_and_shm",
                                      [](const fs::path& db) {
                                          // The last commit is only in the -wal: it must be seen.
                                          leave_in_wal(db, "UPDATE packages SET version = '5.9_9' "
                                                           "WHERE name = 'zsh';");
                                          ASSERT_TRUE(fs::exists(db.string() + "-wal"));
                                          ASSERT_TRUE(fs::exists(db.string() + "-shm"));
                                      },
                                      "5.9_9"},
                        healthy_state{"rollback_journal",
                                      [](const fs::path& db) {
                                          fixture::run_sql(db, "PRAGMA journal_mode = DELETE;");
                                      },
                                      "5.9_4"}),
        testing::Values("", "nobody")),
    [](const testing::TestParamInfo<healthy_database_test::ParamType>& info) {
        return std::string(std::get<0>(info.param).label) +
               (*std::get<1>(info.param) == '\0' ? "_as_root" : "_as_nobody");
    });

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

TEST(hostile_database, a_hot_journal_never_shows_uncommitted_data) {
    for (const std::string user : {"", "nobody"}) {
        if (!user.empty() && !is_root()) {
            GTEST_SKIP() << "needs real root to run the search as nobody";
        }
        const fixture::sample_system system;
        const fs::path db = system.pkg() / "local.sqlite";
        fixture::run_sql(db, "PRAGMA journal_mode = DELETE;");
        crash_a_writer_mid_transaction(db);
        ASSERT_TRUE(fs::exists(db.string() + "-journal"));
        ASSERT_EQ(version_in_the_file_alone(db), "UNCOMMITTED")
            << "the writer's change should have reached the file";
        fixture::open_to_all(system.pkg());
        const std::string before = snapshot(system.pkg());
        fixture::run_setup setup = system.setup();
        setup.user = user;
        RUN_OR_SKIP(got, setup, command({"-f", "zsh-5"}));
        EXPECT_EQ(got.out, zsh_not_installed) << user;
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(snapshot(system.pkg()), before) << user;
    }
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
