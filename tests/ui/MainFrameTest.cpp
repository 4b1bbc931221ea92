// The main frame, the tray icon and the single-instance guard, including two real copies of the
// program in one private session.
#include "UiTestSupport.h"

#include "app/CorvaneApp.h"
#include "app/InstanceChecker.h"
#include "app/MainFrame.h"
#include "app/ScreenFit.h"
#include "app/TrayIcon.h"
#include "platform/Settings.h"
#include "ui/CommandIds.h"
#include "ui/CorvaneView.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <thread>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

// "text|id" for each item, "-" for a separator.
QStringList Items(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions()) {
        items << (action->isSeparator()
                ? QStringLiteral("-")
                : action->text() + QLatin1Char('|') + QString::number(action->data().toInt()));
    }
    return items;
}

class FrameTest : public ::testing::Test {
protected:
    PrivateEnvironment environment;
};

TEST_F(FrameTest, MenusCarryTheirTextsSeparatorsAndCommandIds)
{
    CMainFrame frame;
    frame.showAbout = [] {};
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Velmora - Corvane"));
    QStringList titles;
    for (QAction* action : frame.menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList {"&File", "&Edit", "&View", "&Help"}));
    EXPECT_EQ(Items(frame.FileMenu()),
        (QStringList {"Update &All Feeds|32777", "Update &Marked Feeds|32778",
            "Update &Current Feed|32779", "-", "Re-Pack|32803", "Send &To|32794",
            "Sync Episodes To|32812", "-", "&Import OPML File|32781", "Me&rge OPML File...|32811",
            "&Export OPML File|32782", "-", "E&xit|57665"}));
    EXPECT_EQ(Items(frame.EditMenu()),
        (QStringList {"&Undo|57643", "Cu&t|57635", "&Copy|57634", "&Paste|57637"}));
    EXPECT_EQ(Items(frame.ViewMenu()), (QStringList {"&Options|32780", "Parse|32801"}));
    ASSERT_EQ(frame.HelpMenu()->actions().size(), 3);
    EXPECT_EQ(Items(frame.HelpMenu()).mid(0, 2), (QStringList {"&Contents|32798", "-"}));
    EXPECT_EQ(frame.HelpMenu()->actions()[2]->data().toInt(), CommandId::APP_ABOUT);

    const QAction* cut = frame.Action(CommandId::EDIT_CUT);
    ASSERT_NE(cut, nullptr);
    EXPECT_TRUE(cut->shortcuts().contains(QKeySequence(QStringLiteral("Ctrl+X"))));
    EXPECT_TRUE(cut->shortcuts().contains(QKeySequence(QStringLiteral("Shift+Del"))));
    EXPECT_TRUE(frame.Action(CommandId::EDIT_UNDO)
                    ->shortcuts()
                    .contains(QKeySequence(QStringLiteral("Alt+Backspace"))));
    EXPECT_TRUE(frame.Action(CommandId::EDIT_PASTE)
                    ->shortcuts()
                    .contains(QKeySequence(QStringLiteral("Shift+Ins"))));
    EXPECT_EQ(frame.Action(CommandId::UPDATE_ALL)->statusTip(),
        QStringLiteral("Download feeds of all subscribed channels."));
    // Without a view nothing but Exit and About can run; Parse never can.
    EXPECT_FALSE(frame.Action(CommandId::PARSE)->isEnabled());
    EXPECT_FALSE(frame.Action(CommandId::UPDATE_ALL)->isEnabled());
    EXPECT_TRUE(frame.Action(CommandId::APP_EXIT)->isEnabled());
}

// A command target that counts what reached it.
class CountingTarget : public CCommandTarget {
public:
    bool OnCommand(int commandId) override
    {
        ran.push_back(commandId);
        return true;
    }
    std::optional<bool> CommandEnabled(int commandId) const override
    {
        if (commandId == CommandId::PARSE)
            return std::nullopt;
        return commandId != CommandId::EDIT_PASTE;
    }
    std::vector<int> ran;
};

