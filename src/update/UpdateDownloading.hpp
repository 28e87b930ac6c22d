#pragma once

#include "state/Outcome.hpp"
#include "update/UpdateInfo.hpp"

#include <filesystem>
#include <functional>

namespace meterly::update {

// Fetches the disk image of an offered release and verifies it (the downloader, or a fake).
class UpdateDownloading {
public:
    // A fraction from 0 to 1; called on any thread.
    using Progress = std::function<void(double)>;
    using Done = std::function<void(state::Outcome<std::filesystem::path>)>;

    virtual ~UpdateDownloading() = default;

    // `done` runs later on the main executor with the verified image's path or the failure.
    virtual void download(const UpdateInfo& info, Progress onProgress, Done done) = 0;
};

} // namespace meterly::update
