#include "config/ClaudeSettingsFile.hpp"

#include "config/ConfigError.hpp"
#include "config/FileOps.hpp"
#include "config/InstallEnvironment.hpp"
#include "config/JSONParser.hpp"
#include "config/JSONWriter.hpp"
#include "config/PortSelector.hpp"
#include "config/URLComponents.hpp"
#include "core/AsciiText.hpp"
#include "core/UTF8.hpp"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace meterly::config {

namespace {

constexpr std::string_view envKey = "env";
constexpr mode_t newFileMode = 0600;

std::string systemDescription(const std::system_error& error) {
    return error.code().message();
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (true) {
        auto at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return pieces;
        }
        text.remove_prefix(at + 1);
    }
}

// A piece of a dotted address: decimal digits only, within 16 bits. Leading zeros are allowed
// in any number.
std::optional<unsigned> dottedPiece(std::string_view piece) {
    if (piece.empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFF) {
            return std::nullopt;
        }
    }
    return value;
}

} // namespace

std::string_view ClaudeSettingsFile::rawValue(ConflictPolicy policy) {
    switch (policy) {
    case ConflictPolicy::refuse:
        return "refuse";
    case ConflictPolicy::adoptLocal:
        return "adoptLocal";
    case ConflictPolicy::force:
        return "force";
    }
    return {};
}

std::optional<ClaudeSettingsFile::ConflictPolicy>
ClaudeSettingsFile::conflictPolicy(std::string_view raw) {
    for (auto policy :
         {ConflictPolicy::refuse, ConflictPolicy::adoptLocal, ConflictPolicy::force}) {
        if (rawValue(policy) == raw) {
            return policy;
        }
    }
    return std::nullopt;
}

ClaudeSettingsFile::Document::Document(Kind kind, JSONObject object)
    : kind_(kind), object_(std::move(object)) {}

ClaudeSettingsFile::Document ClaudeSettingsFile::Document::fromObject(JSONObject object) {
    return {Kind::object, std::move(object)};
}

ClaudeSettingsFile::Document ClaudeSettingsFile::Document::absent() {
    return {Kind::absent, {}};
}

ClaudeSettingsFile::Document ClaudeSettingsFile::Document::blank() {
    return {Kind::blank, {}};
}

ClaudeSettingsFile::ClaudeSettingsFile(std::filesystem::path url, AfterWrite afterWrite)
    : url_(std::move(url)), afterWrite_(std::move(afterWrite)) {}

ClaudeSettingsFile ClaudeSettingsFile::standard(const std::filesystem::path& homeDirectory,
                                                const core::EnvironmentLookup& environment) {
    const auto& installation = InstallEnvironment::current(environment);
    return ClaudeSettingsFile(homeDirectory / installation.configDirectoryName / "settings.json");
}

ClaudeSettingsFile ClaudeSettingsFile::standard(const std::filesystem::path& homeDirectory) {
    return standard(homeDirectory, core::processEnvironment());
}

std::filesystem::path ClaudeSettingsFile::backupURL() const {
    auto backup = url_;
    backup += backupSuffix;
    return backup;
}

// ---- Reading ----------------------------------------------------------------------------------

ClaudeSettingsFile::Document ClaudeSettingsFile::readDocument(const std::filesystem::path& path) {
    if (!fileops::exists(path)) {
        return Document::absent();
    }
    std::string bytes;
    try {
        bytes = fileops::readAll(path);
    } catch (const std::system_error& error) {
        throw ConfigError::io(path.string(), systemDescription(error));
    }
    if (!core::utf8::isValid(bytes)) {
        throw ConfigError::malformedJSON(path.string(), "file is not valid UTF-8");
    }
    // A byte-order mark is dropped by the decoding: on its own it leaves an empty text.
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    if (core::utf8::isBlank(text)) {
        return Document::blank();
    }
    JSONValue value;
    try {
        value = JSONParser::parse(bytes);
    } catch (const JSONParseError& error) {
        throw ConfigError::malformedJSON(path.string(), error.what());
    }
    auto* object = value.objectValue();
    if (object == nullptr) {
        throw ConfigError::rootIsNotAnObject(path.string());
    }
    return Document::fromObject(std::move(*object));
}

ClaudeSettingsFile::Document ClaudeSettingsFile::read() const {
    return readDocument(url_);
}

std::optional<std::string> ClaudeSettingsFile::existingBaseURL(const Document& document) const {
    const JSONValue* env = document.object().get(envKey);
    if (env == nullptr) {
        return std::nullopt;
    }
    const JSONObject* envObject = env->objectValue();
    if (envObject == nullptr) {
        throw ConfigError::envIsNotAnObject(path());
    }
    const JSONValue* baseURL = envObject->get(baseURLKey);
    if (baseURL == nullptr) {
        return std::nullopt;
    }
    const std::string* text = baseURL->stringValue();
    if (text == nullptr) {
        throw ConfigError::baseURLIsNotAString(path());
    }
    return *text;
}

