#include "SettingsFixture.hpp"
#include "config/ClaudeSettingsFile.hpp"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace meterly::config {
namespace {

using Policy = ClaudeSettingsFile::ConflictPolicy;
using InstallChange = ClaudeSettingsFile::InstallResult::Change;
using RemovalChange = ClaudeSettingsFile::RemovalResult::Change;

const std::string proxyURL = "http://127.0.0.1:8787";
const std::string proxyOnly =
    "{\n  \"env\": {\n    \"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"\n  }\n}\n";

class ClaudeSettingsFileEditTest : public SettingsFixture {};

TEST_F(ClaudeSettingsFileEditTest, InstallCreatesFolderAndOwnerOnlyFile) {
    auto result = file().install(proxyURL, Policy::refuse);
    EXPECT_EQ(result, (ClaudeSettingsFile::InstallResult{InstallChange::createdFile(), proxyURL,
                                                         settingsPath.string(), false,
                                                         backupPath.string(), std::nullopt}));
    EXPECT_TRUE(result.didWrite());
    EXPECT_EQ(settings(), proxyOnly);
    EXPECT_EQ(modeOf(settingsPath), 0600U);
    EXPECT_FALSE(exists(backupPath));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ClaudeSettingsFileEditTest, InstallIntoBlankFileBacksItUp) {
    writeSettings("\n");
    auto result = file().install(proxyURL, Policy::refuse);
    EXPECT_EQ(result.change, InstallChange::addedBaseURL());
    EXPECT_TRUE(result.backupCreated);
    EXPECT_EQ(backup(), "\n");
    EXPECT_EQ(settings(), proxyOnly);
}

TEST_F(ClaudeSettingsFileEditTest, SameValueTwiceWritesNothing) {
    file().install(proxyURL, Policy::refuse);
    const auto inode = inodeOf(settingsPath);
    auto again = file().install(proxyURL, Policy::refuse);
    EXPECT_EQ(again.change, InstallChange::alreadyConfigured());
    EXPECT_FALSE(again.didWrite());
    EXPECT_FALSE(again.backupCreated);
    EXPECT_EQ(inodeOf(settingsPath), inode); // every write replaces the file, so none happened
    EXPECT_FALSE(exists(backupPath));
}

TEST_F(ClaudeSettingsFileEditTest, ConflictPolicies) {
    struct Case {
        std::string existing;
        Policy policy;
        bool replaces;
    };
    const Case cases[] = {
        {"https://gateway.example", Policy::refuse, false},
        {"http://127.0.0.1:9000", Policy::refuse, false},
        {"https://gateway.example", Policy::adoptLocal, false},
        {"http://localhost:9000", Policy::adoptLocal, true},
        {"https://gateway.example", Policy::force, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(backupPath);
        const std::string before = R"({"env":{"ANTHROPIC_BASE_URL":")" + c.existing + R"("}})";
        writeSettings(before);
        if (!c.replaces) {
            EXPECT_EQ(errorOf([&] { file().install(proxyURL, c.policy); }),
                      ConfigError::conflictingBaseURL(settingsPath.string(), c.existing));
            EXPECT_EQ(settings(), before);
            EXPECT_FALSE(exists(backupPath));
            continue;
        }
        auto result = file().install(proxyURL, c.policy);
        EXPECT_EQ(result.change, InstallChange::replacedBaseURL(c.existing));
        EXPECT_EQ(result.replacedForeignValue, c.existing);
        EXPECT_TRUE(result.backupCreated);
        EXPECT_EQ(backup(), before);
        EXPECT_EQ(settings(), proxyOnly);
    }
}

TEST_F(ClaudeSettingsFileEditTest, InstallTouchesNothingElse) {
    writeSettings(
        R"({"model":"opus","env":{"DEBUG":"1","ANTHROPIC_BASE_URL":"http://127.0.0.1:1"},)"
        R"("limits":{"ratio":1.0,"big":1e3,"list":[1.50,-0,{}]},"z":null})");
    file().install(proxyURL, Policy::adoptLocal);
    EXPECT_EQ(settings(), "{\n"
                          "  \"model\": \"opus\",\n"
                          "  \"env\": {\n"
                          "    \"DEBUG\": \"1\",\n"
                          "    \"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"\n"
                          "  },\n"
                          "  \"limits\": {\n"
                          "    \"ratio\": 1.0,\n"
                          "    \"big\": 1e3,\n"
                          "    \"list\": [\n"
                          "      1.50,\n"
                          "      -0,\n"
                          "      {}\n"
                          "    ]\n"
                          "  },\n"
                          "  \"z\": null\n"
                          "}\n");

    // A new env member goes to the end of the root, the base URL to the end of env.
    writeSettings(R"({"a":1,"b":{"c":true}})");
    file().install(proxyURL, Policy::force);
    EXPECT_EQ(settings(), "{\n  \"a\": 1,\n  \"b\": {\n    \"c\": true\n  },\n  \"env\": {\n"
                          "    \"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"\n  }\n}\n");
}

