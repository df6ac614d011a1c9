#include "package_db.h"

#include <cerrno>
#include <cstring>
#include <utility>

package_db::package_db(std::string path, package_db_timing timing, db_trouble_report report)
    : path_(std::move(path)), timing_(std::move(timing)), report_(std::move(report)) {
    // Reads go by the same clock as the rest.
    timing_.limits.now = timing_.now;
}

void package_db::read(time_point now) {
    table_read got = read_installed_packages(path_, timing_.limits);
    const time_point after = timing_.now();
    if (read_once_) {
        spent_ += after - now;
    } else {
        first_read_at_ = after;
    }
    read_once_ = true;
    checked_at_ = after;
    state_ = std::move(got.state);
    if (got.packages) {
        table_ = std::move(got.packages);
        read_at_ = after;
        missing_ = got.missing;
        failure_.clear();
        locked_ = false;
        return;
    }
    failure_ = std::move(got.failure);
    locked_ = got.locked;
    failed_at_ = after;
}

void package_db::refresh(time_point now) {
    if (!read_once_) {
        read(now);
        return;
    }
    if (now - checked_at_ < timing_.recheck ||
        spent_ * timing_.share > (now - first_read_at_) - spent_) {
        return;
    }
    checked_at_ = now;
    // A lock changes no file: a read that failed for one is tried again
    // once the retry interval has passed, whatever the files say.
    const bool retry_due = !failure_.empty() && locked_ && now - failed_at_ >= timing_.retry;
    // Nor does every commit change a marker: see timing.trust.
    const bool trust_spent = table_ && now - read_at_ >= timing_.trust;
    if (retry_due || trust_spent || timing_.inspect(path_) != state_) {
        read(now);
    }
}

const installed_packages* package_db::packages() {
    refresh(timing_.now());
    if (table_) {
        return &*table_;
    }
    if (!reported_ && report_) {
        reported_ = true;
        report_(failure_);
    }
    return nullptr;
}

std::optional<std::string> package_db::require() {
    read(timing_.now());
    if (missing_) {
        return std::string(std::strerror(ENOENT));
    }
    if (!table_) {
        return failure_;
    }
    return std::nullopt;
}

std::optional<std::string>
package_db::lookup_installed_version(std::optional<std::string_view> name) {
    if (!name) {
        return std::nullopt;
    }
    const installed_packages* table = packages();
    if (table == nullptr) {
        return std::nullopt;
    }
    const installed_package* found = table->find_name(*name);
    return found != nullptr ? found->version : std::nullopt;
}
