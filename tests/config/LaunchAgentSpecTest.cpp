#include "config/LaunchAgentSpec.hpp"

#include <gtest/gtest.h>

namespace meterly::config {
namespace {

core::EnvironmentLookup installValue(std::optional<std::string> value) {
    return [value](std::string_view name) -> std::optional<std::string> {
        return name == "METERLY_INSTALL" ? value : std::nullopt;
    };
}

LaunchAgentSpec productionProxy() {
    return LaunchAgentSpec::proxy("/opt/Meterly.app/Contents/MacOS/meterly", 8787,
                                  "com.meterly.proxy", {"--proxy"}, installValue(std::nullopt));
}

TEST(LaunchAgentSpecTest, TheProxyAgentOfProduction) {
    auto spec = productionProxy();
    using List = LaunchAgentSpec::PropertyList;
    using Texts = std::vector<std::string>;
    using Map = std::map<std::string, std::string>;
    List expected{
        {"Label", std::string("com.meterly.proxy")},
        {"ProgramArguments",
         Texts{"/opt/Meterly.app/Contents/MacOS/meterly", "--proxy", "--port", "8787"}},
        {"KeepAlive", true},
        {"RunAtLoad", true},
        {"ProcessType", std::string("Interactive")},
        {"EnvironmentVariables", Map{{"METERLY_PORT", "8787"}}},
        {"ThrottleInterval", std::int64_t{10}},
    };
    EXPECT_EQ(spec.propertyList(), expected);
    EXPECT_EQ(spec.plistData(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                "<plist version=\"1.0\">\n"
                                "<dict>\n"
                                "\t<key>EnvironmentVariables</key>\n"
                                "\t<dict>\n"
                                "\t\t<key>METERLY_PORT</key>\n"
                                "\t\t<string>8787</string>\n"
                                "\t</dict>\n"
                                "\t<key>KeepAlive</key>\n"
                                "\t<true/>\n"
                                "\t<key>Label</key>\n"
                                "\t<string>com.meterly.proxy</string>\n"
                                "\t<key>ProcessType</key>\n"
                                "\t<string>Interactive</string>\n"
                                "\t<key>ProgramArguments</key>\n"
                                "\t<array>\n"
                                "\t\t<string>/opt/Meterly.app/Contents/MacOS/meterly</string>\n"
                                "\t\t<string>--proxy</string>\n"
                                "\t\t<string>--port</string>\n"
                                "\t\t<string>8787</string>\n"
                                "\t</array>\n"
                                "\t<key>RunAtLoad</key>\n"
                                "\t<true/>\n"
                                "\t<key>ThrottleInterval</key>\n"
                                "\t<integer>10</integer>\n"
                                "</dict>\n"
                                "</plist>\n");
    EXPECT_EQ(spec.plistXML(), spec.plistData());
    EXPECT_EQ(productionProxy().plistData(), spec.plistData());
    EXPECT_EQ(LaunchAgentSpec::proxy("/x", 0, "l", {}, installValue(std::nullopt)).programArguments,
              (Texts{"/x", "--port", "0"}));
}

TEST(LaunchAgentSpecTest, OnlyTheDevelopmentInstallationPassesItsMarkerOn) {
    struct Case {
        std::optional<std::string> value;
        bool development;
    };
    const Case cases[] = {{std::nullopt, false},  {"", false},  {"Dev", false}, {"dev ", false},
                          {"development", false}, {"dev", true}};
    for (const auto& c : cases) {
        auto spec = LaunchAgentSpec::proxy("/x", 8900, "com.meterly.proxy.dev", {"--proxy"},
                                           installValue(c.value));
        std::map<std::string, std::string> expected{{"METERLY_PORT", "8900"}};
        if (c.development) {
            expected["METERLY_INSTALL"] = "dev";
        }
        EXPECT_EQ(spec.environment, expected) << c.value.value_or("(unset)");
    }
}

TEST(LaunchAgentSpecTest, TheDefaultLabelFollowsTheEnvironmentAsItChanges) {
    std::optional<std::string> value;
    core::EnvironmentLookup lookup = [&](std::string_view) { return value; };
    EXPECT_EQ(LaunchAgentSpec::defaultLabel(lookup), "com.meterly.proxy");
    value = "dev";
    EXPECT_EQ(LaunchAgentSpec::defaultLabel(lookup), "com.meterly.proxy.dev");
    value = "prod";
    EXPECT_EQ(LaunchAgentSpec::defaultLabel(lookup), "com.meterly.proxy");
}

TEST(LaunchAgentSpecTest, OptionalKeysAppearOnlyWhenSet) {
    LaunchAgentSpec bare{"a.label", {"/bin/true"}, false, false, {}};
    auto bareList = bare.propertyList();
    EXPECT_EQ(bareList.size(), 5u);
    EXPECT_FALSE(bareList.count("EnvironmentVariables"));
    EXPECT_EQ(bare.plistData().find("EnvironmentVariables"), std::string::npos);

    LaunchAgentSpec full{"a.label", {"/bin/true"}, true,   true,  {{"K", "V"}},
                         -5,        "/work",       "/out", "/err"};
    auto fullList = full.propertyList();
    EXPECT_EQ(fullList.size(), 10u);
    EXPECT_EQ(fullList.at("WorkingDirectory"), LaunchAgentSpec::PropertyListValue("/work"));
    EXPECT_EQ(fullList.at("StandardOutPath"), LaunchAgentSpec::PropertyListValue("/out"));
    EXPECT_EQ(fullList.at("StandardErrorPath"), LaunchAgentSpec::PropertyListValue("/err"));
    EXPECT_NE(full.plistData().find("<integer>-5</integer>"), std::string::npos);

    auto throttled = bare;
    throttled.throttleInterval = 10;
    EXPECT_NE(throttled, bare);
    auto list = throttled.propertyList();
    list.erase("ThrottleInterval");
    EXPECT_EQ(list, bareList);
    EXPECT_NE(throttled.plistData(), bare.plistData());
}

TEST(LaunchAgentSpecTest, FileNameAndFolder) {
    auto spec = productionProxy();
    EXPECT_EQ(spec.plistFileName(), "com.meterly.proxy.plist");
    EXPECT_EQ(LaunchAgentSpec::userLaunchAgentsDirectory("/home/u"),
              "/home/u/Library/LaunchAgents");
    EXPECT_EQ(spec.userPlistURL("/home/u"), "/home/u/Library/LaunchAgents/com.meterly.proxy.plist");
}

} // namespace
} // namespace meterly::config
