#include "history/UsageEntry.hpp"

#include <gtest/gtest.h>

namespace meterly::history {
namespace {

UsageEntry sample() {
    return UsageEntry{1'700'000'000.5, "session", "project", "/home/me/app",        "msg_1",
                      "req_1",         "model",   false,     TokenUsage{1, 2, 3, 4}};
}

TEST(UsageEntryTest, EqualityCoversEveryField) {
    EXPECT_EQ(sample(), sample());
    const auto differs = [](auto change) {
        UsageEntry e = sample();
        change(e);
        return e != sample();
    };
    EXPECT_TRUE(differs([](UsageEntry& e) { e.timestamp += 0.001; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.sessionID = "other"; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.projectID = "other"; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.projectPath.reset(); }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.projectPath = ""; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.messageID = "msg_2"; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.model.reset(); }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.isSidechain = true; }));
    EXPECT_TRUE(differs([](UsageEntry& e) { e.usage.cacheReadInputTokens = 5; }));
    // A request identifier that is none differs from one that is empty text.
    UsageEntry none = sample();
    none.requestID.reset();
    UsageEntry empty = sample();
    empty.requestID = "";
    EXPECT_NE(none, empty);
}

} // namespace
} // namespace meterly::history