TEST_F(FrameTest, CommandsReachTheTargetOnlyWhenEnabled)
{
    CMainFrame frame;
    CountingTarget target;
    frame.SetView(new QWidget, &target);
    EXPECT_TRUE(frame.Action(CommandId::UPDATE_ALL)->isEnabled());
    EXPECT_FALSE(frame.Action(CommandId::EDIT_PASTE)->isEnabled());
    EXPECT_FALSE(frame.Action(CommandId::PARSE)->isEnabled());
    frame.Action(CommandId::UPDATE_ALL)->trigger();
    EXPECT_FALSE(frame.ExecuteCommand(CommandId::EDIT_PASTE));
    EXPECT_EQ(target.ran, std::vector<int> {CommandId::UPDATE_ALL});
    frame.SetView(new QWidget, nullptr); // the target goes before the frame
}

TEST_F(FrameTest, DefaultPlacementAndCloseMinimisesWithoutATray)
{
    CMainFrame frame;
    frame.showAbout = [] {};
    frame.show();
    QApplication::processEvents();
    // The outer rectangle, the frame's margins included.
    EXPECT_EQ(frame.frameGeometry(), QRect(10, 10, 500, 350));
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    frame.close();
    // Without a notification area the window would be out of reach hidden: it is minimised.
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(frame.isMinimized());
    EXPECT_FALSE(frame.IsExiting());
    EXPECT_EQ(ReadWholeFile(environment.ConfigFile()).find("WinPos"), std::string::npos);

    frame.ExecuteCommand(CommandId::TRAY_OPEN);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.isMinimized());
}

TEST_F(FrameTest, ExitStoresTheWindowsOuterRectangle)
{
    CMainFrame frame;
    frame.show();
    frame.setGeometry(40, 60, 640, 420);
    QApplication::processEvents();
    const QRect outer = frame.frameGeometry();
    frame.ExecuteCommand(CommandId::TRAY_EXIT);
    EXPECT_TRUE(frame.IsExiting());
    EXPECT_FALSE(frame.isVisible());
    const WindowPlacement stored = LoadWindowPlacement();
    EXPECT_EQ(QRect(stored.x, stored.y, stored.cx, stored.cy), outer);

    CMainFrame again;
    again.show();
    QApplication::processEvents();
    EXPECT_EQ(again.frameGeometry(), outer); // nothing grows or creeps by the frame
}

TEST(ScreenFit, ARectangleIsMovedAndShrunkIntoTheAreaItBelongsTo)
{
    const QList<QRect> twoScreens {QRect(0, 0, 1024, 740), QRect(1024, 0, 1280, 1024)};
    const struct {
        QRect stored;
        QRect fitted;
    } cases[] = {
        {QRect(10, 10, 500, 350), QRect(10, 10, 500, 350)}, // inside: kept
        {QRect(3000, 2000, 500, 350), QRect(1804, 674, 500, 350)}, // far off: the nearest screen
        {QRect(-300, -40, 500, 350), QRect(0, 0, 500, 350)}, // title bar above the top
        {QRect(600, 500, 500, 350), QRect(524, 390, 500, 350)}, // mostly on the first screen
        {QRect(1000, 100, 600, 300), QRect(1024, 100, 600, 300)}, // mostly on the second
        {QRect(0, 0, 3000, 2000), QRect(1024, 0, 1280, 1024)}, // larger than any: shrunk
        {QRect(-50000, 100, 400, 300), QRect(0, 100, 400, 300)},
    };
    for (const auto& test : cases)
        EXPECT_EQ(FitIntoAreas(test.stored, twoScreens), test.fitted) << test.stored.x();
    EXPECT_EQ(FitIntoAreas(QRect(5, 5, 10, 10), {}), QRect(5, 5, 10, 10));
}

TEST_F(FrameTest, AStoredPlacementOffTheScreenIsBroughtOntoIt)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const WindowPlacement& stored : {WindowPlacement {3000, 2000, 500, 350},
             WindowPlacement {-700, -500, 500, 350}, WindowPlacement {0, 0, 5000, 4000}}) {
        ASSERT_TRUE(SaveWindowPlacement(stored).Ok());
        CMainFrame frame;
        frame.showAbout = [] {};
        frame.show();
        QApplication::processEvents();
        EXPECT_TRUE(area.contains(frame.frameGeometry())) << stored.x;
        EXPECT_EQ(frame.frameGeometry().width(), std::min(stored.cx, area.width())) << stored.x;
    }
}

