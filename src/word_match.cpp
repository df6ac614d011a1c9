#include "word_match.h"

#include "text_search.h"

namespace {

bool is_punctuation(char c) {
    return std::string_view("()[]{}<>\"'`,.;:!?").find(c) != std::string_view::npos;
}

} // namespace

std::string_view trim_punctuation(std::string_view word) {
    while (!word.empty() && is_punctuation(word.front())) {
        word.remove_prefix(1);
    }
    while (!word.empty() && is_punctuation(word.back())) {
        word.remove_suffix(1);
    }
    return word;
}

bool holds_word(field_shape shape, std::string_view field, std::string_view term) {
    return !term.empty() && any_word_form(shape, field, [term](std::string_view form) {
        return equals_ignoring_case(form, term);
    });
}
