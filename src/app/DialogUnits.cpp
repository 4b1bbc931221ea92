#include "app/DialogUnits.h"

#include "app/Resources.h"

#include <QFrame>
#include <QLabel>
#include <QWidget>

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

QLabel* AddLabel(QWidget* dialog, const QString& text, QRect rect)
{
    auto* label = new QLabel(text, dialog);
    label->setGeometry(rect);
    label->setWordWrap(rect.height() > Y(12));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void SetTemplateSize(QWidget* dialog, int width, int height)
{
    dialog->setFixedSize(Size(width, height));
    dialog->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
}

}  // namespace DialogUnits
