#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "descr_files.h"
#include "fixtures.h"

namespace {

// Stand-ins for the reader's system calls: each call is logged ("open",
// "read N" with the size asked for, "fstat"), every descriptor opened kept
// so that a test can tell it was closed, and a script of errno values makes
// calls fail (0 lets a call through).
struct counted_calls {
    static inline std::vector<std::string> log;
    static inline std::vector<int> opened;
    static inline int last_flags = 0;
    static inline int open_error = 0;
    static inline std::vector<int> read_errors;

    static void start() {
        log.clear();
        opened.clear();
        last_flags = 0;
        open_error = 0;
        read_errors.clear();
    }
    static int open(const char* path, int flags) {
        log.emplace_back("open");
        last_flags = flags;
        if (open_error != 0) {
            errno = open_error;
            return -1;
        }
        const int fd = descr_reader::real_calls.open(path, flags);
        if (fd >= 0) {
            opened.push_back(fd);
        }
        return fd;
    }
    static ssize_t read(int fd, void* buffer, std::size_t size) {
        log.push_back("read " + std::to_string(size));
        if (!read_errors.empty()) {
            const int error = read_errors.front();
            read_errors.erase(read_errors.begin());
            if (error != 0) {
                errno = error;
                return -1;
            }
        }
        return ::read(fd, buffer, size);
    }
    static int fstat(int fd, struct stat* status) {
        log.emplace_back("fstat");
        return ::fstat(fd, status);
    }
    // Whether every descriptor opened so far is closed again.
    static bool all_closed() {
        return std::ranges::all_of(
            opened, [](int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; });
    }
};

constexpr descr_reader::system_calls counted{&counted_calls::open, &counted_calls::read,
                                             &counted_calls::fstat};

using calls = std::vector<std::string>;

std::optional<std::string> read_text(descr_reader& reader, const std::filesystem::path& path) {
    const std::optional<std::string_view> text = reader.read(path.c_str());
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

TEST(descr_files, a_file_costs_open_one_read_and_close) {
    counted_calls::start();
    const fixture::temp_dir dir;
    const std::string text =
        "Zsh is a UNIX command interpreter (shell).\n\nWWW: https://zsh.org/\n";
    fixture::write_file(dir / "pkg-descr", text);
    descr_reader reader(dir.path(), counted);
    EXPECT_FALSE(reader.tried_any());
    EXPECT_FALSE(reader.found_any());
    // Its lines as one line of words.
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"),
              "Zsh is a UNIX command interpreter (shell).  WWW: https://zsh.org/ ");
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536"}));
    ASSERT_EQ(counted_calls::opened.size(), 1U);
    EXPECT_TRUE(counted_calls::all_closed()) << "the descriptor was left open";
    EXPECT_EQ(counted_calls::last_flags & O_ACCMODE, O_RDONLY);
    for (const int flag : {O_CLOEXEC, O_NONBLOCK, O_NOCTTY}) {
        EXPECT_NE(counted_calls::last_flags & flag, 0) << "flag " << flag;
    }
    EXPECT_TRUE(reader.tried_any());
    EXPECT_TRUE(reader.found_any());
}

// Every file of a long search costs the same three calls, and the buffer
// stays its first size: memory doesn't grow with the files read.
TEST(descr_files, many_files_cost_three_calls_each_and_no_memory) {
    counted_calls::start();
    const fixture::temp_dir dir;
    for (int i = 0; i < 50; ++i) {
        fixture::write_file(dir / std::to_string(i),
                            std::string(100 + i * 40, static_cast<char>('a' + i % 26)));
    }
    descr_reader reader(dir.path(), counted);
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 50; ++i) {
            const std::optional<std::string_view> text =
                reader.read((dir / std::to_string(i)).c_str());
            ASSERT_TRUE(text);
            ASSERT_EQ(*text, std::string(100 + i * 40, static_cast<char>('a' + i % 26)));
        }
    }
    EXPECT_EQ(counted_calls::log.size(), 2U * 50 * 20); // open and read; close is RAII's
    EXPECT_EQ(counted_calls::opened.size(), 50U * 20);
    EXPECT_TRUE(counted_calls::all_closed());
    EXPECT_EQ(reader.capacity(), descr_reader::default_capacity);
}

