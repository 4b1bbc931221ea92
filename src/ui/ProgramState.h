// CProgramState: what the desktop program keeps while it runs, apart from its windows: the
// subscriptions (tree, settings members, the flags repackable and syncChannels, backups,
// clipboard) and the update controller (updateRunning and the jobs), joined so that the jobs
// collect the feeds and flags of these subscriptions. The application object owns one and hands
// it to the tree view, which shows its model and runs its commands on it.
//
// No widgets. Thread: made, used and destroyed on the GUI thread. The controller's hooks run on
// job threads and touch only thread-safe members (Settings, Repackable, SyncChannels) and the
// signal. Jobs and the schedule take their settings from the subscriptions' members, not from
// the settings file.
// Destruction stops the jobs before the subscriptions they read go.
#pragma once

#include "subscriptions/Subscriptions.h"
#include "update/ScheduledUpdate.h"

#include <QObject>

#include <string>

namespace corvane {

class CProgramState : public QObject {
    Q_OBJECT
public:
    // Empty subscriptions (read nothing yet: Subscriptions().Load()) and an idle controller.
    CProgramState();
    ~CProgramState() override;

    CSubscriptions& Subscriptions() { return subscriptions; }
    const CSubscriptions& Subscriptions() const { return subscriptions; }
    CUpdateController& UpdateController() { return controller; }
    const CUpdateController& UpdateController() const { return controller; }

    // Starts a manual job that reports to no window (the program without a progress dialog).
    StartResult StartWithoutWindow(const UpdateRequest& request, std::string* error);

signals:
    // True while the scheduled update runs, false after. Emitted from the scheduled update's
    // thread or the thread that starts a job: connect directly to something that any thread may
    // call.
    void scheduledBusyChanged(bool busy);

private:
    UpdateHooks Hooks();

    CSubscriptions subscriptions;
    SilentUpdateListener silentListener;
    // Last, so that it goes first: its destructor waits for the jobs that use the members above.
    CUpdateController controller;
};

} // namespace corvane
