// The desktop program under a real X server and window manager (Xvfb and openbox), where the
// window manager's frame and timing show what the offscreen platform cannot: the window keeps
// its size over restarts. Skipped when one of the programs is missing (install-deps has them).
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMargins>
#include <QProcess>
#include <QRect>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;
// Where the tree's rows stand in the main window at the default font: below the menu bar,
// right of the task pane.
constexpr int kTreeTop = 23;
constexpr int kRowHeight = 19;
constexpr int kTreeLabelLeft = 300;

// One started helper program, ended (terminated, then killed) with the object.
class Background {
public:
    Background(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(program, arguments);
        process.waitForStarted(kWaitMs);
    }
    ~Background()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    QProcess process;
};

// Runs a short command and returns its standard output, or an empty string after kWaitMs.
QString RunTool(
    const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(kWaitMs)) {
        process.kill();
        process.waitForFinished(3000);
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class RealDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"Xvfb", "openbox", "xdotool", "xprop", "xwininfo"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
                GTEST_SKIP() << name << " is not installed (scripts/install-deps installs it)";
        }
        for (const char* sub : {"home", "config", "data", "run"})
            QDir().mkpath(QString::fromStdString(folder.File(sub)));
        QFile::setPermissions(QString::fromStdString(folder.File("run")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(folder.File("home")));
        env.insert("CORVANE_HOME", QString::fromStdString(folder.File("home")));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(folder.File("config")));
        env.insert("XDG_DATA_HOME", QString::fromStdString(folder.File("data")));
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(folder.File("run")));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        StartServer();
        ASSERT_TRUE(server) << "no free display for Xvfb";
        windowManager = std::make_unique<Background>("openbox", QStringList {}, env);
        QThread::msleep(500); // openbox takes over the screen before the first window maps
    }

    // Xvfb on the first display number whose lock file is free; the socket shows it is ready.
    void StartServer()
    {
        for (int number = 140 + QCoreApplication::applicationPid() % 40; number < 200; ++number) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            const QString display = QStringLiteral(":%1").arg(number);
            server = std::make_unique<Background>("Xvfb",
                QStringList {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, env);
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
            for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
                QThread::msleep(50);
            if (QFile::exists(socket) && server->process.state() == QProcess::Running) {
                env.insert("DISPLAY", display);
                return;
            }
            server.reset();
        }
    }

    QString ConfigFile() const
    {
        return QString::fromStdString(folder.File("home")) + "/Corvane.conf";
    }

    // The program's main window, once it is shown, or an empty text after kWaitMs.
    QString FindMainWindow() const
    {
        return RunTool(
            "xdotool", {"search", "--sync", "--onlyvisible", "--name", " - Corvane$"}, env)
            .section('\n', 0, 0);
    }

    // The window's outer rectangle: its own geometry as xwininfo tells it (xdotool counts a
    // reparented window's offset twice), grown by the frame the window manager published.
    QRect OuterGeometry(const QString& window) const
    {
        QRect inner;
        for (const QString& line : RunTool("xwininfo", {"-id", window}, env).split('\n')) {
            const int value = line.section(':', 1).trimmed().toInt();
            if (line.contains("Absolute upper-left X:"))
                inner.moveLeft(value);
            else if (line.contains("Absolute upper-left Y:"))
                inner.moveTop(value);
            else if (line.trimmed().startsWith("Width:"))
                inner.setWidth(value);
            else if (line.trimmed().startsWith("Height:"))
                inner.setHeight(value);
        }
        // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
        const QStringList extents = RunTool("xprop", {"-id", window, "_NET_FRAME_EXTENTS"}, env)
                                        .section('=', 1)
                                        .split(',');
        if (extents.size() != 4)
            return inner;
        return inner.marginsAdded(QMargins(
            extents[0].toInt(), extents[2].toInt(), extents[1].toInt(), extents[3].toInt()));
    }

    // Starts the program, returns its window's outer rectangle and ends it by File > Exit, so
    // that it stores "WinPos".
    QRect StartAndExit()
    {
        Background program(QStringLiteral(CORVANE_GUI_PATH), {}, env);
        const QString window = FindMainWindow();
        if (window.isEmpty())
            return {};
        QThread::msleep(300);
        const QRect outer = OuterGeometry(window);
        RunTool("xdotool", {"windowactivate", "--sync", window}, env);
        RunTool("xdotool", {"key", "--delay", "100", "alt+f", "x"}, env);
        program.process.waitForFinished(kWaitMs);
        return outer;
    }

    QRect Stored() const
    {
        QSettings settings(ConfigFile(), QSettings::IniFormat);
        return QRect(settings.value("WinPos/x").toInt(), settings.value("WinPos/y").toInt(),
            settings.value("WinPos/cx").toInt(), settings.value("WinPos/cy").toInt());
    }

    TempDir folder;
    QProcessEnvironment env;
    std::unique_ptr<Background> server;
    std::unique_ptr<Background> windowManager;
};

TEST_F(RealDisplay, WinPosHoldsTheOuterRectangleAndKeepsItOverRestarts)
{
    for (int start = 0; start < 3; ++start) {
        // The frame, title bar included, stands where "WinPos" says (10, 10, 500 by 350 at
        // first) and the stored rectangle does not creep from one start to the next.
        EXPECT_EQ(StartAndExit(), QRect(10, 10, 500, 350)) << "start " << start;
        EXPECT_EQ(Stored(), QRect(10, 10, 500, 350)) << "start " << start;
    }
}

