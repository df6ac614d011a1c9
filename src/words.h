// The words of a field, separated by white space: the spaces of the index's
// lists (categories, dependencies) and text, and the line ends and tabs of a
// long description.
#pragma once

#include <string_view>

// Calls visit with each word of text in order, until it returns true; whether
// one did. Runs of white space separate no empty words.
template <typename Visit> bool any_word(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t space = text.find_first_of(" \t\n\r\v\f");
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
