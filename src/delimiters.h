// Finding the bytes that can end an index field ("|", the newline, NUL) in a
// run of bytes, 64 at a time, and walking them.
//
// A finder gives each block of 64 bytes one mask: bit j of masks[i] is set
// when byte 64 * i + j is one of them. A last, partial block reads as if NULs
// filled it, so that nothing past the run is read. One more mask, with every
// bit set, follows the last: whoever walks the masks meets it before their
// end, so the walk needs no bounds check of its own.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

// The bytes one mask describes.
inline constexpr std::size_t delimiter_block_size = 64;

// How many masks a finder writes for so many bytes, the closing one included.
constexpr std::size_t delimiter_masks_for(std::size_t size) noexcept {
    return (size + delimiter_block_size - 1) / delimiter_block_size + 1;
}

// One way to find the delimiters, named for failures and benchmarks. find
// writes delimiter_masks_for(size) masks.
struct delimiter_finder {
    const char* name;
    void (*find)(const char* bytes, std::size_t size, std::uint64_t* masks);
};

// Every finder this processor runs, slowest first: eight bytes at a time in a
// 64-bit word, which runs everywhere; then SSE2, which every x86-64 processor
// has, and AVX2 where it has it; NEON on 64-bit ARM.
std::span<const delimiter_finder> usable_delimiter_finders() noexcept;

// The last and fastest of them, which the program uses.
const delimiter_finder& best_delimiter_finder() noexcept;

// After bytes[unchanged, end) changed (more were read), brings masks, which
// described bytes[0, unchanged), up to bytes[0, end). The block that held the
// old end was looked at padded with NULs, so it is looked at again.
void update_delimiter_masks(const char* bytes, std::size_t unchanged, std::size_t end,
                            std::uint64_t* masks);

// Walks a run of bytes and hands out, in order, every delimiter in it, from
// the masks a finder made for it.
class delimiter_cursor {
public:
    // bytes[begin, end) are walked; masks are a finder's for bytes[0, end),
    // closing mask included.
    delimiter_cursor(const char* bytes, const std::uint64_t* masks, std::size_t begin,
                     std::size_t end) noexcept
        : bytes_(bytes), masks_(masks), end_(end), block_(begin / delimiter_block_size),
          position_(begin), mask_(mask_from(masks, begin)) {}

    // A walk of nothing.
    delimiter_cursor() noexcept : delimiter_cursor("", closed, 0, 0) {}

    // The next delimiter from the current position on, which then moves past
    // it; end() when no delimiter is left.
    const char* next() noexcept {
        while (mask_ == 0) { // the closing mask stops this
            mask_ = masks_[++block_];
        }
        const std::size_t at =
            block_ * delimiter_block_size + static_cast<std::size_t>(std::countr_zero(mask_));
        mask_ &= mask_ - 1;
        if (at >= end_) { // padding, the closing mask, or a byte not to be walked
            return at_end();
        }
        position_ = at + 1;
        return bytes_ + at;
    }

    // Passes over the rest of a line: the first newline from the current
    // position on, which the cursor then moves past without handing out the
    // delimiters before it; nullptr, the cursor unmoved, when the bytes end
    // first.
    const char* skip_line() noexcept {
        const auto* newline =
            static_cast<const char*>(std::memchr(position(), '\n', end_ - position_));
        if (newline != nullptr) {
            position_ = static_cast<std::size_t>(newline - bytes_) + 1;
            block_ = position_ / delimiter_block_size;
            mask_ = mask_from(masks_, position_);
        }
        return newline;
    }

    // Where the next search starts: just past the last delimiter handed out.
    [[nodiscard]] const char* position() const noexcept { return bytes_ + position_; }
    [[nodiscard]] const char* end() const noexcept { return bytes_ + end_; }

private:
    static constexpr std::uint64_t closed[1] = {~std::uint64_t{0}};

    // The delimiters of position's block from position on.
    static std::uint64_t mask_from(const std::uint64_t* masks, std::size_t position) noexcept {
        return masks[position / delimiter_block_size] &
               (~std::uint64_t{0} << (position % delimiter_block_size));
    }

    // Stays on the closing mask, so that every later call ends here too.
    const char* at_end() noexcept {
        block_ = (end_ + delimiter_block_size - 1) / delimiter_block_size;
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

// One line and where its delimiters are: how a line_reader hands a line over,
// valid until its next call. The first delimiters ("|" or NUL, never the
// newline) are recorded; rest() walks those after them.
struct delimited_line {
    // As many as an index line has "|"s: every field's end can be recorded.
    static constexpr std::size_t most_recorded = 12;

    std::string_view text; // without the newline
    // Offsets in text of the first delimiter_count delimiters, in order.
    std::array<std::size_t, most_recorded> delimiters{};
    std::size_t delimiter_count = 0;
    // The bytes the line is part of, their masks, and where in them the
    // delimiters after those recorded are to be looked for.
    const char* bytes = "";
    const std::uint64_t* masks = nullptr;
    std::size_t rest_begin = 0;

    // A walk over the delimiters after those recorded, up to the line's end.
    [[nodiscard]] delimiter_cursor rest() const noexcept {
        if (masks == nullptr) {
            return {};
        }
        const auto line_end = static_cast<std::size_t>(text.data() - bytes) + text.size();
        return {bytes, masks, rest_begin, line_end};
    }
};

// Takes the line that starts at bytes[begin], in bytes[begin, end) whose
// delimiters masks describe (a finder's for bytes[0, end)), into line, with
// up to wanted of its delimiters recorded (at most most_recorded). The line
// ends at its newline, or, when the bytes end first, at end if they are the
// last there are; else it is incomplete, and false is returned.
inline bool take_line(const char* bytes, const std::uint64_t* masks, std::size_t begin,
                      std::size_t end, std::size_t wanted, bool last_bytes,
                      delimited_line& line) noexcept {
    wanted = std::min(wanted, delimited_line::most_recorded);
    // Locals the compiler can keep in registers, stored into line once.
    delimiter_cursor cursor(bytes, masks, begin, end);
    const char* const start = bytes + begin;
    std::size_t* const recorded = line.delimiters.data();
    std::size_t count = 0;
    const char* stop = nullptr;
    for (;;) {
        stop = cursor.next();
        if (stop == cursor.end() || *stop == '\n' || count == wanted) {
            break;
        }
        recorded[count++] = static_cast<std::size_t>(stop - start);
    }
    line.delimiter_count = count;
    // The walk stopped at the delimiter after the last one wanted: past it
    // only the newline matters. An index line has most_recorded delimiters:
    // when only a few can be left, walking them costs less than memchr over
    // the rest of the line; when many can (a search of the name wants one),
    // memchr costs less.
    constexpr std::size_t few_left = 4;
    std::size_t rest_begin = end;
    if (stop != cursor.end() && *stop != '\n') {
        rest_begin = count == 0 ? begin : begin + recorded[count - 1] + 1;
        if (delimited_line::most_recorded - wanted <= few_left) {
            do {
                stop = cursor.next();
            } while (stop != cursor.end() && *stop != '\n');
        } else {
            stop = cursor.skip_line();
        }
    }
    const bool complete = stop != nullptr && stop != cursor.end();
    if (!complete && !last_bytes) {
        return false;
    }
    const std::size_t line_end = complete ? static_cast<std::size_t>(stop - bytes) : end;
    line.text = std::string_view(start, line_end - begin);
    line.bytes = bytes;
    line.masks = masks;
    line.rest_begin = std::min(rest_begin, line_end);
    return true;
}
