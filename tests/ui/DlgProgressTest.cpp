#include "ui/DlgProgress.h"
#include "ui/DialogUnits.h"
#include "ui/ProgramState.h"
#include "ui/Resources.h"

#include "support/TempDir.h"
#include "support/TestServer.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace corvane;

using namespace std::chrono_literals;

namespace {

std::string Feed(const std::string& title)
{
    return "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>" + title
        + "</title><link>http://127.0.0.1/</link><description>d</description>"
          "<item><title>one</title><description>text</description></item>"
          "</channel></rss>\n";
}

// A private program folder and settings store, a loopback server with feeds a, b (404) and c,
// and a controller over them.
struct JobFixture : ::testing::Test {
    JobFixture()
    {
        setenv("CORVANE_HOME", home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
        server.Serve("/a.xml", Feed("A"), "application/rss+xml");
        server.Serve("/c.xml", Feed("C"), "application/rss+xml");
        package = output.File("corvane.mrf");

        settings.outputPath = package;
        settings.podcastOn = 0;
        settings.scheduleOn = 1;
        settings.scheduleHour = 6;
        settings.scheduleMinute = 0;
        UpdateHooks hooks;
        hooks.readSettings = [this] { return settings; };
        hooks.syncChannels = [] { return 0; };
        hooks.setRepackable = [this](int value) {
            repackable = value;
            return Result<void>();
        };
        hooks.collectAllFeeds = [this] { return scheduledFeeds; };
        hooks.scheduledBusy
            = [this](bool busy) { RecordTrayIcon(busy ? TRAY_ICON_BUSY : TRAY_ICON_NORMAL); };
        controller = std::make_unique<CUpdateController>(std::move(hooks));
    }
    ~JobFixture() override
    {
        controller.reset();
        unsetenv("CORVANE_HOME");
        unsetenv("XDG_CONFIG_HOME");
    }

    UpdateRequest Request(std::vector<std::string> paths, bool repack = false)
    {
        UpdateRequest request;
        request.repack = repack;
        request.outputPath = package;
        for (const std::string& path : paths)
            request.feedUrls.push_back(server.Url(path));
        return request;
    }

    // Calls check every 20 ms while the dialog is up, at most for about 30 seconds; then gives
    // up and presses Cancel so that no test can hang.
    static void Watch(CDlgProgress& dialog, std::function<bool()> check)
    {
        auto* timer = new QTimer(&dialog);
        auto rounds = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, &dialog, [&dialog, timer, rounds, check] {
            if (!dialog.isVisible())
                return;
            if (check()) {
                timer->stop();
            } else if (++*rounds > 1500) {
                timer->stop();
                ADD_FAILURE() << "the dialog did not reach the expected state";
                dialog.reject();
            }
        });
        timer->start(20);
    }

    // Presses OK once the job has finished, noting the buttons' states first.
    void PressOkAtTheEnd(CDlgProgress& dialog)
    {
        Watch(dialog, [this, &dialog] {
            if (!dialog.Finished())
                return false;
            okAtEnd = dialog.OkButton()->isEnabled();
            cancelAtEnd = dialog.CancelButton()->isEnabled();
            dialog.OkButton()->click();
            return true;
        });
    }

