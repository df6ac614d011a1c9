// Which installed package an index entry stands for, and how the two
// versions stand, as pkg-version(8) tells it.
//
// An installed package belongs to the index entry of its origin
// (category/port). Where the index holds several ports at one origin
// (flavors: py311-foo and py312-foo both from devel/py-foo) the name decides
// among them; where it holds one, that port is the package's whatever its
// name now (a package renamed since it was built). A table without origins
// matches by name alone.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "index_census.h"
#include "package_table.h"

// How an installed version stands against the index's, as pkg version -v
// marks it.
enum class standing : char {
    older = '<',   // the index has a newer version
    same = '=',    // up to date
    newer = '>',   // newer than the index
    unknown = '?', // the index has no port for it
};

// What a scan found of the package an index entry stands for.
struct port_standing_of_entry {
    std::optional<std::string> installed_version; // absent when not installed
    std::optional<standing> status;               // absent when not installed
};

// The standing of an installed version against the index's; absent when
// either is absent.
std::optional<standing> standing_of(const std::optional<std::string>& installed,
                                    const std::optional<std::string_view>& available);

// How many ports the index holds at an origin; absent when that can't be
// known (an index that can't be read twice, such as a pipe).
using origin_count = std::function<std::optional<std::size_t>(std::string_view origin)>;

// The installed package of the index entry with this origin and name, or
// nullptr. count is asked only when the packages installed from the origin
// all have other names; when it has no answer, the name decides.
const installed_package* installed_for_entry(const installed_packages& installed,
                                             std::optional<std::string_view> origin,
                                             std::optional<std::string_view> name,
                                             const origin_count& count);

// The index port that an installed package belongs to, or nullptr when the
// index has none (removed, moved, or a port of the user's own).
const index_port* index_port_for(const installed_package& package, const index_census& census,
                                 bool by_origin);
