#pragma once

#include <QWidget>
#include <functional>

class QLabel;

namespace meterly::state {
class SetupModel;
}

namespace meterly::ui {

class SetupFlowView;

// The setup window's identifier and title.
struct SetupWindow {
    static constexpr const char* id = "meterly.setup";
    static constexpr const char* title = "Set up Meterly";
};

// The content of the setup window: its heading over the setup flow. Showing it re-reads Claude
// Code's settings; the flow's dismiss buttons close the window.
class SetupView : public QWidget {
    Q_OBJECT
public:
    explicit SetupView(state::SetupModel& model, QWidget* parent = nullptr);

    SetupFlowView* flow() const { return flow_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void restyle();

    state::SetupModel& model_;
    QLabel* heading_;
    SetupFlowView* flow_;
};

} // namespace meterly::ui