TEST(descr_files, a_missing_file_is_skipped_after_its_open) {
    counted_calls::start();
    const fixture::temp_dir dir;
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(read_text(reader, dir / "missing"), std::nullopt);
    EXPECT_EQ(read_text(reader, dir / "no-folder" / "pkg-descr"), std::nullopt);
    fixture::write_file(dir / "file", "x");
    EXPECT_EQ(read_text(reader, dir / "file" / "pkg-descr"), std::nullopt) << "ENOTDIR";
    EXPECT_EQ(counted_calls::log, (calls{"open", "open", "open"}));
    EXPECT_TRUE(reader.tried_any());
    EXPECT_FALSE(reader.found_any());
}

TEST(descr_files, an_empty_path_names_no_file) {
    counted_calls::start();
    const fixture::temp_dir dir;
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(reader.read(""), std::nullopt);
    EXPECT_TRUE(counted_calls::log.empty());
    EXPECT_FALSE(reader.found_any());
}

TEST(descr_files, a_folder_is_skipped) {
    counted_calls::start();
    const fixture::temp_dir dir;
    std::filesystem::create_directory(dir / "pkg-descr");
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536"})); // EISDIR
    EXPECT_TRUE(counted_calls::all_closed());
    EXPECT_FALSE(reader.found_any());
}

TEST(descr_files, an_empty_file_is_an_empty_text) {
    counted_calls::start();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "pkg-descr", "");
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), "");
    // Nothing read: a regular file, or a FIFO without a writer? fstat says.
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536", "fstat"}));
    EXPECT_TRUE(counted_calls::all_closed());
    EXPECT_TRUE(reader.found_any());
}

// A FIFO planted in the tree must not block the search, whether nobody
// writes to it, a writer holds it open without writing, or a writer waits in
// open(2) for a reader. Each read runs in a thread; should it block, the test
// fails and opens the FIFO's other end to let it go.
TEST(descr_files, a_fifo_is_skipped_without_blocking) {
    counted_calls::start();
    const fixture::temp_dir dir;
    const std::filesystem::path fifo = dir / "pkg-descr";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto read_in_time = [&](descr_reader& reader) {
        std::atomic<bool> done = false;
        std::optional<std::string> text;
        std::thread thread([&] {
            text = read_text(reader, fifo);
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!done) {
            ADD_FAILURE() << "the read of a FIFO blocked";
            const int release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            close(release);
        }
        thread.join();
        return text;
    };

    descr_reader no_writer(dir.path(), counted);
    EXPECT_EQ(read_in_time(no_writer), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536", "fstat"}));
    EXPECT_FALSE(no_writer.found_any());

    const int reader_end = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int writer_end = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(reader_end, 0);
    ASSERT_GE(writer_end, 0);
    counted_calls::start();
    descr_reader idle_writer(dir.path(), counted);
    EXPECT_EQ(read_in_time(idle_writer), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536"})); // EAGAIN
    // What a writer has already written is read as it stands, without
    // waiting: telling it from a file would cost every file an fstat.
    ASSERT_EQ(write(writer_end, "abc", 3), 3);
    descr_reader writer_has_written(dir.path(), counted);
    EXPECT_EQ(read_in_time(writer_has_written), "abc");
    close(writer_end);
    close(reader_end);
    EXPECT_TRUE(counted_calls::all_closed());
}

TEST(descr_files, devices_are_skipped) {
    counted_calls::start();
    const fixture::temp_dir dir;
    std::filesystem::create_symlink("/dev/zero", dir / "zero");
    descr_reader reader(dir.path(), counted);
    // /dev/zero fills any buffer: fstat says it is no file, before it is read on.
    EXPECT_EQ(read_text(reader, dir / "zero"), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536", "fstat"}));
    EXPECT_EQ(read_text(reader, "/dev/null"), std::nullopt);
    EXPECT_EQ(reader.capacity(), descr_reader::default_capacity);
    EXPECT_FALSE(reader.found_any());
    EXPECT_TRUE(counted_calls::all_closed());
}

TEST(descr_files, a_file_that_cannot_be_opened_or_read_is_skipped) {
    counted_calls::start();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "pkg-descr", "text");
    descr_reader reader(dir.path(), counted);
    counted_calls::open_error = EACCES;
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), std::nullopt);
    counted_calls::open_error = 0;
    counted_calls::read_errors = {EIO};
    EXPECT_EQ(read_text(reader, dir / "other"), std::nullopt); // missing
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open", "open", "open", "read 65536"}));
    EXPECT_FALSE(reader.found_any());
    EXPECT_TRUE(counted_calls::all_closed());
    // Read once more (another path between): now it can be.
    EXPECT_EQ(read_text(reader, dir / "other"), std::nullopt);
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), "text");
    EXPECT_TRUE(reader.found_any());
}

