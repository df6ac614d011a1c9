// Shared helpers for the tests: temporary folders, captured streams, fixture
// databases and the expected texts.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "checked_output.h"
#include "cli.h"
#include "searched_fields.h"

struct sqlite3;

namespace fixture {

std::filesystem::path source_dir();

// Reads a file of the source tree (e.g. "tests/data/INDEX-sample") whole.
std::string read_source_file(std::string_view relative);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view content);

// A fresh folder, removed with everything in it when the object goes.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(std::string_view name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

// A stream that collects what is written to it.
class memory_stream {
public:
    memory_stream();
    ~memory_stream();
    memory_stream(const memory_stream&) = delete;
    memory_stream& operator=(const memory_stream&) = delete;
    [[nodiscard]] std::FILE* get() const { return file_; }
    // The stream as the printers write to it.
    checked_output& output() { return output_; }
    std::string text();

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_ = nullptr;
    checked_output output_{nullptr};
};

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// An unnamed file holding content, positioned at its start.
file_handle stream_with(std::string_view content);

struct connection_closer {
    void operator()(sqlite3* db) const;
};
using connection = std::unique_ptr<sqlite3, connection_closer>;

// Runs SQL on a connection; throws with SQLite's message on error.
void exec(sqlite3* db, const std::string& sql);

// Opens a database file for writing, creating it; throws on error.
connection open_for_writing(const std::filesystem::path& database);

// A writer in the middle of an exclusive transaction that has set the version
// of every package to new_version: readers of a rollback-journal database are
// locked out until it commits or goes.
connection begin_exclusive_write(const std::filesystem::path& database,
                                 std::string_view new_version);

// Runs SQL against a database file, creating it; throws on error.
void run_sql(const std::filesystem::path& database, const std::string& sql);

// The package manager's schema (WAL mode) with the given INSERT statements.
void make_package_db(const std::filesystem::path& database, const std::string& inserts = "");

// An INSERT of one package with every NOT NULL column filled, installed from
// origin (category/port), or from misc/NAME when none is given.
std::string package_insert(std::string_view name, std::string_view version,
                           std::string_view origin = {});

// A null-terminated array of pointers to the strings, as execve and getopt
// take them; valid while the strings are.
std::vector<char*> c_strings(std::vector<std::string>& strings);

// The command line "vandrel ARGS...", parsed as the program parses its own.
command_line parse_arguments(std::vector<std::string> args);

// The options of a command line with these option letters ("" for none), as
// the program parses them.
search_options options_with(std::string_view letters);

// What a search for term with these options and excluded terms matches by;
// the terms must be valid.
search_criteria criteria_for(std::string term, const search_options& options = {},
                             const std::vector<std::string>& excluded = {});

// Makes a folder and its files readable by every user, for runs as nobody.
void open_to_all(const std::filesystem::path& path);

// The texts the program must print, written out independently of it.
std::string expected_version_line();
std::string expected_help(std::string_view invocation_name);

} // namespace fixture
