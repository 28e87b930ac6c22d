#include "config/ClaudeSettingsFile.hpp"

#include "SettingsFixture.hpp"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace meterly::config {
namespace {

using Kind = ConfigError::Kind;
using Document = ClaudeSettingsFile::Document;

class ClaudeSettingsFileTest : public SettingsFixture {};

TEST_F(ClaudeSettingsFileTest, MissingFileIsNoError) {
    auto inspection = file().inspect();
    EXPECT_EQ(inspection, (ClaudeSettingsFile::Inspection{settingsPath.string(), false, false,
                                                          false, std::nullopt, false, false,
                                                          backupPath.string(), false}));
    EXPECT_EQ(file().read(), Document::absent());

    home.write(backupPath, "{}");
    EXPECT_TRUE(file().inspect().backupExists);
    EXPECT_FALSE(exists(settingsPath));
}

TEST_F(ClaudeSettingsFileTest, BlankFiles) {
    const std::string blanks[] = {"", " \t\r\n\n", "\xC2\xA0\xE2\x80\xA8\n", "\xEF\xBB\xBF",
                                  "\xEF\xBB\xBF \n"};
    for (const auto& text : blanks) {
        writeSettings(text);
        EXPECT_EQ(file().read(), Document::blank());
        auto inspection = file().inspect();
        EXPECT_TRUE(inspection.fileExists);
        EXPECT_TRUE(inspection.isBlank);
        EXPECT_FALSE(inspection.existingBaseURL);
    }
}

TEST_F(ClaudeSettingsFileTest, InspectsTheEnvBlock) {
    writeSettings(
        R"({"model":"opus","env":{"ANTHROPIC_AUTH_TOKEN":null,"ANTHROPIC_BASE_URL":"http://LOCALHOST:8787"}})");
    home.write(backupPath, "{}");
    EXPECT_EQ(file().inspect(), (ClaudeSettingsFile::Inspection{settingsPath.string(), true, false,
                                                                true, "http://LOCALHOST:8787", true,
                                                                true, backupPath.string(), true}));

    writeSettings(R"({"env":{"ANTHROPIC_BASE_URL":" https://gateway.example/ "}})");
    auto inspection = file().inspect();
    EXPECT_EQ(inspection.existingBaseURL, " https://gateway.example/ ");
    EXPECT_FALSE(inspection.existingIsLoopback);
    EXPECT_FALSE(inspection.hasAuthToken);

    writeSettings(R"({"env":{"ANTHROPIC_BASE_URL":""}})");
    EXPECT_EQ(file().inspect().existingBaseURL, "");

    writeSettings(R"({"env":{}})");
    inspection = file().inspect();
    EXPECT_TRUE(inspection.hasEnvBlock);
    EXPECT_FALSE(inspection.existingBaseURL);
}

TEST_F(ClaudeSettingsFileTest, RefusesFilesItDoesNotUnderstand) {
    const std::string path = settingsPath.string();
    struct Case {
        std::string text;
        ConfigError error;
    };
    const Case cases[] = {
        {"[1,2]", ConfigError::rootIsNotAnObject(path)},
        {"42", ConfigError::rootIsNotAnObject(path)},
        {R"({"env":"x"})", ConfigError::envIsNotAnObject(path)},
        {R"({"env":{"ANTHROPIC_BASE_URL":8787}})", ConfigError::baseURLIsNotAString(path)},
        {R"({"env":{"ANTHROPIC_BASE_URL":null}})", ConfigError::baseURLIsNotAString(path)},
        {"{\"a\":\"\xFF\"}", ConfigError::malformedJSON(path, "file is not valid UTF-8")},
        {"{\"a\":1,}",
         ConfigError::malformedJSON(path, "expected a quoted object key (at byte 7)")},
        {"\xEF\xBB\xBF{\"a\" 1}",
         ConfigError::malformedJSON(path, "expected ':' after object key 'a' (at byte 8)")},
    };
    for (const auto& c : cases) {
        writeSettings(c.text);
        EXPECT_EQ(errorOf([&] { file().inspect(); }), c.error) << c.text;
        EXPECT_EQ(errorOf([&] {
                      file().install("http://127.0.0.1:8787",
                                     ClaudeSettingsFile::ConflictPolicy::force);
                  }),
                  c.error)
            << c.text;
        EXPECT_EQ(errorOf([&] { file().remove(false); }), c.error) << c.text;
        EXPECT_EQ(settings(), c.text);
        EXPECT_FALSE(exists(backupPath));
    }
    EXPECT_EQ(ConfigError::malformedJSON(path, "expected a quoted object key (at byte 7)").what(),
              path + " is not valid JSON (expected a quoted object key (at byte 7)). Refusing to "
                     "touch it \u2014 fix or move the file, then re-run.");
}

TEST_F(ClaudeSettingsFileTest, UnreadableFileIsAnIOError) {
    std::filesystem::create_directories(settingsPath);
    auto error = errorOf([&] { file().inspect(); });
    EXPECT_EQ(error, ConfigError::io(settingsPath.string(), "Is a directory"));
}

TEST_F(ClaudeSettingsFileTest, StandardPathFollowsTheInstallation) {
    std::map<std::string, std::string, std::less<>> variables;
    core::EnvironmentLookup lookup = [&](std::string_view name) -> std::optional<std::string> {
        auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional(found->second);
    };
    auto production = ClaudeSettingsFile::standard(home.path(), lookup);
    EXPECT_EQ(production.url(), home.path() / ".claude" / "settings.json");
    EXPECT_EQ(production.backupURL(), home.path() / ".claude" / "settings.json.meterly-backup");

    variables["METERLY_INSTALL"] = "dev";
    auto development = ClaudeSettingsFile::standard(home.path(), lookup);
    EXPECT_EQ(development.url(), home.path() / ".claude-meterly-dev" / "settings.json");

    // The development copy never reads the production file.
    writeSettings(R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:8787"}})");
    EXPECT_FALSE(development.inspect().fileExists);
}

TEST(ClaudeSettingsFileLoopbackTest, RecognisesTheLocalMachineOnly) {
    struct Case {
        const char* url;
        bool loopback;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8787", true},
        {"http://127.0.0.1", true},
        {"https://127.8.9.10/v1", true},
        {"http://127.000.000.001:1", true},
        {"http://000127.0.0.0000001:1", true},
        {"http://127.0.0.4294967297", false},
        {"http://localhost:8787", true},
        {"http://LocalHost/", true},
        {"http://[::1]:8787", true},
        {"http://[::1]", true},
        {"http://user@127.0.0.1:8787/path?q#f", true},
        {"http://127.0.0.1.example.com:8787", false},
        {"http://127.0.0:8787", false},
        {"http://127.0.0.1.5", false},
        {"http://127.0.0.256", false},
        {"http://127..0.1", false},
        {"http://10.0.0.1:8787", false},
        {"http://0.0.0.0:8787", false},
        {"http://[::2]:8787", false},
        {"http://localhost.example:8787", false},
        {"http://gateway.internal", false},
        {"127.0.0.1:8787", false},
        {"localhost:8787", false},
        {"not a url", false},
        {"http://127.0.0.1:port", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClaudeSettingsFile::isLoopbackURL(c.url), c.loopback) << c.url;
    }
}

TEST(ClaudeSettingsFileConflictPolicyTest, RawValues) {
    using Policy = ClaudeSettingsFile::ConflictPolicy;
    for (auto policy : {Policy::refuse, Policy::adoptLocal, Policy::force}) {
        EXPECT_EQ(ClaudeSettingsFile::conflictPolicy(ClaudeSettingsFile::rawValue(policy)), policy);
    }
    EXPECT_EQ(ClaudeSettingsFile::rawValue(Policy::adoptLocal), "adoptLocal");
    EXPECT_FALSE(ClaudeSettingsFile::conflictPolicy("Force"));
}

} // namespace
} // namespace meterly::config
