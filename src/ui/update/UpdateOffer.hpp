#pragma once

#include "state/ChangeSignal.hpp"
#include "ui/popover/PopoverContent.hpp"

#include <functional>
#include <optional>
#include <string>

namespace meterly::ui {

// What the scene needs of self-updating: the banner while a newer version is offered, the
// running version, the offer's links, and the road from "Update" to an installed bundle.
class UpdateOffer {
public:
    virtual ~UpdateOffer() = default;

    // The banner while an update is offered; none otherwise.
    virtual std::optional<UpdateBannerContent> banner() const = 0;
    // The running application's version, when its bundle declares one.
    virtual std::optional<std::string> currentVersion() const = 0;
    // The offered release's notes page and download page.
    virtual std::optional<std::string> notesURL() const = 0;
    virtual std::optional<std::string> downloadURL() const = 0;
    // Something the banner shows changed.
    virtual state::ChangeSignal& changed() = 0;
    // Downloads, verifies and installs the offered release; `done` says whether the new bundle is
    // in place (so the relaunch may begin).
    virtual void updateNow(std::function<void(bool installed)> done) = 0;
};

} // namespace meterly::ui
