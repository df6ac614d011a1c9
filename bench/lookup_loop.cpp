// The least a lookup can cost, for each name read from a file, in one of two
// ways:
//
//   lookup_loop --reopen DATABASE NAMES_FILE     one read-only open, the query
//                                                (as a literal, quotes doubled)
//                                                and a close per name
//   lookup_loop --prepared DATABASE NAMES_FILE   one open (one thread, no
//                                                mutex) and one prepared query
//                                                for all: bind, step, reset
//                                                per name
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include <sqlite3.h>

namespace {

bool lookup_reopening(const char* database, const std::string& name) {
    std::string sql = "SELECT version FROM packages WHERE name = '";
    for (const char c : name) {
        sql += c;
        if (c == '\'') {
            sql += '\'';
        }
    }
    sql += '\'';
    bool found = false;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(database, &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        char** table = nullptr;
        int rows = 0;
        int columns = 0;
        if (sqlite3_get_table(db, sql.c_str(), &table, &rows, &columns, nullptr) == SQLITE_OK) {
            found = rows > 0;
            sqlite3_free_table(table);
        }
    }
    sqlite3_close(db);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc == 4 ? argv[1] : "";
    if (mode != "--reopen" && mode != "--prepared") {
        std::cerr << "usage: lookup_loop --reopen|--prepared DATABASE NAMES_FILE\n";
        return 2;
    }
    std::ifstream names(argv[3]);
    std::string name;
    unsigned long found = 0;
    if (mode == "--reopen") {
        while (std::getline(names, name)) {
            found += lookup_reopening(argv[2], name) ? 1 : 0;
        }
    } else {
        sqlite3* db = nullptr;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
                SQLITE_OK ||
            sqlite3_prepare_v2(db, "SELECT version FROM packages WHERE name = ?1", -1, &statement,
                               nullptr) != SQLITE_OK) {
            std::cerr << "lookup_loop: cannot query " << argv[2] << "\n";
            sqlite3_close(db);
            return 1;
        }
        while (std::getline(names, name)) {
            sqlite3_bind_text(statement, 1, name.data(), static_cast<int>(name.size()),
                              SQLITE_STATIC);
            found += sqlite3_step(statement) == SQLITE_ROW ? 1 : 0;
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    std::cout << found << " found\n";
    return 0;
}
