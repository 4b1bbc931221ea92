#include "platform/DesktopNotification.h"

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdlib>
#include <sys/stat.h>

namespace corvane {

namespace {

// Each call's connection needs a name of its own within the process.
QString ConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("corvane-notification-%1").arg(counter.fetchAndAddRelaxed(1));
}

QDBusMessage NotifyCall(const DesktopNotification& notification)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QString::fromStdString(notification.appName) << static_cast<uint>(0)
         << QString::fromStdString(notification.iconName)
         << QString::fromStdString(notification.summary)
         << QString::fromStdString(notification.body) << QStringList() << QVariantMap()
         << static_cast<int>(notification.expireMilliseconds);
    return call;
}

} // namespace

std::string SessionBusAddress()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/')
        return std::string();
    const std::string socket = std::string(runtime) + "/bus";
    struct stat status { };
    if (::stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return std::string();
    return "unix:path=" + socket;
}

bool SendDesktopNotification(
    const DesktopNotification& notification, std::string& error, std::chrono::milliseconds timeout)
{
    const std::string address = SessionBusAddress();
    if (address.empty()) {
        error = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
        return false;
    }
    const QString name = ConnectionName();
    bool sent = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address), name);
        if (!bus.isConnected()) {
            error = "cannot connect to the session bus " + address + ": "
                + bus.lastError().message().toStdString();
        } else {
            const QDBusMessage reply = bus.call(
                NotifyCall(notification), QDBus::Block, static_cast<int>(timeout.count()));
            sent = reply.type() == QDBusMessage::ReplyMessage;
            if (!sent)
                error = "the notification service on the session bus " + address
                    + " did not take the notification: " + reply.errorMessage().toStdString();
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return sent;
}

} // namespace corvane
