#pragma once

#include "update/ImageArchive.hpp"
#include "update/UpdateInstalling.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::update {

// Turns a verified release image into the installed bundle's new contents, keeping the previous
// bundle beside it (".meterly-previous-<name>") so that it can be put back.
//
// The image is opened once: that one open file is hashed against the feed's digest and then
// unpacked, so a file swapped in the downloads folder after the check cannot be installed. It is
// unpacked into a private staging folder beside the bundle (".meterly-update-<UUID>"), checked
// (an executable Contents/MacOS/meterly, the expected identifier and version) and swapped in with
// renames in the bundle's folder. A failure at any step leaves the bundle, and any kept copy,
// as they were; the staging folder is always removed.
class UpdateInstaller final : public UpdateInstalling {
public:
    static constexpr std::string_view stagingPrefix = ".meterly-update-";
    static constexpr std::string_view previousPrefix = ".meterly-previous-";
    static constexpr std::string_view executableInBundle = "Contents/MacOS/meterly";

    struct Options {
        ImageArchive::Limits limits;
        // Swap with renameat2(RENAME_EXCHANGE) where the file system has it; tests turn it off to
        // take the path of file systems without it.
        bool useExchange = true;
    };

    UpdateInstaller() = default;
    explicit UpdateInstaller(Options options) : options_(options) {}

    std::filesystem::path install(const std::filesystem::path& image,
                                  const std::filesystem::path& bundle, const std::string& bundleID,
                                  const UpdateInfo& info) override;

    // Puts the kept copy back in place of `bundle`; the failing version is discarded, so no kept
    // copy remains. Throws UpdateInstallError.
    void restorePrevious(const std::filesystem::path& bundle) const;

    static std::filesystem::path previousBundlePath(const std::filesystem::path& bundle);

    // The first folder (by name) ending in ".app" directly inside `folder`.
    static std::optional<std::filesystem::path> application(const std::filesystem::path& folder);

    // Throws noAppInImage without an executable Contents/MacOS/meterly or a readable Info.plist,
    // else wrongBundle or wrongVersion when the identity differs.
    static void verify(const std::filesystem::path& app, const std::string& bundleID,
                       const std::string& version);

    // A random UUID in its upper-case 36-character form.
    static std::string newUUID();

private:
    // Swaps `staged` (inside `staging`) in for `bundle`; the old bundle becomes the kept copy.
    void replace(const std::filesystem::path& bundle, const std::filesystem::path& staged,
                 const std::filesystem::path& staging) const;
    // Exchanges two paths; false with errno set when it cannot.
    bool exchange(const std::filesystem::path& a, const std::filesystem::path& b) const;

    Options options_;
};

} // namespace meterly::update
