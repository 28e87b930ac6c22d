#pragma once

#include <QColor>
#include <QWidget>

namespace meterly::ui {

// Plain text wrapped to the width and cut after a number of lines, the last one ending in "…".
// It always takes the full height of the lines it shows.
class LineLimitedLabel : public QWidget {
    Q_OBJECT
public:
    LineLimitedLabel(int maximumLines, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setColour(const QColor& colour);

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
    QString text_;
    QColor colour_;
};

} // namespace meterly::ui
