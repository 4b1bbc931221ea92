#include "ui/DialogUnits.h"

#include "ui/Resources.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVariant>
#include <QWidget>

namespace corvane {

namespace {
// The alphabet whose mean width is the average character width of a font's base unit.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;
} // namespace

CDialogUnits::CDialogUnits(const QFont& font)
    : CDialogUnits(0, 0)
{
    const QFontMetricsF metrics(font);
    baseWidth = std::round(metrics.horizontalAdvance(QLatin1String(kAlphabet)) / kAlphabetLength);
    baseHeight = static_cast<int>(std::ceil(metrics.height()));
}

CDialogUnits::CDialogUnits(double baseWidth_, int baseHeight_)
    : baseWidth(baseWidth_)
    , baseHeight(baseHeight_)
{ }

int CDialogUnits::X(int units) const
{
    return static_cast<int>(std::lround(units * baseWidth / 4));
}

int CDialogUnits::Y(int units) const
{
    return static_cast<int>(std::lround(units * baseHeight / 8.0));
}

QRect CDialogUnits::Rect(int left, int top, int width, int height) const
{
    return QRect(QPoint(X(left), Y(top)), QPoint(X(left + width) - 1, Y(top + height) - 1));
}

QSize CDialogUnits::Size(int width, int height) const
{
    return QSize(X(width), Y(height));
}

void CDialogUnits::WidenToFit(int pixels, int units)
{
    if (units <= 0)
        return;
    // Either edge of a span may round by half a pixel: one pixel to spare holds pixels wherever
    // the span starts.
    baseWidth = std::max(baseWidth, (pixels + 1) * 4.0 / units);
}

namespace DialogUnits {

CDialogUnits FitTexts(CDialogUnits units, std::span<const TextRoom> texts)
{
    for (const TextRoom& text : texts) {
        if (units.X(text.left + text.room) - units.X(text.left) < text.widget->sizeHint().width())
            units.WidenToFit(text.widget->sizeHint().width(), text.room);
    }
    return units;
}

namespace {
constexpr char kTemplatePlaceProperty[] = "corvaneTemplatePlace";
} // namespace

void StoreTemplatePlace(QWidget* widget, QRect rect)
{
    widget->setProperty(kTemplatePlaceProperty, rect);
}

QRect TemplatePlace(const QWidget* widget)
{
    return widget->property(kTemplatePlaceProperty).toRect();
}

void PlaceControls(QWidget* dialog, const CDialogUnits& units)
{
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        const QRect place = TemplatePlace(child);
        if (!place.isNull())
            child->setGeometry(units.Rect(place.x(), place.y(), place.width(), place.height()));
    }
}

QLabel* AddPicture(QWidget* dialog, int number, QRect rect, bool bordered)
{
    auto* picture = new QLabel(dialog);
    picture->setGeometry(rect);
    if (bordered) {
        picture->setFrameShape(QFrame::Panel);
        picture->setFrameShadow(QFrame::Sunken);
        picture->setLineWidth(1);
    }
    const int frame = bordered ? 2 : 0;
    picture->setPixmap(ResourcePicture(number, rect.size() - QSize(2 * frame, 2 * frame)));
    picture->setAlignment(Qt::AlignCenter);
    return picture;
}

QFrame* AddRule(QWidget* dialog, QRect rect)
{
    auto* rule = new QFrame(dialog);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(rect.x(), rect.y(), rect.width(), 2);
    return rule;
}

QLabel* AddLabel(QWidget* dialog, const QString& text, QRect rect, bool alignRight)
{
    auto* label = new QLabel(text, dialog);
    const CDialogUnits units(dialog->font());
    const bool wraps = rect.height() > units.Y(12);
    if (!wraps) {
        const int needed = label->fontMetrics().horizontalAdvance(text) + 2;
        const int roomRight = dialog->width() - units.X(7) - rect.left();
        if (needed > rect.width()) {
            if (alignRight) {
                rect.setLeft(rect.right() + 1 - needed);
            } else if (needed <= roomRight) {
                rect.setWidth(needed);
            } else {
                // Too long for one line even up to the dialog's margin: two lines.
                rect.setWidth(roomRight);
                rect.setHeight(2 * label->fontMetrics().lineSpacing());
                label->setGeometry(rect);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                return label;
            }
        }
        rect.setHeight(std::max(rect.height(), label->fontMetrics().height()));
    } else {
        rect.setHeight(std::max(rect.height(), 2 * label->fontMetrics().lineSpacing()));
    }
    label->setGeometry(rect);
    label->setWordWrap(wraps);
    label->setAlignment((alignRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
    return label;
}

void NameBy(QLabel* label, QWidget* control)
{
    label->setBuddy(control);
    control->setAccessibleName(label->text().remove(QLatin1Char('&')));
}

namespace {
// The edit keeps this much space at each side of its text, inside the style's contents rect,
// and the cursor one pixel past the last character.
constexpr int kLineEditInnerMargin = 2;
constexpr int kCursorWidth = 1;
} // namespace

QRect LineEditTextRect(const QLineEdit& edit)
{
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.rect = edit.rect();
    option.lineWidth = edit.hasFrame()
        ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit)
        : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    QRect rect = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
    rect = rect.marginsRemoved(edit.textMargins());
    return rect.adjusted(kLineEditInnerMargin, 0, -kLineEditInnerMargin, 0);
}

int LineEditWidthFor(const QLineEdit& edit, const QString& text)
{
    const int chrome = edit.width() - LineEditTextRect(edit).width();
    return edit.fontMetrics().horizontalAdvance(text) + kCursorWidth + chrome;
}

CDialogUnits SetTemplateSize(QWidget* dialog, int width, int height)
{
    const CDialogUnits units(dialog->font());
    dialog->setFixedSize(units.Size(width, height));
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    return units;
}

} // namespace DialogUnits

} // namespace corvane
