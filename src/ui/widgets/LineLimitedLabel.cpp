#include "ui/widgets/LineLimitedLabel.hpp"

#include <QFontMetrics>
#include <QTextLayout>

namespace meterly::ui {

LineLimitedLabel::LineLimitedLabel(int maximumLines, QWidget* parent)
    : PaintedLabel(parent), maximumLines_(std::max(1, maximumLines)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList LineLimitedLabel::lines(int width) const {
    QStringList result;
    if (text().isEmpty() || width <= 0) {
        return result;
    }
    // Line feeds in the text are kept as line breaks.
    QString text = this->text();
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (result.size() == maximumLines_ - 1) {
            // The last line shown takes the rest of the text, cut at its end.
            const QString rest = text.mid(line.textStart()).replace(QChar::LineSeparator, ' ');
            result << QFontMetrics(font()).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        result
            << text.mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator).trimmed();
    }
    layout.endLayout();
    return result;
}

int LineLimitedLabel::heightForWidth(int width) const {
    return static_cast<int>(lines(width).size()) * QFontMetrics(font()).lineSpacing();
}

QSize LineLimitedLabel::sizeHint() const {
    return {QFontMetrics(font()).horizontalAdvance(text().left(40)), heightForWidth(width())};
}

QSize LineLimitedLabel::minimumSizeHint() const {
    return {0, heightForWidth(width())};
}

void LineLimitedLabel::paintEvent(QPaintEvent*) {
    paintLines(lines(width()), QFontMetrics(font()).lineSpacing());
}

} // namespace meterly::ui
