#pragma once

#include "ui/popover/PopoverContent.hpp"

#include <QWidget>
#include <functional>

class QLabel;

namespace meterly::ui {

class PulsingDot;
class TextButton;

// The popover's first row: the live status (pulsing dot and word) on the left, Quit on the
// right, and the latest model's line centred over the row, letting clicks through.
class PopoverHeader : public QWidget {
    Q_OBJECT
public:
    static constexpr int modelLineInset = 46;

    explicit PopoverHeader(QWidget* parent = nullptr);

    void setContent(const HeaderContent& content);
    void setQuitAction(std::function<void()> quit);

    TextButton* quitButton() const { return quit_; }
    QWidget* statusRow() const { return statusRow_; }
    QLabel* modelLine() const { return modelLine_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void restyle();
    void placeModelLine();

    HeaderContent content_;
    QWidget* statusRow_;
    PulsingDot* dot_;
    QLabel* statusLabel_;
    TextButton* quit_;
    QLabel* modelLine_;
    std::function<void()> quitAction_;
};

} // namespace meterly::ui
