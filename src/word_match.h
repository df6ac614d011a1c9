// Whole-word matching (--word): a term matches a field only as one of its
// words, never as a part of one. What counts as a word depends on what the
// field holds, its shape. Letters compare as in contains_ignoring_case: ASCII
// without regard to case.
#pragma once

#include <string_view>

enum class field_shape {
    // Text: a word matches as it stands, or with the punctuation around it
    // taken off ("(server)" and "server," both hold the word server).
    words,
    // Space-separated name-versions (the first field, a dependency list): a
    // word matches as it stands or by its name alone, so libxml2 matches
    // libxml2-2.11 but not libxml++-2.6.
    packages,
    // A port's directory: matches whole, or by its last component or last two
    // (zsh, shells/zsh).
    path,
    // A mail address: matches whole, or by the part before the "@".
    address,
};

// Whether the field, of the given shape, holds the term as a whole word. The
// empty term is no word and matches nothing.
bool holds_word(field_shape shape, std::string_view field, std::string_view term);
