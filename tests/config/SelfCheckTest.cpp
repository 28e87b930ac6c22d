#include "config/SelfCheck.hpp"

#include <gtest/gtest.h>
#include <set>

namespace meterly::config {
namespace {

TEST(SelfCheckTest, BundleRootOfAnExecutablePath) {
    struct Case {
        const char* path;
        std::optional<std::string> root;
    };
    const Case cases[] = {
        {"/Applications/Name.app/Contents/MacOS/Name", "/Applications/Name.app"},
        {"/opt/meterly/Meterly.app/Contents/MacOS/meterly", "/opt/meterly/Meterly.app"},
        {"/Name.app/Contents/MacOS/Name", "/Name.app"},
        {"/usr/local/bin/name", std::nullopt},
        {"/Applications/Name.app/contents/MacOS/Name", std::nullopt},
        {"/Applications/Name.app/Contents/macos/Name", std::nullopt},
        {"/Applications/Name.App/Contents/MacOS/Name", std::nullopt},
        {"/Applications/Name.app/Contents/Resources/Name", std::nullopt},
        {"Contents/MacOS/Name", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SelfCheck::bundleRoot(c.path), c.root) << c.path;
    }
}

TEST(SelfCheckTest, AnExecutableIsMissingOnlyWhenItsBundleIsGoneToo) {
    const std::string inBundle = "/opt/Meterly.app/Contents/MacOS/meterly";
    const std::string bare = "/usr/local/bin/meterly";
    struct Case {
        std::string path;
        std::set<std::string> existing;
        bool missing;
    };
    const Case cases[] = {
        {inBundle, {inBundle, "/opt/Meterly.app"}, false},
        {inBundle, {"/opt/Meterly.app"}, false},
        {inBundle, {}, true},
        {bare, {bare}, false},
        {bare, {}, true},
    };
    for (const auto& c : cases) {
        auto exists = [&](const std::string& p) { return c.existing.count(p) > 0; };
        EXPECT_EQ(SelfCheck::executableMissing(c.path, exists), c.missing) << c.path;
    }
}

} // namespace
} // namespace meterly::config
