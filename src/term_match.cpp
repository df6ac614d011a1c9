#include "term_match.h"

#include <utility>

#include "text_search.h"

std::optional<term_matcher> term_matcher::make(std::string term, const search_options& options,
                                               std::string& /*error*/) {
    return term_matcher(std::move(term), options.whole_word);
}

bool term_matcher::holds(field_shape shape, std::string_view field) const {
    return whole_word_ ? holds_word(shape, field, term_) : contains_ignoring_case(field, term_);
}

bool term_matcher::name_may_hold(std::string_view first_field) const {
    // A whole word is a part of the field too.
    return contains_ignoring_case(first_field, term_);
}
