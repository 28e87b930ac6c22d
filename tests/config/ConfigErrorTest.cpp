#include "config/ConfigError.hpp"

#include <gtest/gtest.h>
#include <string>

namespace meterly::config {
namespace {

TEST(ConfigErrorTest, EveryKindRendersItsSentence) {
    const std::string p = "/home/u/.claude/settings.json";
    struct Case {
        ConfigError error;
        std::string sentence;
    };
    const Case cases[] = {
        {ConfigError::malformedJSON(p, "unterminated string (at byte 12)"),
         p + " is not valid JSON (unterminated string (at byte 12)). Refusing to touch it "
             "\u2014 fix or move the file, then re-run."},
        {ConfigError::rootIsNotAnObject(p),
         p + " does not contain a JSON object at its root. Refusing to touch it."},
        {ConfigError::envIsNotAnObject(p),
         p + " has an 'env' key that is not a JSON object. Refusing to touch it."},
        {ConfigError::baseURLIsNotAString(p),
         p + " has an 'env.ANTHROPIC_BASE_URL' that is not a string. Refusing to touch it."},
        {ConfigError::conflictingBaseURL(p, "https://gateway.example"),
         p + " already sets ANTHROPIC_BASE_URL to https://gateway.example. Re-run with --force "
             "to replace it (the current value is kept in the backup)."},
        {ConfigError::verificationFailed(p, "file did not read back identically"),
         "Post-write verification of " + p +
             " failed (file did not read back identically). The original file was restored."},
        {ConfigError::backupMissing(p + ".meterly-backup"),
         "No backup found at " + p + ".meterly-backup."},
        {ConfigError::proxyUnreachable(8787, 10),
         "The Meterly proxy did not answer on 127.0.0.1:8787 within 10s. The background agent "
         "has been removed and your ~/.claude/settings.json was NOT modified, so Claude Code is "
         "unaffected."},
        {ConfigError::io(p, "Permission denied"), "I/O error on " + p + ": Permission denied"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(c.error.what()), c.sentence);
        EXPECT_EQ(std::string(c.error.what()), c.sentence);
    }
}

TEST(ConfigErrorTest, EqualOnlyWithTheSameKindAndPayload) {
    EXPECT_EQ(ConfigError::io("/a", "x"), ConfigError::io("/a", "x"));
    EXPECT_NE(ConfigError::io("/a", "x"), ConfigError::io("/a", "y"));
    EXPECT_NE(ConfigError::io("/a", "x"), ConfigError::malformedJSON("/a", "x"));
    EXPECT_NE(ConfigError::proxyUnreachable(8787, 10), ConfigError::proxyUnreachable(8788, 10));
    EXPECT_NE(ConfigError::proxyUnreachable(8787, 10), ConfigError::proxyUnreachable(8787, 11));
    EXPECT_NE(ConfigError::conflictingBaseURL("/a", "u"),
              ConfigError::conflictingBaseURL("/a", "v"));

    auto error = ConfigError::conflictingBaseURL("/a", "http://127.0.0.1:9000");
    EXPECT_EQ(error.kind(), ConfigError::Kind::conflictingBaseURL);
    EXPECT_EQ(error.path(), "/a");
    EXPECT_EQ(error.existing(), "http://127.0.0.1:9000");
}

} // namespace
} // namespace meterly::config
