// A picture button with three frames side by side in one picture: normal on the left, pressed in
// the middle, pointer over it on the right, and the style's focus mark over it while it has the
// keyboard focus (no text). Space and Enter press it; the arrow keys are left to its parent.
// GUI thread only.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

namespace corvane {

class CHoverButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CHoverButton(QWidget* parent = nullptr);

    // Loads the picture (a resource path such as ":/taskpane/update-all.svg", SVG or PNG) and
    // resizes the button to one frame, keeping its position. Returns false when the picture
    // cannot be loaded; the button then keeps its size and draws nothing.
    bool LoadButtonBitmap(const QString& path);

    // Sets the tooltip text; activate false keeps the text but shows no tooltip. An empty text
    // changes nothing.
    void SetTooltipText(const QString& text, bool activate);
    QString TooltipText() const { return toolTipText; }
    bool TooltipActive() const { return toolTipActive; }

    // The frame drawn now: 0 normal, 1 pressed, 2 pointer over it.
    int CurrentFrame() const;
    bool Hovering() const { return hovering; }
    int FrameWidth() const { return frameWidth; }
    int FrameHeight() const { return frameHeight; }
    QSize sizeHint() const override { return QSize(frameWidth, frameHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool hovering = false;
    int frameWidth = 0;
    int frameHeight = 0;
    QPixmap bitmap;
    QString toolTipText;
    bool toolTipActive = false;
};

// Renders a picture file (SVG or anything QImage reads) at size in logical pixels, sharp on
// screens of the given pixel ratio. A null pixmap when the file cannot be read.
QPixmap LoadPicture(const QString& path, QSize size, qreal pixelRatio);
// The natural size of a picture file in logical pixels; empty when it cannot be read.
QSize PictureSize(const QString& path);

} // namespace corvane
