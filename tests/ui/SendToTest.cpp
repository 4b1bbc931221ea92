#include "ui/SendTo.h"

#include "ui/CorvaneView.h"
#include "ui/ProgramState.h"

#include "../sync/SyncTestSupport.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string WriteExecutable(const TempDir& folder, const std::string& name, const std::string& text)
{
    const std::string path = folder.Write(name, text);
    chmod(path.c_str(), 0755);
    return path;
}

// The action of the menu whose text is label, or null.
QAction* ActionNamed(QMenu& menu, const QString& label)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == label)
            return action;
    }
    return nullptr;
}

} // namespace

namespace {

struct SendToFixture : ::testing::Test {
    SendToFixture()
    {
        package = source.Write("corvane.mrf", "PACKAGE BYTES");
        sendTo.sources = [this] { return sources; };
        sendTo.message = [this](QWidget*, const QString& caption, const QString& text) {
            messages << caption + ": " + text;
        };
        sendTo.chooseFolder = [](QWidget*) { return QString(); };
        sendTo.report = [this](QWidget*, const QString& text) { reports << text; };
    }
    // Chooses the menu item with this label, remembering where the menu opened.
    void Choose(const QString& label)
    {
        sendTo.execMenu = [this, label](QMenu& menu, QPoint point) {
            menuPoint = point;
            shownLabels.clear();
            for (QAction* action : menu.actions()) {
                if (!action->isSeparator())
                    shownLabels << action->text();
            }
            return label.isEmpty() ? nullptr : ActionNamed(menu, label);
        };
    }
    TempDir source, home;
    std::string package;
    SendToSources sources;
    CSendTo sendTo;
    QStringList messages;
    QStringList reports;
    QStringList shownLabels;
    QPoint menuPoint;
};

} // namespace

TEST_F(SendToFixture, MissingPackageWarnsAndShowsNoMenu)
{
    bool menuShown = false;
    sendTo.execMenu = [&](QMenu&, QPoint) {
        menuShown = true;
        return nullptr;
    };
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(0, 70), Q(source.File("none.mrf"))),
        CSendTo::Outcome::NoPackage);
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(0, 70), Q(source.Path())), CSendTo::Outcome::NoPackage);
    EXPECT_FALSE(menuShown);
    EXPECT_EQ(messages,
        QStringList(2,
            "Warning: The updated feeds file does not exist. Please "
            "update feeds first."));
}

TEST_F(SendToFixture, NothingFoundShowsFolderOnlyAndCancelRunsNothing)
{
    QWidget owner;
    owner.move(100, 200);
    owner.show();
    Choose(QString());
    EXPECT_EQ(sendTo.Run(&owner, QPoint(0, 70), Q(package)), CSendTo::Outcome::Cancelled);
    EXPECT_EQ(shownLabels, QStringList({"Folder...", "Sync Episodes To"}));
    EXPECT_EQ(menuPoint, owner.mapToGlobal(QPoint(0, 70)));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SendToFixture, VolumeTargetReceivesACopy)
{
    TempDir volume;
    sources.volumeFolders = {Q(volume.Path())};
    const QString label = "Removable Disk (" + QDir(Q(volume.Path())).dirName() + ")";
    Choose(label);
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    EXPECT_EQ(ReadWholeFile(volume.File("corvane.mrf")), "PACKAGE BYTES");
    EXPECT_EQ(reports,
        QStringList("Sent corvane.mrf to " + label + " (" + Q(volume.File("corvane.mrf")) + ")."));
}

