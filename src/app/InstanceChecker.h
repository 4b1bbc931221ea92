// CInstanceChecker: keeps a second copy of the program from running in one user's session.
//
// The first instance listens on a local socket; a later copy finds it, sends it the message
// IS_ANOTHER_INSTANCE and ends. The socket is "CInstanceChecker_MMF_" + name + the user id,
// placed in $XDG_RUNTIME_DIR when that folder exists (private to the user and the session),
// else in Qt's default place for local sockets. Only this user may connect.
//
// Thread: the GUI thread (the server needs its event loop). Errors: a server that cannot listen
// leaves the instance unregistered (a later copy then runs as well); nothing is shown.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace corvane {

// The message a second copy sends to the running one.
inline constexpr char IS_ANOTHER_INSTANCE[] = "IS_ANOTHER_INSTANCE";

class CInstanceChecker : public QObject {
    Q_OBJECT
public:
    explicit CInstanceChecker(QString name, QObject* parent = nullptr);
    ~CInstanceChecker() override;

    // "CInstanceChecker_MMF_" followed by the name and the user id.
    QString MappingName() const;
    // The full server name or socket path used to listen and connect.
    QString ServerName() const;

    // True when a running instance accepts a connection within timeoutMs.
    bool FindRunningInstance(int timeoutMs = 500) const;

    // Sends IS_ANOTHER_INSTANCE to the running instance. True when it was delivered (written and
    // flushed within timeoutMs); false when no instance answered.
    bool ActivateRunningInstance(int timeoutMs = 1000) const;

    // Makes this process the running instance. False when another instance answers or the
    // server cannot listen. A socket file left behind by a copy that crashed is removed first.
    bool RegisterRunningInstance();

    bool IsRegistered() const;

signals:
    // A later copy was started: the running instance should show its window in front.
    void anotherInstanceStarted();

private:
    void OnNewConnection();

    QString name;
    std::unique_ptr<QLocalServer> server;
};

} // namespace corvane
