#include "ui/TaskBar.h"

#include "app/MainFrame.h"
#include "app/TaskBarSetup.h"
#include "app/TrayIcon.h"
#include "subscriptions/Subscriptions.h"
#include "support/TempDir.h"
#include "support/TestServer.h"
#include "ui/CorvaneView.h"
#include "ui/DlgProgress.h"
#include "ui/HoverButton.h"
#include "ui/ProgramState.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace corvane;

namespace {

struct PaneFixture : ::testing::Test {
    PaneFixture()
    {
        pane.readSync = [this] { return sync; };
        pane.writeSync = [this](int value) { sync = value; };
        pane.resize(164, 400);
    }
    int sync = 1;
    CTaskBar pane;
};

void Enter(QWidget* widget)
{
    QEnterEvent event(
        QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)), widget->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(widget, &event);
}

void Leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

// The button as drawn, and one frame of its own picture, at one pixel per unit.
QImage Drawn(CHoverButton* button)
{
    return button->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

bool SameColour(QRgb a, QRgb b, int tolerance = 2)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Processes events until spy has count signals (Enter's click is animated), within a bound.
bool WaitForSignals(QSignalSpy& spy, int count)
{
    for (int i = 0; i < 100 && spy.size() < count; ++i)
        spy.wait(50);
    return spy.size() >= count;
}

} // namespace

TEST_F(PaneFixture, ButtonsHaveTheirTextsTooltipsAndPlaces)
{
    struct Expected {
        CHoverButton* button;
        int command;
        const char* text;
        const char* toolTip;
        QPoint place;
    };
    const char* sync = "Check if you also want to update the subscriptions to the mobile phone";
    const Expected expected[] = {
        {pane.updateAllButton, TASK_UPDATE_ALL, "Update All Feeds",
            "Update all feeds include those in subfolders", {26, 67}},
        {pane.updateMarkedButton, TASK_UPDATE_MARKED, "Update Marked Feeds",
            "Update marked feeds and/or folders only", {26, 82}},
        {pane.updateCurrentButton, TASK_UPDATE_CURRENT, "Update Current Feed",
            "Update current selected feed or folder only", {26, 97}},
        {pane.importButton, TASK_IMPORT_OPML, "Import OPML",
            "Import subscriptions from an OPML file", {26, 112}},
        {pane.exportButton, TASK_EXPORT_OPML, "Export OPML",
            "Export subscriptions into an OPML file", {26, 127}},
        {pane.sendToButton, TASK_SEND_TO, "Send To",
            "Send the updated feeds to a mobile phone or the file system", {26, 157}},
        {pane.syncOffButton, TASK_SYNC_OFF, "Synchronize Channels", sync, {26, 187}},
        {pane.syncOnButton, TASK_SYNC_ON, "Synchronize Channels", sync, {26, 187}},
    };
    for (const Expected& e : expected) {
        ASSERT_NE(e.button, nullptr);
        EXPECT_EQ(pane.Button(e.command), e.button);
        EXPECT_EQ(e.button->text(), e.text);
        EXPECT_EQ(e.button->TooltipText(), e.toolTip);
        EXPECT_TRUE(e.button->TooltipActive());
        EXPECT_EQ(e.button->toolTip(), e.toolTip);
        // Each button takes the size of one frame of its 384 by 15 picture.
        EXPECT_EQ(e.button->geometry(), QRect(e.place, QSize(128, 15))) << e.text;
        EXPECT_EQ(e.button->FrameWidth(), 128);
        EXPECT_EQ(e.button->FrameHeight(), 15);
    }
}

TEST_F(PaneFixture, ButtonShowsNormalPointerOverAndPressedFrames)
{
    pane.show();
    CHoverButton* button = pane.updateAllButton;
    const QImage normal = Drawn(button);
    EXPECT_EQ(button->CurrentFrame(), 0);

    Enter(button);
    EXPECT_TRUE(button->Hovering());
    EXPECT_EQ(button->CurrentFrame(), 2);
    const QImage over = Drawn(button);

    button->setDown(true);
    EXPECT_EQ(button->CurrentFrame(), 1);
    const QImage pressed = Drawn(button);
    button->setDown(false);

    Leave(button);
    EXPECT_FALSE(button->Hovering());
    EXPECT_EQ(button->CurrentFrame(), 0);
    EXPECT_EQ(Drawn(button), normal);
    EXPECT_NE(over, normal);
    EXPECT_NE(pressed, normal);
    EXPECT_NE(pressed, over);
}

TEST_F(PaneFixture, TooltipCanBeDeactivatedAndEmptyTextChangesNothing)
{
    CHoverButton* button = pane.exportButton;
    button->SetTooltipText("", false);
    EXPECT_TRUE(button->TooltipActive());
    button->SetTooltipText("Other", false);
    EXPECT_EQ(button->TooltipText(), "Other");
    EXPECT_TRUE(button->toolTip().isEmpty());
    button->SetTooltipText("Other", true);
    EXPECT_EQ(button->toolTip(), "Other");
}

TEST_F(PaneFixture, MissingPictureKeepsTheButtonSize)
{
    CHoverButton button;
    button.resize(40, 20);
    EXPECT_FALSE(button.LoadButtonBitmap(":/taskpane/no-such.svg"));
    EXPECT_EQ(button.size(), QSize(40, 20));
}

TEST_F(PaneFixture, CommandsGoToTheView)
{
    QSignalSpy spy(&pane, &CTaskBar::commandRequested);
    pane.show();
    for (CHoverButton* button : {pane.updateAllButton, pane.updateMarkedButton,
             pane.updateCurrentButton, pane.importButton, pane.exportButton})
        QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(spy.size(), 5);
    const int expected[] = {1000, 1003, 1004, 1002, 1001};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(spy[i][0].toInt(), expected[i]);
}

TEST_F(PaneFixture, PaintsTheGradientAndTheBackgroundPicture)
{
    pane.resize(164, 500);
    const QImage image = pane.grab().toImage();
    const int scale = qRound(image.devicePixelRatio());
    EXPECT_TRUE(SameColour(image.pixel(1, 0), qRgb(0xDD, 0xEC, 0xFF)));
    EXPECT_TRUE(SameColour(image.pixel(1, image.height() - 1), qRgb(0x4A, 0x7A, 0xC9), 3));
    // Below the picture (which ends at y 214) only the gradient shows, halfway between the ends.
    const QRgb middle = image.pixel(80 * scale, 250 * scale);
    EXPECT_TRUE(SameColour(middle,
        qRgb(0xDD - (0xDD - 0x4A) / 2, 0xEC - (0xEC - 0x7A) / 2, 0xFF - (0xFF - 0xC9) / 2), 4));
    // The picture's title band is drawn at (6, 15): well darker than the gradient there.
    EXPECT_LT(
        qGray(image.pixel(10 * scale, 30 * scale)), qGray(image.pixel(2 * scale, 30 * scale)));
}

TEST_F(PaneFixture, SyncSwitchStartsOnAndToggles)
{
    pane.show();
    EXPECT_TRUE(pane.syncOnButton->isVisible());
    EXPECT_FALSE(pane.syncOffButton->isVisible());
    EXPECT_TRUE(pane.syncOnButton->isEnabled());
    EXPECT_FALSE(pane.syncOffButton->isEnabled());

    Enter(pane.syncOnButton);
    QTest::mouseClick(pane.syncOnButton, Qt::LeftButton);
    EXPECT_EQ(sync, 0);
    EXPECT_FALSE(pane.syncOnButton->Hovering());
    EXPECT_TRUE(pane.syncOffButton->isVisible());
    EXPECT_FALSE(pane.syncOnButton->isVisible());
    EXPECT_TRUE(pane.syncOffButton->isEnabled());
    EXPECT_EQ(pane.syncOffButton->geometry(), pane.syncOnButton->geometry());

    QTest::mouseClick(pane.syncOffButton, Qt::LeftButton);
    EXPECT_EQ(sync, 1);
    EXPECT_TRUE(pane.syncOnButton->isVisible());
    EXPECT_FALSE(pane.syncOffButton->isVisible());
}

TEST_F(PaneFixture, TheKeyboardWalksAndPressesTheButtons)
{
    QSignalSpy spy(&pane, &CTaskBar::commandRequested);
    pane.show();
    QApplication::setActiveWindow(&pane);
    pane.updateAllButton->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(pane.updateAllButton->hasFocus());
    // Down and Right go on, Up and Left go back, round both ends; the sync switch is one stop.
    const struct {
        Qt::Key key;
        CHoverButton* CTaskBar::*focused;
    } walk[] = {{Qt::Key_Down, &CTaskBar::updateMarkedButton},
        {Qt::Key_Right, &CTaskBar::updateCurrentButton},
        {Qt::Key_Up, &CTaskBar::updateMarkedButton}, {Qt::Key_Left, &CTaskBar::updateAllButton},
        {Qt::Key_Up, &CTaskBar::syncOnButton}, {Qt::Key_Down, &CTaskBar::updateAllButton}};
    for (const auto& step : walk) {
        QTest::keyClick(QApplication::focusWidget(), step.key);
        EXPECT_EQ(QApplication::focusWidget(), pane.*step.focused)
            << QApplication::focusWidget()->objectName().toStdString();
    }
    QTest::keyClick(pane.updateAllButton, Qt::Key_Space);
    pane.updateMarkedButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pane.updateMarkedButton, Qt::Key_Return);
    ASSERT_TRUE(WaitForSignals(spy, 2));
    EXPECT_EQ(spy[0][0].toInt(), TASK_UPDATE_ALL);
    EXPECT_EQ(spy[1][0].toInt(), TASK_UPDATE_MARKED);

    // Space switches Synchronize Channels off and on again; the focus stays on the switch.
    pane.syncOnButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(pane.syncOnButton, Qt::Key_Space);
    EXPECT_EQ(sync, 0);
    EXPECT_TRUE(pane.syncOffButton->hasFocus());
    QTest::keyClick(pane.syncOffButton, Qt::Key_Space);
    EXPECT_EQ(sync, 1);
    EXPECT_TRUE(pane.syncOnButton->hasFocus());
}