TEST_F(SendToFixture, APhoneStorageMountedByGvfsReceivesACopyAndTheReportSaysWhere)
{
    TempDir runtime;
    const std::string storage
        = runtime.File("gvfs/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage");
    ASSERT_TRUE(QDir().mkpath(Q(storage)));
    sources.gvfsFolder = Q(runtime.File("gvfs"));
    const QString label = "Acme Phone X1 \u2013 Internal shared storage";
    Choose(label);
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    EXPECT_EQ(shownLabels, QStringList({label, "Folder...", "Sync Episodes To"}));
    EXPECT_EQ(ReadWholeFile(storage + "/corvane.mrf"), "PACKAGE BYTES");
    EXPECT_EQ(reports,
        QStringList("Sent corvane.mrf to " + label + " (" + Q(storage) + "/corvane.mrf)."));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(SendToFixture, FolderChoiceCopiesOrCancels)
{
    TempDir chosen;
    Choose("Folder...");
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Cancelled);
    EXPECT_FALSE(FileExists(chosen.File("corvane.mrf")));

    sendTo.chooseFolder = [&](QWidget*) { return Q(chosen.Path()); };
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    EXPECT_EQ(ReadWholeFile(chosen.File("corvane.mrf")), "PACKAGE BYTES");

    sendTo.chooseFolder = [&](QWidget*) { return Q(chosen.File("no/such/folder")); };
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Failed);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("Error: ")) << messages[0].toStdString();
    // Only the copy that was made is reported.
    EXPECT_EQ(reports, QStringList("Sent corvane.mrf to " + Q(chosen.File("corvane.mrf")) + "."));
}

TEST_F(SendToFixture, DesktopEntryProgramGetsThePackagePath)
{
    // A real detached program: a script in a folder with a space that records its argument.
    QDir().mkpath(Q(home.File("SendTo")));
    QDir().mkpath(Q(home.File("my tools")));
    const std::string record = home.File("record.txt");
    const std::string script = WriteExecutable(home, "my tools/record.sh",
        "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + record + ".part'\nmv '" + record
            + ".part' '" + record + "'\n");
    home.Write("SendTo/recorder.desktop",
        "[Desktop Entry]\nType=Application\nName=Recorder\nExec=\"" + script + "\" %f\n");
    sources.sendToFolder = Q(home.File("SendTo"));

    Choose("Recorder");
    ASSERT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    for (int i = 0; i < 200 && !FileExists(record); ++i)
        QThread::msleep(25);
    EXPECT_EQ(ReadWholeFile(record), "1|" + package);
    EXPECT_EQ(reports, QStringList("Handed corvane.mrf to Recorder."));
}

TEST_F(SendToFixture, ProgramThatCannotStartIsReported)
{
    QDir().mkpath(Q(home.File("SendTo")));
    home.Write("SendTo/broken.desktop",
        "[Desktop Entry]\nName=Broken\nExec=" + home.File("no-such-program") + " %f\n");
    sources.sendToFolder = Q(home.File("SendTo"));
    Choose("Broken");
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Failed);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("no-such-program")) << messages[0].toStdString();
}

namespace {

// Records what the view's host would show in the frame's status bar.
class StatusHost : public CViewHost {
public:
    explicit StatusHost(QStringList& shown)
        : shown(shown)
    { }
    void ShowStatusText(const QString& text) override { shown << text; }

private:
    QStringList& shown;
};

} // namespace

TEST(SendToReport, GoesToTheStatusBarOfTheFrameAroundTheMenusOwner)
{
    TempDir home, volume;
    const ScopedEnv program("CORVANE_HOME", home.File("home"));
    const ScopedEnv config("XDG_CONFIG_HOME", home.File("config"));
    const ScopedEnv data("XDG_DATA_HOME", home.File("data"));
    const std::string package = home.Write("corvane.mrf", "PACKAGE");
    QStringList shown;
    {
        CProgramState state;
        QWidget frame;
        auto* view = new CCorvaneView(state, &frame);
        view->SetHost(std::make_unique<StatusHost>(shown));
        auto* pane = new QWidget(&frame);

        CSendTo sendTo;
        sendTo.sources = [&] {
            SendToSources sources;
            sources.volumeFolders = {Q(volume.Path())};
            return sources;
        };
        sendTo.execMenu = [](QMenu& menu, QPoint) { return menu.actions().front(); };
        const QString sent = "Sent corvane.mrf to Removable Disk ("
            + QDir(Q(volume.Path())).dirName() + ") (" + Q(volume.File("corvane.mrf")) + ").";
        // From the File menu (the view owns the menu) and from the task pane's button.
        EXPECT_EQ(sendTo.Run(view, QPoint(), Q(package)), CSendTo::Outcome::Sent);
        EXPECT_EQ(sendTo.Run(pane, QPoint(), Q(package)), CSendTo::Outcome::Sent);
        EXPECT_EQ(shown, QStringList({sent, sent}));
        // A window without a tree view has no status bar to tell.
        QWidget alone;
        EXPECT_EQ(sendTo.Run(&alone, QPoint(), Q(package)), CSendTo::Outcome::Sent);
        EXPECT_EQ(shown.size(), 2);
    }
}

