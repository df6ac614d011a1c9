#include "package_db.h"

#include <utility>

package_db::package_db(std::string path, package_db_timing timing)
    : path_(std::move(path)), timing_(std::move(timing)) {}

bool package_db::due_for_check(time_point now) {
    if (now - checked_at_ < timing_.recheck) {
        return false;
    }
    checked_at_ = now;
    return true;
}

std::optional<std::string>
package_db::lookup_installed_version(std::optional<std::string_view> name) {
    if (!name) {
        return std::nullopt;
    }
    const time_point now = timing_.now();
    if (failed_) {
        const bool retry_due = now - failed_at_ >= timing_.retry;
        if (!retry_due && !(due_for_check(now) && inspect_db_files(path_) != state_)) {
            return std::nullopt;
        }
        failed_ = false;
    }
    // A state taken within a clock tick of a write may not show a commit
    // that followed in the same tick: the table read then is read again.
    if (table_ && due_for_check(now) && (!state_.settled || inspect_db_files(path_) != state_)) {
        table_.reset();
    }
    if (!table_) {
        return read(*name, now);
    }
    const auto found = table_->find(*name);
    return found != table_->end() ? found->second : std::nullopt;
}

std::optional<std::string> package_db::read(std::string_view name, time_point now) {
    if (reads_ < timing_.direct_lookups) {
        ++reads_;
        version_read got = read_installed_version(path_, name);
        if (got.ok) {
            return std::move(got.version);
        }
        state_ = got.state;
    } else {
        table_read got = read_installed_versions(path_);
        if (got.ok) {
            table_ = std::move(got.versions);
            state_ = got.state;
            checked_at_ = now;
            const auto found = table_->find(name);
            return found != table_->end() ? found->second : std::nullopt;
        }
        state_ = got.state;
    }
    failed_ = true;
    failed_at_ = now;
    checked_at_ = now;
    return std::nullopt;
}
