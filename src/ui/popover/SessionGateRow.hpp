#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>

class QLabel;

namespace meterly::ui {

class SessionSlotStrip;

// "Today's windows": how many five-hour windows are still to be had today, the slot strip and
// when the next one can start.
class SessionGateRow : public QWidget {
    Q_OBJECT
public:
    explicit SessionGateRow(QWidget* parent = nullptr);

    void setContent(const SessionGateContent& content);
    SessionSlotStrip* strip() const { return strip_; }

protected:
private:
    void restyle();

    SessionGateContent content_;
    QLabel* title_;
    QLabel* count_;
    SessionSlotStrip* strip_;
    QLabel* caption_;
};

} // namespace meterly::ui
