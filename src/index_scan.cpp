#include "index_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <unistd.h>

#include "platform.h"
#include "result_output.h"

namespace {

// realloc for the reader's arrays (never to 0 bytes, which may free them);
// throws when memory runs out.
template <typename T> void grow(std::unique_ptr<T, free_deleter>& array, std::size_t bytes) {
    void* larger = std::realloc(array.get(), std::max<std::size_t>(bytes, 1));
    if (larger == nullptr) {
        throw std::bad_alloc();
    }
    static_cast<void>(array.release());
    array.reset(static_cast<T*>(larger));
}

} // namespace

line_reader::line_reader(int fd, std::size_t initial_capacity)
    : fd_(fd), capacity_(std::max<std::size_t>(initial_capacity, 1)) {
    grow(buffer_, capacity_);
    grow(masks_, delimiter_masks_for(capacity_) * sizeof(std::uint64_t));
}

std::optional<std::string_view> line_reader::next() {
    return next([](delimiter_cursor& cursor) -> const char* {
        for (;;) {
            const char* stop = cursor.next();
            if (stop == cursor.end()) {
                return nullptr;
            }
            if (*stop == '\n') {
                return stop;
            }
        }
    });
}

bool line_reader::newline_after(std::size_t from) const {
    return std::memchr(buffer_.get() + from, '\n', end_ - from) != nullptr;
}

// Moves the partial line at begin_ to the buffer's start, grows the buffer
// when that line fills it, and reads once.
bool line_reader::fill() {
    cursor_stale_ = true;
    std::size_t unchanged = end_; // bytes whose place, and so masks, stay
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        newline_free_ -= begin_;
        begin_ = 0;
        unchanged = 0;
    }
    if (end_ == capacity_) {
        // A line longer than the buffer: double it. realloc may move the pages
        // rather than copy them, so a huge line costs about its own size.
        const std::size_t grown = capacity_ * 2;
        grow(buffer_, grown);
        grow(masks_, delimiter_masks_for(grown) * sizeof(std::uint64_t));
        capacity_ = grown;
    }
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
        if (got > 0) {
            end_ += static_cast<std::size_t>(got);
            break;
        }
        if (got == 0) {
            at_eof_ = true;
            break;
        }
        if (errno != EINTR) {
            error_ = errno;
            return false;
        }
    }
    // The block that held the old end was looked at with padding: redo it.
    const std::size_t first_block = unchanged / 64;
    best_delimiter_finder()(buffer_.get() + first_block * 64, end_ - first_block * 64,
                            masks_.get() + first_block);
    return true;
}

namespace {

// tolower() of the C locale for every byte: only A-Z fold.
constexpr std::array<unsigned char, 256> make_fold_table() {
    std::array<unsigned char, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
    }
    return table;
}
constexpr std::array<unsigned char, 256> fold = make_fold_table();

// Below this length a haystack is searched by a plain loop.
constexpr std::size_t short_haystack = 48;

// From this length on a needle is searched for in linear time: comparing it
// whole at every candidate could cost its length times the haystack's.
constexpr std::size_t long_needle = 32;

bool equal_ignoring_case(const char* a, const char* b, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])]) {
            return false;
        }
    }
    return true;
}

const char* find_byte(const char* from, const char* last, unsigned char byte) {
    return static_cast<const char*>(
        std::memchr(from, byte, static_cast<std::size_t>(last - from) + 1));
}

unsigned char folded(std::string_view text, std::ptrdiff_t i) {
    return fold[static_cast<unsigned char>(text[static_cast<std::size_t>(i)])];
}

// The start of the maximal suffix of the needle minus one, and its period,
// under the byte order (or its reverse): the critical factorization of the
// Two-Way algorithm (Crochemore and Perrin), on case-folded bytes.
std::ptrdiff_t maximal_suffix(std::string_view x, bool reversed, std::ptrdiff_t& period) {
    const auto m = static_cast<std::ptrdiff_t>(x.size());
    std::ptrdiff_t start = -1;
    std::ptrdiff_t j = 0;
    std::ptrdiff_t k = 1;
    period = 1;
    while (j + k < m) {
        const unsigned char a = folded(x, j + k);
        const unsigned char b = folded(x, start + k);
        if (reversed ? a > b : a < b) {
            j += k;
            k = 1;
            period = j - start;
        } else if (a == b) {
            if (k != period) {
                ++k;
            } else {
                j += period;
                k = 1;
            }
        } else {
            start = j;
            j = start + 1;
            k = period = 1;
        }
    }
    return start;
}

