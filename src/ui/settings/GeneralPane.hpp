#pragma once

#include "core/Time.hpp"
#include "state/Autostart.hpp"
#include "state/ChangeSignal.hpp"
#include "ui/update/UpdateBanner.hpp"

#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace meterly::state {
class BlockingWorker;
class TextFormatter;
} // namespace meterly::state

namespace meterly::update {
class UpdateState;
}

namespace meterly::ui {

class LaunchAtLoginRow;
class UpdateOffer;

// The General pane: the update banner while an update is offered, the launch-at-login switch,
// the version and the update check.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    // Without an update state there is no banner and no update check.
    struct Updates {
        update::UpdateState* state = nullptr;
        UpdateOffer* offer = nullptr;
        UpdateBanner::Actions bannerActions;
        std::shared_ptr<const state::TextFormatter> texts;
        // The app's clock, for the time of the last check.
        std::function<core::Date()> now;
    };

    GeneralPane(std::shared_ptr<const state::Autostart> loginItem, state::BlockingWorker& worker,
                QString version, Updates updates, QWidget* parent = nullptr);

    LaunchAtLoginRow* launchAtLogin() const { return launchAtLogin_; }
    QLabel* versionLabel() const { return version_; }
    UpdateBanner* banner() const { return banner_; }
    QPushButton* checkButton() const { return check_; }
    QProgressBar* checkSpinner() const { return checkSpinner_; }
    QLabel* checkSummary() const { return summary_; }
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

    QVBoxLayout* column_;

private:
    void restyle();

    Updates updates_;
    UpdateBanner* banner_;
    QWidget* bannerDivider_;
    LaunchAtLoginRow* launchAtLogin_;
    QLabel* versionTitle_;
    QLabel* version_;
    QWidget* checkRow_;
    QPushButton* check_;
    QProgressBar* checkSpinner_;
    QLabel* summary_;
    state::Subscription updatesChanged_;
};

} // namespace meterly::ui
