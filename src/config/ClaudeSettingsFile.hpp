#pragma once

#include "config/JSONValue.hpp"
#include "core/Environment.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace meterly::config {

// Meterly's handle on Claude Code's settings file. The only member it writes is
// env.ANTHROPIC_BASE_URL (creating or removing the env object that holds it); everything else in
// the file is carried through untouched. Every operation reads the file afresh, refuses a file
// it does not understand, and blocks on file I/O. Errors are thrown as ConfigError.
class ClaudeSettingsFile {
public:
    static constexpr std::string_view baseURLKey = "ANTHROPIC_BASE_URL";
    static constexpr std::string_view authTokenKey = "ANTHROPIC_AUTH_TOKEN";
    static constexpr std::string_view backupSuffix = ".meterly-backup";

    // What install does when the file already names another base URL.
    enum class ConflictPolicy {
        refuse,     // never replace it
        adoptLocal, // replace it only when it is a loopback URL
        force,      // replace whatever is there
    };
    static std::string_view rawValue(ConflictPolicy policy);
    static std::optional<ConflictPolicy> conflictPolicy(std::string_view rawValue);

    // The file as read.
    class Document {
    public:
        enum class Kind { object, absent, blank };

        static Document fromObject(JSONObject object);
        static Document absent();
        static Document blank();

        Kind kind() const { return kind_; }
        // The root object; an empty object for an absent or blank file.
        const JSONObject& object() const { return object_; }
        bool existsOnDisk() const { return kind_ != Kind::absent; }

        bool operator==(const Document&) const = default;

    private:
        Document(Kind kind, JSONObject object);
        Kind kind_;
        JSONObject object_;
    };

    // The read-only summary the rest of the app consults.
    struct Inspection {
        std::string path;
        bool fileExists = false;
        bool isBlank = false;
        bool hasEnvBlock = false;
        std::optional<std::string> existingBaseURL;
        bool existingIsLoopback = false;
        bool backupExists = false;
        std::string backupPath;
        bool hasAuthToken = false;

        // The port of the base URL the settings name, when that is a loopback URL with a port.
        std::optional<std::uint16_t> loopbackPort() const;

        bool operator==(const Inspection&) const = default;
    };

    struct InstallResult {
        struct Change {
            enum class Kind { replacedBaseURL, createdFile, alreadyConfigured, addedBaseURL };
            Kind kind;
            std::string previous; // the old value, for replacedBaseURL

            static Change replacedBaseURL(std::string previous) {
                return {Kind::replacedBaseURL, std::move(previous)};
            }
            static Change createdFile() { return {Kind::createdFile, {}}; }
            static Change alreadyConfigured() { return {Kind::alreadyConfigured, {}}; }
            static Change addedBaseURL() { return {Kind::addedBaseURL, {}}; }
            bool operator==(const Change&) const = default;
        };

        Change change;
        std::string baseURL;
        std::string path;
        bool backupCreated = false;
        std::string backupPath;
        std::optional<std::string> replacedForeignValue;

        bool didWrite() const { return change.kind != Change::Kind::alreadyConfigured; }
        bool operator==(const InstallResult&) const = default;
    };

    struct RemovalResult {
        struct Change {
            enum class Kind {
                restoredPreviousBaseURL,
                leftForeignValue,
                fileAbsent,
                notConfigured,
                removedBaseURL,
            };
            Kind kind;
            std::string value; // the value put back, or the foreign value left in place

            static Change restoredPreviousBaseURL(std::string value) {
                return {Kind::restoredPreviousBaseURL, std::move(value)};
            }
            static Change leftForeignValue(std::string value) {
                return {Kind::leftForeignValue, std::move(value)};
            }
            static Change fileAbsent() { return {Kind::fileAbsent, {}}; }
            static Change notConfigured() { return {Kind::notConfigured, {}}; }
            static Change removedBaseURL() { return {Kind::removedBaseURL, {}}; }
            bool operator==(const Change&) const = default;
        };

        Change change;
        std::string path;
        bool backupRemoved = false;

        bool didWrite() const {
            return change.kind == Change::Kind::restoredPreviousBaseURL ||
                   change.kind == Change::Kind::removedBaseURL;
        }
        bool operator==(const RemovalResult&) const = default;
    };

    // Called with the settings path after a verified write has replaced the file and before it
    // is read back. Tests use it to change the file in between.
    using AfterWrite = std::function<void(const std::filesystem::path& settingsPath)>;

    explicit ClaudeSettingsFile(std::filesystem::path url, AfterWrite afterWrite = {});

    // "settings.json" in the configuration folder of the installation that METERLY_INSTALL
    // selects at this moment, under `homeDirectory`.
    static ClaudeSettingsFile standard(const std::filesystem::path& homeDirectory,
                                       const core::EnvironmentLookup& environment);
    static ClaudeSettingsFile standard(const std::filesystem::path& homeDirectory);

    const std::filesystem::path& url() const { return url_; }
    std::string path() const { return url_.string(); }
    // "<settings file name>.meterly-backup" beside the settings file.
    std::filesystem::path backupURL() const;

    Document read() const;
    std::optional<std::string> existingBaseURL(const Document& document) const;
    Inspection inspect() const;

    // Whether the URL's host is localhost, ::1 or an address in 127.0.0.0/8. No name lookup.
    static bool isLoopbackURL(std::string_view text);

    // Sets env.ANTHROPIC_BASE_URL to `baseURL`, taking the one-time backup first.
    InstallResult install(const std::string& baseURL, ConflictPolicy policy) const;
    // Takes a loopback base URL out again, putting back the one the backup holds, if any.
    RemovalResult remove(bool keepBackup) const;
    // Puts the backup's bytes back as the settings file.
    void restoreBackup(bool keepBackup) const;

private:
    static Document readDocument(const std::filesystem::path& path);
    bool makeBackupIfNeeded(bool originalDocumentExists) const;
    bool discardBackup() const;
    std::optional<Document> readBackupDocument() const;
    // Writes the bytes as the settings file, with `mode` or else the current file's mode or
    // else 0600.
    void atomicWrite(std::string_view bytes, std::optional<mode_t> mode = std::nullopt) const;
    void writeVerified(const JSONObject& root, const std::optional<std::string>& expectedBaseURL,
                       const JSONObject& preImage) const;

    std::filesystem::path url_;
    AfterWrite afterWrite_;
};

} // namespace meterly::config
