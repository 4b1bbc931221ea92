// The desktop program: one QApplication, the start-up of CCorvaneApp, the event loop.
#include "app/CorvaneApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    CCorvaneApp corvane;
    const QString screenshotFolder = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (!corvane.InitInstance(screenshotFolder.isEmpty()))
        return 0;
    if (!screenshotFolder.isEmpty())
        corvane.TakeScreenshots(screenshotFolder);
    return QApplication::exec();
}
