#pragma once

#include "core/Time.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace meterly::update {

// The newest release as the version feed describes it. Only ever decoded, never written.
struct UpdateInfo {
    std::string latestVersion{};
    std::string downloadURL{};
    // 64 hexadecimal digits, upper or lower case, as the feed gives it; checked by the downloader.
    std::optional<std::string> sha256{};
    std::optional<std::string> notes{};
    std::optional<std::string> notesURL{};
    // An internet date-time text, kept as given.
    std::optional<std::string> rolloutStartedAt{};
    std::optional<double> rolloutPhaseHours{};
    std::optional<bool> critical{};

    bool operator==(const UpdateInfo&) const = default;

    // The feed's largest accepted document.
    static constexpr std::size_t maxDocumentSize = 1024 * 1024;

    // Decodes the feed document: an object with "latest_version" (a string) and "download_url" (a
    // string that reads as a URL); the six optional keys are read leniently (absent, null, of the
    // wrong type or, for "notes_url", not a URL: the field is absent). Other keys are ignored.
    // Throws UpdateCheckError::unexpectedResponse when the document does not decode.
    static UpdateInfo decode(std::string_view document);

    // `rolloutStartedAt` read as an internet date-time without fractional seconds; none when it is
    // absent or does not read so.
    std::optional<core::Date> rolloutStart() const;
};

} // namespace meterly::update
