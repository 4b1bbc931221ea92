// CTrayIcon: the program's icon in the desktop's notification area, with its menu
// "&Open" (default, bold), "&About", a separator and "E&xit". A double click acts as "&Open".
// Without a notification area the icon waits, and shows once one appears
// (CORVANE_TRAY_WATCH_MS between looks, default 2000).
// Chosen commands leave through commandTriggered with their identifiers (32771, 57664, 32773).
//
// Thread: owned and used on the GUI thread, except SetIconResource, which the update jobs may
// call from their worker threads (the call is then queued to the GUI thread).
#pragma once

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;
class QTimer;

namespace corvane {

class CTrayIcon : public QObject {
    Q_OBJECT
public:
    // id is the icon's identifier (130), also the identifier of its menu.
    explicit CTrayIcon(int id, QObject* parent = nullptr);
    ~CTrayIcon() override;

    // TRAY_ICON_NORMAL (ui/Resources.h) shows the program icon with the tooltip "Corvane",
    // TRAY_ICON_BUSY the busy icon (the tooltip stays as it was), 0 removes the icon. Any thread.
    void SetIconResource(int number);
    int IconResource() const { return iconResource; }

    // Acts on an activation of the notification-area icon. Returns 1 when it acted (double click:
    // "&Open"; context request: the menu), else 0.
    int HandleNotification(QSystemTrayIcon::ActivationReason reason);

    // A balloon message beside the icon, for news that no window shows (GUI thread).
    void ShowMessage(const QString& title, const QString& text,
        QSystemTrayIcon::MessageIcon kind = QSystemTrayIcon::Information);

    QMenu* Menu() const { return menu.get(); }
    QAction* Action(int commandId) const;
    QString ToolTip() const;
    bool IsShown() const;

signals:
    void commandTriggered(int commandId);

private:
    void ApplyIconResource(int number);
    void ShowWhenTrayAppears();

    int id;
    int iconResource = 0;
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<QSystemTrayIcon> icon;
    // Looks for a notification area that appears after the icon was asked for (a panel started
    // late); runs only while the icon is wanted and has nowhere to go.
    std::unique_ptr<QTimer> trayWatch;
};

} // namespace corvane
