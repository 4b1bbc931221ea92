#include "app/TaskBarSetup.h"

#include "app/MainFrame.h"
#include "app/TrayIcon.h"
#include "ui/CorvaneView.h"
#include "ui/DlgOptions.h"
#include "ui/DlgProgress.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"
#include "ui/SendTo.h"
#include "ui/TaskBar.h"

#include <QMessageBox>

namespace corvane {

namespace {

// The view's host in the main window: manual jobs under the progress dialog, the Send To menu,
// the Options dialog.
class CWindowHost : public CViewHost {
public:
    explicit CWindowHost(CMainFrame& frame)
        : frame(frame)
    { }
    void RunUpdate(CCorvaneView& view, const UpdateRequest& request) override
    {
        CDlgProgress dialog(view.UpdateController(), request, &view);
        std::string error;
        // A package that cannot be created is said, not passed over in silence: the user would
        // otherwise believe the phone gets fresh feeds.
        if (dialog.Run(&error) < 0) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"),
                Capitalized(QString::fromStdString(error)), QMessageBox::Ok, &view);
            ExecModal(box);
        }
        emit view.commandStatesChanged();
    }
    void ShowSendTo(
        CCorvaneView& view, const QString& packagePath, const QPoint& globalPos) override
    {
        CSendTo sendTo;
        sendTo.Run(&view, view.mapFromGlobal(globalPos), packagePath);
    }
    void ShowSyncTo(
        CCorvaneView& view, const QString& packagePath, const QPoint& globalPos) override
    {
        CSendTo sendTo;
        sendTo.RunSync(&view, view.mapFromGlobal(globalPos), packagePath);
    }
    void ShowOptions(CCorvaneView& view) override
    {
        CorvaneSettings settings = view.Subscriptions().Settings();
        RunOptionsDialog(&view, settings,
            [&view](const CorvaneSettings& values) { view.Subscriptions().ApplyOptions(values); });
    }
    void ShowStatusText(const QString& text) override { frame.ShowStatusText(text); }

private:
    CMainFrame& frame; // owns the view, which owns the host
};

} // namespace

CTaskBar* InstallTaskPane(CMainFrame& frame, CCorvaneView& view)
{
    CTrayIcon* tray = frame.TrayIcon();
    QObject::connect(
        &view.State(), &CProgramState::scheduledBusyChanged, tray,
        [tray](bool busy) { tray->SetIconResource(busy ? TRAY_ICON_BUSY : TRAY_ICON_NORMAL); },
        Qt::DirectConnection);
    auto* pane = new CTaskBar;
    CSubscriptions& subscriptions = view.Subscriptions();
    pane->readSync = [&subscriptions] { return subscriptions.SyncChannels(); };
    pane->writeSync = [&subscriptions](int value) { subscriptions.SetSyncChannels(value); };
    pane->outputPath = [&subscriptions] { return subscriptions.Settings().outputPath; };
    subscriptions.SetSyncChannelsListener([pane](int) { pane->UpdateSyncButtons(); });
    // The subscriptions belong to the program state, which outlives the pane.
    QObject::connect(pane, &QObject::destroyed,
        [&subscriptions] { subscriptions.SetSyncChannelsListener(nullptr); });
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

    view.SetHost(std::make_unique<CWindowHost>(frame));

    frame.SetTaskPane(pane);
    return pane;
}

} // namespace corvane
