// A term as a search matches it against fields: a part of the field, a whole
// word of it (--word), or an extended regular expression (--regex), found
// anywhere in the field or matching one of its words whole. Letters compare
// without regard to case. Made once per term, used for every field.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "regex_pattern.h"
#include "search_options.h"
#include "word_match.h"

class term_matcher {
public:
    // The term as the options say to match it; absent when it is an invalid
    // expression, with the reason in error.
    static std::optional<term_matcher> make(std::string term, const search_options& options,
                                            std::string& error);

    // Whether the field, of the given shape, holds the term. The empty term
    // is in every field, and with --word in none. An expression that runs
    // past the engine's limits throws std::runtime_error (see regex_pattern).
    bool holds(field_shape shape, std::string_view field) const;

    // Whether a first field of the index could hold the term; false only
    // when it surely doesn't, so that a line can be passed over unsplit. Cheap
    // beside holds.
    bool name_may_hold(std::string_view first_field) const;

private:
    term_matcher(std::string term, bool whole_word, std::optional<regex_pattern> expression)
        : term_(std::move(term)), whole_word_(whole_word), expression_(std::move(expression)) {}

    std::string term_;
    bool whole_word_;
    std::optional<regex_pattern> expression_; // with --regex
};
