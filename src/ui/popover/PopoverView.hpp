#pragma once

#include "ui/popover/PopoverActions.hpp"
#include "ui/popover/PopoverContent.hpp"

#include <QWidget>

class QLabel;

namespace meterly::ui {

class Divider;
class HistorySection;
class NoticeView;
class PopoverHeader;
class SessionGateRow;
class TextButton;
class UpdateBanner;
class UsageCreditsRow;
class WindowFillChart;
class WindowRow;

// The popover's content: header, update banner, limits, today's windows, the window-fill chart,
// the history, "Open Claude" and the footer, 240 points wide. Every row is made once; new content
// shows, hides and updates them, so a hover or a pressed button survives the one-second tick.
class PopoverView : public QWidget {
    Q_OBJECT
public:
    static constexpr int popoverWidth = 240;
    static constexpr int padding = 14;
    static constexpr int spacing = 14;

    explicit PopoverView(PopoverActions actions, QWidget* parent = nullptr);

    void setContent(const PopoverContent& content);
    const PopoverContent& content() const { return content_; }
    // What a freshly shown popover starts with (the "not installed" line hidden).
    void resetViewState();

    PopoverHeader* header() const { return header_; }
    UpdateBanner* banner() const { return banner_; }
    NoticeView* notConnected() const { return notConnected_; }
    NoticeView* waiting() const { return waiting_; }
    WindowRow* fiveHourRow() const { return windowRows_[0]; }
    WindowRow* sevenDayRow() const { return windowRows_[1]; }
    WindowRow* windowRow(std::size_t index) const { return windowRows_[index]; }
    SessionGateRow* sessionGate() const { return sessionGate_; }
    WindowFillChart* windowFill() const { return windowFill_; }
    HistorySection* history() const { return history_; }
    UsageCreditsRow* credits() const { return credits_; }
    TextButton* settingsButton() const { return settings_; }
    QLabel* versionFooter() const { return version_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void restyle();

    PopoverActions actions_;
    PopoverContent content_;
    bool filled_ = false;
    PopoverHeader* header_;
    UpdateBanner* banner_;
    NoticeView* notConnected_;
    NoticeView* waiting_;
    WindowRow* windowRows_[2];
    SessionGateRow* sessionGate_;
    WindowFillChart* windowFill_;
    Divider* historyDivider_;
    HistorySection* history_;
    Divider* footerDivider_;
    UsageCreditsRow* credits_;
    TextButton* settings_;
    QLabel* version_;
};

} // namespace meterly::ui