TEST(PaneSync, ASaveOfTheChannelsFileShowsTheOnStateAgain)
{
    TempDir home, config;
    setenv("CORVANE_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    {
        CSubscriptions subscriptions;
        subscriptions.Load();
        CTaskBar pane;
        pane.readSync = [&] { return subscriptions.SyncChannels(); };
        pane.writeSync = [&](int value) { subscriptions.SetSyncChannels(value); };
        subscriptions.SetSyncChannelsListener([&](int) { pane.UpdateSyncButtons(); });
        pane.show();

        QTest::mouseClick(pane.syncOnButton, Qt::LeftButton);
        EXPECT_EQ(subscriptions.SyncChannels(), 0);
        EXPECT_TRUE(pane.syncOffButton->isVisible());

        const TreeChange change = subscriptions.NewFeed(
            subscriptions.Root(), "Feed", "http://127.0.0.1:1/feed.xml", "", "");
        ASSERT_TRUE(change.changed);
        EXPECT_EQ(subscriptions.SyncChannels(), 1);
        EXPECT_TRUE(pane.syncOnButton->isVisible());
        EXPECT_FALSE(pane.syncOffButton->isVisible());
    }
    unsetenv("CORVANE_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

TEST_F(PaneFixture, SendToWithoutPackageWarnsAndMenuOpensAtTheButton)
{
    TempDir folder;
    std::string path = folder.File("corvane.mrf");
    pane.outputPath = [&] { return path; };
    QStringList messages;
    QPoint menuAt;
    pane.SendTo().sources = [] { return SendToSources {}; };
    pane.SendTo().message = [&](QWidget*, const QString& caption, const QString& text) {
        messages << caption + "|" + text;
    };
    pane.SendTo().execMenu = [&](QMenu&, QPoint point) -> QAction* {
        menuAt = point;
        return nullptr;
    };
    pane.move(30, 40);
    pane.show();

    QTest::mouseClick(pane.sendToButton, Qt::LeftButton);
    EXPECT_EQ(messages,
        QStringList("Warning|The updated feeds file does not exist. Please "
                    "update feeds first."));
    EXPECT_TRUE(menuAt.isNull());

    folder.Write("corvane.mrf", "package");
    QTest::mouseClick(pane.sendToButton, Qt::LeftButton);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(menuAt, pane.mapToGlobal(QPoint(26, 157)));
}

TEST(PaneInWindow, ScheduledUpdateShowsBusyTrayUntilAPaneCommandStopsIt)
{
    using namespace std::chrono_literals;
    TempDir home, config, output;
    setenv("CORVANE_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    const std::string feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>T</title>"
                             "<item><title>i</title></item></channel></rss>";
    TestServer server;
    server.Serve("/slow.xml", feed, "application/rss+xml");
    server.SetDelay("/slow.xml", 5000ms);
    server.Serve("/fast.xml", feed, "application/rss+xml");
    CorvaneSettings settings;
    settings.outputPath = output.File("corvane.mrf");
    settings.scheduleOn = 1;
    settings.scheduleHour = 6;
    settings.scheduleMinute = 0;
    settings.podcastOn = 0;
    SaveOptions(settings);
    {
        CProgramState state;
        CMainFrame frame;
        auto* view = new CCorvaneView(state, &frame);
        frame.SetView(view, view);
        CTaskBar* pane = InstallTaskPane(frame, *view);
        view->OnInitialUpdate();
        view->ScheduleTimer().stop(); // the clock is the test's
        frame.show();
        ASSERT_EQ(frame.TrayIcon()->IconResource(), TRAY_ICON_NORMAL);

        CSubscriptions& subscriptions = view->Subscriptions();
        subscriptions.NewFeed(subscriptions.Root(), "Slow", server.Url("/slow.xml"), "", "");
        COutlineItem* fast
            = subscriptions.NewFeed(subscriptions.Root(), "Fast", server.Url("/fast.xml"), "", "")
                  .node;
        ASSERT_NE(fast, nullptr);
        subscriptions.SetMark(fast, MARK_CHECKED);

        ASSERT_TRUE(view->UpdateController().OnScheduleTick(LocalTime {2026, 12, 7, 6, 0, 0}));
        for (int i = 0; i < 500 && frame.TrayIcon()->IconResource() != TRAY_ICON_BUSY; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(2ms);
        }
        EXPECT_EQ(frame.TrayIcon()->IconResource(), TRAY_ICON_BUSY);
        EXPECT_FALSE(
            CanRepack(subscriptions.Repackable(), view->UpdateController().UpdateRunning()));

        // "Update Marked Feeds" from the pane runs under the progress dialog, which OK closes at
        // the end; the scheduled update is stopped first.
        QString finalText;
        int rounds = 0;
        QTimer okAtTheEnd;
        QObject::connect(&okAtTheEnd, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<CDlgProgress*>(QApplication::activeModalWidget());
            if (dialog && (dialog->Finished() || ++rounds > 1500)) {
                finalText = dialog->StatusLabel()->text();
                dialog->Finished() ? dialog->OkButton()->click() : dialog->reject();
            }
        });
        okAtTheEnd.start(20);
        QTest::mouseClick(pane->updateMarkedButton, Qt::LeftButton);
        okAtTheEnd.stop();
        QApplication::processEvents();

        EXPECT_EQ(view->FeedUrls(), std::vector<std::string>({server.Url("/fast.xml")}));
        EXPECT_FALSE(view->UpdateController().ScheduledRunning());
        EXPECT_EQ(frame.TrayIcon()->IconResource(), TRAY_ICON_NORMAL);
        const std::string package = ReadWholeFile(settings.outputPath);
        EXPECT_EQ(finalText.toStdString(), UpdateFinalText(package.size(), false));
        EXPECT_TRUE(
            CanRepack(subscriptions.Repackable(), view->UpdateController().UpdateRunning()));
        frame.Exit();
    }
    unsetenv("CORVANE_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

TEST(PaneInWindow, TheStateOutlivesThePaneAndNoLongerShowsItsFlagThere)
{
    TempDir home, config;
    setenv("CORVANE_HOME", home.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    {
        CProgramState state;
        state.Subscriptions().Load();
        {
            CMainFrame frame;
            auto* view = new CCorvaneView(state, &frame);
            frame.SetView(view, view);
            CTaskBar* pane = InstallTaskPane(frame, *view);
            state.Subscriptions().SetSyncChannels(0);
            EXPECT_TRUE(pane->syncOffButton->isVisibleTo(&frame));
        }
        // The pane went with its frame; the flag still changes, and nothing reaches the pane.
        state.Subscriptions().SetSyncChannels(1);
        EXPECT_EQ(state.Subscriptions().SyncChannels(), 1);
    }
    unsetenv("CORVANE_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
        qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Every button's text ends inside its frame with room to spare, in the pressed frame (drawn one
// pixel to the right and down) too: the last letter is never cut by the frame's edge.
TEST(PanePictures, EveryButtonsTextEndsInsideItsFrame)
{
    const char* const names[] = {"update-all", "update-marked", "update-current", "import-opml",
        "export-opml", "send-to", "sync-off", "sync-on"};
    for (const char* name : names) {
        const QString path = QStringLiteral(":/taskpane/%1.svg").arg(QLatin1String(name));
        const QSize size = PictureSize(path);
        const int frameWidth = size.width() / 3;
        const QImage picture = LoadPicture(path, size, 1.0).toImage();
        ASSERT_FALSE(picture.isNull()) << name;
        // The normal frame has no background: its rightmost drawn column is where the text ends.
        int inkRight = -1;
        for (int x = 0; x < frameWidth; ++x) {
            for (int y = 0; y < size.height(); ++y) {
                if (qAlpha(picture.pixel(x, y)) > 40)
                    inkRight = std::max(inkRight, x);
            }
        }
        const int pressedShift = 1;
        const int borderAndGap = 3;
        EXPECT_LE(inkRight + pressedShift, frameWidth - 1 - borderAndGap) << name;
    }
}
