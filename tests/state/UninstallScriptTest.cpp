// scripts/uninstall.sh, the manual disconnect that the setup model sends users to, run against a
// temporary home with a recording systemctl first in PATH.

#include "config/ClaudeSettingsFile.hpp"
#include "config/LaunchAgentSpec.hpp"
#include "config/SystemdUnitFile.hpp"
#include "state/LoginItem.hpp"
#include "support/ChildProcess.hpp"
#include "support/FakeExecutable.hpp"
#include "support/TempDir.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>

namespace meterly::state {
namespace {

using testing::FakeExecutable;
using testing::TempDir;
using Texts = std::vector<std::string>;

class UninstallScriptTest : public ::testing::Test {
protected:
    // Runs the script with `arguments`; its exit status and everything it printed.
    std::pair<int, std::string> uninstall(const Texts& arguments = {},
                                          const Texts& extraEnvironment = {}) const {
        auto output = tools.path() / "output";
        Texts argv{"/bin/sh", METERLY_UNINSTALL_SCRIPT};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Texts environment{"HOME=" + home.path().string(),
                          "PATH=" + tools.path().string() + ":/usr/bin:/bin", "LANG=C.UTF-8"};
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::filesystem::remove(output);
        int status = testing::runLogged(argv, environment, output);
        return {status, tools.read(output)};
    }

    std::filesystem::path executable() const {
        return home.path() / "Applications/Meterly.app/Contents/MacOS/meterly";
    }
    std::filesystem::path settings() const { return home.path() / ".claude/settings.json"; }
    std::filesystem::path unitFile() const {
        return home.path() / ".config/systemd/user/com.meterly.proxy.service";
    }
    std::filesystem::path autostart() const {
        return home.path() / ".config/autostart/meterly.desktop";
    }
    void installEverything(const std::filesystem::path& bundleExecutable) const {
        home.write(bundleExecutable.lexically_relative(home.path()), "#!/bin/sh\n");
        home.write(bundleExecutable.parent_path().parent_path().lexically_relative(home.path()) /
                       "Info.plist",
                   "<plist/>");
        auto none = [](std::string_view) { return std::optional<std::string>(); };
        home.write(unitFile().lexically_relative(home.path()),
                   config::SystemdUnitFile::render(config::LaunchAgentSpec::proxy(
                       bundleExecutable.string(), 8787, "com.meterly.proxy", {"--proxy"}, none)));
        home.write(autostart().lexically_relative(home.path()),
                   LoginItem::renderEntry(bundleExecutable));
    }
    std::optional<std::string> bytes(const std::filesystem::path& path) const {
        return std::filesystem::exists(path) ? std::optional(home.read(path)) : std::nullopt;
    }

    TempDir home;
    TempDir tools;
    FakeExecutable systemctl{tools.path(), "systemctl"};
};

TEST_F(UninstallScriptTest, DisconnectsEverythingAndPutsTheEarlierBaseURLBack) {
    installEverything(executable());
    home.write(".claude/settings.json", R"({
  "model": "opus",
  "env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8787", "OTHER": "x"},
  "limits": [1.0, 1e3, -0]
})");
    ::chmod(settings().c_str(), 0640);
    home.write(".claude/settings.json.meterly-backup",
               R"({"env": {"ANTHROPIC_BASE_URL": "https://gateway.example.com"}})");

    auto [status, output] = uninstall();
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(home.read(settings()),
              "{\n"
              "  \"model\": \"opus\",\n"
              "  \"env\": {\n"
              "    \"ANTHROPIC_BASE_URL\": \"https://gateway.example.com\",\n"
              "    \"OTHER\": \"x\"\n"
              "  },\n"
              "  \"limits\": [\n"
              "    1.0,\n"
              "    1e3,\n"
              "    -0\n"
              "  ]\n"
              "}\n");
    struct stat info {};
    ::stat(settings().c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(settings().string() + ".meterly-backup"));
    EXPECT_FALSE(std::filesystem::exists(unitFile()));
    EXPECT_FALSE(std::filesystem::exists(autostart()));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "Applications/Meterly.app"));
    EXPECT_TRUE(std::filesystem::exists(home.path() / "Applications"));
    EXPECT_EQ(systemctl.calls(),
              (Texts{"--user disable com.meterly.proxy.service",
                     "--user stop com.meterly.proxy.service", "--user daemon-reload"}));
    // No temporary file is left beside the settings.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(settings().parent_path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(UninstallScriptTest, TheSettingsComeOutAsTheAppsOwnDisconnectLeavesThem) {
    struct Case {
        std::string settings;
        std::optional<std::string> backup;
    };
    const Case cases[] = {
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8787"}})", std::nullopt},
        {R"({"a": 1, "env": {"ANTHROPIC_BASE_URL": "http://localhost:9000"}, "b": {}})", "{}"},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8787"}})", R"({"env": {}})"},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://[::1]:8787", "X": null}})",
         R"({"env": {"ANTHROPIC_BASE_URL": "http://[::1]:8787"}})"},
        {R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8787"}, "s": "a\u00e9\n\"/"})",
         R"({"env": {"ANTHROPIC_BASE_URL": "http://10.0.0.1:1"}})"},
        {R"({"env": {"ANTHROPIC_BASE_URL": "https://gateway.example.com"}})", "{}"},
        {R"({"model": "opus"})", "{}"},
        {"  \n", "{}"},
    };
    for (const auto& c : cases) {
        TempDir appHome;
        for (const auto* where : {&home, &appHome}) {
            where->write(".claude/settings.json", c.settings);
            std::filesystem::remove(where->path() / ".claude/settings.json.meterly-backup");
            if (c.backup) {
                where->write(".claude/settings.json.meterly-backup", *c.backup);
            }
        }
        config::ClaudeSettingsFile(appHome.path() / ".claude/settings.json").remove(false);
        auto [status, output] = uninstall();
        EXPECT_EQ(status, 0) << output;
        EXPECT_EQ(home.read(settings()), appHome.read(".claude/settings.json")) << c.settings;
        EXPECT_EQ(std::filesystem::exists(home.path() / ".claude/settings.json.meterly-backup"),
                  std::filesystem::exists(appHome.path() / ".claude/settings.json.meterly-backup"))
            << c.settings;
    }
}

