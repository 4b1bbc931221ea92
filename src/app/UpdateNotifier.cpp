#include "app/UpdateNotifier.h"

#include "app/MainFrame.h"
#include "app/TrayIcon.h"
#include "platform/DesktopNotification.h"
#include "ui/CorvaneView.h"
#include "update/LastRun.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSystemTrayIcon>

namespace corvane {

namespace {

void Notify(CMainFrame& frame, const UpdateJobResult& result, const std::string& packagePath)
{
    const UpdateNotice notice = UpdateNoticeOf(result, packagePath);
    DesktopNotification notification;
    notification.summary = notice.summary;
    notification.body = notice.body;
    std::string error;
    if (SendDesktopNotification(notification, error))
        return;
    CTrayIcon* tray = frame.TrayIcon();
    if (tray && tray->IsShown())
        tray->ShowMessage(QString::fromStdString(notice.summary),
            QString::fromStdString(notice.body),
            result.packageWritten && !result.anyFailed ? QSystemTrayIcon::Information
                                                       : QSystemTrayIcon::Warning);
}

} // namespace

// The listener holds the frame weakly (a job may end while the program closes) and the
// subscriptions of the program state, which outlive the controller that calls it.
void InstallUpdateNotifier(CMainFrame& frame, CCorvaneView& view)
{
    QPointer<CMainFrame> target(&frame);
    CSubscriptions& subscriptions = view.Subscriptions();
    view.UpdateController().SetJobEndedListener(
        [target, &subscriptions](const UpdateJobResult& result, JobKind kind) {
            // On the job's thread: everything else happens on the GUI thread, where the
            // window's visibility is known.
            const std::string packagePath = subscriptions.Settings().outputPath;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [target, result, kind, packagePath] {
                    if (!target || result.cancelled)
                        return;
                    if (kind == JobKind::Scheduled || !target->isVisible())
                        Notify(*target, result, packagePath);
                },
                Qt::QueuedConnection);
        });
}

} // namespace corvane
