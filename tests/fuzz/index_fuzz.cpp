// Arbitrary bytes as a ports index, through the real line reading, split,
// match, package lookup and the three printers. The first byte chooses the
// options and whether lookups go to a real database (each fuzz run reads it
// anew) or to a missing one, the second the length of the search term that
// follows (its low four bits) and more options; the rest is the index. Besides crashes it checks
// what must hold whatever the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

#include <sqlite3.h>

#include "index_scan.h"
#include "package_db.h"
#include "searched_fields.h"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The index file, the output and a package database for every input, made
// once; the database's folder goes when the fuzzer exits.
struct environment {
    std::FILE* index = std::tmpfile();
    std::FILE* out = std::fopen("/dev/null", "w");
    std::string folder;
    std::string database;

    environment() {
        char path[] = "/tmp/vandrel-fuzz-db.XXXXXX";
        folder = mkdtemp(path);
        database = folder + "/local.sqlite";
        sqlite3* db = nullptr;
        sqlite3_open(database.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE packages (name TEXT, version TEXT);"
                     "INSERT INTO packages VALUES ('zsh', '5.9'), ('a''b', '1'), ('', '0');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    ~environment() {
        std::filesystem::remove_all(folder);
        std::fclose(out);
        std::fclose(index);
    }
    environment(const environment&) = delete;
    environment& operator=(const environment&) = delete;
};

// The counts of splitting and matching every line on its own: lines end at
// newlines, and a last line without one counts too. The scan, which reads in
// blocks and passes over lines it can rule out unsplit, must count the same.
scan_counters count_line_by_line(std::string_view index, const search_options& options,
                                 const search_criteria& criteria) {
    scan_counters counters;
    while (!index.empty()) {
        const std::size_t newline = index.find('\n');
        const std::string_view line = index.substr(0, newline);
        port_entry entry;
        parse_index_line(entry, line);
        const int found = match_entry(entry, options, criteria);
        counters.matches += static_cast<std::uint64_t>(found);
        counters.results += found > 0 ? 1 : 0;
        ++counters.entries;
        index.remove_prefix(newline == std::string_view::npos ? index.size() : newline + 1);
    }
    return counters;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static environment env;
    if (size < 2) {
        return 0;
    }
    search_options options;
    const std::uint8_t flags = data[0];
    options.search_description = (flags & 1U) != 0;
    options.search_path = (flags & 2U) != 0;
    options.search_maintainer = (flags & 4U) != 0;
    options.search_depends = (flags & 8U) != 0;
    options.show_details = (flags & 16U) != 0;
    options.long_format = (flags & 32U) != 0;
    options.whole_word = (flags & 128U) != 0;
    options.search_categories = (data[1] & 16U) != 0;
    options.json_output = (data[1] & 32U) != 0;
    options.regular_expression = (data[1] & 64U) != 0;
    options.search_web_site = (data[1] & 128U) != 0;
    const std::size_t term_length = std::min<std::size_t>(data[1] % 16, size - 2);
    std::string term(reinterpret_cast<const char*>(data + 2), term_length);
    term = term.substr(0, term.find('\0')); // an argument can't hold a NUL
    const std::string_view index(reinterpret_cast<const char*>(data + 2 + term_length),
                                 size - 2 - term_length);

    const int fd = fileno(env.index);
    require(ftruncate(fd, 0) == 0);
    require(pwrite(fd, index.data(), index.size(), 0) == static_cast<ssize_t>(index.size()));
    require(lseek(fd, 0, SEEK_SET) == 0);

    package_db database((flags & 64U) != 0 ? env.database : "/nonexistent/local.sqlite");
    const installed_version_lookup lookup = [&database](std::optional<std::string_view> name) {
        return database.lookup_installed_version(name);
    };
    std::string error;
    std::optional<term_matcher> matcher = term_matcher::make(term, options, error);
    if (!matcher) {
        return 0; // an invalid expression searches nothing
    }
    search_criteria criteria{std::move(*matcher), {}, {}};
    // The term's second half, when it has one, as an excluded term.
    if (term.size() > 1) {
        std::optional<term_matcher> excluded =
            term_matcher::make(term.substr(term.size() / 2), options, error);
        if (excluded) {
            criteria.excluded.push_back(std::move(*excluded));
        }
    }
    scan_counters counters;
    const scan_outcome outcome = scan_index(fd, options, criteria, counters, lookup, env.out);
    require(outcome.status == scan_status::complete);
    const scan_counters line_by_line = count_line_by_line(index, options, criteria);
    require(counters.entries == line_by_line.entries);
    require(counters.results == line_by_line.results);
    require(counters.matches == line_by_line.matches);
    require(counters.results <= counters.entries);
    require(counters.matches >= counters.results);
    require(counters.matches <= searched_fields.size() * counters.results);
    return 0;
}
