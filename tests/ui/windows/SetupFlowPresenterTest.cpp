#include "ui/setup/SetupFlowPresenter.hpp"

#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using State = state::SetupModel::State;
using Content = SetupFlowContent;
using Action = Content::Action;
using Shortcut = Content::Shortcut;
using Buttons = std::vector<Content::Button>;

TEST(SetupFlowPresenterTest, EachStateShowsItsTextsAndButtons) {
    struct Case {
        std::string name;
        State state;
        bool restart;
        bool dismiss;
        Content::Screen screen;
        std::string headline;
        Buttons leading;
        Buttons trailing;
        bool disconnect;
    };
    const Buttons none;
    const Case cases[] = {
        {"not configured, window", State::notConfigured(), false, true,
         Content::Screen::notConfigured, "", none,
         Buttons{{Action::dismiss, "Not now", Shortcut::cancelAction},
                 {Action::setUp, "Set up", Shortcut::defaultAction}},
         false},
        {"not configured, pane", State::notConfigured(), false, false,
         Content::Screen::notConfigured, "", none,
         Buttons{{Action::setUp, "Set up", Shortcut::defaultAction}}, false},
        {"connected, window", State::configured(8790), true, true, Content::Screen::configured,
         "Connected on 127.0.0.1:8790", none,
         Buttons{{Action::done, "Done", Shortcut::defaultAction}}, true},
        {"connected with note, pane", State::configured(8787), true, false,
         Content::Screen::configured, "Connected on 127.0.0.1:8787", none,
         Buttons{{Action::acknowledge, "OK", Shortcut::none}}, true},
        {"connected, pane", State::configured(8787), false, false, Content::Screen::configured,
         "Connected on 127.0.0.1:8787", none, none, true},
        {"foreign value, window", State::conflict("https://gw.example.com", false), false, true,
         Content::Screen::conflict, "Claude Code is already pointed somewhere else",
         Buttons{{Action::dismiss, "Leave it alone", Shortcut::cancelAction}},
         Buttons{{Action::replace, "Replace it", Shortcut::defaultAction}}, false},
        {"reusable value, window", State::conflict("http://localhost", true), false, true,
         Content::Screen::conflict, "Claude Code is already pointed somewhere else",
         Buttons{{Action::dismiss, "Leave it alone", Shortcut::cancelAction}},
         Buttons{{Action::reuse, "Reuse it", Shortcut::none},
                 {Action::replace, "Replace it", Shortcut::none}},
         false},
        {"reusable value, pane", State::conflict("http://localhost", true), false, false,
         Content::Screen::conflict, "Claude Code is already pointed somewhere else", none,
         Buttons{{Action::reuse, "Reuse it", Shortcut::none},
                 {Action::replace, "Replace it", Shortcut::none}},
         false},
        {"failed, window", State::failed("boom"), false, true, Content::Screen::failed,
         "Setup did not finish", none,
         Buttons{{Action::dismiss, "Close", Shortcut::cancelAction},
                 {Action::tryAgain, "Try again", Shortcut::defaultAction}},
         false},
        {"failed, pane", State::failed("boom"), false, false, Content::Screen::failed,
         "Setup did not finish", none,
         Buttons{{Action::tryAgain, "Try again", Shortcut::defaultAction}}, false},
        {"checking", State::checking(), false, true, Content::Screen::busy, "", none, none, false},
        {"working", State::working(), true, true, Content::Screen::busy, "", none, none, false},
    };
    for (const auto& c : cases) {
        const auto content = SetupFlowPresenter::present(c.state, c.restart, c.dismiss);
        EXPECT_EQ(content.screen, c.screen) << c.name;
        EXPECT_EQ(content.headline, c.headline) << c.name;
        EXPECT_EQ(content.leadingButtons, c.leading) << c.name;
        EXPECT_EQ(content.trailingButtons, c.trailing) << c.name;
        EXPECT_EQ(content.showsDisconnect, c.disconnect) << c.name;
    }
}

