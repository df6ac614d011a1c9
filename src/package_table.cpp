#include "package_table.h"

#include <ctime>
#include <memory>
#include <utility>

#include <sqlite3.h>

#include "readonly_vfs.h"

namespace {

// How much work one read may do before it is cut off, in SQLite virtual
// machine instructions: enough to read a table of half a million packages
// (about eight instructions a row), a hundred times the largest real system.
// A view that never ends stops here instead of running forever.
constexpr int progress_step = 1000;
constexpr int progress_steps_allowed = 5'000;

// A file written within a clock tick of being read can't be shown to stand
// still; a read as it stands waits for it to settle, this often.
constexpr int settle_tries = 3;
constexpr long settle_wait_ns = 20'000'000;

struct connection_closer {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
using connection = std::unique_ptr<sqlite3, connection_closer>;

struct statement_finalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using statement = std::unique_ptr<sqlite3_stmt, statement_finalizer>;

// A file: URI naming the same file, for opening with query parameters. An
// absolute path gets an empty authority, so that one starting with "//"
// stays a path.
std::string file_uri(std::string_view path, std::string_view parameters) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = path.starts_with('/') ? "file://" : "file:";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte == '?' || byte == '#' || byte < 0x20 || byte >= 0x7F) {
            uri += '%';
            uri += hex[byte >> 4U];
            uri += hex[byte & 0x0FU];
        } else {
            uri += c;
        }
    }
    uri += '?';
    uri += parameters;
    return uri;
}

int count_progress(void* steps_left) {
    int& left = *static_cast<int*>(steps_left);
    return --left < 0 ? 1 : 0; // non-zero interrupts the statement
}

// Opens the database read-only through the VFS that creates nothing. No busy
// handler: a database a writer holds locked fails at once.
connection open_database(const std::string& path, read_access access, int& steps_left) {
    const char* vfs = readonly_vfs_name();
    if (vfs == nullptr) {
        return {};
    }
    // readonly_shm: an existing -shm is read, never written or created.
    const std::string uri =
        file_uri(path, access == read_access::as_it_stands ? "immutable=1" : "readonly_shm=1");
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(
        uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, vfs);
    connection db(raw); // closed even when the open failed
    if (opened != SQLITE_OK) {
        return {};
    }
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_progress_handler(db.get(), progress_step, count_progress, &steps_left);
    return db;
}

statement prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    // Preparing reads the schema, which can fail like any read.
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return {};
    }
    return statement(raw);
}

// The column as text up to its first NUL, absent when NULL.
std::optional<std::string> text_column(sqlite3_stmt* statement, int column) {
    if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column))) {
        return std::string(text);
    }
    return std::nullopt;
}

// Runs read on a connection to the database in the files' state at the
// start, which it stores in state. A read as it stands counts only if the
// files are the same after it as before.
template <typename Read>
bool read_database(const std::string& path, db_files_state& state, Read&& read) {
    state = inspect_db_files(path);
    const read_access access = access_for(state);
    if (access == read_access::none) {
        return false;
    }
    if (access == read_access::as_it_stands) {
        for (int tries = 0; !state.settled && tries < settle_tries; ++tries) {
            const timespec wait{0, settle_wait_ns};
            ::nanosleep(&wait, nullptr);
            state = inspect_db_files(path);
        }
        if (!state.settled || access_for(state) != read_access::as_it_stands) {
            return false;
        }
    }
    int steps_left = progress_steps_allowed;
    {
        const connection db = open_database(path, access, steps_left);
        if (!db || !read(db.get())) {
            return false;
        }
    }
    return access != read_access::as_it_stands || inspect_db_files(path) == state;
}

} // namespace

read_access access_for(const db_files_state& state) {
    if (!state.database.regular) {
        return read_access::none;
    }
    if (state.journal == journal_mode::wal && !state.wal.exists) {
        return state.rollback_journal.exists ? read_access::none : read_access::as_it_stands;
    }
    return read_access::shared;
}

version_read read_installed_version(const std::string& path, std::string_view name) {
    version_read result;
    result.ok = read_database(path, result.state, [&](sqlite3* db) {
        const statement query = prepare(db, "SELECT version FROM packages WHERE name = ?1");
        // The 64-bit length: a name of any length is bound whole, or refused.
        if (!query || sqlite3_bind_text64(query.get(), 1, name.data(), name.size(),
                                          SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK) {
            return false;
        }
        const int stepped = sqlite3_step(query.get());
        if (stepped == SQLITE_ROW) {
            result.version = text_column(query.get(), 0);
        }
        return stepped == SQLITE_ROW || stepped == SQLITE_DONE;
    });
    if (!result.ok) {
        result.version.reset();
    }
    return result;
}

table_read read_installed_versions(const std::string& path) {
    table_read result;
    result.ok = read_database(path, result.state, [&](sqlite3* db) {
        // One pass over the table: a few pages of cache, reused, serve it as
        // well as the default 2 MiB, which would only cost page faults to fill.
        sqlite3_exec(db, "PRAGMA cache_size = 16", nullptr, nullptr, nullptr);
        const statement query = prepare(db, "SELECT name, version FROM packages");
        if (!query) {
            return false;
        }
        int stepped = SQLITE_ROW;
        while ((stepped = sqlite3_step(query.get())) == SQLITE_ROW) {
            // Only a text name can equal the text a lookup binds.
            if (sqlite3_column_type(query.get(), 0) != SQLITE_TEXT) {
                continue;
            }
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
            const auto length = static_cast<std::size_t>(sqlite3_column_bytes(query.get(), 0));
            const std::string_view key(name != nullptr ? name : "", length);
            if (!result.versions.contains(key)) { // the first row of a name wins
                result.versions.emplace(key, text_column(query.get(), 1));
            }
        }
        return stepped == SQLITE_DONE;
    });
    if (!result.ok) {
        result.versions.clear();
    }
    return result;
}
