#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>
#include <functional>

class QLabel;
class QProgressBar;

namespace meterly::ui {

class LineLimitedLabel;
class TextButton;

// The offer of a newer version: its title, the release notes, and one action or one progress
// line for each stage of the download and installation.
class UpdateBanner : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> update;
        std::function<void()> openNotes;
        std::function<void()> tryAgain;
        std::function<void()> downloadInBrowser;
    };

    explicit UpdateBanner(QWidget* parent = nullptr);

    void setContent(const UpdateBannerContent& content);
    const UpdateBannerContent& content() const { return content_; }
    void setActions(Actions actions);

    TextButton* updateButton() const { return update_; }
    TextButton* notesButton() const { return notes_; }
    TextButton* tryAgainButton() const { return tryAgain_; }
    TextButton* browserButton() const { return browser_; }
    QWidget* idleArea() const { return idle_; }
    QWidget* downloadArea() const { return download_; }
    QWidget* busyArea() const { return busy_; }
    QWidget* failedArea() const { return failed_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void restyle();

    UpdateBannerContent content_;
    Actions actions_;
    QLabel* title_;
    LineLimitedLabel* notesText_;
    QWidget* idle_;
    TextButton* update_;
    TextButton* notes_;
    QWidget* download_;
    QProgressBar* progress_;
    QLabel* progressText_;
    QWidget* busy_;
    QProgressBar* spinner_;
    QLabel* busyText_;
    QWidget* failed_;
    QLabel* failure_;
    TextButton* tryAgain_;
    TextButton* browser_;
};

} // namespace meterly::ui
