// The space-separated words of a field, as the lists of the index (categories,
// dependencies) and its text hold them.
#pragma once

#include <string_view>

// Calls visit with each word of text in order, until it returns true; whether
// one did. Runs of spaces separate no empty words.
template <typename Visit> bool any_word(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        if (!word.empty() && visit(word)) {
            return true;
        }
        if (space == std::string_view::npos) {
            break;
        }
        text.remove_prefix(space + 1);
    }
    return false;
}
