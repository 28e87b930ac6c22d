#pragma once

#include <QWidget>
#include <functional>

class QLabel;

namespace meterly::ui {

class TextButton;

// "Usage credits" with "Open Claude", and the red line when no Claude application is installed.
class UsageCreditsRow : public QWidget {
    Q_OBJECT
public:
    // Opens the Claude application and reports whether one was there to open.
    using OpenClaude = std::function<void(std::function<void(bool installed)>)>;

    explicit UsageCreditsRow(QWidget* parent = nullptr);

    void setOpenAction(OpenClaude open);
    // Back to the state of a new row (the "not installed" line hidden).
    void reset();
    bool notInstalled() const { return notInstalled_; }
    TextButton* openButton() const { return open_; }

protected:
private:
    void open();
    void restyle();

    QLabel* title_;
    TextButton* open_;
    QLabel* missing_;
    bool notInstalled_ = false;
    OpenClaude openAction_;
};

} // namespace meterly::ui