// Two-Way string matching: linear in the haystack whatever the needle.
bool two_way_search(std::string_view y, std::string_view x) {
    const auto m = static_cast<std::ptrdiff_t>(x.size());
    const auto n = static_cast<std::ptrdiff_t>(y.size());
    std::ptrdiff_t p = 0;
    std::ptrdiff_t q = 0;
    const std::ptrdiff_t i_forward = maximal_suffix(x, false, p);
    const std::ptrdiff_t i_reversed = maximal_suffix(x, true, q);
    const std::ptrdiff_t ell = std::max(i_forward, i_reversed);
    std::ptrdiff_t per = i_forward > i_reversed ? p : q;

    const auto same = [&](std::ptrdiff_t needle_at, std::ptrdiff_t hay_at) {
        return folded(x, needle_at) == folded(y, hay_at);
    };
    bool periodic = true;
    for (std::ptrdiff_t i = 0; i <= ell && periodic; ++i) {
        periodic = i + per < m && folded(x, i) == folded(x, i + per);
    }
    std::ptrdiff_t j = 0;
    if (periodic) {
        std::ptrdiff_t memory = -1;
        while (j <= n - m) {
            std::ptrdiff_t i = std::max(ell, memory) + 1;
            while (i < m && same(i, i + j)) {
                ++i;
            }
            if (i >= m) {
                i = ell;
                while (i > memory && same(i, i + j)) {
                    --i;
                }
                if (i <= memory) {
                    return true;
                }
                j += per;
                memory = m - per - 1;
            } else {
                j += i - ell;
                memory = -1;
            }
        }
    } else {
        per = std::max(ell + 1, m - ell - 1) + 1;
        while (j <= n - m) {
            std::ptrdiff_t i = ell + 1;
            while (i < m && same(i, i + j)) {
                ++i;
            }
            if (i >= m) {
                i = ell;
                while (i >= 0 && same(i, i + j)) {
                    --i;
                }
                if (i < 0) {
                    return true;
                }
                j += per;
            } else {
                j += i - ell;
            }
        }
    }
    return false;
}

} // namespace

bool contains_ignoring_case(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (haystack.size() < needle.size()) {
        return false;
    }
    if (needle.size() >= long_needle) {
        return two_way_search(haystack, needle);
    }
    const std::size_t rest = needle.size() - 1;
    if (haystack.size() < short_haystack) {
        // A name or a path: a plain loop costs less than two calls to memchr.
        const auto first_byte = fold[static_cast<unsigned char>(needle.front())];
        const std::size_t starts = haystack.size() - needle.size();
        for (std::size_t i = 0; i <= starts; ++i) {
            if (fold[static_cast<unsigned char>(haystack[i])] == first_byte &&
                equal_ignoring_case(haystack.data() + i + 1, needle.data() + 1, rest)) {
                return true;
            }
        }
        return false;
    }
    const char* const first = haystack.data();
    const char* const last = first + (haystack.size() - needle.size()); // last possible start
    const auto lower = fold[static_cast<unsigned char>(needle.front())];
    const auto upper =
        static_cast<unsigned char>(lower >= 'a' && lower <= 'z' ? lower - ('a' - 'A') : lower);

    // Candidates for the first byte come from memchr, in both cases when it is
    // a letter; the rest of the needle is compared at each candidate.
    const char* at_lower = find_byte(first, last, lower);
    const char* at_upper = upper == lower ? nullptr : find_byte(first, last, upper);
    while (at_lower != nullptr || at_upper != nullptr) {
        const bool take_lower = at_upper == nullptr || (at_lower != nullptr && at_lower < at_upper);
        const char* const candidate = take_lower ? at_lower : at_upper;
        if (equal_ignoring_case(candidate + 1, needle.data() + 1, rest)) {
            return true;
        }
        const char* const next = candidate == last ? nullptr : candidate + 1;
        if (take_lower) {
            at_lower = next == nullptr ? nullptr : find_byte(next, last, lower);
        } else {
            at_upper = next == nullptr ? nullptr : find_byte(next, last, upper);
        }
    }
    return false;
}

int match_entry(const port_entry& entry, const search_options& options,
                std::string_view search_term) {
    if (!entry.full_name) {
        return 0; // a line without a name is no port, whatever its other fields hold
    }
    const auto found = [search_term](const std::optional<std::string_view>& field) {
        return field && contains_ignoring_case(*field, search_term) ? 1 : 0;
    };
    int count = found(entry.full_name);
    if (options.search_description) {
        count += found(entry.comment);
    }
    if (options.search_path) {
        count += found(entry.path);
    }
    if (options.search_maintainer) {
        count += found(entry.maintainer);
    }
    if (options.search_depends) {
        count += found(entry.build_depends);
        count += found(entry.run_depends);
    }
    return count;
}

scan_outcome scan_index(std::FILE* index, const search_options& options,
                        std::string_view search_term, scan_counters& counters, package_db& database,
                        std::FILE* out) {
    // The reader keeps its own buffer and reads the descriptor directly, so
    // nothing may have been read through the stream before.
    line_reader reader(fileno(index));
    port_entry entry;
    const auto split = [&entry](delimiter_cursor& line) { return parse_index_line(entry, line); };
    while (reader.next(split)) {
        const int found = match_entry(entry, options, search_term);
        counters.matches += static_cast<std::uint64_t>(found);
        if (found > 0) {
            ++counters.results;
            entry.installed_version = database.lookup_installed_version(entry.name);
            if (options.long_format) {
                print_long_result(entry, options.show_depends, out);
            } else {
                print_short_result(entry, options.show_depends, out);
            }
        }
        ++counters.entries;
        port_entry_reset(entry); // no view outlives its line
        if (found > 0 && std::ferror(out) != 0) {
            // The reader is gone (a closed pipe with SIGPIPE ignored, a full
            // disk): stop here rather than fail every write to the end.
            return {scan_status::write_error, errno};
        }
    }
    if (reader.error() != 0) {
        return {scan_status::read_error, reader.error()};
    }
    return {};
}
