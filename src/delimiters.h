// Finding the bytes that can end an index field ("|", the newline, NUL) in a
// run of bytes, 64 at a time, and walking them.
//
// A finder gives each block of 64 bytes one mask: bit j of masks[i] is set
// when byte 64 * i + j is one of them. A last, partial block reads as if NULs
// filled it, so that nothing past the run is read. One more mask, with every
// bit set, follows the last: whoever walks the masks meets it before their
// end, so the walk needs no bounds check of its own.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

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

// The fastest finder this processor runs: AVX2 where an x86-64 processor has
// it, else SSE2, which they all have; NEON on 64-bit ARM; elsewhere eight
// bytes at a time in a 64-bit word.
const delimiter_finder& best_delimiter_finder() noexcept;

// Every finder this processor runs, the 64-bit word one first.
std::vector<delimiter_finder> usable_delimiter_finders();

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
