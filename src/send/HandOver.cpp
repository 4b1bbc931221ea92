#include "send/HandOver.h"

#include "send/PackageCopy.h"

#include <QFileInfo>
#include <QObject>
#include <QProcess>

namespace corvane {

namespace {

constexpr int kDefaultProgramTimeoutSeconds = 600;

// Seconds, fractions allowed (tests wait a fraction of one).
int ProgramTimeoutMs()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("CORVANE_SEND_PROGRAM_TIMEOUT").toDouble(&ok);
    return ok && seconds > 0 && seconds < 86400 ? static_cast<int>(seconds * 1000)
                                                : kDefaultProgramTimeoutSeconds * 1000;
}

QString CannotStart(const QString& program, const QString& reason)
{
    return QObject::tr("Cannot start %1: %2").arg(program, reason);
}

} // namespace

QString StartProgramDetached(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    return process.startDetached() ? QString() : CannotStart(program, process.errorString());
}

QString RunProgramToItsEnd(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted())
        return CannotStart(program, process.errorString());
    if (!process.waitForFinished(ProgramTimeoutMs())) {
        process.kill();
        process.waitForFinished(1000);
        return QObject::tr("%1 did not end in time and was stopped").arg(program);
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return QObject::tr("%1 crashed").arg(program);
    if (process.exitCode() != 0)
        return QObject::tr("%1 ended with exit status %2").arg(program).arg(process.exitCode());
    return QString();
}

HandOverResult HandOver(const SendToTarget& target, const QString& packagePath,
    const ProgramRunner& run, const QString& chosenFolder)
{
    const QString absolutePackage = QFileInfo(packagePath).absoluteFilePath();
    HandOverResult result;
    if (target.kind == SendToTarget::Kind::Program) {
        const QStringList arguments
            = ExpandFieldCodes(target.arguments, absolutePackage, target.label);
        result.error = run(target.program, arguments);
        result.sent = result.error.isEmpty();
        return result;
    }
    const QString folder = target.kind == SendToTarget::Kind::Volume ? target.folder : chosenFolder;
    result.error = CopyFileInto(absolutePackage, folder, &result.copyPath);
    result.sent = result.error.isEmpty();
    return result;
}

QString HandOverReport(
    const SendToTarget& target, const QString& packagePath, const HandOverResult& result)
{
    const QString name = QFileInfo(packagePath).fileName();
    if (!result.copyPath.isEmpty()) {
        // A folder the user named is said once, by the copy's path.
        if (target.kind == SendToTarget::Kind::ChooseFolder || target.label == target.folder)
            return QObject::tr("Sent %1 to %2.").arg(name, result.copyPath);
        return QObject::tr("Sent %1 to %2 (%3).").arg(name, target.label, result.copyPath);
    }
    return QObject::tr("Handed %1 to %2.").arg(name, target.label);
}

namespace {

// A name as typed on a command line: letter case, the dash a keyboard has for the label's en
// dash, and runs of spaces do not matter.
QString LooseName(const QString& name)
{
    return QString(name).replace(QChar(0x2013), '-').simplified().toCaseFolded();
}

} // namespace

bool PickTarget(const std::vector<SendToTarget>& targets, const QString& name, SendToTarget& picked,
    QString& error)
{
    for (const bool loose : {false, true}) {
        std::vector<const SendToTarget*> found;
        for (const SendToTarget& target : targets) {
            if (target.kind != SendToTarget::Kind::ChooseFolder
                && (loose ? LooseName(target.label) == LooseName(name) : target.label == name))
                found.push_back(&target);
        }
        if (found.size() == 1) {
            picked = *found.front();
            return true;
        }
        if (found.size() > 1) {
            error = QObject::tr("more than one Send To target is named '%1'; give the folder "
                                "path instead")
                        .arg(name);
            return false;
        }
    }
    const QFileInfo folder(name);
    if (!name.isEmpty() && folder.isDir()) {
        picked = SendToTarget {};
        picked.kind = SendToTarget::Kind::Volume;
        picked.label = folder.absoluteFilePath();
        picked.folder = folder.absoluteFilePath();
        return true;
    }
    const QStringList known = ListedLabels(targets);
    error = QObject::tr("no Send To target or folder is named '%1'; the targets are: %2")
                .arg(name,
                    known.isEmpty() ? QObject::tr("(none; give a folder path)")
                                    : "'" + known.join("', '") + "'");
    return false;
}

QStringList ListedLabels(const std::vector<SendToTarget>& targets)
{
    QStringList labels;
    for (const SendToTarget& target : targets) {
        if (target.kind != SendToTarget::Kind::ChooseFolder)
            labels << target.label;
    }
    return labels;
}

} // namespace corvane
