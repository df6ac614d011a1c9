#include "version_order.h"

#include <array>

#include "text_search.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The leading digits of text, and text after them.
std::string_view take_digits(std::string_view& text) {
    std::size_t length = 0;
    while (length < text.size() && is_digit(text[length])) {
        ++length;
    }
    const std::string_view digits = text.substr(0, length);
    text.remove_prefix(length);
    return digits;
}

// Compares two runs of digits by value, whatever their length; an empty run
// is 0.
std::weak_ordering compare_numbers(std::string_view a, std::string_view b) {
    while (!a.empty() && a.front() == '0') {
        a.remove_prefix(1);
    }
    while (!b.empty() && b.front() == '0') {
        b.remove_prefix(1);
    }
    if (a.size() != b.size()) {
        return a.size() <=> b.size();
    }
    return a.compare(b) <=> 0;
}

// What a component's number is, least first.
enum class number_kind { star, starts_with_letter, number };

struct component {
    number_kind kind = number_kind::number;
    std::string_view number; // digits, for number_kind::number; empty is 0
    int letter = 0;          // 0 for none
    std::string_view patch;  // digits; empty is 0
};

// The words with a place of their own, and the letter each sorts as.
struct special_word {
    std::string_view word;
    int letter;
};
constexpr std::array<special_word, 5> special_words = {{
    {"pl", 'a' - 1},
    {"alpha", 'a'},
    {"beta", 'b'},
    {"pre", 'p'},
    {"rc", 'r'},
}};

// The special word that word is, if any, as the letter it sorts as; else 0.
int special_letter(std::string_view word) {
    for (const special_word& special : special_words) {
        if (equals_ignoring_case(word, special.word)) {
            return special.letter;
        }
    }
    return 0;
}

// The leading letters of text.
std::string_view leading_word(std::string_view text) {
    std::size_t length = 0;
    while (length < text.size() && is_letter(text[length])) {
        ++length;
    }
    return text.substr(0, length);
}

// Takes the next component from the front of text, a block with no "+" in
// it; past the end, 0.
component take_component(std::string_view& text) {
    while (!text.empty() && !is_digit(text.front()) && !is_letter(text.front()) &&
           text.front() != '*') {
        text.remove_prefix(1);
    }
    component taken;
    if (text.empty()) {
        return taken;
    }
    if (text.front() == '*') {
        text.remove_prefix(1);
        taken.kind = number_kind::star;
        return taken;
    }
    if (is_digit(text.front())) {
        taken.number = take_digits(text);
        const std::string_view word = leading_word(text);
        if (word.empty() || special_letter(word) != 0) {
            return taken; // a special word starts the next component
        }
        taken.letter = static_cast<unsigned char>(fold_case(word.front()));
        text.remove_prefix(word.size());
    } else {
        const std::string_view word = leading_word(text);
        taken.kind = number_kind::starts_with_letter;
        const int special = special_letter(word);
        taken.letter = special != 0 ? special : static_cast<unsigned char>(fold_case(word.front()));
        text.remove_prefix(word.size());
    }
    taken.patch = take_digits(text);
    return taken;
}

std::weak_ordering compare_components(const component& a, const component& b) {
    if (a.kind != b.kind) {
        return a.kind <=> b.kind;
    }
    if (const auto order = compare_numbers(a.number, b.number); std::is_neq(order)) {
        return order;
    }
    if (a.letter != b.letter) {
        return a.letter <=> b.letter;
    }
    return compare_numbers(a.patch, b.patch);
}

// Compares two blocks component by component; the shorter is padded with 0.
std::weak_ordering compare_blocks(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const component next_a = take_component(a);
        const component next_b = take_component(b);
        if (const auto order = compare_components(next_a, next_b); std::is_neq(order)) {
            return order;
        }
    }
    return std::weak_ordering::equivalent;
}

// Takes the next block, the text up to the next "+", from the front of text,
// and the "+" after it; past the end, an empty block.
std::string_view take_block(std::string_view& text) {
    const std::size_t plus = text.find('+');
    const std::string_view block = text.substr(0, plus);
    text.remove_prefix(plus == std::string_view::npos ? text.size() : plus + 1);
    return block;
}

// Compares two versions block by block, so the components after a "+" only
// ever meet the components after the other's "+"; a missing block is all 0.
std::weak_ordering compare_main_versions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const std::string_view block_a = take_block(a);
        const std::string_view block_b = take_block(b);
        if (const auto order = compare_blocks(block_a, block_b); std::is_neq(order)) {
            return order;
        }
    }
    return std::weak_ordering::equivalent;
}

// A version split into its three parts.
struct version_parts {
    std::string_view version;
    std::string_view revision; // digits
    std::string_view epoch;    // digits
};

// The leading digits of text.
std::string_view leading_digits(std::string_view text) {
    return take_digits(text);
}

version_parts split_version(std::string_view text) {
    version_parts parts;
    if (const std::size_t comma = text.rfind(','); comma != std::string_view::npos) {
        parts.epoch = leading_digits(text.substr(comma + 1));
        text = text.substr(0, comma);
    }
    if (const std::size_t underscore = text.rfind('_'); underscore != std::string_view::npos) {
        parts.revision = leading_digits(text.substr(underscore + 1));
        text = text.substr(0, underscore);
    }
    parts.version = text;
    return parts;
}

} // namespace

std::weak_ordering compare_versions(std::string_view a, std::string_view b) {
    const version_parts parts_a = split_version(a);
    const version_parts parts_b = split_version(b);
    if (const auto order = compare_numbers(parts_a.epoch, parts_b.epoch); std::is_neq(order)) {
        return order;
    }
    if (const auto order = compare_main_versions(parts_a.version, parts_b.version);
        std::is_neq(order)) {
        return order;
    }
    return compare_numbers(parts_a.revision, parts_b.revision);
}
