#include "ui/setup/DisconnectButton.hpp"

#include "state/SetupModel.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

namespace meterly::ui {
namespace {

// A plain button: its content alone, no bezel; pressed by a click or by the space bar.
class PlainButton : public QWidget {
public:
    PlainButton(std::function<void()> pressed, QWidget* parent)
        : QWidget(parent), pressed_(std::move(pressed)) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            pressed_();
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Space) {
            pressed_();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    std::function<void()> pressed_;
};

} // namespace

DisconnectButton::DisconnectButton(state::SetupModel& model, QWidget* parent)
    : QWidget(parent), model_(model), ask_(new PlainButton([this] { setConfirming(true); }, this)),
      askTitle_(PlainText::label()), askText_(PlainText::label()), confirm_(new QWidget(this)),
      question_(PlainText::label(confirm_)), questionText_(PlainText::label(confirm_)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), confirm_)),
      disconnect_(new QPushButton(QStringLiteral("Disconnect"), confirm_)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);

    // The plain button: two lines of text, no bezel.
    ask_->setAccessibleName(QStringLiteral("Disconnect Claude Code"));
    auto* askColumn = new QVBoxLayout(ask_);
    askColumn->setContentsMargins(0, 0, 0, 0);
    askColumn->setSpacing(2);
    askTitle_->setText(QStringLiteral("Disconnect Claude Code"));
    askText_->setText(QString::fromUtf8(explanation));
    askText_->setWordWrap(true);
    for (auto* label : {askTitle_, askText_}) {
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        askColumn->addWidget(label);
    }
    column->addWidget(ask_);

    auto* confirmColumn = new QVBoxLayout(confirm_);
    confirmColumn->setContentsMargins(0, 0, 0, 0);
    confirmColumn->setSpacing(5);
    question_->setText(QStringLiteral("Disconnect Claude Code from Meterly?"));
    questionText_->setText(QString::fromUtf8(explanation));
    questionText_->setWordWrap(true);
    question_->setWordWrap(true);
    confirmColumn->addWidget(question_);
    confirmColumn->addWidget(questionText_);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(cancel_);
    buttons->addWidget(disconnect_);
    buttons->addStretch(1);
    confirmColumn->addLayout(buttons);
    column->addWidget(confirm_);

    for (auto* button : {cancel_, disconnect_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    connect(cancel_, &QPushButton::clicked, this, [this] { setConfirming(false); });
    connect(disconnect_, &QPushButton::clicked, this, [this] {
        setConfirming(false);
        model_.disconnect();
    });
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
    setConfirming(false);
}

void DisconnectButton::setConfirming(bool confirming) {
    confirming_ = confirming;
    ask_->setVisible(!confirming);
    confirm_->setVisible(confirming);
}

void DisconnectButton::restyle() {
    const Palette colours = Palette::current();
    const QFont callout = Typography::system(12, QFont::DemiBold);
    Typography::style(askTitle_, callout, colours.red);
    Typography::style(askText_, Typography::caption2(), colours.tertiary);
    Typography::style(question_, callout, colours.primary);
    Typography::style(questionText_, Typography::caption(), colours.secondary);
    for (auto* button : {cancel_, disconnect_}) {
        button->setFont(Typography::caption());
    }
    disconnect_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; "
                       "border-radius: 5px; padding: 3px 10px; }")
            .arg(colours.red.name()));
}

} // namespace meterly::ui
