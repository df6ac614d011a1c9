#include "package_table.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <utility>

#include <sqlite3.h>

#include "file_descriptor.h"
#include "readonly_vfs.h"

installed_packages::installed_packages(std::vector<installed_package> rows, bool has_origins)
    : rows_(std::move(rows)), has_origins_(has_origins) {
    if (rows_.empty()) {
        return;
    }
    by_name_.assign(std::bit_ceil(rows_.size() * 2), 0);
    const std::size_t mask = by_name_.size() - 1;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const std::string_view name = rows_[row].name;
        std::size_t slot = string_hash{}(name)&mask;
        // The first row of a name stands: a later one finds it and goes.
        while (by_name_[slot] != 0 && rows_[by_name_[slot] - 1].name != name) {
            slot = (slot + 1) & mask;
        }
        if (by_name_[slot] == 0) {
            by_name_[slot] = static_cast<std::uint32_t>(row + 1);
        }
    }
}

const installed_package* installed_packages::find_name(std::string_view name) const {
    if (by_name_.empty()) {
        return nullptr;
    }
    const std::size_t mask = by_name_.size() - 1;
    for (std::size_t slot = string_hash{}(name)&mask; by_name_[slot] != 0;
         slot = (slot + 1) & mask) {
        const installed_package& row = rows_[by_name_[slot] - 1];
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

std::span<const installed_package* const>
installed_packages::at_origin(std::string_view origin) const {
    // Only the long options ask by origin: the index is made when first asked.
    if (!by_origin_made_) {
        by_origin_made_ = true;
        for (const installed_package& row : rows_) {
            if (row.origin) {
                by_origin_[*row.origin].push_back(&row);
            }
        }
    }
    const auto found = by_origin_.find(origin);
    if (found == by_origin_.end()) {
        return {};
    }
    return found->second;
}

namespace {

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

// How a database in a given state can be read without writing.
enum class read_access {
    none,         // not at all: nothing SQLite can read without writing
    shared,       // by SQLite, with its locks, through the files that exist
    as_it_stands, // the database file alone, under a shared lock of our own: a WAL
                  // database with no -wal
};

// A WAL database without a -wal (the state a closed WAL database is in)
// can't be read by SQLite without creating its -wal and -shm; the file then
// holds every commit and is read on its own (see hold_shared_lock), and the
// read counts only if the file is the same after it. Everything else is read by SQLite, which
// refuses what it could only read by writing: a hot journal to roll back, a
// WAL without its -shm.
read_access access_for(const db_files_state& state) {
    if (state.journal == journal_mode::wal && !state.wal.exists) {
        return state.rollback_journal.exists ? read_access::none : read_access::as_it_stands;
    }
    return read_access::shared;
}

// Stops a statement once the deadline has passed: a view that never ends, or
// rows that cost too much, end here instead of running forever.
struct progress_guard {
    const read_limits* limits;
    std::chrono::steady_clock::time_point deadline;
    bool stopped = false;
};

int check_progress(void* context) {
    auto& guard = *static_cast<progress_guard*>(context);
    guard.stopped = guard.limits->now() >= guard.deadline;
    return guard.stopped ? 1 : 0; // non-zero interrupts the statement
}

// SQLite's instructions between two looks at the clock.
constexpr int progress_step = 1000;

// More rows than any system has packages (the largest real ones have a few
// thousand): a view that makes rows without end is given up here, before
// its rows fill memory, if the clock hasn't stopped it yet.
constexpr std::size_t most_packages = 500'000;

// The longest text SQLite may make in a read, and the most text the rows may
// hold together: names, origins and versions are short, and a view that
// makes huge values is given up before they fill memory.
constexpr int longest_value = 1 << 22;
constexpr std::size_t most_text = std::size_t{64} << 20;

// The column as text up to its first NUL, absent when NULL.
std::optional<std::string> text_column(sqlite3_stmt* query, int column) {
    if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query, column))) {
        return std::string(text);
    }
    return std::nullopt;
}

