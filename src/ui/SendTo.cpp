#include "ui/SendTo.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/Paths.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace corvane {

namespace {

// kdeconnect-cli asks its daemon over D-Bus; a daemon that does not answer must not keep the
// menu from opening for long.
constexpr int kDeviceListTimeoutMs = 3000;

QString CurrentUserName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return user;
}

QStringList MountedRemovableFolders()
{
    const QString user = CurrentUserName();
    if (user.isEmpty())
        return {};
    const QStringList parents = {"/run/media/" + user + "/", "/media/" + user + "/"};
    QStringList folders;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || volume.isReadOnly())
            continue;
        const QString root = volume.rootPath();
        for (const QString& parent : parents) {
            if (root.startsWith(parent) && root.size() > parent.size())
                folders << root;
        }
    }
    folders.removeDuplicates();
    folders.sort();
    return folders;
}

std::vector<std::pair<QString, QString>> ListKdeConnectDevices(const QString& program)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments({"--list-available", "--id-name-only"});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForFinished(kDeviceListTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return ParseKdeConnectDevices(process.readAllStandardOutput());
}

// The string escapes of a desktop entry value (\s \n \t \r \\); other backslashes stay for
// the quoting rules of Exec.
QString UnescapeValue(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const QChar next = value[i + 1];
            if (next == 's') {
                result += ' ';
                ++i;
                continue;
            }
            if (next == 'n' || next == 't' || next == 'r') {
                result += next == 'n' ? '\n' : next == 't' ? '\t' : '\r';
                ++i;
                continue;
            }
            if (next == '\\') {
                result += '\\';
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

} // namespace

SendToSources SendToSources::FromEnvironment()
{
    SendToSources sources;
    sources.sendToFolder = QString::fromStdString(GetProgramFolder()) + "SendTo";
    if (qEnvironmentVariableIsSet("CORVANE_SENDTO_VOLUMES")) {
        for (const QString& folder :
            qEnvironmentVariable("CORVANE_SENDTO_VOLUMES").split(':', Qt::SkipEmptyParts))
            sources.volumeFolders << folder;
    } else {
        sources.volumeFolders = MountedRemovableFolders();
    }
    sources.kdeConnectCli = QStandardPaths::findExecutable("kdeconnect-cli");
    sources.bluetoothSendTo = QStandardPaths::findExecutable("bluetooth-sendto");
    return sources;
}

bool SplitExecLine(const QString& exec, QStringList& arguments)
{
    arguments.clear();
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
            inArgument = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return false;
    if (inArgument)
        arguments << current;
    return true;
}

QStringList ExpandFieldCodes(
    const QStringList& arguments, const QString& filePath, const QString& name)
{
    const QString address = QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded);
    QStringList result;
    bool fileUsed = false;
    for (const QString& argument : arguments) {
        QString expanded;
        bool hadCode = false;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            const QChar c = argument[i];
            if (c != '%' || i + 1 == argument.size()) {
                expanded += c;
                continue;
            }
            const QChar code = argument[++i];
            hadCode = true;
            switch (code.unicode()) {
            case 'f':
            case 'F':
                expanded += filePath;
                fileUsed = true;
                break;
            case 'u':
            case 'U':
                expanded += address;
                fileUsed = true;
                break;
            case 'c':
                expanded += name;
                break;
            case '%':
                expanded += '%';
                break;
            default: // %i %k and the deprecated %d %D %n %N %v %m expand to nothing
                break;
            }
        }
        if (hadCode && expanded.isEmpty())
            continue;
        result << expanded;
    }
    if (!fileUsed && !result.isEmpty())
        result << filePath;
    return result;
}

bool ReadDesktopEntry(const QString& path, SendToTarget& target)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // A hand-written parser: QSettings would treat ';' and ',' in values as list separators.
    QString group;
    QString name, exec, type;
    bool hidden = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        if (group != "Desktop Entry")
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = UnescapeValue(line.mid(equals + 1).trimmed());
        if (key == "Name")
            name = value;
        else if (key == "Exec")
            exec = value;
        else if (key == "Type")
            type = value;
        else if (key == "Hidden")
            hidden = value == "true";
    }
    if (hidden || name.isEmpty() || exec.isEmpty() || (!type.isEmpty() && type != "Application"))
        return false;
    QStringList arguments;
    if (!SplitExecLine(exec, arguments) || arguments.isEmpty())
        return false;
    target.kind = SendToTarget::Kind::Program;
    target.label = name;
    target.program = arguments.takeFirst();
    target.arguments = arguments;
    target.folder.clear();
    return true;
}

std::vector<std::pair<QString, QString>> ParseKdeConnectDevices(const QByteArray& output)
{
    std::vector<std::pair<QString, QString>> devices;
    for (const QByteArray& rawLine : output.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype space = line.indexOf(' ');
        const QString id = space < 0 ? line : line.left(space);
        const QString name = space < 0 ? line : line.mid(space + 1).trimmed();
        devices.emplace_back(id, name.isEmpty() ? id : name);
    }
    return devices;
}

