#include "ui/charts/DotBarLayout.hpp"

#include "ui/widgets/Share.hpp"

#include <algorithm>
#include <cmath>

namespace meterly::ui {

DotBarLayout::DotBarLayout(double dotSpacing, double dotDiameter, int rows)
    : dotSpacing_(dotSpacing), dotDiameter_(dotDiameter), rows_(std::max(rows, 1)) {}

double DotBarLayout::height() const {
    return dotDiameter_ + dotSpacing_ * (rows_ - 1);
}

int DotBarLayout::columns(double width) const {
    if (!(width >= dotDiameter_) || !(dotSpacing_ > 0)) {
        return width >= dotDiameter_ ? 1 : 0;
    }
    return static_cast<int>(std::floor((width - dotDiameter_) / dotSpacing_)) + 1;
}

std::vector<std::vector<QPointF>> DotBarLayout::dotCentres(QSizeF size) const {
    std::vector<std::vector<QPointF>> centres;
    const int count = columns(size.width());
    if (count <= 0) {
        return centres;
    }
    const double n = count - 1;
    const double left = (size.width() - dotSpacing_ * n) / 2;
    const double top = (size.height() - dotSpacing_ * (rows_ - 1)) / 2;
    centres.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::vector<QPointF> column;
        column.reserve(static_cast<std::size_t>(rows_));
        for (int j = 0; j < rows_; ++j) {
            column.emplace_back(left + dotSpacing_ * i, top + dotSpacing_ * j);
        }
        centres.push_back(std::move(column));
    }
    return centres;
}

int DotBarLayout::litColumns(double fraction, int columns) {
    if (columns < 1) {
        return 0;
    }
    const double share = clampedShare(fraction);
    auto lit = roundedHalfAway(share * columns);
    if (share > 0 && lit < 1) {
        lit = 1;
    }
    if (share < 1) {
        lit = std::min<std::int64_t>(lit, columns - 1);
    }
    return static_cast<int>(lit);
}

} // namespace meterly::ui
