// Dialog units to pixels. The templates measure their dialogs in units of the dialog's font: one
// unit across is a quarter of the font's average character width, one unit down an eighth of
// its height, so the whole layout scales with the font the user reads. The helpers below add the
// templates' common controls. GUI thread only.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <span>

class QFont;
class QLabel;
class QLineEdit;
class QFrame;
class QWidget;

namespace corvane {

class CDialogUnits {
public:
    // The base units of font: the width of "A".."Z" "a".."z" over 52, rounded, and the font's
    // height, in the device-independent pixels the widgets are placed in.
    explicit CDialogUnits(const QFont& font);
    // Base units given directly (a widened unit may have a fraction across).
    CDialogUnits(double baseWidth, int baseHeight);

    double BaseWidth() const { return baseWidth; }
    int BaseHeight() const { return baseHeight; }

    int X(int units) const;
    int Y(int units) const;
    // A template rectangle (left, top, width, height) in pixels. Its edges are mapped, not its
    // size, so controls that touch in the template touch on the screen.
    QRect Rect(int left, int top, int width, int height) const;
    QRect operator()(int left, int top, int width, int height) const
    {
        return Rect(left, top, width, height);
    }
    QSize Size(int width, int height) const;

    // Widens the unit across, never narrows it, so that pixels fit into units across: a text
    // that does not fit its template rectangle at the user's font grows the whole dialog rather
    // than being cut.
    void WidenToFit(int pixels, int units);

private:
    double baseWidth;
    int baseHeight;
};

namespace DialogUnits {
// A widget whose text must fit across within room units of the template, from its left edge in
// units. The room may reach past the widget's own rectangle into free space beside it.
struct TextRoom {
    QWidget* widget;
    int left;
    int room;
};
// units widened so that every text's size hint fits its room.
CDialogUnits FitTexts(CDialogUnits units, std::span<const TextRoom> texts);

// Remembers rect (template units) as widget's place, and returns widget. PlaceControls puts it
// there; the place is kept so that the dialog can be laid out again at other units.
template <typename Widget> Widget* SetTemplatePlace(Widget* widget, QRect rect);
// Places every child of dialog that has a template place at that place in pixels of units.
void PlaceControls(QWidget* dialog, const CDialogUnits& units);
// The template place of widget; a null rectangle when it has none.
QRect TemplatePlace(const QWidget* widget);

// A static picture of resource number filling rect (pixels); bordered draws a sunken edge.
QLabel* AddPicture(QWidget* dialog, int number, QRect rect, bool bordered);
// A sunken horizontal rule one unit high at rect (pixels).
QFrame* AddRule(QWidget* dialog, QRect rect);
// A label at rect (pixels); wraps when the rect is taller than one line. A one-line text wider
// than its rect grows it: to the left for a label that stands before an edit field
// (alignRight), else to the right, so that no text is cut off.
QLabel* AddLabel(QWidget* dialog, const QString& text, QRect rect, bool alignRight = false);
// Makes label the visible name of control: its buddy, and the accessible name a screen reader
// says when control takes the focus (a control without a text of its own has no other name).
void NameBy(QLabel* label, QWidget* control);
// The rectangle inside edit (its own coordinates) where the style and the edit's margins leave
// room for text.
QRect LineEditTextRect(const QLineEdit& edit);
// The width edit needs to show text whole at its font, without scrolling.
int LineEditWidthFor(const QLineEdit& edit, const QString& text);
// Gives the dialog its fixed template size in the units of its font and the standard caption
// buttons of a modal frame, and returns those units. Call before adding controls.
CDialogUnits SetTemplateSize(QWidget* dialog, int width, int height);
void StoreTemplatePlace(QWidget* widget, QRect rect);
template <typename Widget> Widget* SetTemplatePlace(Widget* widget, QRect rect)
{
    StoreTemplatePlace(widget, rect);
    return widget;
}
} // namespace DialogUnits

} // namespace corvane
