// The least a lookup can cost: for each name read from a file, one read-only
// open of the database, the same query as vandrel's, and a close.
//
//   lookup_loop DATABASE NAMES_FILE
#include <fstream>
#include <iostream>
#include <string>

#include <sqlite3.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: lookup_loop DATABASE NAMES_FILE\n";
        return 2;
    }
    std::ifstream names(argv[2]);
    std::string name;
    unsigned long found = 0;
    while (std::getline(names, name)) {
        std::string sql = "SELECT version FROM packages WHERE name = '";
        for (const char c : name) {
            sql += c;
            if (c == '\'') {
                sql += '\'';
            }
        }
        sql += '\'';
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            char** table = nullptr;
            int rows = 0;
            int columns = 0;
            if (sqlite3_get_table(db, sql.c_str(), &table, &rows, &columns, nullptr) == SQLITE_OK) {
                found += rows > 0 ? 1 : 0;
                sqlite3_free_table(table);
            }
        }
        sqlite3_close(db);
    }
    std::cout << found << " found\n";
    return 0;
}