// Why SQLite failed, in words a user can act on.
std::string sqlite_failure(sqlite3* db, int code, const progress_guard& guard) {
    if (guard.stopped) {
        return "reading the packages table took too long";
    }
    if ((code & 0xFF) == SQLITE_CANTOPEN && sqlite3_system_errno(db) != 0) {
        return std::strerror(sqlite3_system_errno(db));
    }
    if (code == SQLITE_READONLY_ROLLBACK || (code & 0xFF) == SQLITE_READONLY) {
        return "an interrupted write left a journal that only a writer can roll back";
    }
    return sqlite3_errmsg(db);
}

// Reads every row through an open connection; false with reason set when
// the read failed.
bool read_rows(sqlite3* db, const progress_guard& guard, bool origins,
               std::vector<installed_package>& rows, bool& has_origins, std::string& reason,
               bool& locked) {
    // One pass over the table: a few pages of cache, reused, serve it as
    // well as the default 2 MiB, which would only cost page faults to fill.
    // The scan pins one page per level of the tree, and SQLite goes past the
    // size while pages are pinned.
    sqlite3_exec(db, "PRAGMA cache_size = 4", nullptr, nullptr, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, longest_value);
    std::size_t text = 0;
    sqlite3_stmt* raw = nullptr;
    has_origins = origins;
    int code = sqlite3_prepare_v2(db,
                                  origins ? "SELECT name, origin, version FROM packages"
                                          : "SELECT name, NULL, version FROM packages",
                                  -1, &raw, nullptr);
    if (origins && code == SQLITE_ERROR &&
        sqlite3_prepare_v2(db, "SELECT name, NULL, version FROM packages", -1, &raw, nullptr) ==
            SQLITE_OK) {
        has_origins = false; // a table from before origins were kept
        code = SQLITE_OK;
    }
    const statement query(raw);
    if (code != SQLITE_OK) {
        locked = (code & 0xFF) == SQLITE_BUSY;
        reason = sqlite_failure(db, code, guard);
        return false;
    }
    rows.reserve(4096);
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(query.get())) == SQLITE_ROW) {
        if (rows.size() == most_packages || text > most_text) {
            reason = "more in the packages table than any system has packages";
            return false;
        }
        // Only a text name can equal the text of an index line's name.
        if (sqlite3_column_type(query.get(), 0) != SQLITE_TEXT) {
            continue;
        }
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0));
        const auto length = static_cast<std::size_t>(sqlite3_column_bytes(query.get(), 0));
        rows.push_back({std::string(name != nullptr ? name : "", length),
                        has_origins ? text_column(query.get(), 1) : std::nullopt,
                        text_column(query.get(), 2)});
        const installed_package& row = rows.back();
        text += row.name.size() + (row.origin ? row.origin->size() : 0) +
                (row.version ? row.version->size() : 0);
    }
    if (stepped != SQLITE_DONE) {
        locked = (stepped & 0xFF) == SQLITE_BUSY;
        reason = sqlite_failure(db, stepped, guard);
        return false;
    }
    return true;
}

} // namespace

