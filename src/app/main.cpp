// The desktop program: its own few options, one QApplication, the start-up of CCorvaneApp, the
// event loop.
#include "app/CorvaneApp.h"
#include "platform/Installation.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>

using namespace corvane;

namespace {

// The name under which the desktop finds the program's .desktop file, metainfo and icon.
constexpr const char* kDesktopFileName = "org.corvane.Corvane";

constexpr int kExitUsage = 2;

const char* const kHelp
    = "usage: corvane [--help] [--version] [Qt options]\n"
      "\n"
      "The desktop program of Corvane: the subscription tree, updates, Re-Pack and Send To in a\n"
      "window, with an icon in the notification area. A second start shows the running one.\n"
      "\n"
      "  -h, --help   show this text and exit\n"
      "  --version    show the version and exit\n"
      "\n"
      "Qt's own options are accepted too (for example -platform NAME, -style NAME).\n"
      "The files and environment are those of corvane-cli; 'corvane-cli --help' lists its\n"
      "commands, 'man corvane' and 'man corvane-cli' describe both.\n";

// --help and --version, answered before any QApplication exists, so that they work without a
// display. nullopt: start the program.
std::optional<int> AnswerBeforeWindow(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("corvane %s\n", ProgramVersion());
            return 0;
        }
    }
    return std::nullopt;
}

// What QApplication left of the command line is no option of this program: starting a window
// anyway would hide a typing mistake such as "--verison".
bool RejectLeftOverArguments(int argc, char* argv[])
{
    if (argc <= 1)
        return false;
    std::fprintf(stderr, "corvane: unknown argument '%s'\n", argv[1]);
    std::fputs("Try 'corvane --help'.\n", stderr);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = AnswerBeforeWindow(argc, argv))
        return *code;
    QApplication application(argc, argv);
    if (RejectLeftOverArguments(argc, argv))
        return kExitUsage;
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(ProgramVersion()));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    CCorvaneApp corvane;
    if (!corvane.InitInstance())
        return 0;
    return QApplication::exec();
}
