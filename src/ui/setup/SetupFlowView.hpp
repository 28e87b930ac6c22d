#pragma once

#include "state/ChangeSignal.hpp"
#include "ui/setup/SetupFlowPresenter.hpp"

#include <QWidget>
#include <functional>
#include <map>

class QLabel;
class QProgressBar;
class QPushButton;

namespace meterly::state {
class SetupModel;
}

namespace meterly::ui {

class DisconnectButton;

// The setup model's state on screen, one screen per state, following the model as it changes.
// The setup window passes a dismiss action; the proxy pane embeds the flow without one. Return
// presses the screen's default button and Escape its cancel button, while the flow is shown.
class SetupFlowView : public QWidget {
    Q_OBJECT
public:
    using Action = SetupFlowContent::Action;

    SetupFlowView(state::SetupModel& model, std::function<void()> dismiss,
                  QWidget* parent = nullptr);

    const SetupFlowContent& content() const { return content_; }
    // The button of an action (hidden when the screen does not offer it).
    QPushButton* button(Action action, bool leading = false) const;
    DisconnectButton* disconnectButton() const { return disconnect_; }
    QLabel* headlineLabel() const { return headline_; }
    QLabel* bodyLabel() const { return body_; }
    QLabel* valueLabel() const { return value_; }
    QLabel* busyLabel() const { return busyText_; }

    // Presses the button that answers Return or Escape; false when none does.
    bool pressShortcut(SetupFlowContent::Shortcut shortcut);

    // Redraws from the model (done on every change of the model).
    void refresh();

protected:
private:
    void trigger(Action action);
    void restyle();

    state::SetupModel& model_;
    std::function<void()> dismiss_;
    SetupFlowContent content_;
    state::Subscription modelChanged_;

    QWidget* busy_;
    QProgressBar* spinner_;
    QLabel* busyText_;
    QWidget* screen_;
    QLabel* headline_;
    QLabel* value_;
    QLabel* body_;
    std::vector<QLabel*> bulletTexts_;
    std::vector<QLabel*> bulletMarks_;
    DisconnectButton* disconnect_;
    QPushButton* leadingDismiss_;
    std::map<Action, QPushButton*> buttons_;
};

} // namespace meterly::ui
