#include "config/SystemdUnitFile.hpp"

#include <gtest/gtest.h>

namespace meterly::config {
namespace {

using Texts = std::vector<std::string>;

LaunchAgentSpec proxySpec() {
    return LaunchAgentSpec::proxy("/opt/Meterly.app/Contents/MacOS/meterly", 8787,
                                  "com.meterly.proxy", {"--proxy"},
                                  [](std::string_view) { return std::optional<std::string>(); });
}

TEST(SystemdUnitFileTest, TheProxyAgentsUnit) {
    EXPECT_EQ(SystemdUnitFile::unitName(proxySpec()), "com.meterly.proxy.service");
    EXPECT_EQ(SystemdUnitFile::render(proxySpec()),
              "[Unit]\n"
              "Description=Meterly agent com.meterly.proxy\n"
              "\n"
              "[Service]\n"
              "Type=simple\n"
              "ExecStart=\"/opt/Meterly.app/Contents/MacOS/meterly\" \"--proxy\" \"--port\" "
              "\"8787\"\n"
              "Environment=\"METERLY_PORT=8787\"\n"
              "Restart=always\n"
              "RestartSec=10\n"
              "\n"
              "[Install]\n"
              "WantedBy=default.target\n");
    EXPECT_EQ(SystemdUnitFile::render(proxySpec()), SystemdUnitFile::render(proxySpec()));
    EXPECT_EQ(SystemdUnitFile::programArguments(SystemdUnitFile::render(proxySpec())),
              proxySpec().programArguments);
}

TEST(SystemdUnitFileTest, EveryOtherFieldAndItsAbsence) {
    LaunchAgentSpec spec{"agent",
                         {"/bin/x"},
                         false,
                         false,
                         {{"A", "1"}, {"B", "two words %h $X"}},
                         std::nullopt,
                         "/srv/work dir",
                         "/var/log/out%.log",
                         "/var/log/err"};
    EXPECT_EQ(SystemdUnitFile::render(spec), "[Unit]\n"
                                             "Description=Meterly agent agent\n"
                                             "\n"
                                             "[Service]\n"
                                             "Type=simple\n"
                                             "ExecStart=\"/bin/x\"\n"
                                             "Environment=\"A=1\"\n"
                                             "Environment=\"B=two words %%h $X\"\n"
                                             "WorkingDirectory=/srv/work dir\n"
                                             "StandardOutput=append:/var/log/out%%.log\n"
                                             "StandardError=append:/var/log/err\n"
                                             "Restart=no\n");
}

TEST(SystemdUnitFileTest, ArgumentsAreQuotedSoThatSystemdReadsThemBackUnchanged) {
    Texts arguments{"/opt/My App/meterly$1",
                    "--label=100%",
                    "$HOME",
                    "${HOME}",
                    "a\"b",
                    "back\\slash",
                    "line\nbreak\ttab",
                    "bell\x07",
                    ";",
                    "",
                    "'single'",
                    "caf\xC3\xA9",
                    "%h"};
    LaunchAgentSpec spec{"agent", arguments, true, true, {}};
    std::string unit = SystemdUnitFile::render(spec);
    EXPECT_NE(unit.find("ExecStart=\"/opt/My App/meterly$1\" \"--label=100%%\" \"$$HOME\" "
                        "\"$${HOME}\" \"a\\\"b\" \"back\\\\slash\" \"line\\nbreak\\ttab\" "
                        "\"bell\\x07\" \\; \"\" \"'single'\" \"caf\xC3\xA9\" \"%%h\"\n"),
              std::string::npos)
        << unit;
    EXPECT_EQ(SystemdUnitFile::programArguments(unit), arguments);
}

TEST(SystemdUnitFileTest, CommandLinesOfHandWrittenUnits) {
    struct Case {
        const char* unit;
        std::optional<Texts> arguments;
    };
    const Case cases[] = {
        {"[Service]\nExecStart=/bin/x a 'b c' \"d\"e\n", Texts{"/bin/x", "a", "b c", "de"}},
        {"[Service]\n  ExecStart =  /bin/x \\\n   --port 1  \n", Texts{"/bin/x", "--port", "1"}},
        {"# comment\n[Service]\n; ExecStart=/bin/no\nExecStart=/bin/yes\n", Texts{"/bin/yes"}},
        {"[Service]\nExecStart=/bin/a\nExecStart=\nExecStart=/bin/b\n", Texts{"/bin/b"}},
        {"[Service]\nExecStart=/bin/a\nExecStart=\n", std::nullopt},
        {"[Service]\nExecStart=-/bin/x y\n", Texts{"/bin/x", "y"}},
        {"[Service]\nExecStart=/bin/x a ; /bin/y b\n", Texts{"/bin/x", "a"}},
        {"[Service]\nExecStart=/bin/x \\x41\\101\\s\n", Texts{"/bin/x", "AA "}},
        {"[Service]\r\nExecStart=/bin/x y\r\n", Texts{"/bin/x", "y"}},
        {"[Unit]\nExecStart=/bin/x\n", std::nullopt},
        {"[Service]\nExecStart=@/bin/x name\n", std::nullopt},
        {"[Service]\nExecStart=/bin/x \"open\n", std::nullopt},
        {"[Service]\nExecStart=/bin/x \\q\n", std::nullopt},
        {"[Service]\nExecStart=/bin/x \\x00\n", std::nullopt},
        {"[Service\nExecStart=/bin/x\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SystemdUnitFile::programArguments(c.unit), c.arguments) << c.unit;
    }
}

TEST(SystemdUnitFileTest, ValuesAUnitFileCannotCarryAreRefused) {
    auto with = [](auto change) {
        LaunchAgentSpec spec{"agent", {"/bin/x"}, true, true, {}};
        change(spec);
        return spec;
    };
    const LaunchAgentSpec refused[] = {
        with([](LaunchAgentSpec& s) { s.label = "../escape"; }),
        with([](LaunchAgentSpec& s) { s.label = "a/b"; }),
        with([](LaunchAgentSpec& s) { s.label = ""; }),
        with([](LaunchAgentSpec& s) { s.label = "tmpl@"; }),
        with([](LaunchAgentSpec& s) { s.programArguments = {}; }),
        with([](LaunchAgentSpec& s) {
            s.programArguments = {"meterly", "--proxy"};
        }),
        with([](LaunchAgentSpec& s) {
            s.environment = {{"A=B", "x"}};
        }),
        with([](LaunchAgentSpec& s) {
            s.environment = {{"", "x"}};
        }),
        with([](LaunchAgentSpec& s) { s.workingDirectory = "/tmp\nExecStartPre=/bin/evil"; }),
        with([](LaunchAgentSpec& s) { s.standardOutPath = "relative.log"; }),
    };
    for (const auto& spec : refused) {
        EXPECT_THROW(SystemdUnitFile::render(spec), UnitFileError) << spec.label;
    }
}

} // namespace
} // namespace meterly::config
