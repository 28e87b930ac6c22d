#pragma once

#include "update/UpdateInfo.hpp"

#include <optional>

namespace meterly::update {

// What the last successful check concluded: an update is available (with the feed's record), or
// the app is up to date (also the value before any check).
class UpdateStatus {
public:
    static UpdateStatus upToDate() { return UpdateStatus(); }
    static UpdateStatus updateAvailable(UpdateInfo info) { return UpdateStatus(std::move(info)); }

    bool isUpdateAvailable() const { return offered_.has_value(); }
    // The offered release; none when up to date.
    const std::optional<UpdateInfo>& offered() const { return offered_; }

    bool operator==(const UpdateStatus&) const = default;

private:
    UpdateStatus() = default;
    explicit UpdateStatus(UpdateInfo info) : offered_(std::move(info)) {}

    std::optional<UpdateInfo> offered_;
};

} // namespace meterly::update
