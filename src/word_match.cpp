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

bool path_holds(std::string_view path, std::string_view term) {
    if (equals_ignoring_case(path, term)) {
        return true;
    }
    while (!path.empty() && path.back() == '/') {
        path.remove_suffix(1);
    }
    // The last component, then the last two.
    std::size_t start = path.size();
    for (int components = 0; components < 2; ++components) {
        const std::size_t slash = start == 0 ? std::string_view::npos : path.rfind('/', start - 1);
        start = slash == std::string_view::npos ? 0 : slash + 1;
        if (equals_ignoring_case(path.substr(start), term)) {
            return true;
        }
        if (start == 0) {
            break;
        }
        --start; // onto the slash, for the component before it
    }
    return false;
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
