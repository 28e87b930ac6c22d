#include "update/UpdateInfo.hpp"

#include "config/URLComponents.hpp"
#include "core/InternetDateParser.hpp"
#include "update/UpdateCheckError.hpp"

#include <nlohmann/json.hpp>

namespace meterly::update {

namespace {

bool isURL(const std::string& text) {
    return !text.empty() && config::URLComponents::parse(text).has_value();
}

std::optional<std::string> optionalString(const nlohmann::json& document, const char* key) {
    auto it = document.find(key);
    if (it == document.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

} // namespace

UpdateInfo UpdateInfo::decode(std::string_view document) {
    if (document.size() > maxDocumentSize) {
        throw UpdateCheckError();
    }
    auto root = nlohmann::json::parse(document, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        throw UpdateCheckError();
    }
    UpdateInfo info;
    auto version = optionalString(root, "latest_version");
    auto url = optionalString(root, "download_url");
    if (!version || !url || !isURL(*url)) {
        throw UpdateCheckError();
    }
    info.latestVersion = std::move(*version);
    info.downloadURL = std::move(*url);
    info.sha256 = optionalString(root, "sha256");
    info.notes = optionalString(root, "notes");
    info.notesURL = optionalString(root, "notes_url");
    if (info.notesURL && !isURL(*info.notesURL)) {
        info.notesURL.reset();
    }
    info.rolloutStartedAt = optionalString(root, "rollout_started_at");
    if (auto it = root.find("rollout_phase_hours"); it != root.end() && it->is_number()) {
        info.rolloutPhaseHours = it->get<double>();
    }
    if (auto it = root.find("critical"); it != root.end() && it->is_boolean()) {
        info.critical = it->get<bool>();
    }
    return info;
}

std::optional<core::Date> UpdateInfo::rolloutStart() const {
    if (!rolloutStartedAt) {
        return std::nullopt;
    }
    return core::InternetDateParser(core::InternetDateParser::Fraction::absent)
        .date(*rolloutStartedAt);
}

} // namespace meterly::update
