#include "ui/HoverButton.h"

#include <QEnterEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QSvgRenderer>

namespace corvane {

QSize PictureSize(const QString& path)
{
    if (path.endsWith(".svg", Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        return renderer.isValid() ? renderer.defaultSize() : QSize();
    }
    QImageReader reader(path);
    return reader.canRead() ? reader.size() : QSize();
}

QPixmap LoadPicture(const QString& path, QSize size, qreal pixelRatio)
{
    if (size.isEmpty())
        return QPixmap();
    if (path.endsWith(".svg", Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        if (!renderer.isValid())
            return QPixmap();
        QImage image(size * pixelRatio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            renderer.render(&painter);
        }
        image.setDevicePixelRatio(pixelRatio);
        return QPixmap::fromImage(image);
    }
    QImage image(path);
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

CHoverButton::CHoverButton(QWidget* parent)
    : QAbstractButton(parent)
{
    setAttribute(Qt::WA_Hover, true);
    // Reached by Tab and F6, not by a click: a click on the pane leaves the keyboard where it
    // was (with the tree, whose Edit keys the user goes on using).
    setFocusPolicy(Qt::TabFocus);
}

bool CHoverButton::LoadButtonBitmap(const QString& path)
{
    const QSize size = PictureSize(path);
    QPixmap loaded = LoadPicture(path, size, devicePixelRatioF());
    if (loaded.isNull())
        return false;
    bitmap = std::move(loaded);
    frameWidth = size.width() / 3;
    frameHeight = size.height();
    resize(frameWidth, frameHeight);
    update();
    return true;
}

void CHoverButton::SetTooltipText(const QString& text, bool activate)
{
    if (text.isEmpty())
        return;
    toolTipText = text;
    toolTipActive = activate;
    setToolTip(activate ? toolTipText : QString());
}

int CHoverButton::CurrentFrame() const
{
    if (isDown())
        return 1;
    return hovering ? 2 : 0;
}

void CHoverButton::paintEvent(QPaintEvent*)
{
    if (bitmap.isNull())
        return;
    QPainter painter(this);
    const qreal ratio = bitmap.devicePixelRatio();
    const QRectF source(
        CurrentFrame() * frameWidth * ratio, 0, frameWidth * ratio, frameHeight * ratio);
    painter.drawPixmap(QRectF(0, 0, frameWidth, frameHeight), bitmap, source);
    if (hasFocus()) {
        // The picture carries no focus mark of its own; without one the keyboard's place on the
        // pane could not be seen.
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void CHoverButton::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat())
            animateClick();
        event->accept();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        // The pane moves between its own buttons; the button's default would walk the whole
        // window's Tab chain.
        event->ignore();
        return;
    default:
        QAbstractButton::keyPressEvent(event);
    }
}

void CHoverButton::enterEvent(QEnterEvent* event)
{
    hovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event)
{
    hovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CHoverButton::changeEvent(QEvent* event)
{
    // A hidden or disabled button gets no leave notice; it must not come back highlighted.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        hovering = false;
        update();
    }
    QAbstractButton::changeEvent(event);
}

void CHoverButton::hideEvent(QHideEvent* event)
{
    // The synchronize pair swaps under the pointer: the button hidden gets no leave notice, and
    // must not show the pointer-over frame when it comes back.
    hovering = false;
    QAbstractButton::hideEvent(event);
}

} // namespace corvane
