#include "send/PhoneMounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <map>

namespace corvane {

namespace {

// The kernel writes space, tab, newline and backslash of a mounts table's fields as \ooo.
QString DecodeMountsField(const QByteArray& field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int value = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3 && value < 256) {
                decoded += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        decoded += c;
    }
    return QString::fromUtf8(decoded);
}

// The storages of one device: the mount's top folders, by name.
std::vector<PhoneStorage> StoragesOf(const QString& device, const QString& mountFolder)
{
    std::vector<PhoneStorage> storages;
    const QDir mount(mountFolder);
    for (const QFileInfo& info :
        mount.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::LocaleAware))
        storages.push_back({device, info.fileName(), info.absoluteFilePath()});
    return storages;
}

struct GvfsDevice {
    QString name;
    QString host;
    QString folder;
};

std::vector<GvfsDevice> GvfsDevices(const QString& gvfsFolder)
{
    std::vector<GvfsDevice> devices;
    if (gvfsFolder.isEmpty())
        return devices;
    for (const QFileInfo& info :
        QDir(gvfsFolder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QString type, host;
        if (!ParseGvfsMountName(info.fileName(), type, host)
            || (type != "mtp" && type != "gphoto2"))
            continue;
        devices.push_back({DeviceNameFromHost(type, host), host, info.absoluteFilePath()});
    }
    // Two phones of one model show one name: then each is known by its whole host, serial and all.
    std::map<QString, int> uses;
    for (const GvfsDevice& device : devices)
        ++uses[device.name];
    for (GvfsDevice& device : devices) {
        if (uses[device.name] > 1)
            device.name = QString(device.host).replace('_', ' ');
    }
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
    return devices;
}

} // namespace

bool ParseGvfsMountName(const QString& name, QString& type, QString& host)
{
    const qsizetype colon = name.indexOf(':');
    if (colon <= 0)
        return false;
    QString foundHost;
    for (const QString& pair : name.mid(colon + 1).split(',')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals) == "host")
            foundHost
                = QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1).toUtf8()));
    }
    if (foundHost.isEmpty())
        return false;
    type = name.left(colon);
    host = foundHost;
    return true;
}

QString DeviceNameFromHost(const QString& type, const QString& host)
{
    if (host.startsWith('[') && host.endsWith(']')) {
        const QString port = host.mid(1, host.size() - 2);
        return type == "gphoto2" ? QObject::tr("PTP Device (%1)").arg(port)
                                 : QObject::tr("MTP Device (%1)").arg(port);
    }
    QStringList parts = host.split('_', Qt::SkipEmptyParts);
    if (parts.size() >= 3)
        parts.removeLast(); // vendor, model..., serial
    return parts.isEmpty() ? host : parts.join(' ');
}

bool IsMtpFileSystemType(const QString& type)
{
    return type.startsWith("fuse.") && type.mid(5).contains("mtp", Qt::CaseInsensitive);
}

std::vector<QString> ParseMtpFuseMounts(const QByteArray& mountsTable)
{
    std::vector<QString> folders;
    for (const QByteArray& line : mountsTable.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3)
            continue;
        // Some FUSE versions give the plain type "fuse" and name the program as the source.
        const QString type = DecodeMountsField(fields[2]);
        const QString source = DecodeMountsField(fields[0]);
        if (IsMtpFileSystemType(type)
            || (type == "fuse" && source.contains("mtp", Qt::CaseInsensitive)))
            folders.push_back(DecodeMountsField(fields[1]));
    }
    return folders;
}

std::vector<PhoneStorage> FindPhoneStorages(const QString& gvfsFolder, const QString& mountsFile)
{
    std::vector<PhoneStorage> storages;
    for (const GvfsDevice& device : GvfsDevices(gvfsFolder)) {
        for (PhoneStorage& storage : StoragesOf(device.name, device.folder))
            storages.push_back(std::move(storage));
    }
    QFile mounts(mountsFile);
    if (mountsFile.isEmpty() || !mounts.open(QIODevice::ReadOnly))
        return storages;
    // /proc files report no size: read to the end, not a size's worth.
    for (const QString& folder : ParseMtpFuseMounts(mounts.readAll())) {
        const QString name = QFileInfo(folder).fileName();
        for (PhoneStorage& storage : StoragesOf(name.isEmpty() ? folder : name, folder))
            storages.push_back(std::move(storage));
    }
    return storages;
}

QString PhoneStorageLabel(const PhoneStorage& storage)
{
    return storage.device + QStringLiteral(" \u2013 ") + storage.storage;
}

} // namespace corvane
