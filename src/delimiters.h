// Finding the bytes that end what the index is made of, 64 bytes at a time: a
// field ends at "|" (or at a NUL, which ends what is split of a line), a line
// at its newline.
//
// A block of 64 bytes gives one mask, bit i set when byte i is one of the
// bytes looked for; a walk hands out their places in order from the masks.
// Each form of the masks is portable, eight bytes at a time in a 64-bit word,
// or a vector one where the processor always has vector instructions (SSE2 on
// x86-64, NEON on little-endian 64-bit ARM), chosen when the program is built.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VANDREL_VECTOR_MASKS "sse2"
#elif defined(__ARM_NEON) && defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define VANDREL_VECTOR_MASKS "neon"
#endif

// The bytes one mask describes.
inline constexpr std::size_t delimiter_block_size = 64;

namespace delimiter_masks {

// Eight bytes at a time: the high bit of each byte of zero_bytes(v) is set
// exactly where that byte of v is 0, with no carry between bytes.
constexpr std::uint64_t zero_bytes(std::uint64_t v) noexcept {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FU;
    return ~(((v & low7) + low7) | v | low7);
}

struct in_words {
    template <unsigned char... Bytes> static std::uint64_t mask(const char* block) noexcept {
        constexpr std::uint64_t every_byte = 0x0101010101010101U;
        std::uint64_t mask = 0;
        for (unsigned word = 0; word < delimiter_block_size / 8; ++word) {
            std::uint64_t v = 0;
            std::memcpy(&v, block + std::size_t{8} * word, 8);
            if constexpr (std::endian::native == std::endian::big) {
                v = __builtin_bswap64(v); // byte 0 of the block in the low bits
            }
            const std::uint64_t hits = (zero_bytes(v ^ (Bytes * every_byte)) | ...);
            // The eight high bits, gathered into the top byte in order.
            mask |= (((hits >> 7U) * 0x0102040810204080U) >> 56U) << (8 * word);
        }
        return mask;
    }
};

#if defined(__SSE2__)
struct in_vectors {
    template <unsigned char... Bytes> static std::uint64_t mask(const char* block) noexcept {
        std::uint64_t mask = 0;
        for (unsigned part = 0; part < 4; ++part) {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the load's type
            const __m128i chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + std::size_t{16} * part));
            __m128i hits = _mm_setzero_si128();
            ((hits = _mm_or_si128(hits,
                                  _mm_cmpeq_epi8(chunk, _mm_set1_epi8(static_cast<char>(Bytes))))),
             ...);
            mask |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(hits))}
                    << (16 * part);
        }
        return mask;
    }
};
#elif defined(VANDREL_VECTOR_MASKS)
struct in_vectors {
    template <unsigned char... Bytes> static std::uint64_t mask(const char* block) noexcept {
        // Bit i of each half-vector byte, to add up into one mask bit per byte.
        const uint8x16_t bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        uint8x16_t parts[4];
        for (unsigned part = 0; part < 4; ++part) {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the load takes bytes
            const uint8x16_t chunk =
                vld1q_u8(reinterpret_cast<const std::uint8_t*>(block + std::size_t{16} * part));
            uint8x16_t hits = vdupq_n_u8(0);
            ((hits = vorrq_u8(hits, vceqq_u8(chunk, vdupq_n_u8(Bytes)))), ...);
            parts[part] = vandq_u8(hits, bit);
        }
        uint8x16_t sum = vpaddq_u8(vpaddq_u8(parts[0], parts[1]), vpaddq_u8(parts[2], parts[3]));
        sum = vpaddq_u8(sum, sum);
        return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
    }
};
#endif

#if defined(VANDREL_VECTOR_MASKS)
using best = in_vectors;
#else
using best = in_words;
#endif

} // namespace delimiter_masks

// Walks [begin, end) and hands out, in order, every byte in it that is one of
// Bytes, from the masks of Form. Reads nothing outside [begin, end): a last,
// partial block is looked at in a copy.
template <typename Form, unsigned char... Bytes> class delimiter_walk {
public:
    delimiter_walk(const char* begin, const char* end) noexcept
        : block_(begin), end_(end), mask_(mask_at(begin)) {}

    // The next of the bytes from where the walk is, or end() when none is
    // left (and end() from then on).
    const char* next() noexcept {
        while (mask_ == 0) {
            if (end_ - block_ <= static_cast<std::ptrdiff_t>(delimiter_block_size)) {
                block_ = end_;
                return end_;
            }
            block_ += delimiter_block_size;
            mask_ = mask_at(block_);
        }
        const char* const at = block_ + std::countr_zero(mask_);
        mask_ &= mask_ - 1;
        return at;
    }

    [[nodiscard]] const char* end() const noexcept { return end_; }

private:
    // The mask of the block at block, only its bytes before end_ counted.
    std::uint64_t mask_at(const char* block) const noexcept {
        const auto left = static_cast<std::size_t>(end_ - block);
        if (left >= delimiter_block_size) {
            return Form::template mask<Bytes...>(block);
        }
        if (left == 0) { // an empty range, whose pointers may be null
            return 0;
        }
        char padded[delimiter_block_size] = {};
        std::memcpy(padded, block, left);
        return Form::template mask<Bytes...>(padded) & ((std::uint64_t{1} << left) - 1);
    }

    const char* block_; // the block mask_ describes
    const char* end_;
    std::uint64_t mask_; // the bytes of that block not yet handed out
};

// The ends of an index line's fields: each "|" and NUL, in order.
using field_end_walk = delimiter_walk<delimiter_masks::best, '|', '\0'>;

// The first newline in [begin, end), or end when there is none.
inline const char* find_line_end(const char* begin, const char* end) noexcept {
    return delimiter_walk<delimiter_masks::best, '\n'>(begin, end).next();
}

// One form of the masks, named for failures and benchmarks: every field end
// in [begin, end) in order, and the first newline in it or end.
struct delimiter_search {
    const char* name;
    std::vector<const char*> (*field_ends)(const char* begin, const char* end);
    const char* (*line_end)(const char* begin, const char* end) noexcept;
};

// Every form this build has: the portable one first, then the vector one,
// which field_end_walk and find_line_end use, where there is one.
std::span<const delimiter_search> delimiter_searches() noexcept;
