#include "state/LoginItem.hpp"

#include "config/ProcessRunner.hpp"
#include "support/TempDir.hpp"

#include <gtest/gtest.h>

namespace meterly::state {
namespace {

using testing::TempDir;
using State = LoginItem::State;

core::EnvironmentLookup configHome(std::optional<std::string> value) {
    return [value](std::string_view name) -> std::optional<std::string> {
        return name == "XDG_CONFIG_HOME" ? value : std::nullopt;
    };
}

// What desktop-file-validate says about a file: nothing when it is valid.
config::CommandResult validate(const std::filesystem::path& entry) {
    return config::PosixProcessRunner().run("desktop-file-validate", {entry.string()});
}

class LoginItemTest : public ::testing::Test {
protected:
    std::filesystem::path bundled(const std::string& folder = "Applications") const {
        return home.path() / folder / "Meterly.app/Contents/MacOS/meterly";
    }
    LoginItem item(const std::filesystem::path& executable,
                   std::optional<std::string> xdg = std::nullopt) const {
        return LoginItem(executable, home.path(), configHome(std::move(xdg)));
    }

    TempDir home;
};

TEST_F(LoginItemTest, OutsideABundleItIsUnavailableAndChangesNothing) {
    for (const auto& executable :
         {home.path() / "build/src/app/meterly", home.path() / "Meterly/Contents/MacOS/meterly",
          home.path() / "Meterly.app/Contents/Resources/meterly",
          home.path() / "Meterly.app/contents/MacOS/meterly", std::filesystem::path()}) {
        auto login = item(executable);
        EXPECT_FALSE(login.isBundled()) << executable;
        EXPECT_EQ(login.state(), State::unavailable) << executable;
        EXPECT_FALSE(login.isEnabled());
        EXPECT_EQ(login.setEnabled(true), LoginItem::Result(State::unavailable));
        EXPECT_FALSE(std::filesystem::exists(login.entryPath()));
    }
}

TEST_F(LoginItemTest, TurningItOnWritesAValidAutostartEntryAndOffRemovesIt) {
    auto login = item(bundled());
    EXPECT_TRUE(login.isBundled());
    EXPECT_EQ(login.entryPath(), home.path() / ".config/autostart/meterly.desktop");
    EXPECT_EQ(login.state(), State::disabled);

    EXPECT_EQ(login.setEnabled(true), LoginItem::Result(State::enabled));
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(home.read(login.entryPath()), "[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Meterly\n"
                                            "Exec=" +
                                                bundled().string() +
                                                "\n"
                                                "Terminal=false\n");
    auto check = validate(login.entryPath());
    EXPECT_EQ(check, (config::CommandResult{0, ""}));

    EXPECT_EQ(login.setEnabled(false), LoginItem::Result(State::disabled));
    EXPECT_FALSE(std::filesystem::exists(login.entryPath()));
    EXPECT_EQ(login.setEnabled(false), LoginItem::Result(State::disabled));

    auto elsewhere = item(bundled(), (home.path() / "config").string());
    EXPECT_EQ(elsewhere.entryPath(), home.path() / "config/autostart/meterly.desktop");
    EXPECT_EQ(item(bundled(), "relative").entryPath(), login.entryPath());
}

TEST_F(LoginItemTest, AnEntryThatIsSwitchedOffOrStartsAnotherCopyIsOff) {
    auto login = item(bundled());
    const std::string exec = "Exec=" + bundled().string() + "\n";
    struct Case {
        std::string entry;
        State state;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nType=Application\nName=Meterly\n" + exec, State::enabled},
        {"[Desktop Entry]\nHidden=true\n" + exec, State::disabled},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n" + exec, State::disabled},
        {"[Desktop Entry]\nExec=" + bundled("Old").string() + "\n", State::disabled},
        {"[Other Group]\n" + exec, State::disabled},
    };
    for (const auto& c : cases) {
        home.write(".config/autostart/meterly.desktop", c.entry);
        EXPECT_EQ(login.state(), c.state) << c.entry;
    }
    // Turning it on again rewrites the entry for this copy.
    EXPECT_EQ(login.setEnabled(true), LoginItem::Result(State::enabled));
}

TEST_F(LoginItemTest, TheExecutableIsQuotedByTheDesktopEntryRules) {
    struct Case {
        std::string path;
        std::string exec; // as it stands in the file
    };
    const Case cases[] = {
        {"/opt/Meterly.app/Contents/MacOS/meterly", "/opt/Meterly.app/Contents/MacOS/meterly"},
        {"/home/a b/Meterly.app/x", R"("/home/a b/Meterly.app/x")"},
        {"/a$b/x", R"("/a\\$b/x")"},
        {"/a\"b/x", R"("/a\\"b/x")"},
        {"/a\\b/x", R"("/a\\\\b/x")"},
        {"/a`b/x", R"("/a\\`b/x")"},
        {"/a'b/x", R"("/a'b/x")"},
        {"/50%/x", "/50%%/x"},
        {"/a b%/x", R"("/a b%%/x")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoginItem::execWord(c.path), c.exec) << c.path;
    }
    EXPECT_THROW(LoginItem::execWord("/a\nb"), std::invalid_argument);
    EXPECT_THROW(LoginItem::execWord("/a\xff"), std::invalid_argument);

    // The validator accepts what a hard path gives, and the state reads it back as on.
    auto awkward =
        home.path() / "My Apps $1 (50%) \"quoted\" `x` \\ ~/Meterly.app/Contents/MacOS" / "meterly";
    auto login = item(awkward);
    EXPECT_EQ(login.setEnabled(true), LoginItem::Result(State::enabled));
    EXPECT_EQ(validate(login.entryPath()), (config::CommandResult{0, ""}));
}

TEST_F(LoginItemTest, AFolderThatCannotBeMadeIsAnError) {
    home.write(".config/autostart", "a file where the folder should be");
    auto result = item(bundled()).setEnabled(true);
    ASSERT_TRUE(std::holds_alternative<LoginItem::Error>(result));
    EXPECT_EQ(
        std::get<LoginItem::Error>(result).message.rfind(
            "I/O error on " + (home.path() / ".config/autostart/meterly.desktop").string() + ": ",
            0),
        0u);
}

} // namespace
} // namespace meterly::state
