#include "readonly_vfs.h"

#include <sqlite3.h>

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

const char* register_readonly_vfs() {
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    if (base == nullptr) {
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