std::vector<SendToTarget> FindSendToTargets(const SendToSources& sources)
{
    std::vector<SendToTarget> targets;

    if (!sources.sendToFolder.isEmpty()) {
        const QDir folder(sources.sendToFolder);
        std::vector<SendToTarget> entries;
        for (const QFileInfo& info :
            folder.entryInfoList({"*.desktop"}, QDir::Files | QDir::Readable, QDir::Name)) {
            SendToTarget target;
            if (ReadDesktopEntry(info.absoluteFilePath(), target))
                entries.push_back(std::move(target));
        }
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return QString::localeAwareCompare(a.label, b.label) < 0;
        });
        for (auto& entry : entries)
            targets.push_back(std::move(entry));
    }

    for (const QString& folder : sources.volumeFolders) {
        const QFileInfo info(folder);
        if (!info.isDir())
            continue;
        SendToTarget target;
        target.kind = SendToTarget::Kind::Volume;
        const QString volumeName = info.fileName().isEmpty() ? folder : info.fileName();
        target.label = QObject::tr("Removable Disk (%1)").arg(volumeName);
        target.folder = info.absoluteFilePath();
        targets.push_back(std::move(target));
    }

    if (!sources.kdeConnectCli.isEmpty()) {
        for (const auto& [id, name] : ListKdeConnectDevices(sources.kdeConnectCli)) {
            SendToTarget target;
            target.kind = SendToTarget::Kind::Program;
            target.label = QObject::tr("%1 (KDE Connect)").arg(name);
            target.program = sources.kdeConnectCli;
            target.arguments = {"--device", id, "--share", "%f"};
            targets.push_back(std::move(target));
        }
    }

    if (!sources.bluetoothSendTo.isEmpty()) {
        SendToTarget target;
        target.kind = SendToTarget::Kind::Program;
        target.label = QObject::tr("Bluetooth Device...");
        target.program = sources.bluetoothSendTo;
        target.arguments = {"%f"};
        targets.push_back(std::move(target));
    }

    SendToTarget chooser;
    chooser.kind = SendToTarget::Kind::ChooseFolder;
    chooser.label = QObject::tr("Folder...");
    targets.push_back(std::move(chooser));
    return targets;
}

namespace {

// The message as the dialogs show it: a sentence.
QString Sentence(const std::string& message)
{
    QString text = QString::fromStdString(message);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// Copies the regular file at sourcePath to destination as every file is replaced here
// (platform/AtomicFile.h): a temporary beside the target, renamed over it when complete. What a
// killed copy left there before goes first. Removable volumes are often FAT file systems, which
// support a rename within one folder.
QString CopyThroughAtomicFile(const std::string& sourcePath, const std::string& destination)
{
    InputFile source;
    std::string reason;
    if (!source.Open(sourcePath, reason))
        return Sentence("cannot read " + sourcePath + ": " + reason);
    AtomicFile target;
    std::string error;
    if (!target.Open(destination, error))
        return Sentence(error);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const long got = source.Read(buffer.data(), buffer.size());
        if (got < 0)
            return Sentence("cannot read " + sourcePath + ": " + std::strerror(errno));
        if (got == 0)
            break;
        if (!target.Write(buffer.data(), static_cast<std::size_t>(got), error))
            return Sentence(error);
    }
    return target.Commit(error) ? QString() : Sentence(error);
}

} // namespace

QString CopyFileInto(const QString& sourcePath, const QString& folder)
{
    const QFileInfo sourceInfo(sourcePath);
    const QString destination = QDir(folder).filePath(sourceInfo.fileName());
    const QFileInfo destinationInfo(destination);
    // Writing a file over itself through a temporary would be harmless, but a plain truncating
    // copy would destroy the only package; either way there is nothing to do.
    if (destinationInfo.exists()
        && destinationInfo.canonicalFilePath() == sourceInfo.canonicalFilePath())
        return QString();

    return CopyThroughAtomicFile(sourcePath.toStdString(), destination.toStdString());
}

QString NoPackageText()
{
    return QStringLiteral("The updated feeds file does not exist. Please update feeds first.");
}

CSendTo::CSendTo()
{
    sources = [] { return SendToSources::FromEnvironment(); };
    message = [](QWidget* owner, const QString& caption, const QString& text) {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
        box.exec();
    };
    execMenu = [](QMenu& menu, QPoint globalPoint) { return menu.exec(globalPoint); };
    chooseFolder = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, QObject::tr("Send To Folder"));
    };
    startProgram = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
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
    const QString absolutePackage = QFileInfo(packagePath).absoluteFilePath();
    QString folder;
    switch (target.kind) {
    case SendToTarget::Kind::Program: {
        const QStringList arguments
            = ExpandFieldCodes(target.arguments, absolutePackage, target.label);
        if (!startProgram(target.program, arguments)) {
            message(owner, QStringLiteral("Error"),
                QObject::tr("Cannot start %1 to send %2.").arg(target.program, absolutePackage));
            return Outcome::Failed;
        }
        return Outcome::Sent;
    }
    case SendToTarget::Kind::Volume:
        folder = target.folder;
        break;
    case SendToTarget::Kind::ChooseFolder:
        folder = chooseFolder(owner);
        if (folder.isEmpty())
            return Outcome::Cancelled;
        break;
    }
    const QString error = CopyFileInto(absolutePackage, folder);
    if (!error.isEmpty()) {
        message(owner, QStringLiteral("Error"), error);
        return Outcome::Failed;
    }
    return Outcome::Sent;
}

} // namespace corvane
