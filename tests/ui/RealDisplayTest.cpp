// The desktop program under a real X server and window manager (Xvfb and openbox), where the
// window manager's frame and timing show what the offscreen platform cannot: the window keeps
// its size over restarts. Skipped when one of the programs is missing (install-deps has them).
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWaitMs = 15000;

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
        for (const char* name : {"Xvfb", "openbox", "xdotool"}) {
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

    // Starts the program, returns its window's size as xdotool reports it and ends it by
    // File > Exit, so that it stores "WinPos".
    QString StartAndExit()
    {
        Background program(QStringLiteral(CORVANE_GUI_PATH), {}, env);
        const QString window = RunTool(
            "xdotool", {"search", "--sync", "--onlyvisible", "--name", " - Corvane$"}, env)
                                   .section('\n', 0, 0);
        if (window.isEmpty())
            return {};
        QThread::msleep(300);
        const QString geometry = RunTool("xdotool", {"getwindowgeometry", window}, env);
        RunTool("xdotool", {"windowactivate", "--sync", window}, env);
        RunTool("xdotool", {"key", "--delay", "100", "alt+f", "x"}, env);
        program.process.waitForFinished(kWaitMs);
        return geometry.section("Geometry:", 1).trimmed();
    }

    TempDir folder;
    QProcessEnvironment env;
    std::unique_ptr<Background> server;
    std::unique_ptr<Background> windowManager;
};

TEST_F(RealDisplay, WindowKeepsItsSizeOverRestarts)
{
    std::vector<QString> sizes;
    std::vector<QString> stored;
    for (int start = 0; start < 3; ++start) {
        sizes.push_back(StartAndExit());
        QSettings settings(ConfigFile(), QSettings::IniFormat);
        stored.push_back(
            settings.value("WinPos/cx").toString() + "x" + settings.value("WinPos/cy").toString());
    }
    EXPECT_EQ(sizes[0], QStringLiteral("500x350"));
    EXPECT_EQ(stored[0], QStringLiteral("500x350"));
    for (int start = 1; start < 3; ++start) {
        EXPECT_EQ(sizes[start], sizes[0]) << "start " << start;
        EXPECT_EQ(stored[start], stored[0]) << "start " << start;
    }
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
    const QString window
        = RunTool("xdotool", {"search", "--sync", "--onlyvisible", "--name", " - Corvane$"}, env)
              .section('\n', 0, 0);
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
