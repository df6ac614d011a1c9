#include "db_files.h"

#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "file_descriptor.h"
#include "readonly_vfs.h"

namespace {

file_stamp stamp_of(const struct stat& status) {
    return file_stamp{true,           S_ISREG(status.st_mode), status.st_dev,         status.st_ino,
                      status.st_size, status.st_mtim.tv_sec,   status.st_mtim.tv_nsec};
}

file_stamp stamp_of(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return {};
    }
    return stamp_of(status);
}

// Reads the first size bytes of a regular file into buffer. The file is
// opened without blocking and read only if the open descriptor is a regular
// file, so that a FIFO or device is never read and one swapped in can't hang
// the read. Returns the file's stamp as the descriptor saw it, and how many
// bytes came (0 when it couldn't be read); error is errno of a failed open.
file_stamp read_start(const std::string& path, unsigned char* buffer, std::size_t size,
                      std::size_t& got, int& error) {
    got = 0;
    error = 0;
    const file_descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        // A file that isn't there, or a folder on the way that isn't one, is
        // missing; anything else is a file that can't be read.
        if (errno == ENOENT || errno == ENOTDIR) {
            return {};
        }
        error = errno;
        return stamp_of(path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        error = errno;
        return stamp_of(path);
    }
    const file_stamp stamp = stamp_of(status);
    if (stamp.regular) {
        ssize_t n = 0;
        do {
            n = ::pread(fd.get(), buffer, size, 0);
        } while (n < 0 && errno == EINTR);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    return stamp;
}

} // namespace

bool db_files_state::operator==(const db_files_state& other) const {
    const auto same_file = [](const file_stamp& a, const file_stamp& b) {
        return a.exists == b.exists && a.device == b.device && a.inode == b.inode;
    };
    return resolved_path == other.resolved_path && database == other.database &&
           database_error == other.database_error && journal == other.journal &&
           change_counter == other.change_counter && wal == other.wal &&
           wal_salts == other.wal_salts && rollback_journal == other.rollback_journal &&
           same_file(wal_index, other.wal_index) && wal_index_header == other.wal_index_header;
}

db_files_state inspect_db_files(const std::string& path) {
    db_files_state state;
    state.resolved_path = resolved_db_path(path).value_or(path);
    // The header: the magic string, the format bytes at 18 and 19 (2 for
    // WAL, 1 for a rollback journal) and the change counter at 24.
    static constexpr char magic[] = "SQLite format 3";
    std::array<unsigned char, 100> header{};
    std::size_t got = 0;
    state.database =
        read_start(state.resolved_path, header.data(), header.size(), got, state.database_error);
    if (got == header.size() && std::memcmp(header.data(), magic, sizeof magic) == 0) {
        if (header[18] == 2 && header[19] == 2) {
            state.journal = journal_mode::wal;
        } else if (header[18] == 1 && header[19] == 1) {
            state.journal = journal_mode::rollback;
        }
        std::memcpy(state.change_counter.data(), &header[24], state.change_counter.size());
    }
    std::array<unsigned char, 24> wal_header{};
    int wal_error = 0;
    state.wal = read_start(state.resolved_path + "-wal", wal_header.data(), wal_header.size(), got,
                           wal_error);
    if (got == wal_header.size()) {
        std::memcpy(state.wal_salts.data(), &wal_header[12], state.wal_salts.size());
    }
    state.rollback_journal = stamp_of(state.resolved_path + "-journal");
    int shm_error = 0;
    state.wal_index = read_start(state.resolved_path + "-shm", state.wal_index_header.data(),
                                 state.wal_index_header.size(), got, shm_error);
    return state;
}
