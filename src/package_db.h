// The installed version of a port, from the package manager's SQLite database.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

struct sqlite3;
struct sqlite3_stmt;

// The package manager's database, asked about one port after another during
// a scan. It is opened read-only at the first lookup, so a search without a
// match never touches it, and it is never created or changed. One connection
// and one prepared query serve the whole scan, but no lock outlives a lookup:
// each one ends its read before it returns, so the package manager can commit
// at any moment of a long search.
//
// Any failure (no file, not a database, no packages table, locked by a writer,
// a NULL version, no row) gives std::nullopt for that lookup, with no message
// and no wait; the next lookup starts again from the open, so a database that
// is unlocked, or that appears, part-way through a search is seen from then on.
class package_db {
public:
    explicit package_db(std::string path);
    ~package_db();
    package_db(const package_db&) = delete;
    package_db& operator=(const package_db&) = delete;
    package_db(package_db&&) = delete;
    package_db& operator=(package_db&&) = delete;

    // The version of the package called name (without its version).
    std::optional<std::string> lookup_installed_version(std::optional<std::string_view> name);

private:
    struct connection_closer {
        void operator()(sqlite3* db) const noexcept;
    };
    struct statement_finalizer {
        void operator()(sqlite3_stmt* statement) const noexcept;
    };

    // What identifies the file's contents, for a database read as it stands.
    struct file_state {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long modified_s = 0;
        long modified_ns = 0;
        long changed_s = 0;
        long changed_ns = 0;
        bool operator==(const file_state&) const = default;
    };

    // How opening or asking ended: read_only is SQLite refusing a read it
    // can't set up, which reading the file as it stands may get round.
    enum class read_result { answered, read_only, failed };

    // What a failed SQLite call's status means here.
    static read_result read_failure(int status) noexcept;
    read_result open(bool as_it_stands);
    read_result query(std::string_view name, std::optional<std::string>& version);
    void close() noexcept;
    [[nodiscard]] std::optional<file_state> current_state() const;

    std::string path_;
    // The statement is declared after the connection, so that it goes first.
    std::unique_ptr<sqlite3, connection_closer> connection_;
    std::unique_ptr<sqlite3_stmt, statement_finalizer> statement_;
    // Set while the connection reads the file as it stands (immutable): it
    // then sees no change, so it is dropped as soon as the file changes.
    std::optional<file_state> read_as_it_stands_;
};
