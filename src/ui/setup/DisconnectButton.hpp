#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace meterly::state {
class SetupModel;
}

namespace meterly::ui {

// "Disconnect Claude Code" with its confirmation in place: the first press asks, "Disconnect"
// hides the question at once and disconnects, "Cancel" only hides it. The question stays up while
// the rest of the window redraws.
class DisconnectButton : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* explanation =
        "Removes ANTHROPIC_BASE_URL from your settings and stops the background agent. Claude "
        "Code goes back to talking to Anthropic directly.";

    explicit DisconnectButton(state::SetupModel& model, QWidget* parent = nullptr);

    bool isConfirming() const { return confirming_; }
    void setConfirming(bool confirming);

    QWidget* askButton() const { return ask_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* disconnectButton() const { return disconnect_; }

protected:
private:
    void restyle();

    state::SetupModel& model_;
    bool confirming_ = false;
    QWidget* ask_;
    QLabel* askTitle_;
    QLabel* askText_;
    QWidget* confirm_;
    QLabel* question_;
    QLabel* questionText_;
    QPushButton* cancel_;
    QPushButton* disconnect_;
};

} // namespace meterly::ui
