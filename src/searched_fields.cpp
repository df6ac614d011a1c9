#include "searched_fields.h"

#include "text_search.h"

int match_entry(const port_entry& entry, const search_options& options,
                std::string_view search_term) {
    if (!entry.full_name) {
        return 0; // a line without a name is no port, whatever its other fields hold
    }
    int count = 0;
    for (const searched_field& field : searched_fields) {
        const std::optional<std::string_view>& text = entry.*field.field;
        if (!searches(options, field) || !text) {
            continue;
        }
        if (options.whole_word ? holds_word(field.shape, *text, search_term)
                               : contains_ignoring_case(*text, search_term)) {
            ++count;
        }
    }
    return count;
}
