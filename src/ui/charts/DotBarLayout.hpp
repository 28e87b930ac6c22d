#pragma once

#include <QPointF>
#include <QSizeF>
#include <vector>

namespace meterly::ui {

// The geometry of a dot bar: as many columns of `rows` dots as fit a width, centred in the frame.
class DotBarLayout {
public:
    // `rows` below 1 counts as 1.
    DotBarLayout(double dotSpacing, double dotDiameter, int rows);

    double dotSpacing() const { return dotSpacing_; }
    double dotDiameter() const { return dotDiameter_; }
    int rows() const { return rows_; }

    // From the top of the first row to the bottom of the last.
    double height() const;
    // 0 when the width is below one dot.
    int columns(double width) const;
    // One list per column, left to right, of `rows` centres each, top to bottom.
    std::vector<std::vector<QPointF>> dotCentres(QSizeF size) const;
    // How many columns from the left light for `fraction`: any share lights one, and a share
    // below the whole never lights every column.
    static int litColumns(double fraction, int columns);

    bool operator==(const DotBarLayout&) const = default;

private:
    double dotSpacing_;
    double dotDiameter_;
    int rows_;
};

} // namespace meterly::ui
