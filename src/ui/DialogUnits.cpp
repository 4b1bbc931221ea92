#include "ui/DialogUnits.h"

#include "ui/Resources.h"

#include <algorithm>

#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>

namespace corvane {

namespace DialogUnits {

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
    const bool wraps = rect.height() > Y(12);
    if (!wraps) {
        const int needed = label->fontMetrics().horizontalAdvance(text) + 2;
        const int roomRight = dialog->width() - X(7) - rect.left();
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

void SetTemplateFont(QWidget* dialog)
{
    QFont font = dialog->font();
    font.setPointSize(8);
    dialog->setFont(font);
}

void SetTemplateSize(QWidget* dialog, int width, int height)
{
    SetTemplateFont(dialog);
    dialog->setFixedSize(Size(width, height));
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

} // namespace DialogUnits

} // namespace corvane
