#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <gtest/gtest.h>

#include "checked_output.h"
#include "fixtures.h"

namespace {

// SIGPIPE ignored while it lives, as a shell's `trap '' PIPE` leaves it.
class sigpipe_ignored {
public:
    sigpipe_ignored() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN; // NOLINT(cppcoreguidelines-pro-type-union-access)
        sigaction(SIGPIPE, &ignore, &saved_);
    }
    ~sigpipe_ignored() { sigaction(SIGPIPE, &saved_, nullptr); }
    sigpipe_ignored(const sigpipe_ignored&) = delete;
    sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

private:
    struct sigaction saved_ {};
};

// A write into a pipe nobody reads fails with EPIPE: the error kept is that
// call's, whatever errno holds when someone asks, and later writes and the
// flush neither hide nor replace it.
TEST(checked_output, keeps_the_errno_of_the_write_that_failed) {
    const sigpipe_ignored ignored;
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const fixture::file_handle file(fdopen(ends[1], "w"));
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(setvbuf(file.get(), nullptr, _IONBF, 0), 0);
    checked_output out(file.get());
    EXPECT_FALSE(out.failed());
    EXPECT_EQ(out.error(), 0);
    out.write("lost");
    EXPECT_TRUE(out.failed());
    errno = ENOENT;
    EXPECT_EQ(out.error(), EPIPE);
    out.print("%d more", 2);
    out.write('x');
    EXPECT_FALSE(out.flush());
    EXPECT_EQ(out.error(), EPIPE);
}

// What is written arrives, in order, through the stream's buffer.
TEST(checked_output, writes_through_the_stream) {
    fixture::memory_stream stream;
    checked_output& out = stream.output();
    out.write("a");
    out.write('b');
    out.print("%s-%d", "c", 4);
    EXPECT_TRUE(out.flush());
    EXPECT_EQ(stream.text(), "abc-4");
    EXPECT_EQ(out.error(), 0);
}

} // namespace
