#pragma once

#include "update/UpdateInfo.hpp"

#include <filesystem>
#include <string>

namespace meterly::update {

// Puts a downloaded release in place of the installed bundle (the installer, or a fake). Blocking:
// the update state calls it on a worker thread.
class UpdateInstalling {
public:
    virtual ~UpdateInstalling() = default;

    // Installs the image that was downloaded for `info` in place of `bundle`; the new bundle must
    // carry `bundleID` and `info.latestVersion`. Returns where the new bundle stands.
    virtual std::filesystem::path install(const std::filesystem::path& image,
                                          const std::filesystem::path& bundle,
                                          const std::string& bundleID, const UpdateInfo& info) = 0;
};

} // namespace meterly::update
