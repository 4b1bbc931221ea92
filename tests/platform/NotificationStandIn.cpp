// A stand-in for the desktop's notification service, for the tests: owns
// org.freedesktop.Notifications on the session bus of DBUS_SESSION_BUS_ADDRESS, answers each
// Notify call with a new id and appends "<app>|<summary>|<body>" (line breaks in the body as
// "\n") to the file named by its first argument. Writes "<file>.ready" once the name is owned.
// Ends after 30 s at most, so that a test that forgets it leaves nothing running.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {

class Service : public QDBusVirtualObject {
public:
    explicit Service(QString path_)
        : path(std::move(path_))
    { }
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Notify") || message.arguments().size() < 5)
            return false;
        const QVariantList arguments = message.arguments();
        QFile record(path);
        if (record.open(QIODevice::Append)) {
            QString body = arguments[4].toString();
            body.replace(QLatin1Char('\n'), QLatin1String("\\n"));
            record.write((arguments[0].toString() + QLatin1Char('|') + arguments[3].toString()
                + QLatin1Char('|') + body + QLatin1Char('\n'))
                             .toUtf8());
            record.close(); // on disk before the caller hears back and reads it
        }
        connection.send(message.createReply(QVariant::fromValue(++count)));
        return true;
    }

private:
    QString path;
    uint count = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    QDBusConnection bus = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("standin"));
    Service service(path);
    if (!bus.isConnected()
        || !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notification stand-in: cannot serve on the bus\n");
        return 1;
    }
    QFile ready(path + QStringLiteral(".ready"));
    ready.open(QIODevice::WriteOnly);
    ready.close();
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    return app.exec();
}
