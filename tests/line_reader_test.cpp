#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

// A stand-in for read(2) that follows a script: before each real read, it
// fails with the script's next errno, if any, and reads when the next entry
// is 0. Past the script's end it only reads.
struct scripted_reads {
    static inline std::vector<int> script;
    static inline std::size_t step = 0;
    static inline int reads = 0;

    static void start(std::vector<int> entries) {
        script = std::move(entries);
        step = 0;
        reads = 0;
    }
    static ssize_t read(int fd, void* buffer, std::size_t size) {
        if (step < script.size() && script[step] != 0) {
            errno = script[step++];
            return -1;
        }
        step += step < script.size() ? 1 : 0;
        ++reads;
        return ::read(fd, buffer, size);
    }
};

// A signal caught without SA_RESTART fails a read that waits with EINTR: the
// reader must read on, not fail. Here every read, the last one that finds the
// end of the file included, is interrupted once, twice for the first, with
// lines that straddle reads and a buffer that has to grow.
TEST(line_reader, reads_on_after_reads_are_interrupted) {
    const std::string content = "a|b\nc|d\n" + std::string(300, 'x') + "\ne";
    const std::vector<std::string> lines = {"a|b", "c|d", std::string(300, 'x'), "e"};
    for (const std::size_t capacity : {std::size_t{1}, std::size_t{3}, std::size_t{128} * 1024}) {
        std::vector<int> script = {EINTR, EINTR, 0};
        for (int i = 0; i < 1000; ++i) {
            script.insert(script.end(), {EINTR, 0});
        }
        scripted_reads::start(script);
        const fixture::file_handle file = fixture::stream_with(content);
        line_reader reader(fileno(file.get()), line_reader::read_call{&scripted_reads::read},
                           capacity);
        std::vector<std::string> got;
        while (const std::optional<std::string_view> line = reader.next()) {
            got.emplace_back(*line);
        }
        EXPECT_EQ(got, lines) << "buffer of " << capacity;
        EXPECT_EQ(reader.error(), 0) << "buffer of " << capacity;
        // Every read was made after its interruptions: none was taken for the
        // end of the file or an error.
        EXPECT_GE(scripted_reads::reads, 2) << "buffer of " << capacity;
        EXPECT_EQ(scripted_reads::step, 1 + 2 * static_cast<std::size_t>(scripted_reads::reads))
            << "buffer of " << capacity;
    }
}

// A read that fails is an error, not the end of the file: the reader says
// which, whether the descriptor can't be read at all (a folder) or a read
// fails part-way, after an interruption, once lines have come.
TEST(line_reader, reports_a_read_error) {
    const fixture::temp_dir dir;
    const int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    line_reader reader(fd);
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(reader.error(), EISDIR);
    close(fd);

    scripted_reads::start({0, EINTR, EIO});
    const fixture::file_handle file = fixture::stream_with("a|b\nc|d\ne|f\n");
    line_reader part_way(fileno(file.get()), line_reader::read_call{&scripted_reads::read}, 5);
    const std::optional<std::string_view> first = part_way.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, "a|b");
    EXPECT_FALSE(part_way.next()) << "the failed read was taken for more lines";
    EXPECT_EQ(part_way.error(), EIO);
}

} // namespace
