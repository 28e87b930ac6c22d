#pragma once

#include "core/Environment.hpp"
#include "state/Autostart.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace meterly::state {

// Whether the app opens at login: an XDG autostart entry, "meterly.desktop" in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart by default), that starts the installed bundle's
// executable. Only an app running from its bundle (".../Meterly.app/Contents/MacOS/<executable>")
// can be a login item. The settings window's "Launch at login" switch reads `state()` and turns
// the entry on and off with `setEnabled`.
//
// Its states: `enabled` when the entry is there and starts this app; `disabled` with no entry, or
// one that is switched off; `requiresApproval` never (desktops need no approval for autostart
// entries); `unavailable` when not running from an application bundle.
class LoginItem final : public Autostart {
public:
    static constexpr std::string_view entryName = "meterly.desktop";

    // `executablePath` is the running executable (links resolved); `homeDirectory` and
    // `environment` locate the autostart folder.
    LoginItem(std::filesystem::path executablePath, std::filesystem::path homeDirectory,
              core::EnvironmentLookup environment = core::processEnvironment());

    // The running executable is /proc/self/exe.
    static LoginItem running(std::filesystem::path homeDirectory);

    std::filesystem::path entryPath() const;

    // The executable sits in <something>/Meterly.app/Contents/MacOS/.
    bool isBundled() const;
    State state() const override;
    bool isEnabled() const { return state() == State::enabled; }

    // Writes or removes the entry, then reads the state again. Outside a bundle nothing changes
    // and the answer is `unavailable`.
    Result setEnabled(bool enabled) const override;

    // The desktop entry for `executablePath`, its Exec line quoted by the desktop-entry rules.
    static std::string renderEntry(const std::filesystem::path& executablePath);
    // `path` as one word of an Exec line, escaped for a desktop-entry string value.
    static std::string execWord(std::string_view path);

private:
    std::filesystem::path executable_;
    std::filesystem::path home_;
    core::EnvironmentLookup environment_;
};

} // namespace meterly::state
