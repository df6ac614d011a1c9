#include "status_view.h"

#include <algorithm>
#include <string>
#include <tuple>

#include "json_output.h"

namespace {

std::string full_name(const installed_package& package) {
    return package.name + "-" + package.version.value_or("");
}

// The origin a line shows: the package's, or for a table without origins
// its index port's.
std::string_view shown_origin(const package_status& status) {
    if (status.package->origin) {
        return *status.package->origin;
    }
    return status.port != nullptr ? std::string_view(status.port->origin) : "-";
}

void put_padded(checked_output& out, std::string_view text, std::size_t width) {
    out.write(text);
    for (std::size_t i = text.size(); i < width; ++i) {
        out.write(' ');
    }
}

} // namespace

std::vector<package_status> package_statuses(const installed_packages& installed,
                                             const index_census& census,
                                             const search_criteria& criteria) {
    std::vector<package_status> statuses;
    const auto holds = [](const term_matcher& term, std::string_view name) {
        return term.holds(field_shape::packages, name);
    };
    for (const installed_package& package : installed.all()) {
        const std::string name = full_name(package);
        if (!holds(criteria.term, name) ||
            std::ranges::any_of(criteria.excluded,
                                [&](const term_matcher& term) { return holds(term, name); })) {
            continue;
        }
        const index_port* port = index_port_for(package, census, installed.has_origins());
        // A port without a version can't be compared: as good as absent.
        const std::optional<standing> status =
            port != nullptr ? standing_of(package.version, port->version) : std::nullopt;
        statuses.push_back({&package, status ? port : nullptr, status.value_or(standing::unknown)});
    }
    std::ranges::stable_sort(statuses, [](const package_status& a, const package_status& b) {
        return std::forward_as_tuple(shown_origin(a), a.package->name) <
               std::forward_as_tuple(shown_origin(b), b.package->name);
    });
    return statuses;
}

void print_package_statuses(const std::vector<package_status>& statuses,
                            const search_options& options, checked_output& out) {
    if (options.json_output) {
        for (const package_status& status : statuses) {
            print_json_status(*status.package, status.port, status.status, out);
        }
        return;
    }
    std::size_t origin_width = 0;
    std::size_t name_width = 0;
    for (const package_status& status : statuses) {
        origin_width = std::max(origin_width, shown_origin(status).size());
        name_width = std::max(name_width, full_name(*status.package).size());
    }
    for (const package_status& status : statuses) {
        out.write(static_cast<char>(status.status));
        out.write(' ');
        put_padded(out, shown_origin(status), origin_width);
        out.write(' ');
        put_padded(out, full_name(*status.package), name_width);
        if (status.port != nullptr) {
            out.write(" (index has ");
            out.write(status.port->version.value_or(""));
            out.write(")\n");
        } else {
            out.write(" (not in the index)\n");
        }
    }
}
