#pragma once

#include <QAbstractButton>
#include <QColor>

class QVariantAnimation;

namespace meterly::ui {

// A borderless button drawn as its title alone, in one colour (another while the pointer is
// over it, eased over 0.12 s). The title is shown literally: no "&" mnemonic, no markup.
class TextButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TextButton(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    const QString& title() const { return title_; }
    void setColours(const QColor& normal, const QColor& hovered);
    bool isHovering() const { return hovering_; }
    // The colour the title is drawn in now.
    QColor currentColour() const;
    // How a title too long for the button is cut (not at all by default: the button is as wide
    // as its title).
    void setElideMode(Qt::TextElideMode mode);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString title_;
    QColor normal_;
    QColor hovered_;
    bool hovering_ = false;
    QColor shown_;
    QVariantAnimation* fade_;
    Qt::TextElideMode elide_ = Qt::ElideNone;
};

} // namespace meterly::ui
