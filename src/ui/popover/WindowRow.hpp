#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>
#include <functional>

class QLabel;

namespace meterly::ui {

class DotBar;
class TextButton;

// One usage-limit window: title and remaining percentage, the dot bar, the runway warning with
// its hide button, and when the window resets.
class WindowRow : public QWidget {
    Q_OBJECT
public:
    explicit WindowRow(QWidget* parent = nullptr);

    void setContent(const WindowRowContent& content);
    const WindowRowContent& content() const { return content_; }
    void setHideWarningAction(std::function<void()> hide);

    DotBar* dotBar() const { return dotBar_; }
    QWidget* warningRow() const { return warning_; }
    TextButton* hideWarningButton() const { return hideWarning_; }
    QLabel* percentLabel() const { return percent_; }

protected:
private:
    void restyle();

    WindowRowContent content_;
    QLabel* title_;
    QLabel* percent_;
    DotBar* dotBar_;
    QWidget* warning_;
    QLabel* warningText_;
    TextButton* hideWarning_;
    QLabel* resetsIn_;
    QLabel* resetClock_;
    std::function<void()> hideAction_;
};

} // namespace meterly::ui
