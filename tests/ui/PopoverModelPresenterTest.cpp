#include "ui/popover/PopoverModelPresenter.hpp"

#include "ModelFakes.hpp"
#include "support/MemoryPreferences.hpp"
#include "state/NotificationPreferences.hpp"
#include "support/VirtualTimeExecutor.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Kind = state::SetupModel::State::Kind;
using Form = LimitsContent::Form;

class PopoverModelPresenterTest : public ::testing::Test {
protected:
    PopoverModelPresenterTest() { model_.start(source_); }

    // Hands the model one event and waits until it has taken it.
    void send(core::UsageSourceEvent event) {
        const auto before = model_.pollFailure();
        const auto snapshotBefore = model_.snapshot();
        source_->send(std::move(event));
        main_.runUntil(
            [&] { return model_.pollFailure() != before || model_.snapshot() != snapshotBefore; });
    }
    PopoverContent present(const state::SetupModel::State& setup) {
        return PopoverModelPresenter::present(model_, setup, std::nullopt, std::nullopt,
                                              std::nullopt);
    }

    state::VirtualTimeExecutor main_;
    state::MemoryPreferences defaults_;
    state::UsageViewModel model_{main_, defaults_,
                                 std::make_shared<state::NotificationPreferences>(defaults_),
                                 std::make_shared<QuietNotifier>(), nullptr};
    std::shared_ptr<ScriptedSource> source_ = std::make_shared<ScriptedSource>(main_);
};

TEST_F(PopoverModelPresenterTest, LimitsSectionByConnectionAndReading) {
    struct Case {
        state::SetupModel::State setup;
        Form withoutReading;
        Form withReading;
    };
    const Case cases[] = {
        {state::SetupModel::State::notConfigured(), Form::notConnected, Form::notConnected},
        {state::SetupModel::State::conflict("https://gateway.example", false), Form::notConnected,
         Form::notConnected},
        {state::SetupModel::State::failed("broken"), Form::notConnected, Form::notConnected},
        {state::SetupModel::State::configured(8787), Form::waiting, Form::windows},
        {state::SetupModel::State::checking(), Form::waiting, Form::windows},
        {state::SetupModel::State::working(), Form::waiting, Form::windows},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(present(c.setup).limits.form, c.withoutReading) << static_cast<int>(c.setup.kind);
    }
    send(core::UsageSourceEvent::status(snapshot(0.574, main_.now()), 1, std::nullopt));
    for (const auto& c : cases) {
        EXPECT_EQ(present(c.setup).limits.form, c.withReading) << static_cast<int>(c.setup.kind);
    }
    const auto limits = present(state::SetupModel::State::configured(8787)).limits;
    ASSERT_EQ(limits.windows.size(), 2u);
    EXPECT_EQ(limits.windows[0].title, "5 hours");
    EXPECT_EQ(limits.windows[0].percentText, "43%");
    EXPECT_EQ(limits.windows[0].resetsIn, "resets in 2:00:00");
    EXPECT_EQ(limits.windows[1].title, "Week");
}

TEST_F(PopoverModelPresenterTest, WaitingNoticeAndLiveStatusFollowThePolls) {
    const auto configured = state::SetupModel::State::configured(8787);
    auto content = present(configured);
    EXPECT_EQ(content.limits.waiting.title, "Waiting for data");
    EXPECT_EQ(content.header.status.label, "quiet");
    send(core::UsageSourceEvent::unreachable(3));
    content = present(configured);
    EXPECT_EQ(content.limits.waiting.title, "Proxy status unreadable");
    EXPECT_EQ(content.header.status.label, "silent");
    EXPECT_EQ(content.header.status.dot, LiveStatusContent::Dot::orange);
    send(core::UsageSourceEvent::status(snapshot(0.2, main_.now()), 1, std::nullopt));
    content = present(configured);
    EXPECT_EQ(content.header.status.label, "live");
    EXPECT_EQ(content.header.status.dot, LiveStatusContent::Dot::green);
    EXPECT_EQ(content.header.status.detail, "Claude Code traffic is reaching the proxy right now.");
}

TEST_F(PopoverModelPresenterTest, OnlyTheWeekRowForASnapshotWithoutAFiveHourWindow) {
    auto reading = snapshot(0.2, main_.now());
    reading.fiveHour.reset();
    send(core::UsageSourceEvent::status(reading, 1, std::nullopt));
    const auto limits = present(state::SetupModel::State::configured(8787)).limits;
    ASSERT_EQ(limits.windows.size(), 1u);
    EXPECT_EQ(limits.windows[0].title, "Week");
}

TEST_F(PopoverModelPresenterTest, NoHistoryNoModelLineNoGateNoChart) {
    const auto content = present(state::SetupModel::State::configured(8787));
    EXPECT_FALSE(content.header.modelLine);
    EXPECT_FALSE(content.sessionGate);
    EXPECT_FALSE(content.windowFill);
    EXPECT_FALSE(content.history);
    EXPECT_EQ(content.versionFooter, "v1.0.7");
    EXPECT_EQ(PopoverModelPresenter::present(model_, state::SetupModel::State::checking(),
                                             std::nullopt, std::string("2.0.1"), std::nullopt)
                  .versionFooter,
              "v2.0.1");
}

} // namespace
} // namespace meterly::ui