TEST_F(ClaudeSettingsFileEditTest, BackupIsTakenOnceAndNeverOverwritten) {
    const std::string original = R"({"theme":"dark"})";
    writeSettings(original);
    EXPECT_TRUE(file().install(proxyURL, Policy::refuse).backupCreated);
    EXPECT_FALSE(file().install("http://127.0.0.1:8790", Policy::adoptLocal).backupCreated);
    EXPECT_FALSE(file().install(proxyURL, Policy::adoptLocal).backupCreated);
    EXPECT_EQ(backup(), original);
}

TEST_F(ClaudeSettingsFileEditTest, RemovePutsBackThePreviousValueInPlace) {
    const std::string before =
        R"({"env":{"A":"1","ANTHROPIC_BASE_URL":"https://gateway.example","B":"2"},"x":1})";
    writeSettings(before);
    file().install(proxyURL, Policy::force);

    auto result = file().remove(false);
    EXPECT_EQ(result, (ClaudeSettingsFile::RemovalResult{
                          RemovalChange::restoredPreviousBaseURL("https://gateway.example"),
                          settingsPath.string(), true}));
    EXPECT_TRUE(result.didWrite());
    EXPECT_EQ(settings(), "{\n  \"env\": {\n    \"A\": \"1\",\n"
                          "    \"ANTHROPIC_BASE_URL\": \"https://gateway.example\",\n"
                          "    \"B\": \"2\"\n  },\n  \"x\": 1\n}\n");
    EXPECT_FALSE(exists(backupPath));
}

