#include "ui/settings/SettingsPresenter.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Pane = state::SettingsPane;
constexpr core::Date now = 1'800'000'000;

TEST(SettingsPresenterTest, TitlesAndTheShownPane) {
    EXPECT_EQ(SettingsPresenter::title(Pane::general), "General");
    EXPECT_EQ(SettingsPresenter::title(Pane::notifications), "Notifications");
    EXPECT_EQ(SettingsPresenter::title(Pane::proxy), "Proxy");
    EXPECT_EQ(SettingsPresenter::title(std::nullopt), "Proxy");
    EXPECT_EQ(SettingsPresenter::shownPane(std::nullopt), Pane::proxy);
}

TEST(SettingsPresenterTest, UpdateCheckSummary) {
    state::TextFormatter texts([](std::string_view name) -> std::optional<std::string> {
        return name == "TZ" ? std::optional<std::string>("UTC") : std::nullopt;
    });
    using Check = SettingsPresenter::UpdateCheck;
    struct Case {
        Check check;
        std::string summary;
    };
    const Case cases[] = {
        {{true, "1.0.8", now - 60, false}, "Checking…"},
        {{false, "1.0.8", now - 60, false}, "1.0.8 is available"},
        {{false, std::nullopt, std::nullopt, false}, "Not checked yet"},
        {{false, std::nullopt, now - 180, false}, "Up to date — checked 3 minutes ago"},
        {{false, std::nullopt, now - 5, true}, "Check failed — tried 5 seconds ago"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsPresenter::updateCheckSummary(c.check, now, texts), c.summary);
    }
}

TEST(SettingsPresenterTest, AccessibleNameJoinsTitleAndCaption) {
    EXPECT_EQ(SettingsPresenter::accessibleName("Launch at login", std::nullopt),
              "Launch at login");
    EXPECT_EQ(SettingsPresenter::accessibleName("5-hour reset", "Happy building"),
              "5-hour reset, Happy building");
}

} // namespace
} // namespace meterly::ui
