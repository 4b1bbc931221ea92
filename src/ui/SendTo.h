// Send To: hands the package file to a target the user picks from a menu.
//
// The targets and the hand-over itself are the core's (send/SendTargets.h, send/HandOver.h);
// this is the menu, the folder dialog, the messages and the report of where the package went.
// Targets are found afresh each time the menu opens. Programs start detached with an argument
// list, never through a shell.
//
// Everything here runs on the GUI thread.
#pragma once

#include "send/HandOver.h"
#include "send/PackageCopy.h"
#include "send/SendTargets.h"
#include "sync/EpisodeSync.h"

#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QMenu;
class QAction;
class QWidget;

namespace corvane {

// The Send To menu of one window. Holds the hooks that tests replace.
class CSendTo {
public:
    CSendTo();

    enum class Outcome {
        NoPackage, // the warning was shown
        Cancelled, // the menu closed without a choice (or the folder dialog was cancelled)
        Sent, // the copy was made or the program was started; the report said where
        Failed, // an error message was shown
    };

    // Checks that packagePath opens for reading (else the "Warning" message and NoPackage),
    // finds the targets, shows them as a menu with its top-left corner at the owner's client
    // point, and hands the package to the chosen target.
    // The menu ends in its own section, the submenu "Sync Episodes To": the targets that are
    // folders (volumes, phones' storages) and "Folder...", to sync the package's episodes onto
    // (sync/EpisodeSync.h) with a progress dialog; the result goes to report, a failure to
    // message.
    Outcome Run(QWidget* owner, QPoint clientPoint, const QString& packagePath);
    // The File menu's "Sync Episodes To": that submenu's targets alone, as a menu.
    Outcome RunSync(QWidget* owner, QPoint clientPoint, const QString& packagePath);

    // The last menu's targets, in menu order (for tests).
    const std::vector<SendToTarget>& Targets() const { return targets; }

    // Hooks. sources: where targets come from (default FromEnvironment). message: a box with the
    // caption and text (default QMessageBox with the exclamation icon). execMenu: shows the menu
    // at a global point and returns the chosen action or null (default QMenu::exec).
    // chooseFolder: the "Folder..." dialog, empty for Cancel. startProgram: starts detached
    // (default QProcess::startDetached) and returns whether it started. report: says where the
    // package went after a hand-over (default: the status bar of the frame around owner, through
    // its tree view's host; nothing when owner is in no such frame).
    std::function<SendToSources()> sources;
    std::function<void(QWidget* owner, const QString& caption, const QString& text)> message;
    std::function<QAction*(QMenu& menu, QPoint globalPoint)> execMenu;
    std::function<QString(QWidget* owner)> chooseFolder;
    std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
    std::function<void(QWidget* owner, const QString& text)> report;
    // Runs a sync with its progress shown (default RunSyncWithProgress, ui/SyncProgress.h).
    std::function<SyncResult(QWidget* owner, const SyncSetup& setup)> runSync;

private:
    bool HavePackage(QWidget* owner, const QString& packagePath);
    Outcome Send(QWidget* owner, const SendToTarget& target, const QString& packagePath);
    Outcome Sync(QWidget* owner, const SendToTarget& target, const QString& packagePath);
    std::vector<SendToTarget> targets;
};

// The warning shown when there is no package to send.
QString NoPackageText();

// The label of the sync's section and of the File menu's command.
QString SyncEpisodesToText();

} // namespace corvane