TEST(descr_files, permission_denied_is_skipped) {
    counted_calls::start();
    const fixture::temp_dir dir;
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    fixture::write_file(dir / "pkg-descr", "text");
    std::filesystem::permissions(dir / "pkg-descr", std::filesystem::perms::none);
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), std::nullopt);
    EXPECT_EQ(counted_calls::log, (calls{"open"}));
    EXPECT_FALSE(reader.found_any());
}

TEST(descr_files, an_interrupted_read_is_made_again) {
    counted_calls::start();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "pkg-descr", "text");
    descr_reader reader(dir.path(), counted);
    counted_calls::read_errors = {EINTR, EINTR};
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), "text");
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 65536", "read 65536", "read 65536"}));
}

// A read that fills the buffer asks fstat for the file's size and reads on
// into a buffer one byte larger than the file, so that one more read ends it.
TEST(descr_files, a_file_larger_than_the_buffer_grows_it_once) {
    counted_calls::start();
    const fixture::temp_dir dir;
    for (const std::size_t size : {std::size_t{16}, std::size_t{17}, std::size_t{100}}) {
        counted_calls::start();
        std::string text;
        for (std::size_t i = 0; i < size; ++i) {
            text += static_cast<char>('a' + i % 26);
        }
        fixture::write_file(dir / "pkg-descr", text);
        descr_reader reader(dir.path(), counted, 16, 1024);
        EXPECT_EQ(read_text(reader, dir / "pkg-descr"), text) << size;
        const std::size_t grown = std::max<std::size_t>(32, size + 1);
        EXPECT_EQ(counted_calls::log,
                  (calls{"open", "read 16", "fstat", "read " + std::to_string(grown - 16)}))
            << size;
        EXPECT_EQ(reader.capacity(), grown);
        EXPECT_TRUE(counted_calls::all_closed());
        // The buffer is reused: a shorter file after it shows nothing of it.
        fixture::write_file(dir / "short", "xyz");
        EXPECT_EQ(read_text(reader, dir / "short"), "xyz");
    }
}

// A file that grows between the fstat and the read is read on, the buffer
// doubled, until a read comes back short.
TEST(descr_files, a_file_that_grows_while_read_is_read_on) {
    counted_calls::start();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "pkg-descr", std::string(16, 'a'));
    static const std::filesystem::path* grown_file = nullptr;
    const std::filesystem::path path = dir / "pkg-descr";
    grown_file = &path;
    const descr_reader::system_calls growing{
        &counted_calls::open, &counted_calls::read, [](int fd, struct stat* status) {
            const int result = counted_calls::fstat(fd, status);
            fixture::write_file(*grown_file, std::string(16, 'a') + std::string(60, 'b'));
            return result;
        }};
    descr_reader reader(dir.path(), growing, 16, 1024);
    EXPECT_EQ(read_text(reader, path), std::string(16, 'a') + std::string(60, 'b'));
    EXPECT_EQ(counted_calls::log,
              (calls{"open", "read 16", "fstat", "read 16", "read 32", "read 64"}));
}