    void ProcessEventsUntil(const std::function<bool()>& done)
    {
        for (int i = 0; i < 1500 && !done(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(5ms);
        }
    }

    TempDir home, config, output;
    TestServer server;
    std::string package;
    CorvaneSettings settings;
    std::atomic<int> repackable {0};
    std::vector<std::string> scheduledFeeds;
    // The scheduled update reports from its own thread.
    void RecordTrayIcon(int icon)
    {
        std::lock_guard lock(trayMutex);
        trayIconLog.push_back(icon);
    }
    std::vector<int> TrayIcons()
    {
        std::lock_guard lock(trayMutex);
        return trayIconLog;
    }
    std::mutex trayMutex;
    std::vector<int> trayIconLog;
    std::unique_ptr<CUpdateController> controller;
    bool okAtEnd = false;
    bool cancelAtEnd = true;
};

} // namespace

TEST_F(JobFixture, WholeJobWithAFailureShowsTheBoxAndTheFinalText)
{
    CDlgProgress dialog(*controller, Request({"/a.xml", "/b.xml", "/c.xml"}));
    EXPECT_EQ(dialog.windowTitle(), "Updating Feeds...");
    EXPECT_EQ(dialog.StatusLabel()->text(), "Updating...");
    EXPECT_EQ(dialog.size(), CDialogUnits(dialog.font()).Size(274, 70)); // the template's units

    QStringList failures, reasons;
    bool okDuringJob = true, cancelDuringJob = false, repackDuringJob = true,
         scheduledDuringJob = true;
    dialog.showFailure = [&](QWidget* owner, const QString& text, const QString& reason) {
        EXPECT_EQ(owner, &dialog);
        failures << text;
        reasons << reason;
        okDuringJob = dialog.OkButton()->isEnabled();
        cancelDuringJob = dialog.CancelButton()->isEnabled();
        repackDuringJob = CanRepack(repackable, controller->UpdateRunning());
        // The set time while the dialog is up does not start the scheduled update.
        scheduledDuringJob = controller->OnScheduleTick(LocalTime {2026, 12, 7, 6, 0, 0});
    };
    PressOkAtTheEnd(dialog);
    EXPECT_EQ(dialog.Run(), 0);

    EXPECT_EQ(
        failures, QStringList(QString::fromStdString(UpdateFailureText(server.Url("/b.xml")))));
    EXPECT_EQ(reasons, QStringList("HTTP status 404")); // the box's detail text
    EXPECT_FALSE(okDuringJob);
    EXPECT_TRUE(cancelDuringJob);
    EXPECT_FALSE(repackDuringJob);
    EXPECT_FALSE(scheduledDuringJob);
    EXPECT_TRUE(okAtEnd);
    EXPECT_FALSE(cancelAtEnd);

    const auto size = static_cast<std::uint64_t>(ReadWholeFile(package).size());
    ASSERT_GT(size, 0u);
    EXPECT_EQ(dialog.StatusLabel()->text().toStdString(), UpdateFinalText(size, true));
    EXPECT_TRUE(dialog.StatusLabel()->text().endsWith(
        "Failed to get one or more feeds, which will not be updated on your phone."));
    // The long final text is shown whole, above the bar and the buttons, inside the dialog.
    QLabel* status = dialog.StatusLabel();
    EXPECT_LE(status->heightForWidth(status->width()), status->height());
    EXPECT_LE(status->geometry().bottom(), dialog.ProgressBar()->geometry().top());
    EXPECT_TRUE(dialog.rect().contains(dialog.OkButton()->geometry()));
    EXPECT_EQ(dialog.ProgressBar()->maximum(), 3);
    EXPECT_EQ(dialog.ProgressBar()->value(), 3);
    EXPECT_EQ(repackable, 1);
    EXPECT_TRUE(CanRepack(repackable, controller->UpdateRunning()));
    EXPECT_TRUE(TrayIcons().empty());

    // Re-Pack from the cache: the feed that failed has no cached document, and its box says so;
    // the previous package lacks it too, so the new one is written.
    CDlgProgress repack(*controller, Request({"/a.xml", "/b.xml", "/c.xml"}, true));
    repack.showFailure = [&](QWidget*, const QString& text, const QString&) { failures << text; };
    PressOkAtTheEnd(repack);
    EXPECT_EQ(repack.Run(), 0);
    ASSERT_EQ(failures.size(), 2);
    EXPECT_EQ(failures[1].toStdString(), RepackMissingFeedText(server.Url("/b.xml")));
    EXPECT_TRUE(repack.StatusLabel()->text().startsWith("Finished. The file size is "));
    EXPECT_TRUE(repack.StatusLabel()->text().contains("Failed to get one or more feeds"));
    EXPECT_EQ(server.Hits("/a.xml"), 1);
}

TEST_F(JobFixture, CancelMidJobKeepsThePreviousPackageAndShowsNothingMore)
{
    output.Write("corvane.mrf", "PREVIOUS PACKAGE");
    server.Serve("/slow.xml", Feed("Slow"), "application/rss+xml");
    server.SetDelay("/slow.xml", 4000ms);

    CDlgProgress dialog(*controller, Request({"/a.xml", "/slow.xml", "/c.xml"}));
    dialog.showFailure = [](QWidget*, const QString& text, const QString&) {
        ADD_FAILURE() << "unexpected failure box: " << text.toStdString();
    };
    const QString slow = QString::fromStdString(server.Url("/slow.xml"));
    Watch(dialog, [&] {
        if (!dialog.StatusLabel()->text().contains(slow))
            return false;
        dialog.CancelButton()->click();
        return true;
    });
    EXPECT_EQ(dialog.Run(), 0);
    EXPECT_FALSE(controller->ManualRunning());
    QApplication::processEvents();

    EXPECT_EQ(ReadWholeFile(package), "PREVIOUS PACKAGE");
    EXPECT_EQ(QDir(QString::fromStdString(output.Path())).entryList(QDir::Files | QDir::Hidden),
        QStringList("corvane.mrf"));
    EXPECT_EQ(dialog.StatusLabel()->text(), "Downloading " + slow);
    EXPECT_FALSE(dialog.Finished());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    // A cancelled full update leaves Re-Pack unavailable.
    EXPECT_EQ(repackable, 0);
    EXPECT_FALSE(CanRepack(repackable, controller->UpdateRunning()));
}

TEST_F(JobFixture, CancelWhileAFailureBoxIsOpenEndsTheJob)
{
    int boxes = 0;
    CDlgProgress dialog(*controller, Request({"/b.xml", "/missing.xml", "/a.xml"}));
    dialog.showFailure = [&](QWidget*, const QString&, const QString&) {
        ++boxes;
        dialog.CancelButton()->click();
    };
    EXPECT_EQ(dialog.Run(), 0);
    QApplication::processEvents();
    EXPECT_EQ(boxes, 1);
    EXPECT_FALSE(dialog.Finished());
    EXPECT_FALSE(FileExists(package));
}

TEST_F(JobFixture, NothingToDoShowsNoDialogAndUnwritablePackageFails)
{
    output.Write("corvane.mrf", "PREVIOUS PACKAGE");
    CDlgProgress empty(*controller, Request({}));
    EXPECT_EQ(empty.Run(), 0);
    EXPECT_EQ(empty.LastStart(), StartResult::NothingToDo);
    EXPECT_EQ(ReadWholeFile(package), "PREVIOUS PACKAGE");

    UpdateRequest request = Request({"/a.xml"});
    request.outputPath = output.File("no/such/folder/corvane.mrf");
    CDlgProgress unwritable(*controller, request);
    std::string error;
    EXPECT_EQ(unwritable.Run(&error), -1);
    EXPECT_EQ(unwritable.LastStart(), StartResult::CannotOpenPackage);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(controller->UpdateRunning());
}

TEST_F(JobFixture, ScheduledUpdateSwitchesTheTrayIcon)
{
    scheduledFeeds = {server.Url("/a.xml"), server.Url("/b.xml")};
    EXPECT_FALSE(controller->OnScheduleTick(LocalTime {2026, 12, 7, 5, 59, 59}));
    EXPECT_TRUE(controller->OnScheduleTick(LocalTime {2026, 12, 7, 6, 0, 0}));
    controller->WaitScheduled();
    ProcessEventsUntil([&] { return TrayIcons().size() >= 2; });
    EXPECT_EQ(TrayIcons(), std::vector<int>({TRAY_ICON_BUSY, TRAY_ICON_NORMAL}));
    EXPECT_TRUE(FileExists(package));
    EXPECT_EQ(repackable, 1);
    // Once a day's minute.
    EXPECT_FALSE(controller->OnScheduleTick(LocalTime {2026, 12, 7, 6, 0, 30}));
}

TEST_F(JobFixture, ManualJobStopsTheScheduledUpdateFirst)
{
    server.Serve("/slow.xml", Feed("Slow"), "application/rss+xml");
    server.SetDelay("/slow.xml", 4000ms);
    scheduledFeeds = {server.Url("/slow.xml")};
    ASSERT_TRUE(controller->OnScheduleTick(LocalTime {2026, 12, 7, 6, 0, 0}));
    ProcessEventsUntil([&] { return !TrayIcons().empty(); });
    ASSERT_EQ(TrayIcons(), std::vector<int>({TRAY_ICON_BUSY}));

    CDlgProgress dialog(*controller, Request({"/a.xml"}));
    dialog.showFailure = [](QWidget*, const QString& text, const QString&) {
        ADD_FAILURE() << "unexpected failure box: " << text.toStdString();
    };
    PressOkAtTheEnd(dialog);
    EXPECT_EQ(dialog.Run(), 0);
    ProcessEventsUntil([&] { return TrayIcons().size() >= 2; });
    EXPECT_EQ(TrayIcons(), std::vector<int>({TRAY_ICON_BUSY, TRAY_ICON_NORMAL}));
    EXPECT_FALSE(controller->ScheduledRunning());
    EXPECT_EQ(dialog.StatusLabel()->text().toStdString(),
        UpdateFinalText(ReadWholeFile(package).size(), false));
}
