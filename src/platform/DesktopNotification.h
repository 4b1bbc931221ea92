// A desktop notification through the freedesktop notification service
// (org.freedesktop.Notifications.Notify on the session bus), for the end of an update that no
// window shows. Core code: Qt D-Bus only, no QtGui, so that corvane-cli sends the same
// notification as the desktop program.
//
// The session bus is the one DBUS_SESSION_BUS_ADDRESS names, read at each call (a service
// started by systemd has it; so may a cron job that sets it), else the usual
// unix:path=$XDG_RUNTIME_DIR/bus when that socket exists. Each call opens a private connection
// and closes it again, so no connection outlives the call and a changed environment is honoured.
// Thread: any; the call blocks until the service answers or the time-out. Works with and without
// a QCoreApplication (corvane-cli has none).
#pragma once

#include <chrono>
#include <string>

namespace corvane {

struct DesktopNotification {
    std::string appName = "Corvane";
    std::string iconName = "corvane"; // an icon of the theme, as the .desktop file names it
    std::string summary;
    std::string body; // plain text; line breaks allowed
    // How long the service shows it: negative lets the service choose.
    int expireMilliseconds = -1;
};

// The session bus's address as above; empty when there is none.
std::string SessionBusAddress();

// Sends notification and waits up to timeout for the service's answer. True when the service
// took it; false with a message naming the bus and the reason in error when there is no session
// bus, no notification service on it, or the call failed.
bool SendDesktopNotification(const DesktopNotification& notification, std::string& error,
    std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

} // namespace corvane
