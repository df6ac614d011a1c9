#include "package_db.h"

#include <memory>

#include <sqlite3.h>

namespace {

struct connection_closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using connection = std::unique_ptr<sqlite3, connection_closer>;

struct table_freer {
    void operator()(char** table) const { sqlite3_free_table(table); }
};
using result_table = std::unique_ptr<char*[], table_freer>;

// The query compares the name as one SQL string literal: each single quote in
// it is doubled, so that no name can end the literal or add to the statement.
std::string version_query(std::string_view name) {
    constexpr std::string_view head = "SELECT version FROM packages WHERE name = ";
    std::string sql;
    sql.reserve(head.size() + name.size() * 2 + 2);
    sql += head;
    sql += '\'';
    for (const char c : name) {
        if (c == '\'') {
            sql += '\'';
        }
        sql += c;
    }
    sql += '\'';
    return sql;
}

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

struct query_outcome {
    int status = SQLITE_ERROR;
    std::optional<std::string> version;
};

// One open, one query, one close. No busy handler is set, so a database that
// a writer holds locked fails at once.
query_outcome query_version(const char* target, int open_flags, const std::string& sql) {
    query_outcome outcome;
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(target, &raw, open_flags, nullptr);
    const connection db(raw);
    if (opened != SQLITE_OK) {
        outcome.status = opened;
        return outcome;
    }
    char** raw_table = nullptr;
    int rows = 0;
    int columns = 0;
    outcome.status = sqlite3_get_table(db.get(), sql.c_str(), &raw_table, &rows, &columns, nullptr);
    const result_table table(raw_table);
    if (outcome.status == SQLITE_OK && rows > 0 && columns > 0 && table[columns] != nullptr) {
        // Row 0 is the header; the first data row follows it.
        outcome.version = std::string(table[columns]);
    }
    return outcome;
}

} // namespace

std::optional<std::string> lookup_installed_version(const char* database_path,
                                                    std::optional<std::string_view> name) {
    if (database_path == nullptr || !name) {
        return std::nullopt;
    }
    const std::string sql = version_query(*name);
    query_outcome outcome = query_version(database_path, SQLITE_OPEN_READONLY, sql);
    if (outcome.status == SQLITE_READONLY) {
        // A WAL database whose folder this user can't write: SQLite can't set
        // up its shared-memory file and refuses the read. Read the file as it
        // stands instead, as the package manager does without write access.
        outcome = query_version(file_uri(database_path, "immutable=1").c_str(),
                                SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, sql);
    }
    return std::move(outcome.version);
}
