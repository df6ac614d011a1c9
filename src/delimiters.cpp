#include "delimiters.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace {

constexpr std::size_t block_size = delimiter_block_size;

// Runs block_mask over a NUL-padded copy of the last, partial block, if any,
// and closes the masks: what every finder does after its whole blocks.
template <typename BlockMask>
void finish_blocks(const char* bytes, std::size_t size, std::uint64_t* masks,
                   BlockMask block_mask) {
    const std::size_t whole = size / block_size;
    if (const std::size_t rest = size % block_size; rest != 0) {
        char padded[block_size] = {};
        std::memcpy(padded, bytes + whole * block_size, rest);
        masks[whole] = block_mask(padded);
    }
    masks[delimiter_masks_for(size) - 1] = ~std::uint64_t{0};
}

// Runs block_mask over every whole block, then finishes.
template <typename BlockMask>
void find_in_blocks(const char* bytes, std::size_t size, std::uint64_t* masks,
                    BlockMask block_mask) {
    for (std::size_t i = 0; i < size / block_size; ++i) {
        masks[i] = block_mask(bytes + i * block_size);
    }
    finish_blocks(bytes, size, masks, block_mask);
}

// Eight bytes at a time in a 64-bit word, for processors without vector code
// here: the high bit of each byte of zero_bytes(v) is set exactly where that
// byte of v is 0, with no carry between bytes.
std::uint64_t zero_bytes(std::uint64_t v) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FU;
    return ~(((v & low7) + low7) | v | low7);
}

std::uint64_t delimiter_mask_words(const char* block) {
    constexpr std::uint64_t every_byte = 0x0101010101010101U;
    std::uint64_t mask = 0;
    for (unsigned word = 0; word < block_size / 8; ++word) {
        std::uint64_t v = 0;
        std::memcpy(&v, block + std::size_t{8} * word, 8);
        if constexpr (std::endian::native == std::endian::big) {
            v = __builtin_bswap64(v); // byte 0 of the block in the low bits
        }
        const std::uint64_t hits = zero_bytes(v) | zero_bytes(v ^ ('|' * every_byte)) |
                                   zero_bytes(v ^ ('\n' * every_byte));
        // The eight high bits, gathered into the top byte in order.
        mask |= (((hits >> 7U) * 0x0102040810204080U) >> 56U) << (8 * word);
    }
    return mask;
}

void find_delimiters_words(const char* bytes, std::size_t size, std::uint64_t* masks) {
    find_in_blocks(bytes, size, masks, delimiter_mask_words);
}

#if defined(__aarch64__)
// NEON is part of every 64-bit ARM processor.
std::uint64_t delimiter_mask_neon(const char* block) {
    const uint8x16_t bar = vdupq_n_u8('|');
    const uint8x16_t newline = vdupq_n_u8('\n');
    const uint8x16_t nul = vdupq_n_u8(0);
    // Bit i of each half-vector byte, to add up into one mask bit per byte.
    const uint8x16_t bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    uint8x16_t parts[4];
    for (unsigned part = 0; part < 4; ++part) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the load takes bytes
        const uint8x16_t chunk =
            vld1q_u8(reinterpret_cast<const std::uint8_t*>(block + std::size_t{16} * part));
        const uint8x16_t hits = vorrq_u8(vorrq_u8(vceqq_u8(chunk, bar), vceqq_u8(chunk, newline)),
                                         vceqq_u8(chunk, nul));
        parts[part] = vandq_u8(hits, bit);
    }
    uint8x16_t sum = vpaddq_u8(vpaddq_u8(parts[0], parts[1]), vpaddq_u8(parts[2], parts[3]));
    sum = vpaddq_u8(sum, sum);
    return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
}

void find_delimiters_neon(const char* bytes, std::size_t size, std::uint64_t* masks) {
    find_in_blocks(bytes, size, masks, delimiter_mask_neon);
}
#endif

#if defined(__x86_64__)
// NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the vector loads' types

void find_delimiters_sse2(const char* bytes, std::size_t size, std::uint64_t* masks) {
    find_in_blocks(bytes, size, masks, [](const char* block) {
        const __m128i bar = _mm_set1_epi8('|');
        const __m128i newline = _mm_set1_epi8('\n');
        const __m128i nul = _mm_setzero_si128();
        std::uint64_t mask = 0;
        for (unsigned part = 0; part < 4; ++part) {
            const __m128i chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + std::size_t{16} * part));
            const __m128i hits = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, bar), _mm_cmpeq_epi8(chunk, newline)),
                _mm_cmpeq_epi8(chunk, nul));
            mask |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(hits))}
                    << (16 * part);
        }
        return mask;
    });
}

__attribute__((target("avx2"))) std::uint64_t delimiter_mask_avx2(const char* block) {
    const __m256i bar = _mm256_set1_epi8('|');
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i nul = _mm256_setzero_si256();
    std::uint64_t mask = 0;
    for (unsigned part = 0; part < 2; ++part) {
        const __m256i chunk =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + std::size_t{32} * part));
        const __m256i hits = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(chunk, bar), _mm256_cmpeq_epi8(chunk, newline)),
            _mm256_cmpeq_epi8(chunk, nul));
        mask |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits))}
                << (32 * part);
    }
    return mask;
}

// Its own loop over the whole blocks: find_in_blocks, compiled without AVX2,
// couldn't inline the mask and would call it for every block.
__attribute__((target("avx2"))) void find_delimiters_avx2(const char* bytes, std::size_t size,
                                                          std::uint64_t* masks) {
    for (std::size_t i = 0; i < size / block_size; ++i) {
        masks[i] = delimiter_mask_avx2(bytes + i * block_size);
    }
    finish_blocks(bytes, size, masks, delimiter_mask_avx2);
}

// NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)

bool has_avx2() noexcept {
    return __builtin_cpu_supports("avx2") != 0;
}
#endif

constexpr delimiter_finder words_finder{"words", find_delimiters_words};
#if defined(__x86_64__)
constexpr delimiter_finder sse2_finder{"sse2", find_delimiters_sse2};
constexpr delimiter_finder avx2_finder{"avx2", find_delimiters_avx2};
#elif defined(__aarch64__)
constexpr delimiter_finder neon_finder{"neon", find_delimiters_neon};
#endif

} // namespace

std::span<const delimiter_finder> usable_delimiter_finders() noexcept {
#if defined(__x86_64__)
    static constexpr std::array all = {words_finder, sse2_finder, avx2_finder};
    static const std::size_t usable = has_avx2() ? 3 : 2;
    return {all.data(), usable};
#elif defined(__aarch64__)
    static constexpr std::array all = {words_finder, neon_finder};
    return all;
#else
    static constexpr std::array all = {words_finder};
    return all;
#endif
}

const delimiter_finder& best_delimiter_finder() noexcept {
    return usable_delimiter_finders().back();
}

void update_delimiter_masks(const char* bytes, std::size_t unchanged, std::size_t end,
                            std::uint64_t* masks) {
    const std::size_t first_block = unchanged / delimiter_block_size;
    const std::size_t from = first_block * delimiter_block_size;
    best_delimiter_finder().find(bytes + from, end - from, masks + first_block);
}
