// Dialog units to pixels: the dialogs keep the proportions of their templates, where one unit is
// about 1.5 px across and 1.6 px down. Header only; no state.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <cmath>

class QLabel;
class QLineEdit;
class QFrame;
class QWidget;

namespace corvane {

namespace DialogUnits {
inline int X(int units)
{
    return static_cast<int>(std::lround(units * 1.5));
}
inline int Y(int units)
{
    return static_cast<int>(std::lround(units * 1.6));
}
// A template rectangle (left, top, width, height) in pixels.
inline QRect Rect(int left, int top, int width, int height)
{
    return QRect(X(left), Y(top), X(width), Y(height));
}
inline QSize Size(int width, int height)
{
    return QSize(X(width), Y(height));
}
} // namespace DialogUnits

namespace DialogUnits {
// A static picture of resource number filling rect (dialog units); bordered draws a sunken edge.
QLabel* AddPicture(QWidget* dialog, int number, QRect unitRect, bool bordered);
// A sunken horizontal rule one unit high at rect (dialog units).
QFrame* AddRule(QWidget* dialog, QRect unitRect);
// A label at rect (pixels, from U()); wraps when the rect is taller than one line. A one-line
// text wider than its rect grows it: to the left for a label that stands before an edit field
// (alignRight), else to the right, so that no text is cut off with the desktop's fonts.
QLabel* AddLabel(QWidget* dialog, const QString& text, QRect rect, bool alignRight = false);
// The rectangle inside edit (its own coordinates) where the style and the edit's margins leave
// room for text.
QRect LineEditTextRect(const QLineEdit& edit);
// The width edit needs to show text whole at its font, without scrolling.
int LineEditWidthFor(const QLineEdit& edit, const QString& text);
// Gives the dialog the 8-point font that the templates' units are measured in.
void SetTemplateFont(QWidget* dialog);
// Gives the dialog its fixed template size, the standard caption buttons of a modal frame and
// the template font. Call before adding controls.
void SetTemplateSize(QWidget* dialog, int width, int height);
inline QRect U(int left, int top, int width, int height)
{
    return Rect(left, top, width, height);
}
} // namespace DialogUnits

} // namespace corvane
