#include "ui/SendTo.h"

#include "ui/CorvaneView.h"
#include "ui/Prompts.h"

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

CSendTo::CSendTo()
{
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

CSendTo::Outcome CSendTo::Run(QWidget* owner, QPoint clientPoint, const QString& packagePath)
{
    {
        QFile package(packagePath);
        if (packagePath.isEmpty() || !package.open(QIODevice::ReadOnly)
            || QFileInfo(packagePath).isDir()) {
            message(owner, QStringLiteral("Warning"), NoPackageText());
            return Outcome::NoPackage;
        }
    }

    targets = FindSendToTargets(sources());
    QMenu menu(owner);
    std::vector<QAction*> actions;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets[i].kind == SendToTarget::Kind::ChooseFolder && i > 0)
            menu.addSeparator();
        actions.push_back(menu.addAction(targets[i].label));
    }
    const QPoint globalPoint = owner ? owner->mapToGlobal(clientPoint) : clientPoint;
    QAction* chosen = execMenu(menu, globalPoint);
    const auto found = std::find(actions.begin(), actions.end(), chosen);
    if (chosen == nullptr || found == actions.end())
        return Outcome::Cancelled;
    return Send(owner, targets[static_cast<std::size_t>(found - actions.begin())], packagePath);
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
        message(owner, QStringLiteral("Error"), result.error);
        return Outcome::Failed;
    }
    report(owner, HandOverReport(target, absolutePackage, result));
    return Outcome::Sent;
}

} // namespace corvane
