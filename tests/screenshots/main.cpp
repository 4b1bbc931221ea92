// corvane-screenshots DIR: starts the desktop program without its splash in the user environment
// it is given (scripts/screenshots makes a private one with a sample tree), writes the
// documentation pictures into DIR (created when missing) and ends. Exit status 0 when every
// picture was written, 1 when the folder or a picture could not be written or another copy of
// the program runs in this session, 2 for a wrong command line.
#include "Screenshots.h"

#include "app/CorvaneApp.h"
#include "app/MainFrame.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

using namespace corvane;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    if (argc != 2) {
        std::fputs("usage: corvane-screenshots DIR\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "corvane-screenshots: %s: the folder cannot be created\n", argv[1]);
        return 1;
    }
    CCorvaneApp corvane;
    if (!corvane.InitInstance(false)) {
        std::fputs("corvane-screenshots: another copy of Corvane runs in this session; it was "
                   "brought forward and no picture was taken\n",
            stderr);
        return 1;
    }
    int result = 0;
    TakeScreenshots(corvane, QDir(folder), [&corvane, &result](const QStringList& failed) {
        for (const QString& path : failed) {
            std::fprintf(stderr, "corvane-screenshots: %s: the picture cannot be written\n",
                qPrintable(path));
        }
        result = failed.isEmpty() ? 0 : 1;
        corvane.MainFrame()->Exit();
    });
    const int loop = QApplication::exec();
    return loop != 0 ? loop : result;
}
