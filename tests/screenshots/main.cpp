// corvane-screenshots [--font FAMILY] DIR: starts the desktop program without its splash in the
// user environment it is given (scripts/screenshots makes a private one with a sample tree), writes
// the documentation pictures into DIR (created when missing) and ends. Exit status 0 when every
// picture was written, 1 when the folder or a picture could not be written or another copy of
// the program runs in this session, 2 for a wrong command line. --font sets the font family of
// every window at the size the desktop would give, so the dialogs can be looked at in more fonts.
#include "Screenshots.h"

#include "app/CorvaneApp.h"
#include "app/MainFrame.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QStringList>

#include <cstdio>

using namespace corvane;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QStringList arguments = QApplication::arguments().mid(1);
    if (arguments.size() == 3 && arguments[0] == QStringLiteral("--font")) {
        QFont font = QApplication::font();
        font.setFamily(arguments[1]);
        QApplication::setFont(font);
        arguments = arguments.mid(2);
    }
    if (arguments.size() != 1) {
        std::fputs("usage: corvane-screenshots [--font FAMILY] DIR\n", stderr);
        return 2;
    }
    const QString folder = arguments[0];
    if (!QDir().mkpath(folder)) {
        std::fprintf(
            stderr, "corvane-screenshots: %s: the folder cannot be created\n", qPrintable(folder));
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
