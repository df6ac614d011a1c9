// Reading the package manager's packages table through SQLite without
// writing anything: no file is created, changed or deleted, and no lock
// outlives the read.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "db_files.h"

// How a database in a given state can be read without writing.
enum class read_access {
    none,         // not at all: no regular file, or nothing SQLite can read without writing
    shared,       // by SQLite, with its locks, through the files that exist
    as_it_stands, // the database file alone, unlocked: a WAL database with no -wal
};

// The access for the state. A WAL database without a -wal (the state a
// closed WAL database is in) can't be read by SQLite without creating its
// -wal and -shm; the file then holds every commit and is read on its own.
// Everything else is read by SQLite, which refuses what it could only read
// by writing: a hot journal to roll back, a WAL without its -shm.
read_access access_for(const db_files_state& state);

struct string_hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// Installed versions by package name; a version of NULL is absent.
using installed_versions =
    std::unordered_map<std::string, std::optional<std::string>, string_hash, std::equal_to<>>;

// The outcome of one read: ok is false when the database couldn't be read
// (missing, not a database, no such table or column, locked, a hot journal,
// changed under a read as it stands, or the query ran away). state is the
// files' state just before the read: a later state that equals it means
// nothing was committed since.
struct version_read {
    bool ok = false;
    std::optional<std::string> version; // absent when no row or a NULL version
    db_files_state state;
};

struct table_read {
    bool ok = false;
    installed_versions versions;
    db_files_state state;
};

// The version of the package called name: the first row's, as SQLite
// delivers them; a NUL in it ends it. One connection, opened and closed.
version_read read_installed_version(const std::string& path, std::string_view name);

// Every package's version, in one read transaction; the first row of each
// name wins, as for a single lookup. One connection, opened and closed.
table_read read_installed_versions(const std::string& path);
