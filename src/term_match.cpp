#include "term_match.h"

#include <utility>

#include "text_search.h"

std::optional<term_matcher> term_matcher::make(std::string term, const search_options& options,
                                               std::string& error) {
    std::optional<regex_pattern> expression;
    if (options.regular_expression) {
        regex_compile_result compiled = regex_pattern::compile(term);
        if (!compiled.pattern) {
            error = std::move(compiled.error);
            return std::nullopt;
        }
        expression = std::move(compiled.pattern);
    }
    return term_matcher(std::move(term), options.whole_word, std::move(expression));
}

bool term_matcher::holds(field_shape shape, std::string_view field) const {
    if (!expression_) {
        return whole_word_ ? holds_word(shape, field, term_) : contains_ignoring_case(field, term_);
    }
    if (!whole_word_) {
        return expression_->found_in(field);
    }
    // A word is never empty, whatever the expression matches.
    return !term_.empty() && any_word_form(shape, field, [this](std::string_view form) {
        return !form.empty() && expression_->matches_whole(form);
    });
}

bool term_matcher::name_may_hold(std::string_view first_field) const {
    // A whole word is a part of the field too, and an expression's match
    // holds its required literal.
    return contains_ignoring_case(first_field,
                                  expression_ ? expression_->required_literal() : term_);
}
