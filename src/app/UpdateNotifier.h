// Tells the user how an update went when no window shows it: at the end of a scheduled update,
// and of a manual one while the main window is hidden (in the tray). A desktop notification
// through the freedesktop service; without the service, the tray icon's balloon message.
//
// Thread: installed and run on the GUI thread; the jobs' ends are queued to it.
#pragma once

namespace corvane {

class CCorvaneView;
class CMainFrame;

// Listens to the view's update controller; does nothing once frame is gone.
void InstallUpdateNotifier(CMainFrame& frame, CCorvaneView& view);

} // namespace corvane
