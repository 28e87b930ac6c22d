#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>
#include <functional>

class QLabel;

namespace meterly::ui {

class TextButton;

// A title over a wrapping text, with an optional action below: the "Not connected" row (with
// "Set up") and the waiting-for-data notice.
class NoticeView : public QWidget {
    Q_OBJECT
public:
    explicit NoticeView(QWidget* parent = nullptr);

    // The not-connected row: its fixed texts and the "Set up" button.
    static NoticeView* notConnected(std::function<void()> setUp, QWidget* parent = nullptr);

    void setContent(const NoticeContent& content);
    const NoticeContent& content() const { return content_; }
    TextButton* actionButton() const { return action_; }

protected:
private:
    void restyle();

    NoticeContent content_;
    QLabel* title_;
    QLabel* text_;
    TextButton* action_ = nullptr;
    std::function<void()> actionHandler_;
};

} // namespace meterly::ui