namespace {

// SQLite's lock bytes in the database file (os_unix.c): the pending byte, and
// the range readers lock shared.
constexpr off_t pending_byte = 0x40000000;
constexpr off_t shared_first = pending_byte + 2;
constexpr off_t shared_size = 510;

bool lock_range(int fd, short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return ::fcntl(fd, F_SETLK, &lock) == 0;
}

// Takes a reader's shared lock on the database file, as SQLite's readers do
// (through the pending byte, so that a writer waiting to commit goes first),
// on a descriptor of our own. Read as it stands, SQLite takes no lock; ours
// keeps a writer that comes and goes during the read from checkpointing into
// the file and deleting its -wal (which needs an exclusive lock), so the file
// read stays the one committed state. SQLite's own close of the file ends
// the lock with the read (POSIX locks belong to the process and the file).
// false when a writer holds the file.
bool hold_shared_lock(int fd) {
    if (!lock_range(fd, F_RDLCK, pending_byte, 1)) {
        return false;
    }
    const bool locked = lock_range(fd, F_RDLCK, shared_first, shared_size);
    lock_range(fd, F_UNLCK, pending_byte, 1);
    return locked;
}

// One attempt at reading the table.
table_read read_once(const std::string& path, const read_limits& limits) {
    table_read result;
    result.state = inspect_db_files(path);
    const db_files_state& state = result.state;
    if (!state.database.exists && state.database_error == 0) {
        result.missing = true;
        result.packages.emplace();
        return result;
    }
    if (state.database_error != 0) {
        result.failure = std::strerror(state.database_error);
        return result;
    }
    if (!state.database.regular) {
        result.failure = "not a regular file";
        return result;
    }
    for (const auto& [stamp, suffix] :
         {std::pair{&state.wal, "-wal"}, std::pair{&state.wal_index, "-shm"},
          std::pair{&state.rollback_journal, "-journal"}}) {
        if (stamp->exists && !stamp->regular) {
            result.failure = state.resolved_path + suffix + " is not a regular file";
            return result;
        }
    }
    // SQLite needs the -shm to read the -wal, and only a writer may make it.
    if (state.journal == journal_mode::wal && state.wal.exists && !state.wal_index.exists) {
        result.failure =
            state.resolved_path + "-wal without its -shm, which only a writer can make";
        return result;
    }
    const read_access access = access_for(state);
    const char* vfs = readonly_vfs_name();
    if (access == read_access::none || vfs == nullptr) {
        result.failure = access == read_access::none ? "a WAL database beside a rollback journal"
                                                     : "SQLite can't read without writing here";
        return result;
    }
    const file_descriptor lock_fd(
        access == read_access::as_it_stands
            ? ::open(state.resolved_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
            : -1);
    if (access == read_access::as_it_stands &&
        (lock_fd.get() < 0 || !hold_shared_lock(lock_fd.get()))) {
        result.failure = "database is locked";
        result.locked = true;
        return result;
    }
    // readonly_shm: an existing -shm is read, never written or created.
    const std::string uri =
        file_uri(state.resolved_path,
                 access == read_access::as_it_stands ? "immutable=1" : "readonly_shm=1");
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(
        uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI, vfs);
    const connection db(raw); // closed even when the open failed
    const auto start = limits.now();
    progress_guard guard{&limits, start + limits.time_limit};
    if (opened != SQLITE_OK) {
        result.failure = raw != nullptr ? sqlite_failure(raw, opened, guard) : "out of memory";
        return result;
    }
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_progress_handler(db.get(), progress_step, check_progress, &guard);
    std::vector<installed_package> rows;
    bool has_origins = false;
    try {
        if (!read_rows(db.get(), guard, limits.origins, rows, has_origins, result.failure,
                       result.locked)) {
            return result;
        }
    } catch (const std::bad_alloc&) {
        // The table, not the search, is what didn't fit.
        result.failure = "out of memory reading the packages table";
        return result;
    }
    // Read as it stands, the file must not have changed under the read (a
    // writer's checkpoint would have changed its size, time or header). A
    // -wal that appeared holds commits made since, which the next look at the
    // files sees against the state before the read.
    if (access == read_access::as_it_stands) {
        const db_files_state after = inspect_db_files(path);
        if (after.resolved_path != state.resolved_path || after.database != state.database ||
            after.journal != state.journal || after.change_counter != state.change_counter) {
            result.failure = "changed while being read";
            result.locked = true; // a writer is at work: worth trying again soon
            return result;
        }
    }
    result.packages.emplace(std::move(rows), has_origins);
    return result;
}

// The pause between two attempts while a writer is at work.
constexpr auto writer_pause = std::chrono::milliseconds(5);

void pause_for_writer() {
    timespec left{0, std::chrono::nanoseconds(writer_pause).count()};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

table_read read_installed_packages(const std::string& path, const read_limits& limits) {
    // A writer at work fails a read for a moment: its lock, or files that
    // change under the read (a -wal deleted as the last writer closes). Such
    // a read is tried again while the wait allows; the number of attempts is
    // bounded by the wait itself, whatever the clock says.
    const auto give_up_at = limits.now() + limits.lock_wait;
    const auto most_attempts = limits.lock_wait / writer_pause + 1;
    for (long attempt = 1;; ++attempt) {
        table_read result = read_once(path, limits);
        if (result.packages) {
            return result;
        }
        result.locked = result.locked || inspect_db_files(path) != result.state;
        if (!result.locked || attempt >= most_attempts || limits.now() >= give_up_at) {
            return result;
        }
        pause_for_writer();
    }
}
