#include "config/InstallEnvironment.hpp"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>

namespace meterly::config {
namespace {

TEST(InstallEnvironmentTest, OnlyTheExactWordDevSelectsDevelopment) {
    struct Case {
        std::optional<std::string> value;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, "production"},  {"", "production"},     {"Dev", "production"},
        {"DEV", "production"},         {"dev ", "production"}, {" dev", "production"},
        {"development", "production"}, {"prod", "production"}, {"dev", "development"},
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> value;
        if (c.value) {
            value = *c.value;
        }
        EXPECT_EQ(InstallEnvironment::resolve(value).name, c.expected)
            << (c.value ? "'" + *c.value + "'" : "unset");
    }
}

TEST(InstallEnvironmentTest, TheTwoInstallations) {
    const auto& dev = InstallEnvironment::development();
    EXPECT_EQ(dev.name, "development");
    EXPECT_EQ(dev.agentLabel, "com.meterly.proxy.dev");
    EXPECT_EQ(dev.configDirectoryName, ".claude-meterly-dev");
    EXPECT_EQ(dev.scanFromPort, 8900);
    EXPECT_FALSE(dev.isProduction());

    const auto& prod = InstallEnvironment::production();
    EXPECT_EQ(prod.name, "production");
    EXPECT_EQ(prod.agentLabel, "com.meterly.proxy");
    EXPECT_EQ(prod.configDirectoryName, ".claude");
    EXPECT_EQ(prod.scanFromPort, 8787);
    EXPECT_TRUE(prod.isProduction());
    EXPECT_EQ(InstallEnvironment::variable, "METERLY_INSTALL");
}

TEST(InstallEnvironmentTest, EqualityLooksAtAllFieldsAndIsProductionAtTheName) {
    auto copy = InstallEnvironment::production();
    EXPECT_EQ(copy, InstallEnvironment::production());
    copy.scanFromPort = 9000;
    EXPECT_NE(copy, InstallEnvironment::production());
    EXPECT_TRUE(copy.isProduction());

    auto renamed = InstallEnvironment::development();
    renamed.name = "production";
    EXPECT_TRUE(renamed.isProduction());
    EXPECT_NE(renamed, InstallEnvironment::production());
}

TEST(InstallEnvironmentTest, CurrentReadsTheEnvironmentOnEveryCall) {
    std::map<std::string, std::string, std::less<>> variables;
    core::EnvironmentLookup lookup = [&](std::string_view name) -> std::optional<std::string> {
        auto found = variables.find(name);
        if (found == variables.end()) {
            return std::nullopt;
        }
        return found->second;
    };
    EXPECT_EQ(InstallEnvironment::current(lookup), InstallEnvironment::production());
    variables["METERLY_INSTALL"] = "dev";
    EXPECT_EQ(InstallEnvironment::current(lookup), InstallEnvironment::development());
    variables["METERLY_INSTALL"] = "production";
    EXPECT_EQ(InstallEnvironment::current(lookup), InstallEnvironment::production());
}

} // namespace
} // namespace meterly::config
