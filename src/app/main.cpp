// The desktop program: one QApplication, the start-up of CCorvaneApp, the event loop.
#include "app/CorvaneApp.h"

#include <QApplication>

using namespace corvane;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    CCorvaneApp corvane;
    if (!corvane.InitInstance())
        return 0;
    return QApplication::exec();
}
