#include "package_db.h"

#include <sys/stat.h>
#include <utility>

#include <sqlite3.h>

namespace {

// A file: URI naming the same file, for opening with query parameters.
std::string file_uri(std::string_view path, std::string_view parameters) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file:";
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

} // namespace

package_db::read_result package_db::read_failure(int status) noexcept {
    return (status & 0xFF) == SQLITE_READONLY ? read_result::read_only : read_result::failed;
}

void package_db::connection_closer::operator()(sqlite3* db) const noexcept {
    sqlite3_close(db);
}

void package_db::statement_finalizer::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

package_db::package_db(std::string path) : path_(std::move(path)) {}

package_db::~package_db() {
    close();
}

void package_db::close() noexcept {
    statement_.reset(); // a connection with a statement left can't close
    connection_.reset();
    read_as_it_stands_.reset();
}

std::optional<package_db::file_state> package_db::current_state() const {
    struct stat status {};
    if (::stat(path_.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return file_state{status.st_dev,          status.st_ino,
                      status.st_size,         static_cast<long>(status.st_mtim.tv_sec),
                      status.st_mtim.tv_nsec, static_cast<long>(status.st_ctim.tv_sec),
                      status.st_ctim.tv_nsec};
}

// Opens the database read-only, never creating it, and prepares the query.
// No busy handler is set, so a database that a writer holds locked fails at
// once. as_it_stands opens it immutable: no locks, no write-ahead log.
package_db::read_result package_db::open(bool as_it_stands) {
    close();
    std::optional<file_state> state;
    if (as_it_stands) {
        state = current_state();
        if (!state) {
            return read_result::failed;
        }
    }
    // One thread only ever uses the connection: no mutex around each call.
    constexpr int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    sqlite3* raw_connection = nullptr;
    const int opened = as_it_stands
                           ? sqlite3_open_v2(file_uri(path_, "immutable=1").c_str(),
                                             &raw_connection, flags | SQLITE_OPEN_URI, nullptr)
                           : sqlite3_open_v2(path_.c_str(), &raw_connection, flags, nullptr);
    connection_.reset(raw_connection); // closed even when the open failed
    if (opened != SQLITE_OK) {
        close();
        return read_result::failed;
    }
    // Preparing reads the schema, which can fail like any read.
    sqlite3_stmt* raw_statement = nullptr;
    const int prepared =
        sqlite3_prepare_v3(connection_.get(), "SELECT version FROM packages WHERE name = ?1", -1,
                           SQLITE_PREPARE_PERSISTENT, &raw_statement, nullptr);
    statement_.reset(raw_statement);
    if (prepared != SQLITE_OK) {
        close();
        return read_failure(prepared);
    }
    read_as_it_stands_ = state;
    return read_result::answered;
}

// Binds the name, takes the first row's version, and resets the statement at
// once, which ends the read and releases every lock.
package_db::read_result package_db::query(std::string_view name,
                                          std::optional<std::string>& version) {
    sqlite3_stmt* statement = statement_.get();
    // The 64-bit length: a name of any length is bound whole, or refused.
    if (sqlite3_bind_text64(statement, 1, name.data(), name.size(), SQLITE_STATIC, SQLITE_UTF8) !=
        SQLITE_OK) {
        return read_result::failed;
    }
    const int stepped = sqlite3_step(statement);
    if (stepped == SQLITE_ROW) {
        // The version as a C string: a NUL inside it ends it.
        if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) {
            version = std::string(text);
        }
    }
    sqlite3_reset(statement);
    if (stepped == SQLITE_ROW || stepped == SQLITE_DONE) {
        return read_result::answered;
    }
    return read_failure(stepped);
}

std::optional<std::string>
package_db::lookup_installed_version(std::optional<std::string_view> name) {
    if (!name) {
        return std::nullopt;
    }
    // A database read as it stands sees no change: drop it when the file changes.
    if (read_as_it_stands_ && current_state() != read_as_it_stands_) {
        close();
    }
    std::optional<std::string> version;
    read_result result = statement_ ? read_result::answered : open(false);
    if (result == read_result::answered) {
        result = query(*name, version);
    }
    if (result == read_result::read_only && !read_as_it_stands_) {
        // A WAL database whose folder this user can't write: SQLite can't set
        // up its shared-memory file and refuses the read. Read the file as it
        // stands instead, as the package manager does without write access.
        result = open(true);
        if (result == read_result::answered) {
            result = query(*name, version);
        }
    }
    if (result != read_result::answered) {
        close(); // the next lookup starts again from the open
        return std::nullopt;
    }
    return version;
}
