// Whole-word matching (--word): a term matches a field only as one of its
// words, never as a part of one. What counts as a word depends on what the
// field holds, its shape. Letters compare as in contains_ignoring_case: ASCII
// without regard to case.
#pragma once

#include <string_view>

#include "port_entry.h"
#include "words.h"

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
    // A web address: matches whole, or by its host (without a user or a
    // port), with or without a leading "www." (gitlab.com in
    // https://www.gitlab.com/foo/ and in http://me@GitLab.com:8080/).
    web_address,
};

// word without the punctuation at either end.
std::string_view trim_punctuation(std::string_view word);

// Calls is_term with each form of each word that the field, of the given
// shape, holds, until it returns true; whether one did. A form may be empty
// (a word of punctuation alone).
template <typename IsTerm>
bool any_word_form(field_shape shape, std::string_view field, IsTerm is_term) {
    switch (shape) {
    case field_shape::words:
        return any_word(field, [&is_term](std::string_view word) {
            return is_term(word) || is_term(trim_punctuation(word));
        });
    case field_shape::packages:
        return any_word(field, [&is_term](std::string_view word) {
            return is_term(word) || is_term(split_name_version(word).name);
        });
    case field_shape::path: {
        const std::string_view origin = port_origin(field);
        return is_term(field) || is_term(origin) ||
               is_term(origin.substr(origin.rfind('/') + 1)); // npos + 1 is 0
    }
    case field_shape::address:
        return is_term(field) || is_term(field.substr(0, field.find('@')));
    case field_shape::web_address: {
        const std::size_t scheme = field.find("://");
        std::string_view host = scheme == std::string_view::npos ? field : field.substr(scheme + 3);
        host = host.substr(0, host.find_first_of("/?#"));
        host = host.substr(host.find('@') + 1); // npos + 1 is 0: no user
        host = host.substr(0, host.find(':'));  // no port
        const bool www = host.size() > 4 && (host[0] | 0x20) == 'w' && (host[1] | 0x20) == 'w' &&
                         (host[2] | 0x20) == 'w' && host[3] == '.';
        return is_term(field) || is_term(host) || (www && is_term(host.substr(4)));
    }
    }
    return false;
}

// Whether the field, of the given shape, holds the term as a whole word. The
// empty term is no word and matches nothing.
bool holds_word(field_shape shape, std::string_view field, std::string_view term);
