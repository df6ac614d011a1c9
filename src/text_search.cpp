#include "text_search.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

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

// Two-Way string matching (Crochemore and Perrin, 1991) on case-folded bytes.
//
// The needle is cut once, at its critical factorization, into a left part
// needle[0, split] and a right part needle[split + 1, end). At each window of
// the haystack the right part is compared left to right, then the left part
// right to left. A mismatch in the right part at needle[i] moves the window
// by i - split; a match of the right part and a mismatch in the left part
// moves it by the needle's period. The factorization guarantees that neither
// shift skips an occurrence, and the left-to-right comparisons never go back
// over haystack bytes they have passed, so the search is linear.

struct factorization {
    std::ptrdiff_t split;  // the last byte of the left part; -1 when it is empty
    std::ptrdiff_t period; // the period of the right part (the maximal suffix)
};

// The maximal suffix of the needle under the byte order, or under its reverse:
// where it starts (minus one) and its period. Of the two, the one that starts
// later is a critical factorization.
factorization maximal_suffix(std::string_view needle, bool reversed) {
    const auto length = static_cast<std::ptrdiff_t>(needle.size());
    factorization best{-1, 1};
    std::ptrdiff_t candidate = 0; // a rival suffix, compared with the best so far
    std::ptrdiff_t offset = 1;    // how far into both the comparison has come
    while (candidate + offset < length) {
        const unsigned char rival = folded(needle, candidate + offset);
        const unsigned char current = folded(needle, best.split + offset);
        if (reversed ? rival > current : rival < current) {
            // The rival is smaller: the best suffix runs on, its period grows.
            candidate += offset;
            offset = 1;
            best.period = candidate - best.split;
        } else if (rival == current) {
            if (offset != best.period) {
                ++offset;
            } else {
                candidate += best.period;
                offset = 1;
            }
        } else {
            // The rival is larger: it becomes the best suffix.
            best = {candidate, 1};
            candidate = best.split + 1;
            offset = 1;
        }
    }
    return best;
}

bool two_way_search(std::string_view haystack, std::string_view needle) {
    const auto needle_length = static_cast<std::ptrdiff_t>(needle.size());
    const auto haystack_length = static_cast<std::ptrdiff_t>(haystack.size());
    const factorization forward = maximal_suffix(needle, false);
    const factorization backward = maximal_suffix(needle, true);
    const factorization cut = forward.split > backward.split ? forward : backward;

    const auto same = [&](std::ptrdiff_t in_needle, std::ptrdiff_t in_haystack) {
        return folded(needle, in_needle) == folded(haystack, in_haystack);
    };
    // Whether the left part occurs again one period further on: then the
    // period is the whole needle's, and a shift by it keeps a known prefix.
    bool periodic = true;
    for (std::ptrdiff_t i = 0; i <= cut.split && periodic; ++i) {
        periodic =
            i + cut.period < needle_length && folded(needle, i) == folded(needle, i + cut.period);
    }
    std::ptrdiff_t window = 0; // where the needle stands in the haystack
    if (periodic) {
        // After a shift by the period, needle[0, known] is known to match.
        std::ptrdiff_t known = -1;
        while (window <= haystack_length - needle_length) {
            std::ptrdiff_t i = std::max(cut.split, known) + 1;
            while (i < needle_length && same(i, i + window)) {
                ++i;
            }
            if (i < needle_length) {
                window += i - cut.split;
                known = -1;
                continue;
            }
            i = cut.split;
            while (i > known && same(i, i + window)) {
                --i;
            }
            if (i <= known) {
                return true;
            }
            window += cut.period;
            known = needle_length - cut.period - 1;
        }
        return false;
    }
    // Not periodic: a shift past the larger part is safe, and nothing is known.
    const std::ptrdiff_t shift = std::max(cut.split + 1, needle_length - cut.split - 1) + 1;
    while (window <= haystack_length - needle_length) {
        std::ptrdiff_t i = cut.split + 1;
        while (i < needle_length && same(i, i + window)) {
            ++i;
        }
        if (i < needle_length) {
            window += i - cut.split;
            continue;
        }
        i = cut.split;
        while (i >= 0 && same(i, i + window)) {
            --i;
        }
        if (i < 0) {
            return true;
        }
        window += shift;
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

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && equal_ignoring_case(a.data(), b.data(), a.size());
}

char fold_case(char c) {
    return static_cast<char>(fold[static_cast<unsigned char>(c)]);
}
