// Which fields of an index line a search looks in: one table, from which
// matching, the pass over lines whose name can't match, and the tests all
// derive. A new field search is one row here and one flag in search_options.
#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "port_entry.h"
#include "search_options.h"
#include "word_match.h"

struct searched_field {
    // The option that adds the field to the search; nullptr for a field
    // that every search looks in.
    bool search_options::*option;
    std::optional<std::string_view> port_entry::*field;
    // What the field holds, for whole-word matching.
    field_shape shape;
};

// In the order of the line's fields. The prefix, description file and web
// site are never searched.
inline constexpr std::array<searched_field, 7> searched_fields = {{
    {nullptr, &port_entry::full_name, field_shape::packages},
    {&search_options::search_path, &port_entry::path, field_shape::path},
    {&search_options::search_description, &port_entry::comment, field_shape::words},
    {&search_options::search_maintainer, &port_entry::maintainer, field_shape::address},
    {&search_options::search_categories, &port_entry::categories, field_shape::words},
    {&search_options::search_depends, &port_entry::build_depends, field_shape::packages},
    {&search_options::search_depends, &port_entry::run_depends, field_shape::packages},
}};

// Whether the options have the search look in the field.
constexpr bool searches(const search_options& options, const searched_field& field) {
    return field.option == nullptr || options.*field.option;
}

// Whether the options search nothing but the fields every search looks in (the
// first field), as a search without options does.
constexpr bool searches_name_only(const search_options& options) {
    return std::ranges::all_of(searched_fields, [&options](const searched_field& field) {
        return field.option == nullptr || !(options.*field.option);
    });
}

// The number of searched fields that hold the term: anywhere in the field, or
// with whole_word as one of its words. An entry without a first field never
// matches, not even the empty term.
int match_entry(const port_entry& entry, const search_options& options,
                std::string_view search_term);
