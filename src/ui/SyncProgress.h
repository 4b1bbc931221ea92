// The progress dialog of a sync of the package's episodes onto a device (sync/EpisodeSync.h).
// GUI thread.
#pragma once

#include "sync/EpisodeSync.h"

class QWidget;

namespace corvane {

// Runs the sync of setup on a worker thread while a progress dialog, modal to owner's window,
// shows the files and bytes written; its Cancel asks the sync to stop after the file under way
// (every file on the device stays whole). Returns when the sync has ended, with its result.
// setup's progress and stop are the dialog's own.
SyncResult RunSyncWithProgress(QWidget* owner, SyncSetup setup);

} // namespace corvane
