#include "send/SendTargets.h"

#include "platform/Paths.h"
#include "send/PhoneMounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>

#include <algorithm>
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
        if (!volume.isValid() || !volume.isReady() || volume.isReadOnly()
            || IsMtpFileSystemType(QString::fromUtf8(volume.fileSystemType())))
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
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        sources.gvfsFolder = runtime + "/gvfs";
    sources.mountsFile = qEnvironmentVariableIsSet("CORVANE_MOUNTS_FILE")
        ? qEnvironmentVariable("CORVANE_MOUNTS_FILE")
        : QStringLiteral("/proc/self/mounts");
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

namespace {

SendToTarget CopyTarget(const QString& label, const QString& folder)
{
    SendToTarget target;
    target.kind = SendToTarget::Kind::Volume;
    target.label = label;
    target.folder = folder;
    return target;
}

SendToTarget ProgramTarget(const QString& label, const QString& program, QStringList arguments)
{
    SendToTarget target;
    target.kind = SendToTarget::Kind::Program;
    target.label = label;
    target.program = program;
    target.arguments = std::move(arguments);
    return target;
}

void AddDesktopEntries(const QString& sendToFolder, std::vector<SendToTarget>& targets)
{
    if (sendToFolder.isEmpty())
        return;
    const QDir folder(sendToFolder);
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

void AddVolumes(const QStringList& volumeFolders, std::vector<SendToTarget>& targets)
{
    for (const QString& folder : volumeFolders) {
        const QFileInfo info(folder);
        if (!info.isDir())
            continue;
        const QString volumeName = info.fileName().isEmpty() ? folder : info.fileName();
        targets.push_back(CopyTarget(
            QObject::tr("Removable Disk (%1)").arg(volumeName), info.absoluteFilePath()));
    }
}

} // namespace

std::vector<SendToTarget> FindSendToTargets(const SendToSources& sources)
{
    std::vector<SendToTarget> targets;
    AddDesktopEntries(sources.sendToFolder, targets);
    AddVolumes(sources.volumeFolders, targets);
    for (const PhoneStorage& storage : FindPhoneStorages(sources.gvfsFolder, sources.mountsFile))
        targets.push_back(CopyTarget(PhoneStorageLabel(storage), storage.folder));
    if (!sources.kdeConnectCli.isEmpty()) {
        for (const auto& [id, name] : ListKdeConnectDevices(sources.kdeConnectCli)) {
            targets.push_back(ProgramTarget(QObject::tr("%1 (KDE Connect)").arg(name),
                sources.kdeConnectCli, {"--device", id, "--share", "%f"}));
        }
    }
    if (!sources.bluetoothSendTo.isEmpty()) {
        targets.push_back(
            ProgramTarget(QObject::tr("Bluetooth Device..."), sources.bluetoothSendTo, {"%f"}));
    }
    SendToTarget chooser;
    chooser.kind = SendToTarget::Kind::ChooseFolder;
    chooser.label = QObject::tr("Folder...");
    targets.push_back(std::move(chooser));
    return targets;
}

} // namespace corvane