TEST_F(UninstallScriptTest, AFileItDoesNotUnderstandStopsEverything) {
    for (const std::string& unreadable :
         {std::string("{\"env\": "), std::string("[1]"), std::string("{\"env\": \"x\"}"),
          std::string("{\"env\": {\"ANTHROPIC_BASE_URL\": 8787}}"), std::string("\xff\xfe")}) {
        installEverything(executable());
        home.write(".claude/settings.json", unreadable);
        systemctl.clearCalls();
        auto [status, output] = uninstall();
        EXPECT_NE(status, 0) << unreadable;
        EXPECT_NE(output.find("Refusing to touch it"), std::string::npos) << output;
        EXPECT_EQ(home.read(settings()), unreadable);
        EXPECT_TRUE(std::filesystem::exists(unitFile()));
        EXPECT_TRUE(std::filesystem::exists(executable()));
        EXPECT_TRUE(systemctl.calls().empty());
    }
}

TEST_F(UninstallScriptTest, OnlyAMeterlyBundleIsEverRemoved) {
    // A unit that runs a program outside any bundle: that program stays.
    auto bare = home.path() / "bin/meterly";
    installEverything(bare);
    auto [status, output] = uninstall();
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(std::filesystem::exists(bare));
    EXPECT_FALSE(std::filesystem::exists(unitFile()));

    // A bundle given by hand, in a folder with blanks, goes; anything else given is refused.
    auto spaced = home.path() / "My Apps/Meterly.app/Contents/MacOS/meterly";
    home.write(spaced.lexically_relative(home.path()), "#!/bin/sh\n");
    auto [refused, why] = uninstall({(home.path() / "My Apps").string()});
    EXPECT_NE(refused, 0);
    EXPECT_NE(why.find("is not a Meterly.app bundle. Nothing was changed."), std::string::npos)
        << why;
    EXPECT_TRUE(std::filesystem::exists(spaced));
    auto [removed, said] = uninstall({(home.path() / "My Apps/Meterly.app/").string()});
    EXPECT_EQ(removed, 0) << said;
    EXPECT_FALSE(std::filesystem::exists(home.path() / "My Apps/Meterly.app"));

    // The development installation has its own unit and settings folder.
    home.write(".claude-meterly-dev/settings.json",
               R"({"env": {"ANTHROPIC_BASE_URL": "http://127.0.0.1:8900"}})");
    systemctl.clearCalls();
    auto [dev, devOutput] = uninstall({}, {"METERLY_INSTALL=dev"});
    EXPECT_EQ(dev, 0) << devOutput;
    EXPECT_EQ(home.read(".claude-meterly-dev/settings.json"), "{}\n");
    EXPECT_EQ(systemctl.calls().front(), "--user disable com.meterly.proxy.dev.service");
}

} // namespace
} // namespace meterly::state
