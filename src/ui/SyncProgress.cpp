#include "ui/SyncProgress.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <QProgressDialog>

#include <thread>

namespace corvane {

namespace {

constexpr int kScale = 1000; // the bar's steps: bytes as thousandths of the total

QString ProgressText(const SyncProgress& progress)
{
    return QObject::tr("Writing file %1 of %2 (%3 of %4 MB):\n%5")
        .arg(progress.filesDone + 1)
        .arg(progress.filesTotal)
        .arg(static_cast<double>(progress.bytesDone) / (1024.0 * 1024.0), 0, 'f', 1)
        .arg(static_cast<double>(progress.bytesTotal) / (1024.0 * 1024.0), 0, 'f', 1)
        .arg(progress.current);
}

} // namespace

SyncResult RunSyncWithProgress(QWidget* owner, SyncSetup setup)
{
    QProgressDialog dialog(
        QObject::tr("Reading the package..."), QObject::tr("Cancel"), 0, kScale, owner);
    dialog.setWindowTitle(QObject::tr("Sync Episodes To"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    std::stop_source stop;
    setup.stop = stop.get_token();
    QPointer<QProgressDialog> shown(&dialog);
    setup.progress = [shown](const SyncProgress& progress) {
        QMetaObject::invokeMethod(
            shown,
            [shown, progress] {
                if (!shown || progress.current.isEmpty())
                    return;
                shown->setLabelText(ProgressText(progress));
                shown->setValue(progress.bytesTotal == 0
                        ? 0
                        : static_cast<int>(progress.bytesDone * kScale / progress.bytesTotal));
            },
            Qt::QueuedConnection);
    };
    QObject::connect(&dialog, &QProgressDialog::canceled, [&stop, &dialog] {
        stop.request_stop();
        dialog.setLabelText(QObject::tr("Stopping after the file under way..."));
    });
    QEventLoop loop;
    SyncResult result;
    std::jthread worker([&] {
        result = SyncEpisodes(setup);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    dialog.show();
    loop.exec();
    worker.join();
    return result;
}

} // namespace corvane
