#include "ui/platform/SchemeHandlers.hpp"

#include "support/TempDir.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

class SchemeHandlersTest : public ::testing::Test {
protected:
    SchemeHandlers::Folders folders() const {
        return {{home_.path() / "config"}, {home_.path() / "data/applications"}};
    }
    testing::TempDir home_{"meterly-schemes"};
};

TEST_F(SchemeHandlersTest, NoHandlerWhenNothingIsInstalled) {
    EXPECT_FALSE(SchemeHandlers::find("claude", folders()));
}

TEST_F(SchemeHandlersTest, DesktopEntryListingTheSchemeIsTheHandler) {
    home_.write("data/applications/other.desktop",
                "[Desktop Entry]\nName=Other\nMimeType=x-scheme-handler/claudette;\n");
    EXPECT_FALSE(SchemeHandlers::find("claude", folders()));
    home_.write("data/applications/claude.desktop",
                "[Desktop Entry]\nName=Claude\nExec=claude %u\n"
                "MimeType=text/plain;x-scheme-handler/claude;\n");
    EXPECT_EQ(SchemeHandlers::find("claude", folders()), "claude.desktop");
}

TEST_F(SchemeHandlersTest, HiddenEntriesDoNotCount) {
    home_.write("data/applications/claude.desktop",
                "[Desktop Entry]\nName=Claude\nHidden=true\nMimeType=x-scheme-handler/claude;\n");
    EXPECT_FALSE(SchemeHandlers::find("claude", folders()));
}

TEST_F(SchemeHandlersTest, MimeAppsDefaultNeedsAnInstalledEntry) {
    home_.write(
        "config/mimeapps.list",
        "[Default Applications]\nx-scheme-handler/claude=gone.desktop;claude-app.desktop\n");
    EXPECT_FALSE(SchemeHandlers::find("claude", folders()));
    home_.write("data/applications/claude-app.desktop", "[Desktop Entry]\nName=Claude\n");
    EXPECT_EQ(SchemeHandlers::find("claude", folders()), "claude-app.desktop");
}

TEST(SchemeHandlers, FoldersFollowTheXdgVariables) {
    const auto environment = [](std::string_view name) -> std::optional<std::string> {
        if (name == "XDG_DATA_DIRS") {
            return "/opt/share:relative/share";
        }
        if (name == "XDG_CONFIG_HOME") {
            return "/cfg";
        }
        return std::nullopt;
    };
    const auto folders = SchemeHandlers::folders(environment, "/home/u");
    ASSERT_EQ(folders.applications.size(), 2u);
    EXPECT_EQ(folders.applications[0], "/home/u/.local/share/applications");
    EXPECT_EQ(folders.applications[1], "/opt/share/applications");
    EXPECT_EQ(folders.mimeLists.front(), "/cfg");
}

} // namespace
} // namespace meterly::ui
