#include "ui/SendTo.h"

#include "ui/CorvaneView.h"
#include "ui/Prompts.h"
#include "ui/SyncProgress.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QWidget>

#include <algorithm>

namespace corvane {

namespace {

// The tree view whose host shows text in the frame's status bar: owner itself (the File menu's
// Send To), or the view in owner's window (the task pane's button).
CCorvaneView* ViewAround(QWidget* owner)
{
    if (owner == nullptr)
        return nullptr;
    if (auto* view = qobject_cast<CCorvaneView*>(owner))
        return view;
    return owner->window()->findChild<CCorvaneView*>();
}

} // namespace

QString NoPackageText()
{
    return QStringLiteral("The updated feeds file does not exist. Please update feeds first.");
}

QString SyncEpisodesToText()
{
    return QStringLiteral("Sync Episodes To");
}

CSendTo::CSendTo()
{
    runSync
        = [](QWidget* owner, const SyncSetup& setup) { return RunSyncWithProgress(owner, setup); };
    sources = [] { return SendToSources::FromEnvironment(); };
    message = [](QWidget* owner, const QString& caption, const QString& text) {
        // Modal to its own window only, so that the tray menu stays usable while it is open.
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
        ExecModal(box);
    };
    execMenu = [](QMenu& menu, QPoint globalPoint) { return menu.exec(globalPoint); };
    chooseFolder = [](QWidget* owner) {
        QFileDialog dialog(owner, QObject::tr("Send To Folder"));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    startProgram = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    report = [](QWidget* owner, const QString& text) {
        if (CCorvaneView* view = ViewAround(owner))
            view->Host().ShowStatusText(text);
    };
}

bool CSendTo::HavePackage(QWidget* owner, const QString& packagePath)
{
    QFile package(packagePath);
    if (packagePath.isEmpty() || !package.open(QIODevice::ReadOnly)
        || QFileInfo(packagePath).isDir()) {
        message(owner, QStringLiteral("Warning"), NoPackageText());
        return false;
    }
    return true;
}

namespace {

bool IsFolderTarget(const SendToTarget& target)
{
    return target.kind != SendToTarget::Kind::Program;
}

// The actions of one menu of targets, in target order; filter picks the targets shown.
std::vector<QAction*> AddTargets(
    QMenu& menu, const std::vector<SendToTarget>& targets, bool (*filter)(const SendToTarget&))
{
    std::vector<QAction*> actions(targets.size(), nullptr);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (filter && !filter(targets[i]))
            continue;
        if (targets[i].kind == SendToTarget::Kind::ChooseFolder && !menu.isEmpty())
            menu.addSeparator();
        actions[i] = menu.addAction(targets[i].label);
    }
    return actions;
}

// The target of the chosen action, or targets.size() when none.
std::size_t ChosenTarget(const std::vector<QAction*>& actions, QAction* chosen)
{
    const auto found = std::find(actions.begin(), actions.end(), chosen);
    return chosen == nullptr || found == actions.end()
        ? actions.size()
        : static_cast<std::size_t>(found - actions.begin());
}

} // namespace

CSendTo::Outcome CSendTo::Run(QWidget* owner, QPoint clientPoint, const QString& packagePath)
{
    if (!HavePackage(owner, packagePath))
        return Outcome::NoPackage;
    targets = FindSendToTargets(sources());
    QMenu menu(owner);
    const std::vector<QAction*> sendActions = AddTargets(menu, targets, nullptr);
    menu.addSeparator();
    QMenu* syncMenu = menu.addMenu(SyncEpisodesToText());
    const std::vector<QAction*> syncActions = AddTargets(*syncMenu, targets, IsFolderTarget);
    const QPoint globalPoint = owner ? owner->mapToGlobal(clientPoint) : clientPoint;
    QAction* chosen = execMenu(menu, globalPoint);
    if (const std::size_t sent = ChosenTarget(sendActions, chosen); sent < targets.size())
        return Send(owner, targets[sent], packagePath);
    if (const std::size_t synced = ChosenTarget(syncActions, chosen); synced < targets.size())
        return Sync(owner, targets[synced], packagePath);
    return Outcome::Cancelled;
}

CSendTo::Outcome CSendTo::RunSync(QWidget* owner, QPoint clientPoint, const QString& packagePath)
{
    if (!HavePackage(owner, packagePath))
        return Outcome::NoPackage;
    targets = FindSendToTargets(sources());
    QMenu menu(owner);
    const std::vector<QAction*> actions = AddTargets(menu, targets, IsFolderTarget);
    const QPoint globalPoint = owner ? owner->mapToGlobal(clientPoint) : clientPoint;
    const std::size_t chosen = ChosenTarget(actions, execMenu(menu, globalPoint));
    return chosen < targets.size() ? Sync(owner, targets[chosen], packagePath) : Outcome::Cancelled;
}

CSendTo::Outcome CSendTo::Sync(
    QWidget* owner, const SendToTarget& target, const QString& packagePath)
{
    SyncSetup setup;
    setup.packagePath = QFile::encodeName(QFileInfo(packagePath).absoluteFilePath()).toStdString();
    setup.targetFolder = target.folder;
    if (target.kind == SendToTarget::Kind::ChooseFolder) {
        setup.targetFolder = chooseFolder(owner);
        if (setup.targetFolder.isEmpty())
            return Outcome::Cancelled;
    }
    const SyncResult result = runSync(owner, setup);
    if (result.complete) {
        report(owner, SyncReport(result));
        return Outcome::Sent;
    }
    if (result.stopped) {
        report(owner,
            QObject::tr("The sync into %1 was stopped after %2 files; every file there is whole.")
                .arg(result.folder)
                .arg(result.written));
        return Outcome::Cancelled;
    }
    message(owner, QStringLiteral("Error"), Capitalized(result.error));
    return Outcome::Failed;
}

CSendTo::Outcome CSendTo::Send(
    QWidget* owner, const SendToTarget& target, const QString& packagePath)
{
    QString folder;
    if (target.kind == SendToTarget::Kind::ChooseFolder) {
        folder = chooseFolder(owner);
        if (folder.isEmpty())
            return Outcome::Cancelled;
    }
    const QString absolutePackage = QFileInfo(packagePath).absoluteFilePath();
    const ProgramRunner run = [&](const QString& program, const QStringList& arguments) {
        return startProgram(program, arguments)
            ? QString()
            : QObject::tr("Cannot start %1 to send %2.").arg(program, absolutePackage);
    };
    const HandOverResult result = HandOver(target, absolutePackage, run, folder);
    if (!result.sent) {
        message(owner, QStringLiteral("Error"), Capitalized(result.error));
        return Outcome::Failed;
    }
    report(owner, HandOverReport(target, absolutePackage, result));
    return Outcome::Sent;
}

} // namespace corvane
