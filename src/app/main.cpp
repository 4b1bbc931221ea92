// The desktop program: its own few options, one QApplication, the start-up of CCorvaneApp, the
// event loop.
#include "app/CorvaneApp.h"
#include "platform/Installation.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

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

// Qt's own options, as QGuiApplication, QApplication and the X11 platform take them. Each may
// start with "--" as well as "-", as Qt allows.
enum class QtValue { None, NextOrEquals, EqualsOnly };
struct QtOption {
    const char* name;
    QtValue value;
};
constexpr QtOption kQtOptions[] = {{"platform", QtValue::NextOrEquals},
    {"platformpluginpath", QtValue::NextOrEquals}, {"platformtheme", QtValue::NextOrEquals},
    {"plugin", QtValue::NextOrEquals}, {"qwindowgeometry", QtValue::NextOrEquals},
    {"geometry", QtValue::NextOrEquals}, {"qwindowicon", QtValue::NextOrEquals},
    {"icon", QtValue::NextOrEquals}, {"qwindowtitle", QtValue::NextOrEquals},
    {"title", QtValue::NextOrEquals}, {"session", QtValue::NextOrEquals},
    {"display", QtValue::NextOrEquals}, {"name", QtValue::NextOrEquals},
    {"visual", QtValue::NextOrEquals}, {"style", QtValue::NextOrEquals},
    {"stylesheet", QtValue::NextOrEquals}, {"qmljsdebugger", QtValue::EqualsOnly},
    {"dialogs", QtValue::EqualsOnly}, {"fontengine", QtValue::EqualsOnly},
    {"reverse", QtValue::None}, {"widgetcount", QtValue::None}, {"testability", QtValue::None},
    {"sync", QtValue::None}, {"nograb", QtValue::None}, {"dograb", QtValue::None}};

// How many arguments from argv[i] on the Qt option there takes (1 or 2), or 0 when argv[i] is
// no Qt option (or lacks its value).
int QtOptionLength(int i, int argc, char* argv[])
{
    std::string_view argument = argv[i];
    if (argument.size() < 2 || argument[0] != '-')
        return 0;
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    for (const QtOption& option : kQtOptions) {
        if (name != option.name)
            continue;
        if (option.value == QtValue::None)
            return equals == std::string_view::npos ? 1 : 0;
        if (equals != std::string_view::npos)
            return 1;
        return option.value == QtValue::NextOrEquals && i + 1 < argc ? 2 : 0;
    }
    return 0;
}

// The first argument that is neither this program's nor Qt's, told before any QApplication
// exists: without a display QApplication aborts, so a typing mistake must be caught first to
// end with the usage status. nullopt: every argument is Qt's.
std::optional<std::string_view> FirstUnknownArgument(int argc, char* argv[])
{
    for (int i = 1; i < argc;) {
        const int length = QtOptionLength(i, argc, argv);
        if (length == 0)
            return std::string_view(argv[i]);
        i += length;
    }
    return std::nullopt;
}

int RefuseArgument(std::string_view argument)
{
    std::fprintf(stderr, "corvane: unknown argument '%.*s'\n", static_cast<int>(argument.size()),
        argument.data());
    std::fputs("Try 'corvane --help'.\n", stderr);
    return kExitUsage;
}

// What QApplication left of the command line is no option of this program: starting a window
// anyway would hide a typing mistake such as "--verison".
// (The check before it knows Qt's options by name; this one catches a listed option that this
// platform does not take.)
bool RejectLeftOverArguments(int argc, char* argv[])
{
    if (argc <= 1)
        return false;
    RefuseArgument(argv[1]);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> code = AnswerBeforeWindow(argc, argv))
        return *code;
    if (const std::optional<std::string_view> unknown = FirstUnknownArgument(argc, argv))
        return RefuseArgument(*unknown);
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
