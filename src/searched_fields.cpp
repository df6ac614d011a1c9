#include "searched_fields.h"

namespace {

// Whether any of the terms is in the field.
bool any_holds(const std::vector<term_matcher>& terms, const searched_field& field,
               std::string_view text) {
    return std::ranges::any_of(
        terms, [&](const term_matcher& term) { return term.holds(field.shape, text); });
}

} // namespace

int match_entry(port_entry& entry, const search_options& options, const search_criteria& criteria) {
    if (!entry.full_name) {
        return 0; // a line without a name is no port, whatever its other fields hold
    }
    // The term first: the excluded terms matter only to an entry it makes a
    // result, and most lines hold no term at all.
    int count = 0;
    bool on_demand = false;
    for (const searched_field& field : searched_fields) {
        if (!searches(options, field)) {
            continue;
        }
        if (field.read_on_demand) {
            on_demand = true;
            continue;
        }
        const std::optional<std::string_view>& text = entry.*field.field;
        if (text && criteria.term.holds(field.shape, *text)) {
            ++count;
        }
    }
    const bool read_on_demand = on_demand && (count == 0 || !criteria.excluded.empty());
    if (count == 0 && !read_on_demand) {
        return 0;
    }
    if (!criteria.excluded.empty()) {
        for (const searched_field& field : searched_fields) {
            const std::optional<std::string_view>& text = entry.*field.field;
            if (searches(options, field) && !field.read_on_demand && text &&
                any_holds(criteria.excluded, field, *text)) {
                return 0;
            }
        }
    }
    if (!read_on_demand) {
        return count;
    }
    const bool line_holds_term = count > 0;
    for (const searched_field& field : searched_fields) {
        if (!field.read_on_demand || !searches(options, field)) {
            continue;
        }
        std::optional<std::string_view>& text = entry.*field.field;
        text = criteria.read_field ? criteria.read_field(entry) : std::nullopt;
        if (!text) {
            continue;
        }
        if (any_holds(criteria.excluded, field, *text)) {
            return 0;
        }
        if (!line_holds_term && criteria.term.holds(field.shape, *text)) {
            ++count;
        }
    }
    return count;
}
