// Another process holding the lock bytes of a database, as a writer in the
// middle of a commit does, without changing any of its files.
#pragma once

#include <filesystem>
#include <sys/types.h>

namespace fixture {

class lock_holder {
public:
    // Locks the database from a child process, until release().
    explicit lock_holder(const std::filesystem::path& db);
    ~lock_holder() { release(); }
    lock_holder(const lock_holder&) = delete;
    lock_holder& operator=(const lock_holder&) = delete;
    lock_holder(lock_holder&&) = delete;
    lock_holder& operator=(lock_holder&&) = delete;

    // Whether the child got the lock.
    [[nodiscard]] bool locked() const { return locked_; }
    // Lets the lock go and waits for the child to end: the lock is gone on
    // return. Once is enough; later calls do nothing.
    void release();

private:
    int release_[2] = {-1, -1};
    pid_t child_ = -1;
    bool locked_ = false;
};

} // namespace fixture