TEST(SetupFlowPresenterTest, SentencesFollowTheStateAndTheRestartFlag) {
    auto busy = SetupFlowPresenter::present(State::working(), false, true);
    EXPECT_EQ(busy.busyText, "Starting the proxy and waiting for it to answer…");
    EXPECT_EQ(SetupFlowPresenter::present(State::checking(), false, true).busyText,
              "Checking your Claude Code settings…");

    auto fresh = SetupFlowPresenter::present(State::configured(8787), true, false);
    EXPECT_TRUE(fresh.bodyIsWarning);
    EXPECT_EQ(fresh.body, "Restart your Claude Code session — one that is already running keeps "
                          "its old environment.");
    auto settled = SetupFlowPresenter::present(State::configured(8787), false, false);
    EXPECT_FALSE(settled.bodyIsWarning);
    EXPECT_EQ(settled.body,
              "Claude Code is pointed at Meterly. Usage appears in the menu bar as you work.");

    auto setUp = SetupFlowPresenter::present(State::notConfigured(), false, true);
    ASSERT_EQ(setUp.bullets.size(), 3u);
    EXPECT_EQ(setUp.bullets[1], "Copies the current file to ~/.claude/settings.json.meterly-backup "
                                "first. Nothing else in it is touched — including any auth token.");

    // Outside values are carried verbatim.
    const std::string odd = "<b>http://x</b> & more\nsecond line";
    EXPECT_EQ(SetupFlowPresenter::present(State::conflict(odd, false), false, true).selectableValue,
              odd);
    EXPECT_EQ(SetupFlowPresenter::present(State::failed(odd), false, true).selectableValue, odd);
    EXPECT_NE(SetupFlowPresenter::present(State::conflict(odd, true), false, true).body,
              SetupFlowPresenter::present(State::conflict(odd, false), false, true).body);
}

TEST(SetupFlowPresenterTest, EachScreenCarriesItsMarkAndColours) {
    struct Case {
        std::string name;
        State state;
        bool restart;
        std::string mark;
        ColourRole headline;
        bool bold;
        ColourRole body;
        bool value, boxed;
    };
    const Case cases[] = {
        {"busy", State::working(), false, "", ColourRole::primary, false, ColourRole::secondary,
         false, false},
        {"not configured", State::notConfigured(), false, "", ColourRole::primary, false,
         ColourRole::primary, false, false},
        {"connected", State::configured(8787), false, "✓ ", ColourRole::green, false,
         ColourRole::secondary, false, false},
        {"connected with note", State::configured(8787), true, "✓ ", ColourRole::green, false,
         ColourRole::orange, false, false},
        {"conflict", State::conflict("http://localhost", true), false, "", ColourRole::primary,
         true, ColourRole::secondary, true, true},
        {"conflict, empty value", State::conflict("", false), false, "", ColourRole::primary, true,
         ColourRole::secondary, true, true},
        {"failed", State::failed("boom"), false, "⚠ ", ColourRole::orange, false,
         ColourRole::secondary, true, false},
        {"failed, no message", State::failed(""), false, "⚠ ", ColourRole::orange, false,
         ColourRole::secondary, true, false},
    };
    for (const auto& c : cases) {
        const auto content = SetupFlowPresenter::present(c.state, c.restart, true);
        EXPECT_EQ(content.headlineMark, c.mark) << c.name;
        EXPECT_EQ(content.headlineColour, c.headline) << c.name;
        EXPECT_EQ(content.headlineIsBold, c.bold) << c.name;
        EXPECT_EQ(content.bodyColour, c.body) << c.name;
        EXPECT_EQ(content.showsValue, c.value) << c.name;
        EXPECT_EQ(content.valueIsBoxed, c.boxed) << c.name;
        EXPECT_EQ(content.valueColour, c.boxed ? ColourRole::primary : ColourRole::secondary)
            << c.name;
    }
}

TEST(SetupFlowPresenterTest, ReturnAndEscapeFindTheirButton) {
    auto reusable =
        SetupFlowPresenter::present(State::conflict("http://localhost", true), false, true);
    EXPECT_EQ(SetupFlowPresenter::buttonFor(reusable, Shortcut::defaultAction), nullptr);
    ASSERT_NE(SetupFlowPresenter::buttonFor(reusable, Shortcut::cancelAction), nullptr);
    EXPECT_EQ(SetupFlowPresenter::buttonFor(reusable, Shortcut::cancelAction)->action,
              Action::dismiss);
    auto failed = SetupFlowPresenter::present(State::failed("x"), false, false);
    EXPECT_EQ(SetupFlowPresenter::buttonFor(failed, Shortcut::defaultAction)->action,
              Action::tryAgain);
    EXPECT_EQ(SetupFlowPresenter::buttonFor(failed, Shortcut::cancelAction), nullptr);
}

} // namespace
} // namespace meterly::ui
