#include "readonly_vfs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <sqlite3.h>

#include "file_descriptor.h"

namespace {

sqlite3_vfs* base_of(sqlite3_vfs* vfs) {
    return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

// The database, its rollback journal and its write-ahead log are opened
// read-only and only if they exist. Temporary files, which have no name and
// live in the temporary folder, are left as SQLite asks. The name is spelt
// const char*, sqlite3_filename's definition, which SQLite before 3.41 lacks.
int open_readonly(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
                  int* out_flags) {
    constexpr int named_files = SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL |
                                SQLITE_OPEN_SUPER_JOURNAL;
    if (name != nullptr && (flags & named_files) != 0) {
        flags &= ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE |
                   SQLITE_OPEN_DELETEONCLOSE);
        flags |= SQLITE_OPEN_READONLY;
    }
    sqlite3_vfs* base = base_of(vfs);
    return base->xOpen(base, name, file, flags, out_flags);
}

int refuse_delete(sqlite3_vfs* /*vfs*/, const char* /*name*/, int /*sync_dir*/) {
    return SQLITE_IOERR_DELETE;
}

int access_through_base(sqlite3_vfs* vfs, const char* name, int flags, int* result) {
    sqlite3_vfs* base = base_of(vfs);
    return base->xAccess(base, name, flags, result);
}

int full_pathname_through_base(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    sqlite3_vfs* base = base_of(vfs);
    return base->xFullPathname(base, name, size, out);
}

using open_call = int (*)(const char*, int, int);
open_call unix_open = nullptr; // the system call the hook stands in for

// open(2) as SQLite calls it, made safe for a reader: without blocking, and
// refusing anything but a regular file or a folder (SQLite opens folders
// only to sync them), or /dev/null, which SQLite opens to fill descriptors
// 0 to 2 when they are closed rather than give one to a database. ENXIO is
// what opening a FIFO without a reader says.
int open_regular(const char* path, int flags, int mode) {
    file_descriptor fd(unix_open(path, flags | O_NONBLOCK, mode));
    if (fd.get() < 0) {
        return fd.get();
    }
    struct stat status {};
    const bool wanted = ::fstat(fd.get(), &status) == 0 &&
                        (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode) ||
                         (S_ISCHR(status.st_mode) && std::strcmp(path, "/dev/null") == 0));
    if (!wanted) {
        errno = ENXIO;
        return -1;
    }
    const int file_flags = ::fcntl(fd.get(), F_GETFL);
    if (file_flags >= 0) {
        ::fcntl(fd.get(), F_SETFL, file_flags & ~O_NONBLOCK);
    }
    return fd.release();
}

int keep_owner(int /*fd*/, uid_t /*owner*/, gid_t /*group*/) {
    return 0;
}

int keep_mode(int /*fd*/, mode_t /*mode*/) {
    return 0;
}

// Puts the hooks in place of the unix VFS's system calls; false when this
// SQLite has no such calls to replace.
bool hook_system_calls(sqlite3_vfs* base) {
    if (base->iVersion < 3 || base->xGetSystemCall == nullptr || base->xSetSystemCall == nullptr) {
        return false;
    }
    unix_open = reinterpret_cast<open_call>(base->xGetSystemCall(base, "open"));
    if (unix_open == nullptr) {
        return false;
    }
    return base->xSetSystemCall(base, "open",
                                reinterpret_cast<sqlite3_syscall_ptr>(open_regular)) == SQLITE_OK &&
           base->xSetSystemCall(base, "fchown",
                                reinterpret_cast<sqlite3_syscall_ptr>(keep_owner)) == SQLITE_OK &&
           base->xSetSystemCall(base, "fchmod", reinterpret_cast<sqlite3_syscall_ptr>(keep_mode)) ==
               SQLITE_OK;
}

const char* register_readonly_vfs() {
    // Before SQLite initialises (finding a VFS does that): each connection's
    // page cache starts empty and grows a page at a time, instead of with a
    // bulk of 20 pages that a read of a few pages of cache only pays page
    // faults to fill. Refused, and harmless, when SQLite is already running.
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    if (base == nullptr || !hook_system_calls(base)) {
        return nullptr;
    }
    // Everything else is the default VFS's own: its files, locks and
    // shared memory work as they always do.
    static sqlite3_vfs vfs = *base;
    vfs.pNext = nullptr;
    vfs.zName = "vandrel-readonly";
    vfs.pAppData = base;
    vfs.xOpen = open_readonly;
    vfs.xDelete = refuse_delete;
    vfs.xAccess = access_through_base;
    vfs.xFullPathname = full_pathname_through_base;
    return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK ? vfs.zName : nullptr;
}

} // namespace

const char* readonly_vfs_name() {
    static const char* const name = register_readonly_vfs();
    return name;
}

std::optional<std::string> resolved_db_path(const std::string& path) {
    if (readonly_vfs_name() == nullptr) {
        return std::nullopt;
    }
    sqlite3_vfs* vfs = sqlite3_vfs_find(readonly_vfs_name());
    std::vector<char> out(static_cast<std::size_t>(vfs->mxPathname) + 1);
    const int resolved =
        vfs->xFullPathname(vfs, path.c_str(), static_cast<int>(out.size()), out.data());
    // The low byte: SQLITE_OK_SYMLINK, resolved through a link, is success too.
    if ((resolved & 0xFF) != SQLITE_OK) {
        return std::nullopt;
    }
    return std::string(out.data());
}
