#include "ui/settings/SettingsView.hpp"

#include "state/SettingsRoute.hpp"
#include "state/UsageViewModel.hpp"
#include "ui/settings/GeneralPane.hpp"
#include "ui/settings/NotificationsPane.hpp"
#include "ui/settings/ProxyPane.hpp"
#include "ui/settings/SettingsPresenter.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace meterly::ui {

using Pane = state::SettingsPane;

namespace {

constexpr int paneRole = Qt::UserRole + 1;

QIcon paneIcon(Pane pane) {
    switch (pane) {
    case Pane::general:
        return QIcon::fromTheme(QStringLiteral("preferences-system"));
    case Pane::proxy:
        return QIcon::fromTheme(QStringLiteral("network-transmit-receive"));
    case Pane::notifications:
        return QIcon::fromTheme(QStringLiteral("preferences-desktop-notification"));
    }
    return {};
}

} // namespace

SettingsView::SettingsView(state::UsageViewModel& model, state::SetupModel& setup,
                           state::SettingsRoute& route, state::MainExecutor& main,
                           state::BlockingWorker& worker,
                           std::shared_ptr<const state::TextFormatter> texts, Services services,
                           QWidget* parent)
    : QWidget(parent), setup_(setup), route_(route),
      diagnostics_(std::make_unique<state::DiagnosticsRefresh>(std::move(services.diagnostics))),
      sidebar_(new QListWidget(this)), scroll_(new QScrollArea(this)), title_(PlainText::label()),
      panes_(new QStackedWidget) {
    auto* split = new QHBoxLayout(this);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);

    sidebar_->setFixedWidth(180);
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setIconSize(QSize(16, 16));
    sidebar_->setSpacing(1);
    sidebar_->setStyleSheet(QStringLiteral("QListWidget { padding: 10px 8px; } "
                                           "QListWidget::item { padding: 4px 6px; "
                                           "border-radius: 5px; } "
                                           "QListWidget::item:selected { "
                                           "background: palette(highlight); "
                                           "color: palette(highlighted-text); }"));
    for (auto pane : state::allSettingsPanes) {
        auto* item = new QListWidgetItem(paneIcon(pane),
                                         QString::fromStdString(SettingsPresenter::title(pane)));
        item->setData(paneRole, static_cast<int>(pane));
        sidebar_->addItem(item);
    }
    split->addWidget(sidebar_);

    auto* detail = new QWidget;
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addWidget(title_);
    general_ = new GeneralPane(std::move(services.loginItem), worker, services.version,
                               std::move(services.updates));
    proxy_ = new ProxyPane(model, setup, *diagnostics_, main, texts,
                           {std::move(services.reveal), std::move(services.appVersion)});
    notifications_ = new NotificationsPane(model);
    for (QWidget* pane : {static_cast<QWidget*>(general_), static_cast<QWidget*>(proxy_),
                          static_cast<QWidget*>(notifications_)}) {
        panes_->addWidget(pane);
    }
    column->addWidget(panes_);
    column->addStretch(1);
    detail->setFixedWidth(420);
    scroll_->setWidget(detail);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    split->addWidget(scroll_);
    setFixedSize(600, 560);

    connect(sidebar_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        route_.setPane(item == nullptr
                           ? std::nullopt
                           : std::optional(static_cast<Pane>(item->data(paneRole).toInt())));
    });
    routeChanged_ = route_.changed().connect([this] { followRoute(); });
    setupChanged_ = setup_.changed().connect([this] {
        // A new setup state (not the first one seen) reads the diagnostics again.
        const auto& now = setup_.state();
        if (lastSetupState_ && *lastSetupState_ != now) {
            diagnostics_->refresh();
        }
        lastSetupState_ = now;
    });
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    followRoute();
}

SettingsView::~SettingsView() {
    routeChanged_.reset();
    setupChanged_.reset();
}

QWidget* SettingsView::shownPane() const {
    return panes_->currentWidget();
}

void SettingsView::followRoute() {
    const auto pane = route_.pane();
    title_->setText(QString::fromStdString(SettingsPresenter::title(pane)));
    const auto shown = SettingsPresenter::shownPane(pane);
    panes_->setCurrentIndex(static_cast<int>(shown));
    // The pages are as tall as the one shown.
    for (int i = 0; i < panes_->count(); ++i) {
        panes_->widget(i)->setSizePolicy(QSizePolicy::Preferred, i == panes_->currentIndex()
                                                                     ? QSizePolicy::Preferred
                                                                     : QSizePolicy::Ignored);
    }
    panes_->adjustSize();
    QListWidgetItem* selected = nullptr;
    if (pane) {
        selected = sidebar_->item(static_cast<int>(*pane));
    }
    if (sidebar_->currentItem() != selected) {
        const QSignalBlocker quiet(sidebar_);
        sidebar_->setCurrentItem(selected);
        if (selected == nullptr) {
            sidebar_->clearSelection();
        }
    }
}

void SettingsView::showEvent(QShowEvent* event) {
    // Every opening reads the settings and then the diagnostics afresh.
    setup_.refresh();
    lastSetupState_ = setup_.state();
    diagnostics_->refresh();
    QWidget::showEvent(event);
}

void SettingsView::restyle() {
    Typography::style(title_, Typography::system(15, QFont::DemiBold), Palette::current().primary);
}

} // namespace meterly::ui
