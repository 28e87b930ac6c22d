#include "state/LoginItem.hpp"

#include "config/FileOps.hpp"
#include "core/AsciiText.hpp"
#include "core/UTF8.hpp"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace meterly::state {

namespace {

constexpr std::string_view group = "[Desktop Entry]";

// Characters that make an Exec argument need quotes.
bool isReserved(char c) {
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The value of `key` in the [Desktop Entry] group, if the entry has one.
std::optional<std::string> entryValue(std::string_view entry, std::string_view key) {
    bool inGroup = false;
    while (!entry.empty()) {
        auto end = entry.find('\n');
        auto line = trimmed(entry.substr(0, end));
        entry.remove_prefix(end == std::string_view::npos ? entry.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            inGroup = line == group;
            continue;
        }
        auto equals = line.find('=');
        if (inGroup && equals != std::string_view::npos && trimmed(line.substr(0, equals)) == key) {
            return std::string(trimmed(line.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

} // namespace

LoginItem::LoginItem(std::filesystem::path executablePath, std::filesystem::path homeDirectory,
                     core::EnvironmentLookup environment)
    : executable_(std::move(executablePath)), home_(std::move(homeDirectory)),
      environment_(std::move(environment)) {}

LoginItem LoginItem::running(std::filesystem::path homeDirectory) {
    std::error_code error;
    auto executable = std::filesystem::canonical("/proc/self/exe", error);
    return LoginItem(error ? std::filesystem::path() : executable, std::move(homeDirectory));
}

std::filesystem::path LoginItem::entryPath() const {
    std::optional<std::string> configHome =
        environment_ ? environment_("XDG_CONFIG_HOME") : std::nullopt;
    // XDG base directories must be absolute; a relative value is ignored.
    auto base = configHome && !configHome->empty() && configHome->front() == '/'
                    ? std::filesystem::path(*configHome)
                    : home_ / ".config";
    return base / "autostart" / entryName;
}

bool LoginItem::isBundled() const {
    auto macOS = executable_.parent_path();
    auto contents = macOS.parent_path();
    auto bundle = contents.parent_path();
    return !executable_.filename().empty() && macOS.filename() == "MacOS" &&
           contents.filename() == "Contents" && bundle.filename() == "Meterly.app";
}

LoginItem::State LoginItem::state() const {
    if (!isBundled()) {
        return State::unavailable;
    }
    std::string entry;
    try {
        entry = config::fileops::readAll(entryPath());
    } catch (...) {
        return State::disabled; // no entry, or none that can be read
    }
    if (entryValue(entry, "Hidden") == "true" ||
        entryValue(entry, "X-GNOME-Autostart-enabled") == "false") {
        return State::disabled;
    }
    std::string exec;
    try {
        exec = execWord(executable_.string());
    } catch (const std::invalid_argument&) {
        return State::disabled;
    }
    // An entry left by a copy of the app elsewhere does not start this one.
    return entryValue(entry, "Exec") == exec ? State::enabled : State::disabled;
}

LoginItem::Result LoginItem::setEnabled(bool enabled) const {
    if (!isBundled()) {
        return State::unavailable;
    }
    auto path = entryPath();
    try {
        if (enabled) {
            std::string entry = renderEntry(executable_);
            std::filesystem::create_directories(path.parent_path());
            config::fileops::writeAtomically(path, entry, 0644);
        } else if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            throw std::system_error(errno, std::generic_category());
        }
    } catch (const std::system_error& failure) {
        // Folder and file errors alike (filesystem_error is one).
        return Error{"I/O error on " + path.string() + ": " + failure.code().message()};
    } catch (const std::invalid_argument& failure) {
        return Error{failure.what()};
    }
    return state();
}

std::string LoginItem::execWord(std::string_view path) {
    if (!core::utf8::isValid(path)) {
        throw std::invalid_argument("The path of Meterly's executable is not valid UTF-8.");
    }
    bool needsQuotes = false;
    for (char c : path) {
        if (core::ascii::isControl(c)) {
            throw std::invalid_argument(
                "The path of Meterly's executable holds a control character.");
        }
        needsQuotes = needsQuotes || isReserved(c);
    }
    // First the Exec rules: quotes around a word with reserved characters, a backslash before
    // '"', '`', '$' and '\' inside them, and "%%" for a percent sign.
    std::string word;
    for (char c : path) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            word += '\\';
        }
        word += c;
        if (c == '%') {
            word += '%';
        }
    }
    if (needsQuotes) {
        word = '"' + word + '"';
    }
    // Then the rules of a string value, where a backslash is written twice.
    std::string value;
    for (char c : word) {
        value += c;
        if (c == '\\') {
            value += '\\';
        }
    }
    return value;
}

std::string LoginItem::renderEntry(const std::filesystem::path& executablePath) {
    return std::string(group) +
           "\n"
           "Type=Application\n"
           "Name=Meterly\n"
           "Exec=" +
           execWord(executablePath.string()) +
           "\n"
           "Terminal=false\n";
}

} // namespace meterly::state
