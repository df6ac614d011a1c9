// Reading ports' long descriptions (pkg-descr) for --pkg-descr: the file each
// index line names, read from the ports tree through one reused buffer.
//
// A file costs open(2), one read(2) and close(2): the buffer (64 KiB) holds
// any real pkg-descr, a few KB at most, and a read that comes back short of
// it has the whole file. Only when a read fills the buffer, or gives nothing,
// is more asked: fstat(2) tells a regular file from anything else (a FIFO
// gives nothing, /dev/zero fills any buffer), and a regular file that
// filled the buffer is read on into a larger one, to its size. A description
// is at most 1 MiB: the rest of a larger file is not read, so a huge file
// costs a bounded time, and the buffer, kept for the next file, never grows
// past that. Files are opened O_NONBLOCK (with O_NOCTTY), so a FIFO or
// device planted in the tree can't block the search. Only regular files are
// read but for one case, which telling apart would cost every file a call: a
// FIFO whose writer has already written into it is read for what it holds,
// without waiting.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

class descr_reader {
public:
    // What the reader calls: the system's own, unless a test stands in for
    // them to count the calls or make them fail.
    struct system_calls {
        int (*open)(const char* path, int flags);
        ssize_t (*read)(int fd, void* buffer, std::size_t size);
        int (*fstat)(int fd, struct stat* status);
    };
    static const system_calls real_calls;

    static constexpr std::size_t default_capacity = std::size_t{64} * 1024;
    static constexpr std::size_t default_limit = std::size_t{1024} * 1024;

    // Reads the files the index names as under ports_tree (PORTSDIR, or
    // /usr/ports: see ports_tree and ports_file_path in locations.h).
    // capacity is the buffer's first size, limit the most read of one file;
    // tests make them small.
    explicit descr_reader(std::string ports_tree, system_calls calls = real_calls,
                          std::size_t capacity = default_capacity,
                          std::size_t limit = default_limit);

    // The text of the description file an index line's fifth field names,
    // found in the ports tree, its line ends, tabs and other white space
    // made spaces (one line of words, like the index's fields, so that words
    // wrapped onto the next line are found); valid until the next read. Absent when there
    // is no such file or it can't be read (missing, a folder, a FIFO, a
    // device, permission denied, a read error).
    std::optional<std::string_view> read_field(std::string_view field);

    // The same for a path as it is. The same path twice in a row is read
    // once: the flavours of a port (py311-foo, py312-foo) share its
    // pkg-descr and stand side by side in the index, which is sorted by path.
    std::optional<std::string_view> read(const char* path);

    // Whether any read was asked for, and whether any gave a text (an
    // empty file's included). When reads were asked for and none gave a
    // text, say so once, at the end: no_descr_files_message.
    [[nodiscard]] bool tried_any() const { return tried_any_; }
    [[nodiscard]] bool found_any() const { return found_any_; }

    [[nodiscard]] const std::string& ports_tree() const { return ports_tree_; }

    // The buffer's size: its first size until a file fills it, never more
    // than the limit.
    [[nodiscard]] std::size_t capacity() const { return buffer_.size(); }

private:
    std::optional<std::size_t> read_file(const char* path);

    std::string ports_tree_;
    system_calls calls_;
    std::size_t limit_;
    std::vector<char> buffer_;
    std::string path_;      // the path read_field maps to, its room reused
    std::string last_path_; // the path read last, and the length it gave
    std::optional<std::size_t> last_size_;
    bool tried_any_ = false;
    bool found_any_ = false;
};

// The line for standard error (without its newline) when a search asked for
// descriptions and could read none, in err(3)'s form, naming the tree:
//   vandrel: no pkg-descr file could be read under /usr/ports; descriptions not searched
// Printed once, at the end; the search went on without them.
std::string no_descr_files_message(std::string_view ports_tree);
