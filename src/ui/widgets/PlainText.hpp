#pragma once

#include <QString>

class QAbstractButton;
class QLabel;
class QWidget;

namespace meterly::ui {

// Outside text (notes from the feed, paths, base URLs, model and project names) is always shown
// as plain text: no markup is interpreted and no "&" becomes a keyboard mnemonic.
class PlainText {
public:
    PlainText() = delete;

    // A tool tip that shows `text` literally (Qt would take text that looks like markup as
    // rich text).
    static QString toolTip(const QString& text);
    // A button title that shows `text` literally ("&" doubled).
    static QString buttonTitle(const QString& text);

    // A label fixed to plain text.
    static QLabel* label(QWidget* parent = nullptr);
    static void setToolTip(QWidget* widget, const QString& text);
    static void setButtonTitle(QAbstractButton* button, const QString& text);
};

} // namespace meterly::ui
