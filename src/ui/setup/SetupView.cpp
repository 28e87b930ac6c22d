#include "ui/setup/SetupView.hpp"

#include "state/SetupModel.hpp"
#include "ui/setup/SetupFlowView.hpp"
#include "ui/theme/Palette.hpp"
#include "ui/theme/ThemeWatch.hpp"
#include "ui/theme/Typography.hpp"
#include "ui/widgets/PlainText.hpp"

#include <QLabel>
#include <QVBoxLayout>

namespace meterly::ui {

SetupView::SetupView(state::SetupModel& model, QWidget* parent)
    : QWidget(parent), model_(model), heading_(PlainText::label(this)),
      flow_(new SetupFlowView(
          model, [this] { window()->close(); }, this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    heading_->setText(QString::fromUtf8(SetupWindow::title));
    column->addWidget(heading_);
    column->addWidget(flow_);
    column->addStretch(1);
    setFixedWidth(380);
    ThemeWatch::follow(this, [this] { restyle(); });
    restyle();
}

void SetupView::restyle() {
    Typography::style(heading_, Typography::system(13, QFont::DemiBold),
                      Palette::current().primary);
}

void SetupView::showEvent(QShowEvent* event) {
    model_.refresh();
    QWidget::showEvent(event);
}

} // namespace meterly::ui
