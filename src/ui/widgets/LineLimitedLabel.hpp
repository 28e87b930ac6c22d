#pragma once

#include "ui/widgets/PaintedLabel.hpp"

namespace meterly::ui {

// Plain text wrapped to the width and cut after a number of lines, the last one ending in "…".
// It always takes the full height of the lines it shows.
class LineLimitedLabel : public PaintedLabel {
    Q_OBJECT
public:
    LineLimitedLabel(int maximumLines, QWidget* parent = nullptr);

    // The lines shown at `width`.
    QStringList lines(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int maximumLines_;
};

} // namespace meterly::ui
