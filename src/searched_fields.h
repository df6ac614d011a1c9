// Which fields of an index line a search looks in, and what makes an entry a
// result: one table, from which matching, the pass over lines whose name
// can't match, and the tests all derive. A new field search is one row here
// and one flag in search_options.
#pragma once

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "port_entry.h"
#include "search_options.h"
#include "term_match.h"
#include "word_match.h"

struct searched_field {
    // The option that adds the field to the search; nullptr for a field
    // that every search looks in.
    bool search_options::*option;
    std::optional<std::string_view> port_entry::*field;
    // What the field holds, for whole-word matching.
    field_shape shape;
    // Whether the field is read from a file of its own, and only for an
    // entry that the line's fields leave undecided, rather than split from
    // the line.
    bool read_on_demand = false;
};

// In the order of the line's fields, then the long description. The prefix
// is never searched.
inline constexpr std::array<searched_field, 9> searched_fields = {{
    {nullptr, &port_entry::full_name, field_shape::packages},
    {&search_options::search_path, &port_entry::path, field_shape::path},
    {&search_options::search_description, &port_entry::comment, field_shape::words},
    {&search_options::search_maintainer, &port_entry::maintainer, field_shape::address},
    {&search_options::search_categories, &port_entry::categories, field_shape::words},
    {&search_options::search_depends, &port_entry::build_depends, field_shape::packages},
    {&search_options::search_depends, &port_entry::run_depends, field_shape::packages},
    {&search_options::search_web_site, &port_entry::web_site, field_shape::web_address},
    {&search_options::search_pkg_descr, &port_entry::long_description, field_shape::words, true},
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

// The text of an entry's field that is read on demand; absent when it can't
// be read.
using on_demand_reader = std::function<std::optional<std::string_view>(const port_entry& entry)>;

// What makes an entry a result: the term in a searched field, and none of
// the excluded terms in any.
struct search_criteria {
    term_matcher term;
    std::vector<term_matcher> excluded;
    // Reads the fields that are read on demand (--pkg-descr's file); empty
    // when the options search none.
    on_demand_reader read_field;
};

// The number of searched fields that hold the term, 0 when the entry is no
// result: no field holds it, an excluded term is in a searched field, or the
// line has no first field (not even the empty term matches then).
//
// A field read on demand is read only when the line's fields leave the
// entry undecided: none holds the term, or some does and excluded terms
// remain to be ruled out; it counts only where no field of the line holds
// the term. It is left in the entry, which the next parse resets.
int match_entry(port_entry& entry, const search_options& options, const search_criteria& criteria);
