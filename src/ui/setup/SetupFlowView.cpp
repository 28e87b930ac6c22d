#include "ui/setup/SetupFlowView.hpp"

#include "state/SetupModel.hpp"
#include "ui/setup/DisconnectButton.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/Spinner.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace meterly::ui {

using Content = SetupFlowContent;

namespace {

QLabel* wrapping(QWidget* parent) {
    auto* label = PlainText::label(parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

SetupFlowView::SetupFlowView(state::SetupModel& model, std::function<void()> dismiss,
                             QWidget* parent)
    : QWidget(parent), model_(model), dismiss_(std::move(dismiss)), busy_(new QWidget(this)),
      spinner_(Spinner::create(busy_)), busyText_(PlainText::label(busy_)),
      screen_(new QWidget(this)), headline_(wrapping(screen_)), value_(wrapping(screen_)),
      body_(wrapping(screen_)), disconnect_(new DisconnectButton(model, screen_)),
      leadingDismiss_(new QPushButton(screen_)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    auto* busyRow = new QHBoxLayout(busy_);
    busyRow->setContentsMargins(0, 0, 0, 0);
    busyRow->setSpacing(8);
    busyRow->addWidget(spinner_, 0, Qt::AlignVCenter);
    busyRow->addWidget(busyText_, 1, Qt::AlignVCenter);
    column->addWidget(busy_);

    auto* rows = new QVBoxLayout(screen_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(12);
    rows->addWidget(headline_);
    // The other base URL or the failure message: verbatim, selectable, on the text background.
    value_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    rows->addWidget(value_);
    rows->addWidget(body_);
    // The bullets stand in the screen's own column, so that their wrapped lines get the height
    // they need.
    auto* bulletColumn = new QVBoxLayout;
    bulletColumn->setSpacing(6);
    for (int i = 0; i < 3; ++i) {
        auto* bullet = new QHBoxLayout;
        bullet->setSpacing(6);
        auto* mark = PlainText::label(screen_);
        mark->setText(QStringLiteral("•"));
        auto* text = wrapping(screen_);
        bullet->addWidget(mark, 0, Qt::AlignTop);
        bullet->addWidget(text, 1);
        bulletColumn->addLayout(bullet);
        bulletMarks_.push_back(mark);
        bulletTexts_.push_back(text);
    }
    rows->addLayout(bulletColumn);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    // Shown alone on its side of the row, the disconnect control takes the room left.
    buttonRow->addWidget(disconnect_, 1);
    buttonRow->addWidget(leadingDismiss_, 0, Qt::AlignBottom);
    buttonRow->addStretch(0);
    leadingDismiss_->setText(QStringLiteral("Leave it alone"));
    connect(leadingDismiss_, &QPushButton::clicked, this, [this] { trigger(Action::dismiss); });
    for (auto action : {Action::dismiss, Action::reuse, Action::replace, Action::setUp,
                        Action::tryAgain, Action::done, Action::acknowledge}) {
        auto* button = new QPushButton(screen_);
        buttons_[action] = button;
        buttonRow->addWidget(button, 0, Qt::AlignBottom);
        connect(button, &QPushButton::clicked, this, [this, action] { trigger(action); });
    }
    for (auto* button : findChildren<QPushButton*>()) {
        // Return is handled by the flow itself, never by a dialog's default button.
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    rows->addLayout(buttonRow);
    column->addWidget(screen_);

    const auto shortcut = [this](QKeySequence keys, Content::Shortcut which) {
        auto* key = new QShortcut(keys, this);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, [this, which] { pressShortcut(which); });
    };
    shortcut(QKeySequence(Qt::Key_Return), Content::Shortcut::defaultAction);
    shortcut(QKeySequence(Qt::Key_Enter), Content::Shortcut::defaultAction);
    shortcut(QKeySequence(Qt::Key_Escape), Content::Shortcut::cancelAction);

    modelChanged_ = model_.changed().connect([this] { refresh(); });
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    refresh();
}

QPushButton* SetupFlowView::button(Action action, bool leading) const {
    if (leading) {
        return action == Action::dismiss ? leadingDismiss_ : nullptr;
    }
    return buttons_.at(action);
}

void SetupFlowView::refresh() {
    auto next = SetupFlowPresenter::present(model_.state(), model_.needsSessionRestart(),
                                            static_cast<bool>(dismiss_));
    content_ = std::move(next);
    const bool isBusy = content_.screen == Content::Screen::busy;
    busy_->setVisible(isBusy);
    screen_->setVisible(!isBusy);
    busyText_->setText(QString::fromStdString(content_.busyText));

    headline_->setVisible(!content_.headline.empty());
    headline_->setText(QString::fromStdString(content_.headlineMark + content_.headline));
    value_->setVisible(content_.showsValue);
    value_->setText(QString::fromStdString(content_.selectableValue));
    body_->setVisible(!content_.body.empty());
    body_->setText(QString::fromStdString(content_.body));
    for (std::size_t i = 0; i < bulletTexts_.size(); ++i) {
        bulletTexts_[i]->setVisible(i < content_.bullets.size());
        bulletMarks_[i]->setVisible(i < content_.bullets.size());
        bulletTexts_[i]->setText(
            i < content_.bullets.size() ? QString::fromStdString(content_.bullets[i]) : QString());
    }
    disconnect_->setVisible(content_.showsDisconnect);
    if (!content_.showsDisconnect) {
        disconnect_->setConfirming(false);
    }

    leadingDismiss_->setVisible(false);
    for (auto& [action, button] : buttons_) {
        button->setVisible(false);
    }
    for (const auto& shown : content_.leadingButtons) {
        if (shown.action == Action::dismiss) {
            leadingDismiss_->setText(QString::fromStdString(shown.title));
            leadingDismiss_->setVisible(true);
        }
    }
    for (const auto& shown : content_.trailingButtons) {
        auto* button = buttons_.at(shown.action);
        button->setText(QString::fromStdString(shown.title));
        button->setVisible(true);
    }
    // The default button looks like one, though Return is handled here.
    for (auto& [action, button] : buttons_) {
        const auto* answering =
            SetupFlowPresenter::buttonFor(content_, Content::Shortcut::defaultAction);
        button->setProperty("defaultAction", answering != nullptr && answering->action == action);
    }
    restyle();
    if (QWidget* top = window(); top != nullptr && top->isVisible() && top != this) {
        top->adjustSize();
    }
}

bool SetupFlowView::pressShortcut(Content::Shortcut shortcut) {
    if (!isVisible() && parentWidget() != nullptr) {
        return false;
    }
    const auto* answering = SetupFlowPresenter::buttonFor(content_, shortcut);
    if (answering == nullptr) {
        return false;
    }
    trigger(answering->action);
    return true;
}

void SetupFlowView::trigger(Action action) {
    switch (action) {
    case Action::dismiss:
        if (dismiss_) {
            dismiss_();
        }
        return;
    case Action::setUp:
        model_.setUp();
        return;
    case Action::done:
        model_.acknowledgeSessionRestart();
        if (dismiss_) {
            dismiss_();
        }
        return;
    case Action::acknowledge:
        model_.acknowledgeSessionRestart();
        return;
    case Action::reuse:
        model_.resolveConflict(true);
        return;
    case Action::replace:
        model_.resolveConflict(false);
        return;
    case Action::tryAgain:
        model_.retry();
        return;
    }
}

void SetupFlowView::restyle() {
    const Palette colours = Palette::current();
    const QFont caption = Typography::caption();
    Typography::style(busyText_, caption, colours.secondary);
    QFont headlineFont = caption;
    if (content_.headlineIsBold) {
        headlineFont.setWeight(QFont::DemiBold);
    }
    Typography::style(headline_, headlineFont, colours.colour(content_.headlineColour));
    QFont valueFont = caption;
    if (content_.valueIsBoxed) {
        valueFont.setFamily(QStringLiteral("monospace"));
        valueFont.setStyleHint(QFont::Monospace);
    }
    value_->setFont(valueFont);
    const QColor ink = colours.colour(content_.valueColour);
    value_->setStyleSheet(
        content_.valueIsBoxed
            ? QStringLiteral("QLabel { background: %1; color: %2; border-radius: 4px; "
                             "padding: 6px; }")
                  .arg(QGuiApplication::palette().color(QPalette::Base).name(),
                       ink.name(QColor::HexArgb))
            : QStringLiteral("QLabel { color: %1; }").arg(ink.name(QColor::HexArgb)));
    Typography::style(body_, caption, colours.colour(content_.bodyColour));
    for (auto* label : bulletTexts_) {
        Typography::style(label, caption, colours.secondary);
    }
    for (auto* label : bulletMarks_) {
        Typography::style(label, caption, colours.secondary);
    }
}

} // namespace meterly::ui
