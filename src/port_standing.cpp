#include "port_standing.h"

#include "version_order.h"

std::optional<standing> standing_of(const std::optional<std::string>& installed,
                                    const std::optional<std::string_view>& available) {
    if (!installed || !available) {
        return std::nullopt;
    }
    const auto order = compare_versions(*installed, *available);
    if (std::is_lt(order)) {
        return standing::older;
    }
    return std::is_gt(order) ? standing::newer : standing::same;
}

const installed_package* installed_for_entry(const installed_packages& installed,
                                             std::optional<std::string_view> origin,
                                             std::optional<std::string_view> name,
                                             const origin_count& count) {
    if (!name) {
        return nullptr;
    }
    if (!installed.has_origins() || !origin) {
        return installed.has_origins() ? nullptr : installed.find_name(*name);
    }
    const auto from_origin = installed.at_origin(*origin);
    if (from_origin.empty()) {
        return nullptr;
    }
    for (const installed_package* package : from_origin) {
        if (package->name == *name) {
            return package;
        }
    }
    // Installed from this origin under another name: this entry's own if
    // the index has no other port there.
    const std::optional<std::size_t> ports = count ? count(*origin) : std::nullopt;
    return ports && *ports == 1 ? from_origin.front() : nullptr;
}

const index_port* index_port_for(const installed_package& package, const index_census& census,
                                 bool by_origin) {
    if (!by_origin) {
        const auto& named = census.named(package.name);
        return named.empty() ? nullptr : named.front();
    }
    if (!package.origin) {
        return nullptr;
    }
    const auto& ports = census.at_origin(*package.origin);
    for (const index_port* port : ports) {
        if (port->name == package.name) {
            return port;
        }
    }
    return ports.size() == 1 ? ports.front() : nullptr;
}
