#include "app/TaskBarSetup.h"

#include "app/MainFrame.h"
#include "app/TrayIcon.h"
#include "ui/CorvaneView.h"
#include "ui/DlgOptions.h"
#include "ui/DlgProgress.h"
#include "ui/HoverButton.h"
#include "ui/Resources.h"
#include "ui/SendTo.h"
#include "ui/TaskBar.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>

namespace {

// The view's host in the main window: manual jobs under the progress dialog, the Send To menu,
// the Options dialog.
class CWindowHost : public CViewHost {
public:
    void RunUpdate(CCorvaneView& view, const UpdateRequest& request) override
    {
        CDlgProgress dialog(view.UpdateController(), request, &view);
        std::string error;
        // A package that cannot be created is said, not passed over in silence: the user would
        // otherwise believe the phone gets fresh feeds.
        if (dialog.Run(&error) < 0)
            QMessageBox::warning(&view, QStringLiteral("Error"), QString::fromStdString(error));
        emit view.commandStatesChanged();
    }
    void ShowSendTo(CCorvaneView& view, const QString& packagePath, const QPoint& globalPos) override
    {
        CSendTo sendTo;
        sendTo.Run(&view, view.mapFromGlobal(globalPos), packagePath);
    }
    void ShowOptions(CCorvaneView& view) override
    {
        CorvaneSettings settings = view.Subscriptions().Settings();
        RunOptionsDialog(&view, settings,
            [&view](const CorvaneSettings& values) { view.Subscriptions().ApplyOptions(values); });
    }
};

} // namespace

CTaskBar* InstallTaskPane(CMainFrame& frame, CCorvaneView& view)
{
    CTrayIcon* tray = frame.TrayIcon();
    QObject::connect(&view.State(), &CProgramState::scheduledBusyChanged, tray,
        [tray](bool busy) { tray->SetIconResource(busy ? TRAY_ICON_BUSY : TRAY_ICON_NORMAL); },
        Qt::DirectConnection);
    auto* pane = new CTaskBar;
    CSubscriptions& subscriptions = view.Subscriptions();
    pane->readSync = [&subscriptions] { return subscriptions.SyncChannels(); };
    pane->writeSync = [&subscriptions](int value) { subscriptions.SetSyncChannels(value); };
    pane->outputPath = [&subscriptions] { return subscriptions.Settings().outputPath; };
    subscriptions.SetSyncChannelsListener([pane](int) { pane->UpdateSyncButtons(); });
    pane->UpdateSyncButtons();

    QObject::connect(pane, &CTaskBar::commandRequested, &view, [&view](int command) {
        switch (command) {
        case TASK_UPDATE_ALL:
            view.OnUpdateAll();
            break;
        case TASK_UPDATE_MARKED:
            view.OnUpdateMarked();
            break;
        case TASK_UPDATE_CURRENT:
            view.OnUpdateCurrent();
            break;
        case TASK_IMPORT_OPML:
            view.OnImportOpml();
            break;
        case TASK_EXPORT_OPML:
            view.OnExportOpml();
            break;
        default:
            break;
        }
    });

    view.SetHost(std::make_unique<CWindowHost>());

    frame.SetTaskPane(pane);
    return pane;
}

namespace {

void Save(const QPixmap& picture, const QDir& folder, const char* name)
{
    picture.save(folder.filePath(QString::fromUtf8(name)));
}

void PointerOver(QWidget* widget)
{
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QEnterEvent event(inside, widget->mapToGlobal(inside), widget->mapToGlobal(inside));
    QApplication::sendEvent(widget, &event);
}

void PointerAway(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

} // namespace

void TakeTaskPaneScreenshots(CMainFrame& frame, CCorvaneView& view, CTaskBar& pane,
    const QString& folder, std::function<void()> done)
{
    QDir().mkpath(folder);
    const QDir target(folder);

    PointerOver(pane.updateAllButton);
    QApplication::processEvents();
    Save(pane.grab(), target, "task-pane.png");
    PointerAway(pane.updateAllButton);

    {
        CDlgOptions options(&frame);
        options.SetValues(view.Subscriptions().Settings());
        options.show();
        QApplication::processEvents();
        Save(options.grab(), target, "options.png");
    }

    {
        // A job's end as the dialog shows it, fed through the dialog's own listener.
        UpdateRequest request;
        CDlgProgress progress(view.UpdateController(), request, &frame);
        progress.show();
        UpdateListener& listener = progress.Listener();
        listener.OnProgressRange(6);
        for (int i = 0; i < 6; ++i)
            listener.OnProgressStep();
        listener.OnFinished(UpdateFinalText(48213, true), true);
        QApplication::processEvents();
        Save(progress.grab(), target, "progress.png");
    }

    // The menu runs its own loop: picture it from a timer while it is open, then close it.
    auto sendTo = std::make_unique<CSendTo>();
    sendTo->execMenu = [&frame, target](QMenu& menu, QPoint globalPoint) -> QAction* {
        menu.popup(globalPoint);
        QApplication::processEvents();
        QPixmap picture = frame.grab();
        {
            QPainter painter(&picture);
            const QPoint place = frame.mapFromGlobal(globalPoint);
            painter.drawPixmap(place, menu.grab());
        }
        Save(picture, target, "send-to.png");
        menu.close();
        return nullptr;
    };
    sendTo->message = [](QWidget*, const QString&, const QString&) {};
    // A stand-in package, so that the menu opens whether or not an update has run.
    QTemporaryDir scratch;
    QFile package(scratch.filePath(QStringLiteral("corvane.mrf")));
    if (package.open(QIODevice::WriteOnly))
        package.close();
    sendTo->Run(&pane, pane.sendToButton->geometry().topLeft(), package.fileName());
    if (done)
        done();
}
