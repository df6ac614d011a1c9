#include <algorithm>
#include <filesystem>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fixtures.h"
#include "package_db.h"

using namespace std::string_view_literals;

namespace {

class lookup_installed_version_test : public testing::Test {
protected:
    fixture::temp_dir dir;
    std::filesystem::path db = dir / "local.sqlite";

    std::optional<std::string> lookup(std::optional<std::string_view> name) {
        return lookup_installed_version(db.c_str(), name);
    }
};

TEST_F(lookup_installed_version_test, answers_from_the_packages_table) {
    fixture::make_package_db(db, fixture::package_insert("zsh", "5.9_4") +
                                     fixture::package_insert("py311-requests", "2.32.3") +
                                     fixture::package_insert("o'neil", "1.0,1"));
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
    EXPECT_EQ(lookup_installed_version(nullptr, "zsh"sv), std::nullopt);
}

TEST_F(lookup_installed_version_test, takes_the_first_row_and_treats_null_as_absent) {
    fixture::run_sql(db, "CREATE TABLE packages (name TEXT, version TEXT);"
                         "INSERT INTO packages VALUES ('twice', '1'), ('twice', '2'),"
                         " ('nothing', NULL), ('empty', '');");
    EXPECT_EQ(lookup("twice"sv), "1");
    EXPECT_EQ(lookup("nothing"sv), std::nullopt);
    EXPECT_EQ(lookup("empty"sv), "");
}

TEST_F(lookup_installed_version_test, a_missing_database_is_absent_and_not_created) {
    EXPECT_EQ(lookup("zsh"sv), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(db));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(lookup_installed_version_test, unusable_databases_are_absent) {
    fixture::write_file(db, "this is not an SQLite database, only some text\n");
    EXPECT_EQ(lookup("zsh"sv), std::nullopt);

    std::filesystem::remove(db);
    fixture::write_file(db, "");
    EXPECT_EQ(lookup("zsh"sv), std::nullopt);

    std::filesystem::remove(db);
    fixture::run_sql(db, "CREATE TABLE other (name TEXT, version TEXT);");
    EXPECT_EQ(lookup("zsh"sv), std::nullopt);

    std::filesystem::remove(db);
    fixture::run_sql(db, "CREATE TABLE packages (name TEXT, origin TEXT);"
                         "INSERT INTO packages VALUES ('zsh', 'shells/zsh');");
    EXPECT_EQ(lookup("zsh"sv), std::nullopt) << "no version column";

    std::filesystem::remove(db);
    std::filesystem::create_directory(db);
    EXPECT_EQ(lookup("zsh"sv), std::nullopt) << "a directory at the path";
}

TEST_F(lookup_installed_version_test, never_changes_a_rollback_journal_database) {
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

TEST_F(lookup_installed_version_test, a_database_locked_by_a_writer_is_absent_at_once) {
    for (const char* mode : {"DELETE", "WAL"}) {
        std::filesystem::remove(db);
        fixture::run_sql(db, std::string("PRAGMA journal_mode = ") + mode +
                                 "; CREATE TABLE packages (name TEXT, version TEXT);"
                                 "INSERT INTO packages VALUES ('zsh', '5.9');");
        const fixture::connection writer = fixture::begin_exclusive_write(db);
        // A rollback journal locks readers out; WAL lets them read the last commit.
        const std::optional<std::string> expected =
            std::string(mode) == "WAL" ? std::optional<std::string>("5.9") : std::nullopt;
        EXPECT_EQ(lookup("zsh"sv), expected) << mode;
        EXPECT_EQ(lookup("zsh"sv), expected) << mode << ", again: no lasting effect";
        ASSERT_EQ(sqlite3_exec(writer.get(), "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_EQ(lookup("zsh"sv), "6") << mode << ", after the writer is done";
    }
}

// As an ordinary user, in a folder that user can't write, a WAL database can
// only be read as it stands; the folder's name must survive the URI that asks
// for that.
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

    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    if (child == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
            _exit(2);
        }
        const std::optional<std::string> version = lookup_installed_version(db.c_str(), "zsh");
        const std::string answer = version.value_or("absent");
        _exit(write(result[1], answer.data(), answer.size()) > 0 ? 0 : 3);
    }
    close(result[1]);
    char answer[64] = {};
    const ssize_t got = read(result[0], answer, sizeof answer - 1);
    close(result[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(std::string(answer, static_cast<std::size_t>(std::max<ssize_t>(got, 0))), "5.9_4");
    EXPECT_FALSE(std::filesystem::exists(folder / "local.sqlite-shm"));
}

} // namespace