TEST_F(ClaudeSettingsFileEditTest, RemoveDeletesTheMemberAndAnEmptiedEnv) {
    struct Case {
        const char* name;
        std::string backupText; // empty: no backup
        std::string expected;
    };
    const std::string current = R"({"x":1,"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:8787"}})";
    const Case cases[] = {
        {"no backup", "", "{\n  \"x\": 1\n}\n"},
        {"backup without env", R"({"x":1})", "{\n  \"x\": 1\n}\n"},
        {"backup with the same value", current, "{\n  \"x\": 1,\n  \"env\": {}\n}\n"},
        {"backup with an empty env", R"({"x":1,"env":{}})", "{\n  \"x\": 1,\n  \"env\": {}\n}\n"},
        {"unreadable backup", "{oops", "{\n  \"x\": 1\n}\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(backupPath);
        if (!c.backupText.empty()) {
            home.write(backupPath, c.backupText);
        }
        writeSettings(current);
        auto result = file().remove(true);
        EXPECT_EQ(result.change, RemovalChange::removedBaseURL()) << c.name;
        EXPECT_FALSE(result.backupRemoved) << c.name;
        EXPECT_EQ(settings(), c.expected) << c.name;
        EXPECT_EQ(exists(backupPath), !c.backupText.empty()) << c.name;
    }

    // Other env members keep env in place.
    writeSettings(R"({"env":{"ANTHROPIC_BASE_URL":"http://localhost:8787","K":"v"}})");
    file().remove(false);
    EXPECT_EQ(settings(), "{\n  \"env\": {\n    \"K\": \"v\"\n  }\n}\n");
}

TEST_F(ClaudeSettingsFileEditTest, RemoveLeavesWhatIsNotItsOwn) {
    home.write(backupPath, "{}");

    const std::string foreign = R"({"env":{"ANTHROPIC_BASE_URL":"https://gateway.example"}})";
    writeSettings(foreign);
    auto result = file().remove(false);
    EXPECT_EQ(result.change, RemovalChange::leftForeignValue("https://gateway.example"));
    EXPECT_FALSE(result.didWrite());
    EXPECT_EQ(settings(), foreign);
    EXPECT_TRUE(exists(backupPath));

    std::filesystem::remove(settingsPath);
    result = file().remove(false);
    EXPECT_EQ(result.change, RemovalChange::fileAbsent());
    EXPECT_TRUE(exists(backupPath));
    EXPECT_FALSE(exists(settingsPath));

    writeSettings(R"({"env":{}})");
    result = file().remove(true);
    EXPECT_EQ(result.change, RemovalChange::notConfigured());
    EXPECT_TRUE(exists(backupPath));
    result = file().remove(false);
    EXPECT_EQ(result, (ClaudeSettingsFile::RemovalResult{RemovalChange::notConfigured(),
                                                         settingsPath.string(), true}));
    EXPECT_FALSE(exists(backupPath));
    EXPECT_EQ(settings(), R"({"env":{}})");
}

TEST_F(ClaudeSettingsFileEditTest, PermissionsAreKept) {
    writeSettings(R"({"env":{"ANTHROPIC_AUTH_TOKEN":"secret"}})");
    ::chmod(settingsPath.c_str(), 0640);
    file().install(proxyURL, Policy::refuse);
    EXPECT_EQ(modeOf(settingsPath), 0640U);
    EXPECT_EQ(modeOf(backupPath), 0640U);

    ::chmod(settingsPath.c_str(), 0644);
    file().remove(true);
    EXPECT_EQ(modeOf(settingsPath), 0644U);
    file().restoreBackup(false);
    EXPECT_EQ(modeOf(settingsPath), 0644U);
}

TEST_F(ClaudeSettingsFileEditTest, FailedVerificationPutsTheOldFileBack) {
    struct Case {
        const char* name;
        std::string interference; // what another program writes between write and read-back
        ConfigError::Kind kind;
        std::string reason;
    };
    const Case cases[] = {
        {"rewritten", R"({"env":{"ANTHROPIC_BASE_URL":"http://127.0.0.1:8787"},"other":1})",
         ConfigError::Kind::verificationFailed, "file did not read back identically"},
        {"emptied", "", ConfigError::Kind::verificationFailed,
         "file did not read back as a JSON object"},
        {"broken", "{", ConfigError::Kind::malformedJSON,
         "expected a quoted object key (at byte 1)"},
    };
    const std::string original = R"({"env":{"ANTHROPIC_AUTH_TOKEN":"secret"},"keep":true})";
    for (const auto& c : cases) {
        std::filesystem::remove(backupPath);
        writeSettings(original);
        ::chmod(settingsPath.c_str(), 0640);
        auto interfering = file([&](const std::filesystem::path& path) {
            home.write(path, c.interference);
            ::chmod(path.c_str(), 0666);
        });
        auto error = errorOf([&] { interfering.install(proxyURL, Policy::refuse); });
        EXPECT_EQ(error.kind(), c.kind) << c.name;
        EXPECT_EQ(error.reason(), c.reason) << c.name;
        EXPECT_EQ(settings(), original) << c.name;
        EXPECT_EQ(modeOf(settingsPath), 0640U) << c.name;
        // The backup taken in the same call stays.
        EXPECT_EQ(backup(), original) << c.name;
        EXPECT_EQ(leftovers(), 0) << c.name;
    }
    EXPECT_EQ(
        ConfigError::verificationFailed(settingsPath.string(), "file did not read back identically")
            .what(),
        "Post-write verification of " + settingsPath.string() +
            " failed (file did not read back identically). The original file was restored.");
}

TEST_F(ClaudeSettingsFileEditTest, FailedVerificationOfANewFileDeletesIt) {
    auto interfering =
        file([&](const std::filesystem::path& path) { home.write(path, R"({"other":1})"); });
    auto error = errorOf([&] { interfering.install(proxyURL, Policy::refuse); });
    EXPECT_EQ(error, ConfigError::verificationFailed(settingsPath.string(),
                                                     "file did not read back identically"));
    EXPECT_FALSE(exists(settingsPath));
}

TEST_F(ClaudeSettingsFileEditTest, WriteFailureIsAnIOErrorAndLeavesNothing) {
    // The configuration folder's name is taken by a plain file.
    home.write(".claude", "not a folder");
    auto error = errorOf([&] { file().install(proxyURL, Policy::refuse); });
    EXPECT_EQ(error, ConfigError::io(settingsPath.string(), "Not a directory"));
    EXPECT_EQ(home.read(".claude"), "not a folder");
}

TEST_F(ClaudeSettingsFileEditTest, LinkedSettingsFileIsWrittenThrough) {
    const auto target = home.write("dotfiles/claude/settings.json", R"({"theme":"dark"})");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_directories(settingsPath.parent_path());
    std::filesystem::create_symlink("../dotfiles/claude/settings.json", settingsPath);

    auto result = file().install(proxyURL, Policy::refuse);
    EXPECT_TRUE(result.backupCreated);
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath));
    EXPECT_EQ(home.read(target), "{\n  \"theme\": \"dark\",\n  \"env\": {\n"
                                 "    \"ANTHROPIC_BASE_URL\": \"http://127.0.0.1:8787\"\n  }\n}\n");
    EXPECT_EQ(modeOf(target), 0640U);
    // The backup is a copy of the contents, not a second link to the changing file.
    EXPECT_FALSE(std::filesystem::is_symlink(backupPath));
    EXPECT_EQ(backup(), R"({"theme":"dark"})");

    file().remove(false);
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath));
    EXPECT_EQ(home.read(target), "{\n  \"theme\": \"dark\"\n}\n");

    // A failed verification through the link restores the target and keeps the link.
    auto interfering =
        file([&](const std::filesystem::path& path) { home.write(path, R"({"x":1})"); });
    EXPECT_EQ(errorOf([&] { interfering.install(proxyURL, Policy::refuse); }).kind(),
              ConfigError::Kind::verificationFailed);
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath));
    EXPECT_EQ(home.read(target), "{\n  \"theme\": \"dark\"\n}\n");
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ClaudeSettingsFileEditTest, RestoreBackup) {
    EXPECT_EQ(errorOf([&] { file().restoreBackup(false); }),
              ConfigError::backupMissing(backupPath.string()));
    EXPECT_EQ(ConfigError::backupMissing(backupPath.string()).what(),
              "No backup found at " + backupPath.string() + ".");

    // The bytes go back unchanged, without parsing: even a file the edits would refuse.
    const std::string old = "{ \"a\" : 1 , }";
    home.write(backupPath, old);
    writeSettings(proxyOnly);
    file().restoreBackup(true);
    EXPECT_EQ(settings(), old);
    EXPECT_TRUE(exists(backupPath));
    file().restoreBackup(false);
    EXPECT_FALSE(exists(backupPath));

    // With no settings file left, the restored one is owner-only.
    std::filesystem::remove(settingsPath);
    home.write(backupPath, "{}");
    file().restoreBackup(false);
    EXPECT_EQ(modeOf(settingsPath), 0600U);
}

} // namespace
} // namespace meterly::config
