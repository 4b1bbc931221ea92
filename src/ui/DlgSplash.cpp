#include "ui/DlgSplash.h"

#include "ui/DialogUnits.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvane {

using namespace DialogUnits;

CDlgSplash::CDlgSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setFixedSize(Size(150, 170));
    // The picture keeps its own 225 by 277 pixels at the top-left corner, as the template has it.
    AddPicture(this, 162, QRect(0, 0, 225, 277), false);
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
