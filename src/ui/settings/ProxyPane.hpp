#pragma once

#include "state/ChangeSignal.hpp"
#include "state/MainExecutor.hpp"
#include "ui/settings/CopiedMarks.hpp"
#include "ui/settings/ProxyPanePresenter.hpp"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace meterly::state {
class DiagnosticsRefresh;
class SetupModel;
class TextFormatter;
class UsageViewModel;
} // namespace meterly::state

namespace meterly::ui {

class DisconnectButton;
class ElidedLabel;
class PulsingDot;
class RequestsChart;
class SetupFlowView;
class TextButton;

// Whether Claude Code's traffic goes through the proxy, and the tools to fix it: the setup flow
// while not connected, the verdict with its dot, the requests per hour, the details, Re-check,
// Restart proxy, Repair, Copy diagnostics and Disconnect.
class ProxyPane : public QWidget {
    Q_OBJECT
public:
    struct Services {
        // Shows a file in the file manager.
        std::function<void(const QString& path)> reveal;
        // The running app's version, for the copied summary; none when unknown.
        std::function<std::optional<std::string>()> appVersion;
    };

    ProxyPane(state::UsageViewModel& model, state::SetupModel& setup,
              state::DiagnosticsRefresh& diagnostics, state::MainExecutor& main,
              std::shared_ptr<const state::TextFormatter> texts, Services services,
              QWidget* parent = nullptr);
    ~ProxyPane() override;

    const ProxyPaneContent& content() const { return content_; }
    void refresh();

    SetupFlowView* flow() const { return flow_; }
    QWidget* restartNote() const { return restartNote_; }
    QPushButton* restartNoteOK() const { return restartOK_; }
    QProgressBar* spinner() const { return spinner_; }
    QWidget* diagnosticsBlock() const { return details_; }
    PulsingDot* dot() const { return dot_; }
    QLabel* verdictLabel() const { return verdict_; }
    RequestsChart* chart() const { return chart_; }
    QPushButton* recheckButton() const { return recheck_; }
    QPushButton* restartButton() const { return restart_; }
    QPushButton* repairButton() const { return repair_; }
    QPushButton* copyButton() const { return copy_; }
    DisconnectButton* disconnectButton() const { return disconnect_; }
    // The widgets of the details row the pane shows under this label ("Address", "Backup", ...);
    // none while it shows no such row.
    QWidget* rowLabel(const std::string& label) const;
    QString rowValue(const std::string& label) const;
    TextButton* copyPathButton(const std::string& label) const;
    TextButton* showPathButton(const std::string& label) const;

    void copyDiagnostics();
    void copyPath(const std::string& path);

    // How many times the pane was rebuilt from the models (tests: only while it is shown).
    int rebuildCount() const { return rebuilds_; }
    // The "Copied" timers waiting (tests: at most one per row and one for the summary).
    std::size_t pendingCopiedTimers() const { return copies_.pendingTimers(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The widgets of the details row at one index, made for the row's kind (the others stay
    // null): a grid holds only the rows it shows, so that its spacing is the same for all.
    struct DetailRow {
        ProxyPaneContent::Row::Kind kind = ProxyPaneContent::Row::Kind::fact;
        QLabel* name = nullptr;
        QLabel* fact = nullptr;
        ElidedLabel* path = nullptr;
        TextButton* copy = nullptr;
        TextButton* show = nullptr;
        QWidget* spacer = nullptr;

        // The widgets made.
        std::vector<QWidget*> widgets() const;
    };
    const DetailRow* row(const std::string& label) const;
    // The rows of the grid as many and of the kinds of the presenter's rows.
    void matchRows();
    DetailRow makeRow(std::size_t index, ProxyPaneContent::Row::Kind kind);
    void dropRow(DetailRow& entry);
    void styleRow(const DetailRow& entry);
    static void showRow(const DetailRow& entry, const ProxyPaneContent::Row& shown);
    // The value of the row at `index`, when the pane shows one there.
    std::optional<std::string> rowValueAt(std::size_t index) const;
    void restyle();
    // Rebuilds while the pane is on screen; a hidden pane catches up when it is shown.
    void refreshIfShown();

    state::UsageViewModel& model_;
    state::SetupModel& setup_;
    state::DiagnosticsRefresh& diagnostics_;
    state::MainExecutor& main_;
    std::shared_ptr<const state::TextFormatter> texts_;
    Services services_;
    ProxyPaneContent content_;

    CopiedMarks copies_;
    int rebuilds_ = 0;

    SetupFlowView* flow_;
    QWidget* flowDivider_;
    QWidget* restartNote_;
    QLabel* restartText_;
    QPushButton* restartOK_;
    QProgressBar* spinner_;
    QWidget* details_;
    PulsingDot* dot_;
    QLabel* verdict_;
    RequestsChart* chart_;
    QLabel* detailsTitle_;
    QGridLayout* grid_;
    // One per row of the presenter's details, by index.
    std::vector<DetailRow> rows_;
    QPushButton* recheck_;
    QPushButton* restart_;
    QPushButton* repair_;
    QPushButton* copy_;
    DisconnectButton* disconnect_;

    state::Subscription setupChanged_;
    state::Subscription modelChanged_;
    state::Subscription diagnosticsChanged_;
};

} // namespace meterly::ui
