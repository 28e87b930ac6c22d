#include "ui/settings/ProxyPane.hpp"

#include "state/DiagnosticsRefresh.hpp"
#include "state/SetupModel.hpp"
#include "state/UsageViewModel.hpp"
#include "ui/charts/RequestsChart.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/Divider.hpp"
#include "ui/widgets/ElidedLabel.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/PulsingDot.hpp"
#include "ui/widgets/Spinner.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace meterly::ui {

using Row = ProxyPaneContent::Row;

namespace {

constexpr int labelWidth = 92;
constexpr int pathWidth = 182;
constexpr int copyWidth = 46;

QPushButton* smallButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    button->setFont(Typography::caption());
    return button;
}

} // namespace

ProxyPane::ProxyPane(state::UsageViewModel& model, state::SetupModel& setup,
                     state::DiagnosticsRefresh& diagnostics, state::MainExecutor& main,
                     std::shared_ptr<const state::TextFormatter> texts, Services services,
                     QWidget* parent)
    : QWidget(parent), model_(model), setup_(setup), diagnostics_(diagnostics), main_(main),
      texts_(std::move(texts)), services_(std::move(services)),
      copies_(main, [this] { refreshIfShown(); }), flow_(new SetupFlowView(setup, {}, this)),
      flowDivider_(new Divider(this)), restartNote_(new QWidget(this)),
      restartText_(PlainText::label(restartNote_)),
      restartOK_(smallButton(QStringLiteral("OK"), restartNote_)), spinner_(Spinner::create(this)),
      details_(new QWidget(this)), dot_(new PulsingDot(8, details_)),
      verdict_(PlainText::label(details_)), chart_(new RequestsChart(texts_, details_)),
      detailsTitle_(PlainText::label(details_)), grid_(new QGridLayout),
      recheck_(smallButton(QStringLiteral("Re-check"), details_)),
      restart_(smallButton(QStringLiteral("Restart proxy"), details_)),
      repair_(smallButton(QStringLiteral("Repair"), details_)),
      copy_(smallButton(QStringLiteral("Copy diagnostics"), details_)),
      disconnect_(new DisconnectButton(setup, this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    // The connection block.
    auto* flowBox = new QVBoxLayout;
    flowBox->setContentsMargins(0, 0, 0, 4);
    flowBox->addWidget(flow_);
    column->addLayout(flowBox);
    column->addWidget(flowDivider_);
    auto* note = new QVBoxLayout(restartNote_);
    note->setContentsMargins(0, 0, 0, 0);
    note->setSpacing(6);
    restartText_->setText(QString::fromUtf8(SetupFlowPresenter::restartNote));
    restartText_->setWordWrap(true);
    note->addWidget(restartText_);
    note->addWidget(restartOK_, 0, Qt::AlignLeading);
    connect(restartOK_, &QPushButton::clicked, this,
            [this] { setup_.acknowledgeSessionRestart(); });
    column->addWidget(restartNote_);

    // The diagnostics block.
    column->addWidget(spinner_, 0, Qt::AlignLeading);
    auto* block = new QVBoxLayout(details_);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(dot_, 0, Qt::AlignVCenter);
    verdict_->setWordWrap(true);
    header->addWidget(verdict_, 1, Qt::AlignVCenter);
    block->addLayout(header);
    auto* chartBox = new QVBoxLayout;
    chartBox->setContentsMargins(0, 2, 0, 0);
    chartBox->addWidget(chart_);
    block->addLayout(chartBox);
    detailsTitle_->setText(QStringLiteral("Details"));
    detailsTitle_->setContentsMargins(0, 6, 0, 0);
    block->addWidget(detailsTitle_);

    grid_->setHorizontalSpacing(8);
    grid_->setVerticalSpacing(5);
    grid_->setColumnMinimumWidth(0, labelWidth);
    grid_->setColumnStretch(3, 1);
    block->addLayout(grid_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    buttons->setSpacing(12);
    for (auto* button : {recheck_, restart_, repair_, copy_}) {
        buttons->addWidget(button, 0, Qt::AlignVCenter);
    }
    buttons->addStretch(1);
    block->addLayout(buttons);
    column->addWidget(details_);
    column->addWidget(disconnect_);

    connect(recheck_, &QPushButton::clicked, this, [this] { diagnostics_.refresh(); });
    connect(restart_, &QPushButton::clicked, this, [this] { diagnostics_.restartAgent(); });
    connect(repair_, &QPushButton::clicked, this, [this] {
        if (diagnostics_.diagnostics()) {
            if (auto port = ProxyPanePresenter::repairPort(*diagnostics_.diagnostics())) {
                diagnostics_.repair(*port);
            }
        }
    });
    connect(copy_, &QPushButton::clicked, this, [this] { copyDiagnostics(); });

    setupChanged_ = setup_.changed().connect([this] { refreshIfShown(); });
    modelChanged_ = model_.changed().connect([this] { refreshIfShown(); });
    diagnosticsChanged_ = diagnostics_.changed().connect([this] { refreshIfShown(); });
    ThemeWatch::follow(this, [this] {
        restyle();
        refresh();
    });
    restyle();
    refresh();
}

ProxyPane::~ProxyPane() = default;

void ProxyPane::matchRows() {
    while (rows_.size() > content_.rows.size()) {
        dropRow(rows_.back());
        rows_.pop_back();
    }
    for (std::size_t i = 0; i < content_.rows.size(); ++i) {
        const auto kind = content_.rows[i].kind;
        if (i < rows_.size() && rows_[i].kind == kind) {
            continue;
        }
        if (i == rows_.size()) {
            rows_.emplace_back();
        } else {
            dropRow(rows_[i]);
        }
        rows_[i] = makeRow(i, kind);
        for (QWidget* widget : rows_[i].widgets()) {
            widget->show();
        }
    }
}

std::vector<QWidget*> ProxyPane::DetailRow::widgets() const {
    std::vector<QWidget*> made;
    for (QWidget* widget : std::initializer_list<QWidget*>{name, fact, path, copy, show, spacer}) {
        if (widget != nullptr) {
            made.push_back(widget);
        }
    }
    return made;
}

ProxyPane::DetailRow ProxyPane::makeRow(std::size_t index, Row::Kind kind) {
    const int line = static_cast<int>(index);
    DetailRow entry;
    entry.kind = kind;
    if (kind == Row::Kind::spacer) {
        entry.spacer = new QWidget(details_);
        entry.spacer->setFixedHeight(6);
        grid_->addWidget(entry.spacer, line, 0, 1, 4);
        return entry;
    }
    entry.name = PlainText::label(details_);
    entry.name->setFixedWidth(labelWidth);
    grid_->addWidget(entry.name, line, 0, Qt::AlignLeading | Qt::AlignVCenter);
    if (kind == Row::Kind::fact) {
        entry.fact = PlainText::label(details_);
        entry.fact->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid_->addWidget(entry.fact, line, 1, 1, 3, Qt::AlignLeading | Qt::AlignVCenter);
        styleRow(entry);
        return entry;
    }
    entry.path = new ElidedLabel(Qt::ElideMiddle, details_);
    entry.path->setFixedWidth(pathWidth);
    grid_->addWidget(entry.path, line, 1, Qt::AlignLeading | Qt::AlignVCenter);
    entry.copy = new TextButton(QStringLiteral("Copy"), details_);
    entry.copy->setMinimumWidth(copyWidth);
    grid_->addWidget(entry.copy, line, 2, Qt::AlignLeading | Qt::AlignVCenter);
    entry.show = new TextButton(QStringLiteral("Show"), details_);
    grid_->addWidget(entry.show, line, 3, Qt::AlignLeading | Qt::AlignVCenter);
    connect(entry.copy, &QAbstractButton::clicked, this, [this, index] {
        if (auto value = rowValueAt(index)) {
            copyPath(*value);
        }
    });
    connect(entry.show, &QAbstractButton::clicked, this, [this, index] {
        if (auto value = rowValueAt(index); value && services_.reveal) {
            services_.reveal(QString::fromStdString(*value));
        }
    });
    styleRow(entry);
    return entry;
}

void ProxyPane::dropRow(DetailRow& entry) {
    for (QWidget* widget : entry.widgets()) {
        grid_->removeWidget(widget);
        widget->hide();
        // Later: the row's own button may be what is being clicked.
        widget->deleteLater();
    }
    entry = {};
}

std::optional<std::string> ProxyPane::rowValueAt(std::size_t index) const {
    if (index >= content_.rows.size()) {
        return std::nullopt;
    }
    return content_.rows[index].value;
}

void ProxyPane::refreshIfShown() {
    if (isVisible()) {
        refresh();
    }
}

void ProxyPane::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void ProxyPane::refresh() {
    ++rebuilds_;
    ProxyPanePresenter::Input input;
    input.setup = setup_.state();
    input.needsSessionRestart = setup_.needsSessionRestart();
    input.diagnostics = diagnostics_.diagnostics();
    input.refreshing = diagnostics_.refreshing();
    input.restarting = diagnostics_.restarting();
    input.repairing = diagnostics_.repairing();
    input.copied = copies_.summary();
    input.copiedPath = copies_.path();
    if (const auto& history = model_.history()) {
        input.requestsByHour = history->requestsByHour;
    }
    input.now = model_.now();
    content_ = ProxyPanePresenter::present(input, *texts_);

    flow_->setVisible(content_.showsSetupFlow);
    flowDivider_->setVisible(content_.showsDividerAfterFlow);
    restartNote_->setVisible(content_.showsRestartNote);
    spinner_->setVisible(content_.showsSpinner);
    details_->setVisible(content_.showsDiagnostics);
    disconnect_->setVisible(content_.showsDisconnect);
    if (!content_.showsDisconnect) {
        disconnect_->setConfirming(false);
    }
    if (!content_.showsDiagnostics) {
        return;
    }
    dot_->setColour(Palette::current().colour(content_.dotColour));
    verdict_->setText(QString::fromStdString(content_.verdict));
    chart_->setVisible(content_.showsChart);
    if (content_.showsChart) {
        chart_->setBuckets(model_.history()->requestsByHour);
    }
    matchRows();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        showRow(rows_[i], content_.rows[i]);
    }
    const auto apply = [](QPushButton* button, const ProxyPaneContent::Button& state) {
        button->setText(QString::fromStdString(state.title));
        button->setEnabled(state.enabled);
        button->setVisible(state.shown);
    };
    apply(recheck_, content_.recheck);
    apply(restart_, content_.restart);
    apply(repair_, content_.repair);
    apply(copy_, content_.copy);
}

void ProxyPane::showRow(const DetailRow& entry, const Row& shown) {
    if (shown.kind == Row::Kind::spacer) {
        return;
    }
    entry.name->setText(QString::fromStdString(shown.label));
    const QString value = QString::fromStdString(shown.value);
    if (shown.kind == Row::Kind::fact) {
        entry.fact->setText(value);
        return;
    }
    entry.path->setText(value);
    PlainText::setToolTip(entry.path, value);
    entry.copy->setTitle(QString::fromStdString(shown.copyTitle));
}

const ProxyPane::DetailRow* ProxyPane::row(const std::string& label) const {
    for (std::size_t i = 0; i < content_.rows.size() && i < rows_.size(); ++i) {
        if (content_.rows[i].kind != Row::Kind::spacer && content_.rows[i].label == label) {
            return &rows_[i];
        }
    }
    return nullptr;
}

QWidget* ProxyPane::rowLabel(const std::string& label) const {
    const auto* entry = row(label);
    return entry != nullptr ? entry->name : nullptr;
}

QString ProxyPane::rowValue(const std::string& label) const {
    const auto* entry = row(label);
    if (entry == nullptr) {
        return {};
    }
    return entry->fact != nullptr ? entry->fact->text() : entry->path->text();
}

TextButton* ProxyPane::copyPathButton(const std::string& label) const {
    const auto* entry = row(label);
    return entry != nullptr ? entry->copy : nullptr;
}

TextButton* ProxyPane::showPathButton(const std::string& label) const {
    const auto* entry = row(label);
    return entry != nullptr ? entry->show : nullptr;
}

void ProxyPane::copyDiagnostics() {
    const auto& found = diagnostics_.diagnostics();
    if (!found) {
        return;
    }
    const auto version = services_.appVersion ? services_.appVersion() : std::nullopt;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(found->supportSummary(version)));
    copies_.copiedSummary();
    refresh();
}

void ProxyPane::copyPath(const std::string& path) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(path));
    copies_.copiedPath(path);
    refresh();
}

void ProxyPane::restyle() {
    const Palette colours = Palette::current();
    Typography::style(restartText_, Typography::caption(), colours.orange);
    Typography::style(verdict_, Typography::system(12), colours.primary);
    Typography::style(detailsTitle_, Typography::system(13, QFont::DemiBold), colours.primary);
    for (const auto& entry : rows_) {
        styleRow(entry);
    }
}

void ProxyPane::styleRow(const DetailRow& entry) {
    const Palette colours = Palette::current();
    if (entry.name != nullptr) {
        Typography::style(entry.name, Typography::caption(), colours.secondary);
    }
    if (entry.fact != nullptr) {
        Typography::style(entry.fact, Typography::caption(), colours.primary);
    }
    if (entry.path != nullptr) {
        entry.path->setFont(Typography::caption());
        entry.path->setColour(colours.primary);
        for (auto* button : {entry.copy, entry.show}) {
            button->setFont(Typography::caption());
            button->setColours(colours.blue, colours.blue.darker(120));
        }
    }
}

} // namespace meterly::ui
