#include "ui/DlgSplash.h"

#include "ui/DialogUnits.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvane {

using namespace DialogUnits;

CDlgSplash::CDlgSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    // The splash holds no text, only its picture of 225 by 277 pixels, which the template's 150 by
    // 170 units frame at the template's font; it does not grow with the user's font.
    const QRect picture(0, 0, 225, 277);
    setFixedSize(picture.size());
    AddPicture(this, 162, picture, false);
}

void CDlgSplash::ShowCentred()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = geometry();
        area.moveCenter(screen->geometry().center());
        move(area.topLeft());
    }
    show();
    raise();
    repaint();
}

} // namespace corvane
