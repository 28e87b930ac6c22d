#pragma once

#include "config/ClaudeSettingsFile.hpp"
#include "config/ConfigError.hpp"
#include "support/TempDir.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace meterly::config {

// A temporary home folder with Claude Code's production settings path inside it.
class SettingsFixture : public ::testing::Test {
protected:
    testing::TempDir home{"meterly-settings"};
    std::filesystem::path settingsPath = home.path() / ".claude" / "settings.json";
    std::filesystem::path backupPath = home.path() / ".claude" / "settings.json.meterly-backup";

    ClaudeSettingsFile file(ClaudeSettingsFile::AfterWrite afterWrite = {}) const {
        return ClaudeSettingsFile(settingsPath, std::move(afterWrite));
    }
    void writeSettings(const std::string& text) const { home.write(settingsPath, text); }
    std::string settings() const { return home.read(settingsPath); }
    std::string backup() const { return home.read(backupPath); }
    bool exists(const std::filesystem::path& path) const {
        return std::filesystem::exists(std::filesystem::symlink_status(path));
    }

    static mode_t modeOf(const std::filesystem::path& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
        return status.st_mode & 07777;
    }
    static ino_t inodeOf(const std::filesystem::path& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
        return status.st_ino;
    }

    // Temporary files left behind anywhere in the home folder.
    int leftovers() const {
        int count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home.path())) {
            if (entry.path().filename().string().find(".meterly-tmp-") != std::string::npos) {
                ++count;
            }
        }
        return count;
    }

    // The ConfigError that `action` throws; fails the test when it throws none.
    static ConfigError errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const ConfigError& error) {
            return error;
        }
        ADD_FAILURE() << "no ConfigError thrown";
        return ConfigError::io("", "");
    }
};

} // namespace meterly::config