std::optional<std::uint16_t> ClaudeSettingsFile::Inspection::loopbackPort() const {
    if (!existingBaseURL || !existingIsLoopback) {
        return std::nullopt;
    }
    return PortSelector::port(*existingBaseURL);
}

ClaudeSettingsFile::Inspection ClaudeSettingsFile::inspect() const {
    Document document = read();
    auto baseURL = existingBaseURL(document);
    const JSONValue* env = document.object().get(envKey);
    Inspection inspection;
    inspection.path = path();
    inspection.fileExists = document.existsOnDisk();
    inspection.isBlank = document.kind() == Document::Kind::blank;
    inspection.hasEnvBlock = env != nullptr;
    inspection.existingBaseURL = baseURL;
    inspection.existingIsLoopback = baseURL && isLoopbackURL(*baseURL);
    inspection.backupExists = fileops::exists(backupURL());
    inspection.backupPath = backupURL().string();
    inspection.hasAuthToken = env != nullptr && env->objectValue()->contains(authTokenKey);
    return inspection;
}

bool ClaudeSettingsFile::isLoopbackURL(std::string_view text) {
    auto components = URLComponents::parse(text);
    if (!components || !components->host) {
        return false;
    }
    std::string_view host = *components->host;
    while (!host.empty() && (host.front() == '[' || host.front() == ']')) {
        host.remove_prefix(1);
    }
    while (!host.empty() && (host.back() == '[' || host.back() == ']')) {
        host.remove_suffix(1);
    }
    const std::string name = core::ascii::lowercased(host);
    if (name == "localhost" || name == "::1") {
        return true;
    }
    auto pieces = split(name, '.');
    if (pieces.size() != 4) {
        return false;
    }
    std::vector<unsigned> octets;
    for (auto piece : pieces) {
        if (auto value = dottedPiece(piece)) {
            octets.push_back(*value);
        }
    }
    return octets.size() == 4 &&
           std::all_of(octets.begin(), octets.end(), [](unsigned v) { return v <= 255; }) &&
           octets[0] == 127;
}

// ---- Edits ------------------------------------------------------------------------------------

ClaudeSettingsFile::InstallResult ClaudeSettingsFile::install(const std::string& baseURL,
                                                              ConflictPolicy policy) const {
    Document document = read();
    auto existing = existingBaseURL(document);

    InstallResult result;
    result.baseURL = baseURL;
    result.path = path();
    result.backupPath = backupURL().string();

    if (existing && *existing == baseURL) {
        result.change = InstallResult::Change::alreadyConfigured();
        return result;
    }
    if (existing) {
        const bool mayReplace = policy == ConflictPolicy::force ||
                                (policy == ConflictPolicy::adoptLocal && isLoopbackURL(*existing));
        if (!mayReplace) {
            throw ConfigError::conflictingBaseURL(path(), *existing);
        }
    }

    JSONObject root = document.object();
    JSONObject env;
    if (const JSONValue* current = root.get(envKey)) {
        const JSONObject* currentObject = current->objectValue();
        if (currentObject == nullptr) {
            throw ConfigError::envIsNotAnObject(path());
        }
        env = *currentObject;
    }
    env.set(std::string(baseURLKey), JSONValue::string(baseURL));
    root.set(std::string(envKey), JSONValue::object(std::move(env)));

    result.backupCreated = makeBackupIfNeeded(document.existsOnDisk());
    writeVerified(root, baseURL, document.object());

    if (existing) {
        result.change = InstallResult::Change::replacedBaseURL(*existing);
        result.replacedForeignValue = existing;
    } else if (!document.existsOnDisk()) {
        result.change = InstallResult::Change::createdFile();
    } else {
        result.change = InstallResult::Change::addedBaseURL();
    }
    return result;
}

ClaudeSettingsFile::RemovalResult ClaudeSettingsFile::remove(bool keepBackup) const {
    RemovalResult result;
    result.path = path();

    Document document = read();
    if (!document.existsOnDisk()) {
        result.change = RemovalResult::Change::fileAbsent();
        return result;
    }
    auto current = existingBaseURL(document);
    if (!current) {
        if (!keepBackup) {
            result.backupRemoved = discardBackup();
        }
        result.change = RemovalResult::Change::notConfigured();
        return result;
    }
    if (!isLoopbackURL(*current)) {
        result.change = RemovalResult::Change::leftForeignValue(*current);
        return result;
    }

    auto backup = readBackupDocument();
    std::optional<std::string> previous;
    if (backup) {
        try {
            previous = existingBaseURL(*backup);
        } catch (const ConfigError&) {
            previous.reset();
        }
    }

    JSONObject root = document.object();
    JSONObject env;
    if (const JSONValue* value = root.get(envKey); value != nullptr && value->objectValue()) {
        env = *value->objectValue();
    }
    std::optional<std::string> expected;
    if (previous && *previous != *current) {
        env.set(std::string(baseURLKey), JSONValue::string(*previous));
        result.change = RemovalResult::Change::restoredPreviousBaseURL(*previous);
        expected = previous;
    } else {
        env.removeValue(baseURLKey);
        result.change = RemovalResult::Change::removedBaseURL();
    }
    if (!env.isEmpty() || (backup && backup->object().contains(envKey))) {
        root.set(std::string(envKey), JSONValue::object(std::move(env)));
    } else {
        root.removeValue(envKey);
    }

    writeVerified(root, expected, document.object());
    if (!keepBackup) {
        result.backupRemoved = discardBackup();
    }
    return result;
}

