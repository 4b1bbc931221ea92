#include "app/TrayIcon.h"

#include "ui/CommandIds.h"
#include "ui/Resources.h"

#include <QAction>
#include <QMenu>
#include <QThread>
#include <QTimer>

namespace corvane {

CTrayIcon::CTrayIcon(int iconId, QObject* parent)
    : QObject(parent)
    , id(iconId)
    , menu(std::make_unique<QMenu>(QStringLiteral("Tray(&T)")))
    , icon(std::make_unique<QSystemTrayIcon>())
    , trayWatch(std::make_unique<QTimer>())
{
    bool valid = false;
    const int watchMs = qEnvironmentVariableIntValue("CORVANE_TRAY_WATCH_MS", &valid);
    trayWatch->setInterval(valid && watchMs > 0 ? watchMs : 2000);
    connect(trayWatch.get(), &QTimer::timeout, this, &CTrayIcon::ShowWhenTrayAppears);
    auto addCommand = [this](const QString& text, int commandId) {
        QAction* action = menu->addAction(text);
        action->setData(commandId);
        connect(action, &QAction::triggered, this,
            [this, commandId] { emit commandTriggered(commandId); });
        return action;
    };
    QAction* open = addCommand(QStringLiteral("&Open"), CommandId::TRAY_OPEN);
    addCommand(QStringLiteral("&About"), CommandId::APP_ABOUT);
    menu->addSeparator();
    addCommand(QStringLiteral("E&xit"), CommandId::TRAY_EXIT);
    QFont bold = open->font();
    bold.setBold(true);
    open->setFont(bold);
    menu->setDefaultAction(open);

    icon->setContextMenu(menu.get());
    connect(icon.get(), &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { HandleNotification(reason); });
}

CTrayIcon::~CTrayIcon()
{
    icon->hide();
}

void CTrayIcon::SetIconResource(int number)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, number] { ApplyIconResource(number); }, Qt::QueuedConnection);
        return;
    }
    ApplyIconResource(number);
}

void CTrayIcon::ApplyIconResource(int number)
{
    iconResource = number;
    if (number == 0) {
        trayWatch->stop();
        icon->hide();
        return;
    }
    // Only the template string's first field makes sense as a tooltip; a number without a
    // string keeps the tooltip that was shown.
    if (!ResourceString(number).isEmpty())
        icon->setToolTip(ApplicationTitle());
    icon->setIcon(ResourceIcon(number));
    icon->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        trayWatch->start();
}

void CTrayIcon::ShowWhenTrayAppears()
{
    if (iconResource == 0) {
        trayWatch->stop();
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayWatch->stop();
    // Shown while there was no tray, the icon went nowhere; showing it again docks it.
    icon->hide();
    icon->show();
}

int CTrayIcon::HandleNotification(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
        emit commandTriggered(menu->actions().first()->data().toInt());
        return 1;
    case QSystemTrayIcon::Context:
        // The tray shows the context menu itself; the default item is already marked.
        return 1;
    default:
        return 0;
    }
}

QAction* CTrayIcon::Action(int commandId) const
{
    for (QAction* action : menu->actions()) {
        if (action->data().toInt() == commandId && !action->isSeparator())
            return action;
    }
    return nullptr;
}

QString CTrayIcon::ToolTip() const
{
    return icon->toolTip();
}

void CTrayIcon::ShowMessage(
    const QString& title, const QString& text, QSystemTrayIcon::MessageIcon kind)
{
    icon->showMessage(title, text, kind);
}

bool CTrayIcon::IsShown() const
{
    return icon->isVisible();
}

} // namespace corvane
