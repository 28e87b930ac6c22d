#pragma once

#include <QWidget>

namespace meterly::ui {

// A horizontal hairline across the popover.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace meterly::ui
