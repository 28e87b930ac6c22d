#include "ui/popover/NoticeView.hpp"

#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"
#include "ui/widgets/TextButton.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

NoticeView::NoticeView(QWidget* parent)
    : QWidget(parent), title_(PlainText::label(this)), text_(PlainText::label(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(title_);
    column->addWidget(text_);
    // It never truncates: it wraps onto as many lines as it needs.
    text_->setWordWrap(true);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

NoticeView* NoticeView::notConnected(std::function<void()> setUp, QWidget* parent) {
    auto* view = new NoticeView(parent);
    view->setContent(
        {QStringLiteral("Not connected"),
         QStringLiteral("Claude Code isn't sending its traffic through Meterly yet.")});
    view->action_ = new TextButton(QStringLiteral("Set up"), view);
    view->actionHandler_ = std::move(setUp);
    view->layout()->addWidget(view->action_);
    connect(view->action_, &TextButton::clicked, view, [view] {
        if (view->actionHandler_) {
            view->actionHandler_();
        }
    });
    view->restyle();
    return view;
}

void NoticeView::setContent(const NoticeContent& content) {
    content_ = content;
    title_->setText(content.title);
    text_->setText(content.text);
}

void NoticeView::restyle() {
    const Palette palette = Palette::current();
    Typography::style(title_, Typography::system(12, QFont::Medium), palette.primary);
    Typography::style(text_, Typography::caption(), palette.secondary);
    if (action_ != nullptr) {
        action_->setFont(Typography::caption());
        action_->setColours(palette.blue, palette.blue.lighter(120));
    }
}

} // namespace meterly::ui
