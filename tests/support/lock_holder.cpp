#include "lock_holder.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fixture {

lock_holder::lock_holder(const std::filesystem::path& db) {
    // Close-on-exec: a command started meanwhile must not keep the release
    // end open, and the lock with it.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release_, O_CLOEXEC) != 0) {
        return;
    }
    child_ = fork();
    if (child_ == 0) {
        close(release_[1]); // the parent's end: closing it releases the lock
        // SQLite's lock bytes: the pending byte, the reserved byte and the
        // shared range, from 1 GiB on.
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0x40000000;
        lock.l_len = 512;
        const int fd = ::open(db.c_str(), O_RDWR);
        const char done = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        if (write(ready[1], &done, 1) != 1) {
            _exit(1);
        }
        char go = 0;
        _exit(read(release_[0], &go, 1) < 0 ? 1 : 0);
    }
    close(ready[1]);
    close(release_[0]);
    char done = 0;
    locked_ = read(ready[0], &done, 1) == 1 && done == 'y';
    close(ready[0]);
}

void lock_holder::release() {
    if (child_ > 0) {
        close(release_[1]);
        waitpid(child_, nullptr, 0);
        child_ = -1;
    }
}

} // namespace fixture
