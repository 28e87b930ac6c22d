#include "config/AppVersion.hpp"

#include "support/TempDir.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::config {
namespace {

std::string infoPlist(const std::string& versionEntry) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "<key>CFBundleIdentifier</key><string>com.meterly.app</string>\n" +
           versionEntry + "</dict>\n</plist>\n";
}

TEST(AppVersionTest, ReadsTheVersionOfTheBundleAroundTheExecutable) {
    testing::TempDir dir;
    dir.write("Meterly.app/Contents/Info.plist",
              infoPlist("<key>CFBundleShortVersionString</key><string>2.3.4</string>\n"));
    auto executable = dir.write("Meterly.app/Contents/MacOS/meterly", "");
    EXPECT_EQ(AppVersion::current(executable), "2.3.4");
}

TEST(AppVersionTest, FallsBackToTheCompiledVersion) {
    testing::TempDir dir;
    struct Case {
        const char* name;
        std::string bundle;
        std::string plist; // empty: no Info.plist at all
    };
    const Case cases[] = {
        {"key missing", "Meterly.app", infoPlist("")},
        {"number in place of the text", "Meterly.app",
         infoPlist("<key>CFBundleShortVersionString</key><integer>2</integer>\n")},
        {"not a property list", "Meterly.app", "{ this is no plist"},
        {"no Info.plist", "Meterly.app", ""},
        {"folder of another name", "Other.app",
         infoPlist("<key>CFBundleShortVersionString</key><string>2.3.4</string>\n")},
    };
    for (const auto& c : cases) {
        testing::TempDir bundleParent;
        if (!c.plist.empty()) {
            bundleParent.write(c.bundle + "/Contents/Info.plist", c.plist);
        }
        auto executable = bundleParent.write(c.bundle + "/Contents/MacOS/meterly", "");
        EXPECT_EQ(AppVersion::current(executable), "1.0.7") << c.name;
    }
    // A bare executable outside any bundle.
    EXPECT_EQ(AppVersion::current(dir.write("bin/meterly", "")), "1.0.7");
    EXPECT_EQ(AppVersion::bundled, "1.0.7");
}

TEST(AppVersionTest, TheTestExecutableIsNoBundle) {
    EXPECT_EQ(AppVersion::current(), "1.0.7");
}

} // namespace
} // namespace meterly::config
