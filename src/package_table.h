// Reading the package manager's packages table through SQLite without
// writing anything: no file is created, changed or deleted, no owner or time
// of any file moves, and no lock outlives the read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db_files.h"

// One row of the packages table.
struct installed_package {
    std::string name;
    std::optional<std::string> origin;  // category/port; absent where the table has none
    std::optional<std::string> version; // absent when NULL
};

struct string_hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// The packages table in memory, found by name or by origin. Names compare
// byte for byte, whatever collation the table's column declares, and where
// rows share a name the first that SQLite delivered stands for it.
class installed_packages {
public:
    installed_packages() = default;
    installed_packages(std::vector<installed_package> rows, bool has_origins);
    // The indexes view the rows: moving keeps the rows where they are,
    // copying wouldn't.
    installed_packages(const installed_packages&) = delete;
    installed_packages& operator=(const installed_packages&) = delete;
    installed_packages(installed_packages&&) noexcept = default;
    installed_packages& operator=(installed_packages&&) noexcept = default;
    ~installed_packages() = default;

    // The package called name (without its version); nullptr when none is.
    [[nodiscard]] const installed_package* find_name(std::string_view name) const;

    // The packages installed from origin, in the table's order; empty for a
    // table without origins.
    [[nodiscard]] std::span<const installed_package* const>
    at_origin(std::string_view origin) const;

    // Every package, in the table's order.
    [[nodiscard]] const std::vector<installed_package>& all() const { return rows_; }

    // Whether the table has an origin column.
    [[nodiscard]] bool has_origins() const { return has_origins_; }

private:
    std::vector<installed_package> rows_;
    bool has_origins_ = false;
    // Rows by name, open addressing with linear probing: each slot holds a
    // row's place in rows_ plus one, 0 where empty; the size is a power of
    // two at least twice the rows'. One array of 4 bytes a slot, in place of
    // a node a name, is what the first lookup of a search pays to build.
    std::vector<std::uint32_t> by_name_;
    mutable std::unordered_map<std::string_view, std::vector<const installed_package*>, string_hash,
                               std::equal_to<>>
        by_origin_;
    mutable bool by_origin_made_ = false;
};

// How one read may spend its time.
struct read_limits {
    using clock_function = std::function<std::chrono::steady_clock::time_point()>;
    // How long a read that fails because a writer is at work (its lock, or
    // files changing under the read) is tried again: a commit's moment by
    // default, longer for a search that can't go on without the database.
    std::chrono::milliseconds lock_wait{100};
    // How long one attempt may run: a view that never ends, or rows that
    // cost too much, are cut off here.
    std::chrono::steady_clock::duration time_limit = std::chrono::seconds(1);
    // Whether origins are read too: only what matches ports by origin needs
    // them, and leaving them out makes the table cheaper to read. Without
    // them the table answers as one without origins.
    bool origins = true;
    clock_function now = std::chrono::steady_clock::now;
};

// The outcome of one read. A missing database file is no failure: it reads
// as a table without packages, with missing set.
struct table_read {
    std::optional<installed_packages> packages; // absent when the read failed
    bool missing = false;
    bool locked = false;  // failed because a writer was at work
    std::string failure;  // why the read failed, for a message
    db_files_state state; // the files just before the read
};

// Every package's name, origin and version, read in one transaction.
table_read read_installed_packages(const std::string& path, const read_limits& limits);
