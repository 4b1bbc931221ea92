// The documentation pictures of the desktop program, taken from a running program: the main
// window over its tree, the dialogs, the task pane and the Send To menu.
//
// Thread: GUI thread, inside the event loop of a QApplication.
#pragma once

#include <QDir>
#include <QStringList>

#include <functional>

namespace corvane {
class CCorvaneApp;
} // namespace corvane

using namespace corvane;

// Writes main.png, channel-properties.png, group-properties.png, delete-confirm.png,
// import-confirm.png, about.png, task-pane.png (one button under the pointer), options.png,
// more-options.png (what the Options dialog's "More Options..." opens), progress.png (a finished
// job with the failure addition) and send-to.png (the pane with the Send To menu open) into
// folder, which must exist. app must have been started (InitInstance) and
// shows a tree; one of its feeds gets marked and selected. Returns at once; the pictures are
// taken from the event loop, then done hears the files that could not be written (none: all were).
void TakeScreenshots(
    CCorvaneApp& app, const QDir& folder, std::function<void(const QStringList& failed)> done);
