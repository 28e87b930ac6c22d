#include "ui/widgets/Spinner.hpp"

#include <QProgressBar>

namespace meterly::ui {

QProgressBar* Spinner::create(QWidget* parent, int height) {
    auto* spinner = new QProgressBar(parent);
    // Indeterminate: a range of 0 to 0 makes the bar run without end.
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(width, height);
    return spinner;
}

} // namespace meterly::ui
