#include "delimiters.h"

#include <array>

namespace {

template <typename Form> std::vector<const char*> field_ends(const char* begin, const char* end) {
    std::vector<const char*> found;
    delimiter_walk<Form, '|', '\0'> walk(begin, end);
    for (const char* at = walk.next(); at != end; at = walk.next()) {
        found.push_back(at);
    }
    return found;
}

template <typename Form> const char* line_end(const char* begin, const char* end) noexcept {
    return delimiter_walk<Form, '\n'>(begin, end).next();
}

template <typename Form> constexpr delimiter_search search_in(const char* name) {
    return {name, field_ends<Form>, line_end<Form>};
}

} // namespace

std::span<const delimiter_search> delimiter_searches() noexcept {
    using namespace delimiter_masks;
#if defined(VANDREL_VECTOR_MASKS)
    static constexpr std::array all = {search_in<in_words>("words"),
                                       search_in<in_vectors>(VANDREL_VECTOR_MASKS)};
#else
    static constexpr std::array all = {search_in<in_words>("words")};
#endif
    return all;
}
