// One line of the ports index, split into its fields.
//
// An index line is "|"-separated, each field in its fixed place: name-version,
// port directory, prefix, comment, description file, maintainer, categories,
// build dependencies, run dependencies, and four more fields that nothing here
// uses. Real lines often leave fields empty (a port with no build or run
// dependencies), and an empty field keeps its place.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The record of one index line. Every field but installed_version views the
// line that was split into it and is valid only while that line is: the scan
// fills, tests, prints and resets the entry within one line. An absent field
// is std::nullopt, whether the line left it empty or didn't reach it; the only
// empty string a line can produce is the version of a first field that ends in
// a hyphen.
struct port_entry {
    std::optional<std::string_view> full_name;    // the first field whole
    std::optional<std::string_view> name;         // up to the last hyphen
    std::optional<std::string_view> version;      // after the last hyphen
    std::optional<std::string> installed_version; // from the package database
    std::optional<std::string_view> path;         // the port's directory
    std::optional<std::string_view> prefix;       // install prefix
    std::optional<std::string_view> comment;      // one-line description
    std::optional<std::string_view> descr_file;   // long description file
    std::optional<std::string_view> maintainer;
    std::optional<std::string_view> categories;
    std::optional<std::string_view> build_depends;
    std::optional<std::string_view> run_depends;
};

// Sets all twelve fields absent, dropping the views and the installed version.
void port_entry_reset(port_entry& entry);

// Walks a run of bytes and hands out, in order, every byte that can end an
// index field: "|", the newline and NUL. The bytes were looked at beforehand,
// 64 at a time, by a delimiter_finder (see platform.h), so that one pass over
// them finds both a line's fields and its end.
class delimiter_cursor {
public:
    // bytes[begin, end) are walked; masks are a finder's for bytes[0, end),
    // closing mask included.
    delimiter_cursor(const char* bytes, const std::uint64_t* masks, std::size_t begin,
                     std::size_t end) noexcept
        : bytes_(bytes), masks_(masks), end_(end), block_(begin / block_size), position_(begin),
          mask_(masks[block_] & (~std::uint64_t{0} << (begin % block_size))) {}

    // A walk of nothing.
    delimiter_cursor() noexcept : delimiter_cursor("", closed, 0, 0) {}

    // The next delimiter from the current position on, which then moves past
    // it; end() when no delimiter is left.
    const char* next() noexcept {
        while (mask_ == 0) { // the closing mask stops this
            mask_ = masks_[++block_];
        }
        const std::size_t at =
            block_ * block_size + static_cast<std::size_t>(std::countr_zero(mask_));
        mask_ &= mask_ - 1;
        if (at >= end_) { // padding, the closing mask, or a byte not to be walked
            return at_end();
        }
        position_ = at + 1;
        return bytes_ + at;
    }

    // Where the next search starts: just past the last delimiter handed out.
    [[nodiscard]] const char* position() const noexcept { return bytes_ + position_; }
    [[nodiscard]] const char* end() const noexcept { return bytes_ + end_; }

private:
    static constexpr std::size_t block_size = 64;
    static constexpr std::uint64_t closed[1] = {~std::uint64_t{0}};

    // Stays on the closing mask, so that every later call ends here too.
    const char* at_end() noexcept {
        block_ = (end_ + block_size - 1) / block_size;
        mask_ = ~std::uint64_t{0};
        position_ = end_;
        return end();
    }

    const char* bytes_;
    const std::uint64_t* masks_;
    std::size_t end_;
    std::size_t block_;    // the block that mask_ describes
    std::size_t position_; // where the next search starts
    std::uint64_t mask_;   // delimiters of that block not yet handed out
};

// Fills the entry afresh from the line that starts at the cursor's position
// (nothing of what the entry held before survives) and leaves the cursor past
// the line's newline. Returns that newline, or nullptr when the bytes end
// first; the split then holds what the bytes held.
//
// The line is cut at every "|". Fields 1 to 9 fill the entry by their place;
// later fields are ignored. An empty field is absent, like one the line is
// too short to have: "a||c|d" has no path, prefix "c" and comment "d". A NUL
// byte ends what is split of the line (the fields after it are absent), but
// not the line.
const char* parse_index_line(port_entry& entry, delimiter_cursor& cursor);

// The same for one line given whole (its first newline, if any, ends it),
// finding its delimiters first: for tests and single lines, not for a scan.
void parse_index_line(port_entry& entry, std::string_view line);

// Splits a first field at its last hyphen. Without a hyphen after the first
// byte the name is the whole field and the version absent; a trailing hyphen
// gives an empty version. Either destination may be null.
void split_name_version(std::optional<std::string_view> full_name,
                        std::optional<std::string_view>* name,
                        std::optional<std::string_view>* version);
