#include "WindowsTestSupport.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/setup/SetupView.hpp"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace meterly::ui {
namespace {

using Action = SetupFlowContent::Action;
using State = state::SetupModel::State;

bool shown(const QWidget* widget) {
    return !widget->isHidden();
}

// The titles of the buttons shown, leading ones first.
std::vector<std::string> shownButtons(const SetupFlowView& flow) {
    std::vector<std::string> titles;
    if (shown(flow.button(Action::dismiss, true))) {
        titles.push_back(flow.button(Action::dismiss, true)->text().toStdString());
    }
    for (auto action : {Action::dismiss, Action::reuse, Action::replace, Action::setUp,
                        Action::tryAgain, Action::done, Action::acknowledge}) {
        if (shown(flow.button(action))) {
            titles.push_back(flow.button(action)->text().toStdString());
        }
    }
    return titles;
}

class SetupViewsTest : public ::testing::Test {
protected:
    testing::SetupFixture setup;
    int dismissed = 0;
};

TEST_F(SetupViewsTest, EachStateShowsItsScreenInTheWindowAndInThePane) {
    SetupFlowView window(*setup.model, [this] { ++dismissed; });
    SetupFlowView pane(*setup.model, {});
    using Texts = std::vector<std::string>;

    // Before the first reading: the busy row.
    EXPECT_TRUE(shown(window.busyLabel()->parentWidget()));
    EXPECT_EQ(window.busyLabel()->text().toStdString(), "Checking your Claude Code settings…");

    setup.model->refresh();
    EXPECT_FALSE(shown(window.busyLabel()->parentWidget()));
    EXPECT_EQ(shownButtons(window), (Texts{"Not now", "Set up"}));
    EXPECT_EQ(shownButtons(pane), (Texts{"Set up"}));
    EXPECT_FALSE(shown(window.disconnectButton()));

    setup.writeBaseURL("https://gateway.example.com/<b>&amp;");
    setup.model->refresh();
    EXPECT_EQ(shownButtons(window), (Texts{"Leave it alone", "Replace it"}));
    EXPECT_EQ(shownButtons(pane), (Texts{"Replace it"}));
    EXPECT_EQ(window.valueLabel()->text().toStdString(), "https://gateway.example.com/<b>&amp;");
    EXPECT_EQ(window.valueLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(window.valueLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);

    setup.writeBaseURL("http://localhost");
    setup.home.write(".claude/settings.json.meterly-backup", "{}");
    setup.model->refresh();
    EXPECT_EQ(shownButtons(window), (Texts{"Leave it alone", "Reuse it", "Replace it"}));

    setup.writeSettings("not json");
    setup.model->refresh();
    EXPECT_EQ(shownButtons(window), (Texts{"Close", "Try again"}));
    EXPECT_EQ(shownButtons(pane), (Texts{"Try again"}));
    EXPECT_NE(window.valueLabel()->text().toStdString().find("is not valid JSON"),
              std::string::npos);

    setup.writeBaseURL("http://127.0.0.1:8787");
    setup.model->refresh();
    EXPECT_EQ(window.headlineLabel()->text().toStdString(), "✓ Connected on 127.0.0.1:8787");
    EXPECT_EQ(shownButtons(window), (Texts{"Done"}));
    EXPECT_EQ(shownButtons(pane), Texts{});
    EXPECT_TRUE(shown(window.disconnectButton()));
    setup.settle();
}

TEST_F(SetupViewsTest, ConnectingShowsTheRestartNoteUntilAcknowledged) {
    SetupFlowView window(*setup.model, [this] { ++dismissed; });
    SetupFlowView pane(*setup.model, {});
    setup.model->refresh();
    window.button(Action::setUp)->click();
    // While it works only the busy row shows, so nothing else can be started.
    EXPECT_TRUE(shown(window.busyLabel()->parentWidget()));
    EXPECT_EQ(window.busyLabel()->text().toStdString(),
              "Starting the proxy and waiting for it to answer…");
    ASSERT_TRUE(setup.settle());
    EXPECT_EQ(setup.model->state(), State::configured(setup.port));
    EXPECT_EQ(window.bodyLabel()->text().toStdString(),
              "Restart your Claude Code session — one that is already running keeps its old "
              "environment.");
    EXPECT_TRUE(shown(pane.button(Action::acknowledge)));

    pane.button(Action::acknowledge)->click();
    EXPECT_FALSE(setup.model->needsSessionRestart());
    EXPECT_FALSE(shown(pane.button(Action::acknowledge)));
    EXPECT_EQ(pane.bodyLabel()->text().toStdString(),
              "Claude Code is pointed at Meterly. Usage appears in the menu bar as you work.");
    EXPECT_EQ(dismissed, 0);
    window.button(Action::done)->click();
    EXPECT_EQ(dismissed, 1);
}

TEST_F(SetupViewsTest, ReturnAndEscapeAnswerOnlyWhereTheScreenSaysSo) {
    SetupView view(*setup.model);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(setup.model->state(), State::notConfigured()); // showing the window re-read it

    // A conflict that can be reused: Return does nothing, Escape leaves it alone.
    setup.writeBaseURL("http://localhost");
    setup.home.write(".claude/settings.json.meterly-backup", "{}");
    setup.model->refresh();
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(setup.worker.pending(), 0u);
    EXPECT_EQ(setup.model->state().kind, State::Kind::conflict);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_FALSE(view.isVisible());

    // Not configured: Return sets up.
    std::filesystem::remove(setup.settingsPath());
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(setup.model->state(), State::notConfigured());
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(setup.model->state(), State::working());
    ASSERT_TRUE(setup.settle());
    EXPECT_TRUE(setup.model->isConfigured());
    // Connected: Escape does nothing, Return is "Done".
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_TRUE(view.isVisible());
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_FALSE(view.isVisible());
    EXPECT_FALSE(setup.model->needsSessionRestart());
}

TEST_F(SetupViewsTest, TheConfirmationSurvivesRedrawsAndDisconnectHidesItAtOnce) {
    setup.writeBaseURL("http://127.0.0.1:8787");
    SetupFlowView flow(*setup.model, {});
    setup.model->refresh();
    auto* disconnect = flow.disconnectButton();
    QTest::mouseClick(disconnect->askButton(), Qt::LeftButton);
    EXPECT_TRUE(disconnect->isConfirming());
    // The window redraws every second and whenever the model is read again.
    for (int tick = 0; tick < 5; ++tick) {
        setup.model->refresh();
        flow.refresh();
        setup.main.advance(1);
    }
    EXPECT_TRUE(disconnect->isConfirming());
    EXPECT_FALSE(shown(disconnect->askButton()));

    disconnect->cancelButton()->click();
    EXPECT_FALSE(disconnect->isConfirming());
    QTest::mouseClick(disconnect->askButton(), Qt::LeftButton);
    disconnect->disconnectButton()->click();
    EXPECT_FALSE(disconnect->isConfirming());
    EXPECT_EQ(setup.model->state(), State::working());
    ASSERT_TRUE(setup.settle());
    EXPECT_EQ(setup.model->state(), State::notConfigured());
    EXPECT_FALSE(shown(disconnect));
}

TEST_F(SetupViewsTest, TryAgainAfterAFailedDisconnectDisconnectsAgain) {
    testing::SetupFixture failing(false);
    failing.writeBaseURL("http://127.0.0.1:8787");
    SetupFlowView flow(*failing.model, {});
    failing.model->refresh();
    failing.model->disconnect();
    ASSERT_TRUE(failing.settle());
    ASSERT_EQ(failing.model->state(),
              State::failed(state::SetupModel::disconnectWithoutBundleMessage));
    flow.button(Action::tryAgain)->click();
    ASSERT_TRUE(failing.settle());
    // The same disconnect failed again; a set-up would have said the install's sentence.
    EXPECT_EQ(failing.model->state(),
              State::failed(state::SetupModel::disconnectWithoutBundleMessage));
}

} // namespace
} // namespace meterly::ui
