#include "update/UpdateInfo.hpp"

#include "update/UpdateCheckError.hpp"

#include <gtest/gtest.h>

namespace meterly::update {
namespace {

constexpr const char* required =
    R"("latest_version": "1.2.0", "download_url": "https://meterly.app/Meterly-1.2.0.tar.gz")";

UpdateInfo decodeWith(const std::string& extra) {
    return UpdateInfo::decode("{" + std::string(required) + (extra.empty() ? "" : ", ") + extra +
                              "}");
}

TEST(UpdateInfoTest, DecodesEveryKeyOfTheFeed) {
    auto info = decodeWith(R"("sha256": "AB12", "notes": "Faster.",
        "notes_url": "https://meterly.app/notes", "rollout_started_at": "2026-03-01T09:00:00Z",
        "rollout_phase_hours": 48, "critical": false, "extra": [1, 2])");
    EXPECT_EQ(info,
              (UpdateInfo{"1.2.0", "https://meterly.app/Meterly-1.2.0.tar.gz", "AB12", "Faster.",
                          "https://meterly.app/notes", "2026-03-01T09:00:00Z", 48.0, false}));
    EXPECT_EQ(info.rolloutStart(), 1'772'355'600.0);
}

TEST(UpdateInfoTest, OptionalKeysAreReadLeniently) {
    struct Case {
        const char* extra;
        UpdateInfo expected;
    };
    const UpdateInfo bare{"1.2.0", "https://meterly.app/Meterly-1.2.0.tar.gz"};
    auto with = [&bare](auto change) {
        UpdateInfo info = bare;
        change(info);
        return info;
    };
    const Case cases[] = {
        {R"("sha256": null)", bare},
        {R"("sha256": 12)", bare},
        {R"("notes": ["a"])", bare},
        {R"("notes_url": "not a url")", bare},
        {R"("notes_url": 3)", bare},
        {R"("critical": "true")", bare},
        {R"("critical": 1)", bare},
        {R"("critical": true)", with([](UpdateInfo& i) { i.critical = true; })},
        {R"("rollout_phase_hours": "48")", bare},
        {R"("rollout_phase_hours": -2.5)", with([](UpdateInfo& i) { i.rolloutPhaseHours = -2.5; })},
        {R"("rollout_started_at": false)", bare},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeWith(c.extra), c.expected) << c.extra;
    }
}

TEST(UpdateInfoTest, DocumentsWithoutTheRequiredKeysDoNotDecode) {
    const char* documents[] = {
        "",
        "[]",
        "\"text\"",
        "{",
        R"({"download_url": "https://meterly.app/x"})",
        R"({"latest_version": 12, "download_url": "https://meterly.app/x"})",
        R"({"latest_version": "1.2"})",
        R"({"latest_version": "1.2", "download_url": 5})",
        R"({"latest_version": "1.2", "download_url": ""})",
        R"({"latest_version": "1.2", "download_url": "https://meterly.app/a b"})",
        "{\"latest_version\": \"1.\xff\", \"download_url\": \"https://meterly.app/x\"}",
    };
    for (const char* document : documents) {
        EXPECT_THROW(UpdateInfo::decode(document), UpdateCheckError) << document;
    }
    EXPECT_THROW(UpdateInfo::decode(std::string(UpdateInfo::maxDocumentSize + 1, ' ')),
                 UpdateCheckError);
}

TEST(UpdateInfoTest, RolloutStartNeedsAnInternetDateWithoutFraction) {
    struct Case {
        const char* text;
        std::optional<core::Date> expected;
    };
    const Case cases[] = {
        {"2026-03-01T09:00:00Z", 1'772'355'600.0},
        {"2026-03-01T09:00:00+01:00", 1'772'352'000.0},
        {"2026-03-01T09:00:00.5Z", std::nullopt},
        {"2026-03-01 09:00:00Z", std::nullopt},
        {"yesterday", std::nullopt},
    };
    for (const auto& c : cases) {
        auto info = decodeWith(std::string(R"("rollout_started_at": ")") + c.text + "\"");
        EXPECT_EQ(info.rolloutStart(), c.expected) << c.text;
    }
    EXPECT_EQ(decodeWith("").rolloutStart(), std::nullopt);
}

} // namespace
} // namespace meterly::update