TEST_F(RealDisplay, AStoredPlacementOffTheScreenComesBackOnIt)
{
    const QRect screen(0, 0, 1024, 768);
    for (const QRect& stored :
        {QRect(3000, 2000, 500, 350), QRect(-400, -300, 500, 350), QRect(0, 0, 3000, 2000)}) {
        {
            QSettings settings(ConfigFile(), QSettings::IniFormat);
            settings.setValue("WinPos/x", stored.x());
            settings.setValue("WinPos/y", stored.y());
            settings.setValue("WinPos/cx", stored.width());
            settings.setValue("WinPos/cy", stored.height());
        }
        const QRect shown = StartAndExit();
        EXPECT_TRUE(screen.contains(shown)) << stored.x() << ": " << shown.x() << "," << shown.y()
                                            << " " << shown.width() << "x" << shown.height();
        EXPECT_EQ(shown.width(), std::min(stored.width(), screen.width())) << stored.x();
        EXPECT_EQ(Stored(), shown) << stored.x();
    }
}

TEST_F(RealDisplay, ASecondStartGivesTheKeyboardToTheOpenOptions)
{
    Background program(QStringLiteral(CORVANE_GUI_PATH), {}, env);
    const QString window = FindMainWindow();
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(2500); // the splash goes first
    RunTool("xdotool", {"windowactivate", "--sync", window}, env);
    RunTool("xdotool", {"key", "--delay", "150", "alt+v", "o"}, env);
    ASSERT_FALSE(
        RunTool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^Options$"}, env)
            .isEmpty());
    RunTool("xdotool", {"windowminimize", "--sync", window}, env);
    Background second(QStringLiteral(CORVANE_GUI_PATH), {}, env);
    ASSERT_TRUE(second.process.waitForFinished(kWaitMs));
    QThread::msleep(500);
    // Escape reaches the dialog without a click: it closes.
    RunTool("xdotool", {"key", "Escape"}, env);
    bool closed = false;
    for (int i = 0; i < 50 && !closed; ++i) {
        QThread::msleep(100);
        closed
            = RunTool("xdotool", {"search", "--onlyvisible", "--name", "^Options$"}, env).isEmpty();
    }
    EXPECT_TRUE(closed);
}

TEST_F(RealDisplay, CopyAndPasteByKeyAfterMouseClicks)
{
    QFile channels(QString::fromStdString(folder.File("home")) + "/Corvane.Cha");
    ASSERT_TRUE(channels.open(QIODevice::WriteOnly));
    channels.write(
        "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>T</title></head><body>"
        "<outline title=\"Target Group For The Paste\" text=\"g\"/>"
        "<outline title=\"Feed To Copy By The Mouse\" type=\"rss\" "
        "xmlUrl=\"http://copy.example/rss\"/></body></opml>");
    channels.close();
    Background program(QStringLiteral(CORVANE_GUI_PATH), {}, env);
    const QString window = FindMainWindow();
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(2500); // the splash goes first
    RunTool("xdotool", {"windowactivate", "--sync", window}, env);
    // The rows of the tree: the root, the group, the feed; clicked on their labels.
    const auto clickRow = [&](int row) {
        const int y = kTreeTop + row * kRowHeight + kRowHeight / 2;
        RunTool("xdotool",
            {"mousemove", "--window", window, QString::number(kTreeLabelLeft), QString::number(y),
                "click", "1"},
            env);
        QThread::msleep(300);
    };
    clickRow(2);
    RunTool("xdotool", {"key", "ctrl+c"}, env);
    QThread::msleep(300);
    clickRow(1);
    RunTool("xdotool", {"key", "ctrl+v"}, env);
    QThread::msleep(300);
    RunTool("xdotool", {"key", "--delay", "100", "alt+f", "x"}, env);
    ASSERT_TRUE(program.process.waitForFinished(kWaitMs));
    ASSERT_TRUE(channels.open(QIODevice::ReadOnly));
    EXPECT_EQ(channels.readAll().count("Feed To Copy By The Mouse"), 2);
}

TEST_F(RealDisplay, TrayMenuExitsWhileADialogIsOpen)
{
    if (QStandardPaths::findExecutable("trayer").isEmpty())
        GTEST_SKIP() << "trayer is not installed (scripts/install-deps installs it)";
    Background tray("trayer",
        {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
            "--heighttype", "pixel", "--height", "32"},
        env);
    QThread::msleep(500);
    Background program(QStringLiteral(CORVANE_GUI_PATH), {}, env);
    const QString window = FindMainWindow();
    ASSERT_FALSE(window.isEmpty());
    QThread::msleep(2500); // the splash goes first
    RunTool("xdotool", {"windowactivate", "--sync", window}, env);
    RunTool("xdotool", {"key", "--delay", "150", "alt+h", "a"}, env); // the About box
    ASSERT_FALSE(
        RunTool("xdotool", {"search", "--sync", "--onlyvisible", "--name", "^About Corvane$"}, env)
            .isEmpty());
    // The program's icon is the only one in the tray at the screen's bottom right corner.
    RunTool("xdotool", {"mousemove", "1010", "752", "click", "3"}, env);
    QThread::msleep(500);
    RunTool("xdotool", {"key", "x"}, env);
    EXPECT_TRUE(program.process.waitForFinished(kWaitMs));
    QSettings settings(ConfigFile(), QSettings::IniFormat);
    EXPECT_EQ(settings.value("WinPos/cx").toInt(), 500);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
