#include "word_match.h"

#include "port_entry.h"
#include "text_search.h"
#include "words.h"

namespace {

bool is_punctuation(char c) {
    return std::string_view("()[]{}<>\"'`,.;:!?").find(c) != std::string_view::npos;
}

// word without the punctuation at either end.
std::string_view trim_punctuation(std::string_view word) {
    while (!word.empty() && is_punctuation(word.front())) {
        word.remove_prefix(1);
    }
    while (!word.empty() && is_punctuation(word.back())) {
        word.remove_suffix(1);
    }
    return word;
}

// The whole path, its origin (category/port) or the port's own folder.
bool path_holds(std::string_view path, std::string_view term) {
    const std::string_view origin = port_origin(path);
    const std::string_view port = origin.substr(origin.rfind('/') + 1); // npos + 1 is 0
    return equals_ignoring_case(path, term) || equals_ignoring_case(origin, term) ||
           equals_ignoring_case(port, term);
}

bool address_holds(std::string_view address, std::string_view term) {
    return equals_ignoring_case(address, term) ||
           equals_ignoring_case(address.substr(0, address.find('@')), term);
}

} // namespace

bool holds_word(field_shape shape, std::string_view field, std::string_view term) {
    if (term.empty()) {
        return false;
    }
    switch (shape) {
    case field_shape::words:
        return any_word(field, [term](std::string_view word) {
            return equals_ignoring_case(word, term) ||
                   equals_ignoring_case(trim_punctuation(word), term);
        });
    case field_shape::packages:
        return any_word(field, [term](std::string_view word) {
            return equals_ignoring_case(word, term) ||
                   equals_ignoring_case(split_name_version(word).name, term);
        });
    case field_shape::path:
        return path_holds(field, term);
    case field_shape::address:
        return address_holds(field, term);
    }
    return false;
}