TEST_F(FrameTest, NoMenuGivesOneAccessKeyToTwoItems)
{
    CMainFrame frame;
    QList<QMenu*> menus {frame.FileMenu(), frame.EditMenu(), frame.ViewMenu(), frame.HelpMenu()};
    for (QMenu* menu : menus) {
        QMap<QChar, QString> taken;
        for (const QAction* action : menu->actions()) {
            const qsizetype amp = action->text().indexOf(QLatin1Char('&'));
            if (action->isSeparator() || amp < 0 || amp + 1 >= action->text().size())
                continue;
            const QChar key = action->text().at(amp + 1).toLower();
            EXPECT_FALSE(taken.contains(key))
                << action->text().toStdString() << " and " << taken.value(key).toStdString();
            taken.insert(key, action->text());
        }
    }
}

TEST_F(FrameTest, ShowInFrontGivesTheKeyboardToAnOpenDialog)
{
    CMainFrame frame;
    frame.showAbout = [] {};
    frame.show();
    QDialog dialog(&frame);
    auto* edit = new QLineEdit(&dialog);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.show();
    edit->setFocus();
    QApplication::processEvents();
    frame.showMinimized();
    frame.activateWindow(); // the window, not the dialog, had the keyboard last
    QApplication::processEvents();
    frame.ShowInFront();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &dialog);
    EXPECT_TRUE(edit->hasFocus());
}

