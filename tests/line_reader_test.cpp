#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "fixtures.h"
#include "line_reader.h"

using namespace std::string_literals;

namespace {

std::vector<std::string> read_lines(int fd, std::size_t capacity) {
    line_reader reader(fd, capacity);
    std::vector<std::string> lines;
    while (const std::optional<std::string_view> line = reader.next()) {
        lines.emplace_back(*line);
    }
    EXPECT_EQ(reader.error(), 0);
    return lines;
}

struct reader_case {
    const char* label;
    std::string content;
    std::vector<std::string> lines;
    friend void PrintTo(const reader_case& c, std::ostream* os) { *os << c.label; }
};

class line_reader_test : public testing::TestWithParam<reader_case> {};

// Every case runs with a buffer far smaller than its lines too, so that lines
// straddle reads and the buffer has to grow.
TEST_P(line_reader_test, yields_each_line_whole) {
    const reader_case& c = GetParam();
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{3}, std::size_t{128} * 1024}) {
        const fixture::file_handle file = fixture::stream_with(c.content);
        EXPECT_EQ(read_lines(fileno(file.get()), capacity), c.lines)
            << c.label << ", buffer of " << capacity;
    }
}

INSTANTIATE_TEST_SUITE_P(
    contents, line_reader_test,
    testing::Values(reader_case{"empty file", "", {}},
                    reader_case{"three lines", "a|b\nc|d\ne\n", {"a|b", "c|d", "e"}},
                    reader_case{"last line without newline", "a\nbc", {"a", "bc"}},
                    reader_case{"empty lines count", "\n\na\n\n", {"", "", "a", ""}},
                    reader_case{"CR stays", "a\r\nb\r\n", {"a\r", "b\r"}},
                    reader_case{"NUL and 0xFF are content", "a\0b\xff\nc\n"s, {"a\0b\xff"s, "c"}},
                    reader_case{"a long line",
                                std::string(100000, 'x') + "\ny",
                                {std::string(100000, 'x'), "y"}}));

// Index-shaped lines of random lengths, whatever the reads: lines that
// straddle a read or the width of the newline search, a line that outgrows the
// buffer, a NUL, a last line without a newline.
TEST(line_reader, yields_random_index_lines_whole_across_reads) {
    std::string content;
    std::vector<std::string> lines;
    std::mt19937 random(7); // NOLINT(cert-msc32-c,cert-msc51-cpp): repeatable on purpose
    for (int i = 0; i < 60; ++i) {
        std::string line = "port" + std::to_string(i) + "-1." + std::to_string(i);
        const int fields = static_cast<int>(random() % 15);
        for (int f = 0; f < fields; ++f) {
            line += (random() % 4 == 0 ? "||" : "|") +
                    std::string(random() % 150, static_cast<char>('a' + f));
        }
        if (i == 30) {
            line += std::string(1, '\0') + "|after-a-nul";
        }
        lines.push_back(line);
        content += line + (i + 1 < 60 ? "\n" : "");
    }
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{7}, std::size_t{64},
                                       std::size_t{100}, std::size_t{128} * 1024}) {
        const fixture::file_handle file = fixture::stream_with(content);
        line_reader reader(fileno(file.get()), capacity);
        std::size_t count = 0;
        while (const std::optional<std::string_view> line = reader.next()) {
            ASSERT_LT(count, lines.size());
            EXPECT_EQ(*line, lines[count]) << "buffer of " << capacity;
            ++count;
        }
        EXPECT_EQ(count, lines.size()) << "buffer of " << capacity;
        EXPECT_EQ(reader.error(), 0);
    }
}

TEST(line_reader, reads_from_a_pipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        for (int i = 0; i < 1000; ++i) {
            const std::string line = "port" + std::to_string(i) + "-1.0|/usr/ports/misc/p\n";
            EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
        close(fd);
    });
    const std::vector<std::string> lines = read_lines(fds[0], 64);
    writer.join();
    close(fds[0]);
    ASSERT_EQ(lines.size(), 1000U);
    EXPECT_EQ(lines[999], "port999-1.0|/usr/ports/misc/p");
}

std::atomic<int> signals_caught{0};

// A signal whose handler was installed without SA_RESTART interrupts a read
// that waits for its pipe (EINTR): the reader must read on, not fail.
TEST(line_reader, reads_on_after_a_signal_interrupts_a_read) {
    struct sigaction action {};
    action.sa_handler = [](int) { ++signals_caught; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the read returns EINTR
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pthread_t reader_thread = pthread_self();
    std::thread writer([fd = fds[1], reader_thread] {
        // Long enough for the reader to block in read() first.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        pthread_kill(reader_thread, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string lines = "a|b\nc|d\n";
        EXPECT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
        close(fd);
    });
    const std::vector<std::string> lines = read_lines(fds[0], 64);
    writer.join();
    close(fds[0]);
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(signals_caught.load(), 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"a|b", "c|d"}));
}

TEST(line_reader, reports_a_read_error) {
    const fixture::temp_dir dir;
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    line_reader reader(fd);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.error(), EISDIR);
    close(fd);
}

} // namespace
