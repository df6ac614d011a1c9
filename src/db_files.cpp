#include "db_files.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files written less than this long ago may still change without their times
// showing it: longer than a clock tick on Linux (up to 10 ms) and FreeBSD.
constexpr long settle_ns = 20'000'000;

file_stamp stamp_of(const struct stat& status) {
    return file_stamp{true,
                      S_ISREG(status.st_mode),
                      status.st_dev,
                      status.st_ino,
                      status.st_size,
                      static_cast<long>(status.st_mtim.tv_sec),
                      status.st_mtim.tv_nsec};
}

file_stamp stamp_of(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return {};
    }
    return stamp_of(status);
}

// Reads the first size bytes of a regular file into buffer. The file is
// looked at before it is opened, and opened without blocking, so that a FIFO
// or device is never opened and a FIFO put in its place can't hang the read.
// Returns the file's stamp as the open descriptor saw it, and how many bytes
// came (0 when it couldn't be read).
file_stamp read_start(const std::string& path, unsigned char* buffer, std::size_t size,
                      std::size_t& got) {
    got = 0;
    const file_stamp before = stamp_of(path);
    if (!before.regular) {
        return before;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return before;
    }
    struct stat status {};
    file_stamp stamp = ::fstat(fd, &status) == 0 ? stamp_of(status) : before;
    if (stamp.regular) {
        ssize_t n = 0;
        do {
            n = ::pread(fd, buffer, size, 0);
        } while (n < 0 && errno == EINTR);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ::close(fd);
    return stamp;
}

bool written_recently(const file_stamp& stamp, const timespec& now) {
    if (!stamp.exists) {
        return false;
    }
    const long long since =
        (static_cast<long long>(now.tv_sec) - stamp.modified_s) * 1'000'000'000LL +
        (now.tv_nsec - stamp.modified_ns);
    return since < settle_ns;
}

} // namespace

bool db_files_state::operator==(const db_files_state& other) const {
    // The -shm file is compared by identity and header alone: its times
    // change without a commit (SQLite gives it its database's owner on every
    // open as root), and writes through its memory map may never touch them.
    const auto same_file = [](const file_stamp& a, const file_stamp& b) {
        return a.exists == b.exists && a.device == b.device && a.inode == b.inode;
    };
    return database == other.database && journal == other.journal &&
           change_counter == other.change_counter && wal == other.wal &&
           rollback_journal == other.rollback_journal && same_file(wal_index, other.wal_index) &&
           wal_index_header == other.wal_index_header;
}

db_files_state inspect_db_files(const std::string& path) {
    db_files_state state;
    // The header: the magic string, the format bytes at 18 and 19 (2 for
    // WAL, 1 for a rollback journal) and the change counter at 24.
    static constexpr char magic[] = "SQLite format 3";
    std::array<unsigned char, 100> header{};
    std::size_t got = 0;
    state.database = read_start(path, header.data(), header.size(), got);
    if (got == header.size() && std::memcmp(header.data(), magic, sizeof magic) == 0) {
        if (header[18] == 2 && header[19] == 2) {
            state.journal = journal_mode::wal;
        } else if (header[18] == 1 && header[19] == 1) {
            state.journal = journal_mode::rollback;
        }
        std::memcpy(state.change_counter.data(), &header[24], state.change_counter.size());
    }
    state.wal = stamp_of(path + "-wal");
    state.rollback_journal = stamp_of(path + "-journal");
    state.wal_index = read_start(path + "-shm", state.wal_index_header.data(),
                                 state.wal_index_header.size(), got);

    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    state.settled = !written_recently(state.database, now) && !written_recently(state.wal, now) &&
                    !written_recently(state.rollback_journal, now);
    return state;
}
