#include "state/SettingsRoute.hpp"

#include <gtest/gtest.h>

namespace meterly::state {
namespace {

TEST(SettingsRouteTest, PanesKeepTheSidebarOrderAndTheirRawValues) {
    std::vector<std::string_view> raws;
    for (auto pane : allSettingsPanes) {
        raws.push_back(rawValue(pane));
        EXPECT_EQ(settingsPane(rawValue(pane)), pane);
    }
    EXPECT_EQ(raws, (std::vector<std::string_view>{"general", "proxy", "notifications"}));
    for (std::string_view other : {"", "Proxy", "general ", "advanced"}) {
        EXPECT_FALSE(settingsPane(other)) << other;
    }
}

TEST(SettingsRouteTest, StartsOnProxyAndNotifiesOnlyForAnotherPane) {
    SettingsRoute route;
    EXPECT_EQ(route.pane(), SettingsPane::proxy);
    int redraws = 0;
    auto observer = route.changed().connect([&] { ++redraws; });

    route.setPane(SettingsPane::proxy);
    route.show(SettingsPane::proxy);
    EXPECT_EQ(redraws, 0);

    route.setPane(SettingsPane::notifications);
    EXPECT_EQ(redraws, 1);
    route.setPane(std::nullopt);
    route.setPane(std::nullopt);
    EXPECT_EQ(redraws, 2);
    EXPECT_FALSE(route.pane());

    route.show(SettingsPane::general);
    EXPECT_EQ(route.pane(), SettingsPane::general);
    EXPECT_EQ(redraws, 3);
}

TEST(SettingsRouteTest, TheSharedRouteIsOneObject) {
    EXPECT_EQ(&SettingsRoute::shared(), &SettingsRoute::shared());
}

} // namespace
} // namespace meterly::state