// A description is at most the limit: the rest of a larger file isn't read,
// and the buffer grows no further.
TEST(descr_files, a_file_over_the_limit_is_cut_there) {
    counted_calls::start();
    const fixture::temp_dir dir;
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    fixture::write_file(dir / "pkg-descr", text);
    descr_reader reader(dir.path(), counted, 16, 64);
    EXPECT_EQ(read_text(reader, dir / "pkg-descr"), text.substr(0, 64));
    EXPECT_EQ(counted_calls::log, (calls{"open", "read 16", "fstat", "read 48"}));
    EXPECT_EQ(reader.capacity(), 64U);

    // The real limit, 1 MiB, against a 3 MiB file.
    const std::string huge(std::size_t{3} * 1024 * 1024, 'h');
    fixture::write_file(dir / "huge", huge);
    counted_calls::start();
    descr_reader real(dir.path(), counted);
    const std::optional<std::string_view> cut = real.read((dir / "huge").c_str());
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), descr_reader::default_limit);
    EXPECT_EQ(real.capacity(), descr_reader::default_limit);
    EXPECT_EQ(counted_calls::log,
              (calls{"open", "read 65536", "fstat",
                     "read " + std::to_string(descr_reader::default_limit -
                                              descr_reader::default_capacity)}));
}

// Flavours of a port share its pkg-descr and stand side by side: the same
// path twice in a row is read once, whatever it gave.
TEST(descr_files, the_same_path_twice_in_a_row_is_read_once) {
    counted_calls::start();
    const fixture::temp_dir dir;
    fixture::write_file(dir / "a", "first");
    fixture::write_file(dir / "b", "second");
    descr_reader reader(dir.path(), counted);
    EXPECT_EQ(read_text(reader, dir / "a"), "first");
    EXPECT_EQ(read_text(reader, dir / "a"), "first");
    EXPECT_EQ(read_text(reader, dir / "missing"), std::nullopt);
    EXPECT_EQ(read_text(reader, dir / "missing"), std::nullopt);
    EXPECT_EQ(read_text(reader, dir / "b"), "second");
    EXPECT_EQ(read_text(reader, dir / "a"), "first");
    EXPECT_EQ(counted_calls::log,
              (calls{"open", "read 65536", "open", "open", "read 65536", "open", "read 65536"}));
}

// An index line's field, /usr/ports/..., is read in the tree the reader was
// given (PORTSDIR), whatever its trailing slashes.
TEST(descr_files, a_field_is_read_in_the_ports_tree) {
    counted_calls::start();
    const fixture::temp_dir dir;
    std::filesystem::create_directories(dir / "shells" / "zsh");
    fixture::write_file(dir / "shells" / "zsh" / "pkg-descr", "The Z shell.\n");
    for (const std::string& tree : {dir.path().string(), dir.path().string() + "/"}) {
        descr_reader reader(tree);
        EXPECT_EQ(reader.ports_tree(), tree);
        const std::optional<std::string_view> text =
            reader.read_field("/usr/ports/shells/zsh/pkg-descr");
        ASSERT_TRUE(text) << tree;
        EXPECT_EQ(*text, "The Z shell. ");
        EXPECT_EQ(reader.read_field("/usr/portsx/shells/zsh/pkg-descr"), std::nullopt);
        EXPECT_EQ(reader.read_field("shells/zsh/pkg-descr"), "The Z shell. ");
        EXPECT_TRUE(reader.found_any());
    }
    descr_reader no_tree((dir / "no-tree").string());
    EXPECT_EQ(no_tree.read_field("/usr/ports/shells/zsh/pkg-descr"), std::nullopt);
    EXPECT_TRUE(no_tree.tried_any());
    EXPECT_FALSE(no_tree.found_any());
}

TEST(descr_files_message, names_the_tree_in_err_style) {
    EXPECT_EQ(no_descr_files_message("/usr/ports"),
              "vandrel: no pkg-descr file could be read under /usr/ports; descriptions not "
              "searched");
    EXPECT_EQ(no_descr_files_message("/home/me/ports/"),
              "vandrel: no pkg-descr file could be read under /home/me/ports/; descriptions not "
              "searched");
}

} // namespace