namespace {

// Answers the next modal dialog opened under owner: records its modality and closes it.
void CloseNextDialog(QWidget& owner, Qt::WindowModality& modality, bool& seen)
{
    QTimer::singleShot(0, &owner, [&owner, &modality, &seen] {
        for (QDialog* dialog : owner.findChildren<QDialog*>()) {
            if (dialog->isVisible()) {
                seen = true;
                modality = dialog->windowModality();
                dialog->reject();
            }
        }
    });
}

} // namespace

// The tray menu must stay usable while Send To asks something, so its own message box and
// folder question block only their window.
TEST(SendToPrompts, MessageAndFolderQuestionAreModalToTheirWindowOnly)
{
    QWidget owner;
    owner.show();
    CSendTo sendTo;
    Qt::WindowModality modality = Qt::ApplicationModal;
    bool seen = false;
    CloseNextDialog(owner, modality, seen);
    sendTo.message(&owner, QStringLiteral("Error"), QStringLiteral("Cannot send."));
    EXPECT_TRUE(seen);
    EXPECT_EQ(modality, Qt::WindowModal);

    modality = Qt::ApplicationModal;
    seen = false;
    CloseNextDialog(owner, modality, seen);
    EXPECT_TRUE(sendTo.chooseFolder(&owner).isEmpty());
    EXPECT_TRUE(seen);
    EXPECT_EQ(modality, Qt::WindowModal);
}

TEST_F(SendToFixture, SyncEpisodesToWritesTheEpisodesOntoAFolderTargetWithProgress)
{
    synctest::WritePackage(source, package,
        {synctest::Feed("News", "http://n.example/rss",
            {{"One", "Tue, 05 Mar 2024 10:00:00 GMT", "#!AMR\nbytes", RECORD_AMR}})});
    TempDir runtime, chosen;
    const std::string storage = runtime.File("gvfs/mtp:host=Acme_Phone_X1_0123ABC/SD card");
    ASSERT_TRUE(QDir().mkpath(Q(storage)));
    sources.gvfsFolder = Q(runtime.File("gvfs"));
    sources.sendToFolder = Q(home.Path());
    home.Write("mail.desktop", "[Desktop Entry]\nType=Application\nName=Mail It\nExec=mailer %f\n");
    const QString label = "Acme Phone X1 \u2013 SD card";
    // The Send To menu's own section lists the folder targets, not the programs.
    QStringList syncLabels;
    sendTo.execMenu = [&](QMenu& menu, QPoint) -> QAction* {
        QMenu* sync = ActionNamed(menu, "Sync Episodes To")->menu();
        for (QAction* action : sync->actions())
            if (!action->isSeparator())
                syncLabels << action->text();
        return ActionNamed(*sync, label);
    };
    EXPECT_EQ(sendTo.Run(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    EXPECT_EQ(syncLabels, QStringList({label, "Folder..."}));
    EXPECT_EQ(ReadWholeFile(storage + "/Podcasts/News/2024-03-05 One.amr"), "#!AMR\nbytes");
    EXPECT_EQ(reports.value(0).left(39), "Synced 1 episode of 1 feed into " + Q(storage).left(7));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();

    // The File menu's command: the same targets, here the folder one chooses.
    sendTo.chooseFolder = [&](QWidget*) { return Q(chosen.Path()); };
    Choose("Folder...");
    EXPECT_EQ(sendTo.RunSync(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Sent);
    EXPECT_EQ(shownLabels, QStringList({label, "Folder..."}));
    EXPECT_TRUE(FileExists(chosen.File("Podcasts/All podcasts.m3u8")));

    // A failure is said in the message box.
    TempDir blocked;
    blocked.Write("Podcasts", "a file where the sync's folder goes");
    sendTo.chooseFolder = [&](QWidget*) { return Q(blocked.Path()); };
    EXPECT_EQ(sendTo.RunSync(nullptr, QPoint(), Q(package)), CSendTo::Outcome::Failed);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.value(0).startsWith(
        "Error: Cannot create the folder " + Q(blocked.File("Podcasts"))))
        << messages.value(0).toStdString();
}