TEST_F(FrameTest, F6AndShiftF6SwitchBetweenTheTaskPaneAndTheView)
{
    CMainFrame frame;
    auto* pane = new QWidget;
    auto* button = new QPushButton(QStringLiteral("Update"), pane);
    auto* view = new QLineEdit;
    frame.SetTaskPane(pane);
    frame.SetView(view, nullptr);
    frame.show();
    frame.activateWindow();
    QApplication::setActiveWindow(&frame);
    view->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(view->hasFocus());
    QTest::keyClick(&frame, Qt::Key_F6);
    EXPECT_TRUE(button->hasFocus());
    QTest::keyClick(&frame, Qt::Key_F6);
    EXPECT_TRUE(view->hasFocus());
    QTest::keyClick(&frame, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(button->hasFocus());
    QTest::keyClick(&frame, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(view->hasFocus());
}

TEST_F(FrameTest, StatusBarShowsPromptsAndPassingText)
{
    CMainFrame frame;
    frame.show();
    QApplication::processEvents();
    ASSERT_NE(frame.findChild<QStatusBar*>(), nullptr);
    EXPECT_TRUE(frame.statusBar()->isVisible());
    QAction* updateAll = frame.Action(CommandId::UPDATE_ALL);
    updateAll->showStatusText(&frame);
    EXPECT_EQ(frame.statusBar()->currentMessage(),
        QStringLiteral("Download feeds of all subscribed channels."));
    frame.ShowStatusText(QStringLiteral("Sent to My Phone."));
    EXPECT_EQ(frame.statusBar()->currentMessage(), QStringLiteral("Sent to My Phone."));
}

TEST_F(FrameTest, DialogsBlockOnlyTheWindowAndExitFromTheTrayCancelsThem)
{
    CMainFrame frame;
    frame.show();
    QApplication::processEvents();
    QDialog dialog(&frame);
    bool rejected = false;
    QObject::connect(&dialog, &QDialog::rejected, [&rejected] { rejected = true; });
    Qt::WindowModality modality = Qt::NonModal;
    bool trayEnabled = false;
    QTimer::singleShot(0, &frame, [&] {
        modality = dialog.windowModality();
        trayEnabled = frame.TrayIcon()->Action(CommandId::TRAY_EXIT)->isEnabled();
        frame.TrayIcon()->Action(CommandId::TRAY_EXIT)->trigger();
    });
    QTimer::singleShot(5000, &dialog, [&dialog] { dialog.done(42); }); // only if Exit failed
    const int result = ExecModal(dialog);
    EXPECT_EQ(modality, Qt::WindowModal);
    EXPECT_TRUE(trayEnabled);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(rejected);
    EXPECT_TRUE(frame.IsExiting());
    EXPECT_FALSE(frame.isVisible());
}

TEST_F(FrameTest, TrayMenuAndDoubleClick)
{
    CMainFrame frame;
    CTrayIcon* tray = frame.TrayIcon();
    EXPECT_EQ(tray->IconResource(), TRAY_ICON_NORMAL);
    EXPECT_EQ(
        Items(tray->Menu()), (QStringList {"&Open|32771", "&About|57664", "-", "E&xit|32773"}));
    EXPECT_EQ(tray->Menu()->defaultAction(), tray->Action(CommandId::TRAY_OPEN));
    EXPECT_TRUE(tray->Action(CommandId::TRAY_OPEN)->font().bold());
    EXPECT_EQ(tray->ToolTip(), QStringLiteral("Corvane"));

    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(tray->HandleNotification(QSystemTrayIcon::Trigger), 0);
    EXPECT_EQ(tray->HandleNotification(QSystemTrayIcon::MiddleClick), 0);
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(tray->HandleNotification(QSystemTrayIcon::DoubleClick), 1);
    EXPECT_TRUE(frame.isVisible());

    int aboutShown = 0;
    frame.showAbout = [&aboutShown] { ++aboutShown; };
    tray->Action(CommandId::APP_ABOUT)->trigger();
    EXPECT_EQ(aboutShown, 1);
}

TEST_F(FrameTest, BusyIconFromAWorkerThreadArrivesQueuedAndKeepsTheTooltip)
{
    CMainFrame frame;
    CTrayIcon* tray = frame.TrayIcon();
    std::thread worker([tray] { tray->SetIconResource(TRAY_ICON_BUSY); });
    worker.join();
    EXPECT_TRUE(WaitFor([tray] { return tray->IconResource() == TRAY_ICON_BUSY; }));
    EXPECT_EQ(tray->ToolTip(), QStringLiteral("Corvane"));
    tray->SetIconResource(TRAY_ICON_NORMAL);
    EXPECT_EQ(tray->IconResource(), TRAY_ICON_NORMAL);
}

// --- single instance -----------------------------------------------------------------------

TEST_F(FrameTest, GuardNamesAPrivateSocketAndRefusesASecondRegistration)
{
    CInstanceChecker first(QStringLiteral("Corvane"));
    EXPECT_TRUE(first.MappingName().startsWith(QStringLiteral("CInstanceChecker_MMF_Corvane")));
    EXPECT_TRUE(first.ServerName().startsWith(QString::fromStdString(environment.RuntimeFolder())));
    EXPECT_FALSE(first.FindRunningInstance(200));
    ASSERT_TRUE(first.RegisterRunningInstance());

    CInstanceChecker second(QStringLiteral("Corvane"));
    EXPECT_TRUE(second.FindRunningInstance(1000));
    EXPECT_FALSE(second.RegisterRunningInstance());

    int activations = 0;
    QObject::connect(
        &first, &CInstanceChecker::anotherInstanceStarted, [&activations] { ++activations; });
    EXPECT_TRUE(second.ActivateRunningInstance(1000));
    EXPECT_TRUE(WaitFor([&activations] { return activations == 1; }));
    QApplication::processEvents();
    EXPECT_EQ(activations, 1); // the probe of FindRunningInstance did not count
}

TEST_F(FrameTest, StaleSocketOfACrashedCopyDoesNotBlockStartUp)
{
    CInstanceChecker checker(QStringLiteral("Corvane"));
    const std::string stale = checker.ServerName().toStdString();
    FILE* file = std::fopen(stale.c_str(), "w"); // a leftover file where the socket goes
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_FALSE(checker.FindRunningInstance(200));
    EXPECT_TRUE(checker.RegisterRunningInstance());
}

TEST_F(FrameTest, StartUpBuildsTheWindowAndALaterCopyEndsWithoutSplash)
{
    environment.WriteChannels(SampleChannels());
    CCorvaneApp running;
    ASSERT_TRUE(running.InitInstance(false));
    ASSERT_NE(running.MainFrame(), nullptr);
    running.MainFrame()->showAbout = [] {};
    EXPECT_TRUE(running.MainFrame()->isVisible());
    EXPECT_EQ(running.MainFrame()->windowTitle(), QStringLiteral("Velmora - Corvane"));
    EXPECT_EQ(running.MainFrame()->centralWidget(), running.View());
    const QModelIndex root = running.View()->Model().RootIndex();
    EXPECT_EQ(running.View()->Model().rowCount(root), 3);
    EXPECT_TRUE(running.View()->isExpanded(root));
    EXPECT_TRUE(running.InstanceChecker()->IsRegistered());
    // The menus follow the view: Re-Pack is off until a full update, Undo until a change.
    EXPECT_FALSE(running.MainFrame()->Action(CommandId::REPACK)->isEnabled());
    EXPECT_FALSE(running.MainFrame()->Action(CommandId::EDIT_UNDO)->isEnabled());
    EXPECT_TRUE(running.MainFrame()->Action(CommandId::UPDATE_ALL)->isEnabled());

    // The Edit keys reach the tree through the frame's shortcuts.
    CCorvaneView* view = running.View();
    view->setFocus();
    const QModelIndexList weather = view->Model().match(
        root, Qt::DisplayRole, QStringLiteral("Weather"), 1, Qt::MatchRecursive);
    ASSERT_EQ(weather.size(), 1);
    view->setCurrentIndex(weather.first());
    running.MainFrame()->activateWindow();
    QApplication::processEvents();
    QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(view->Model().rowCount(root), 2);
    EXPECT_TRUE(running.MainFrame()->Action(CommandId::EDIT_UNDO)->isEnabled());
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->Model().rowCount(view->Model().RootIndex()), 3);

    running.MainFrame()->close(); // hidden in the tray
    CCorvaneApp later;
    EXPECT_FALSE(later.InitInstance(true));
    EXPECT_FALSE(later.SplashVisible());
    EXPECT_EQ(later.MainFrame(), nullptr);
    EXPECT_TRUE(WaitFor([&running] { return running.MainFrame()->isVisible(); }));
}

QProcessEnvironment ProgramEnvironment()
{
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return variables; // CORVANE_HOME, XDG_* come from PrivateEnvironment
}

TEST_F(FrameTest, SecondCopyBringsTheRunningWindowForwardAndEnds)
{
    // This process plays the running instance, with its window hidden in the tray.
    CMainFrame frame;
    frame.showAbout = [] {};
    CInstanceChecker checker(QStringLiteral("Corvane"));
    QObject::connect(
        &checker, &CInstanceChecker::anotherInstanceStarted, &frame, &CMainFrame::ShowInFront);
    ASSERT_TRUE(checker.RegisterRunningInstance());
    frame.show();
    frame.showMinimized();
    frame.hide();

    QProcess second;
    second.setProcessEnvironment(ProgramEnvironment());
    second.start(QStringLiteral(CORVANE_GUI_PATH), {});
    ASSERT_TRUE(second.waitForStarted(5000));
    EXPECT_TRUE(WaitFor([&second] { return second.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(WaitFor([&frame] { return frame.isVisible(); }));
    EXPECT_FALSE(frame.isMinimized());
}

TEST_F(FrameTest, TwoCopiesOfTheProgramInOneSession)
{
    environment.WriteChannels(SampleChannels());
    QProcess first;
    first.setProcessEnvironment(ProgramEnvironment());
    first.start(QStringLiteral(CORVANE_GUI_PATH), {});
    ASSERT_TRUE(first.waitForStarted(5000));
    CInstanceChecker probe(QStringLiteral("Corvane"));
    ASSERT_TRUE(WaitFor([&probe] { return probe.FindRunningInstance(100); }, 20000));

    QProcess second;
    second.setProcessEnvironment(ProgramEnvironment());
    second.start(QStringLiteral(CORVANE_GUI_PATH), {});
    ASSERT_TRUE(second.waitForStarted(5000));
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(probe.FindRunningInstance(1000));

    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished(5000);
    }
}

} // namespace