void ClaudeSettingsFile::restoreBackup(bool keepBackup) const {
    const auto backup = backupURL();
    if (!fileops::exists(backup)) {
        throw ConfigError::backupMissing(backup.string());
    }
    std::string bytes;
    try {
        bytes = fileops::readAll(backup);
    } catch (const std::system_error& error) {
        throw ConfigError::io(backup.string(), systemDescription(error));
    }
    atomicWrite(bytes);
    if (!keepBackup) {
        discardBackup();
    }
}

// ---- Backup -----------------------------------------------------------------------------------

bool ClaudeSettingsFile::makeBackupIfNeeded(bool originalDocumentExists) const {
    if (!originalDocumentExists) {
        return false;
    }
    const auto backup = backupURL();
    if (fileops::exists(backup)) {
        return false;
    }
    try {
        // The contents are copied, not a link: a settings file that is a link to a file kept
        // elsewhere must not leave a backup that follows it and changes with it.
        fileops::copyExclusively(url_, backup);
    } catch (const std::system_error& error) {
        throw ConfigError::io(backup.string(), systemDescription(error));
    }
    return true;
}

bool ClaudeSettingsFile::discardBackup() const {
    const auto backup = backupURL();
    if (!fileops::exists(backup)) {
        return false;
    }
    if (::unlink(backup.c_str()) != 0) {
        const int error = errno;
        throw ConfigError::io(backup.string(), std::generic_category().message(error));
    }
    return true;
}

std::optional<ClaudeSettingsFile::Document> ClaudeSettingsFile::readBackupDocument() const {
    const auto backup = backupURL();
    if (!fileops::exists(backup)) {
        return std::nullopt;
    }
    try {
        return readDocument(backup);
    } catch (const ConfigError&) {
        return std::nullopt;
    }
}

// ---- Writing ----------------------------------------------------------------------------------

void ClaudeSettingsFile::atomicWrite(std::string_view bytes, std::optional<mode_t> mode) const {
    try {
        auto folder = url_.parent_path();
        if (!folder.empty() && !fileops::exists(folder)) {
            std::error_code error;
            std::filesystem::create_directories(folder, error);
            if (error) {
                throw std::system_error(error);
            }
        }
        if (!mode) {
            mode = fileops::permissions(url_);
        }
        fileops::writeAtomically(url_, bytes, mode.value_or(newFileMode));
    } catch (const std::system_error& error) {
        throw ConfigError::io(path(), systemDescription(error));
    }
}

void ClaudeSettingsFile::writeVerified(const JSONObject& root,
                                       const std::optional<std::string>& expectedBaseURL,
                                       const JSONObject& preImage) const {
    // What to put back when anything below fails.
    std::optional<std::string> snapshot;
    std::optional<mode_t> snapshotMode;
    if (fileops::exists(url_)) {
        try {
            snapshot = fileops::readAll(url_);
        } catch (const std::system_error& error) {
            throw ConfigError::io(path(), systemDescription(error));
        }
        snapshotMode = fileops::permissions(url_);
    }

    const std::string rendered = JSONWriter::string(JSONValue::object(root));

    auto undo = [&] {
        try {
            if (snapshot) {
                atomicWrite(*snapshot, snapshotMode.value_or(newFileMode));
            } else {
                std::error_code ignored;
                std::filesystem::remove(fileops::writeTarget(url_), ignored);
            }
        } catch (...) {
            // The original failure is what the caller needs to hear about.
        }
    };

    try {
        atomicWrite(rendered);
        if (afterWrite_) {
            afterWrite_(url_);
        }
        Document readBack = read();
        auto fail = [&](std::string reason) {
            throw ConfigError::verificationFailed(path(), std::move(reason));
        };
        if (readBack.kind() != Document::Kind::object) {
            fail("file did not read back as a JSON object");
        }
        if (!(readBack.object() == root)) {
            fail("file did not read back identically");
        }
        auto readBaseURL = existingBaseURL(readBack);
        if (readBaseURL && readBaseURL != expectedBaseURL) {
            fail("ANTHROPIC_BASE_URL read back as " + *readBaseURL);
        }
        if (!readBaseURL && expectedBaseURL) {
            fail("ANTHROPIC_BASE_URL read back as nothing");
        }
        for (const auto& key : preImage.keys()) {
            if (key != envKey && !readBack.object().contains(key)) {
                fail("top-level key '" + key + "' disappeared");
            }
        }
    } catch (...) {
        undo();
        throw;
    }
}

} // namespace meterly::config
