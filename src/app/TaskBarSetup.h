// Joins the task pane, the progress dialog, Send To and Options to the main window and its tree
// view.
//
// Thread: GUI thread only.
#pragma once

namespace corvane {

class CCorvaneView;
class CMainFrame;
class CTaskBar;

// Creates the task pane and docks it at the frame's left edge (the frame owns it). Connects:
// the pane's update and OPML buttons to the view's handlers; the synchronize switch to the
// subscriptions' flag (while the pane lives, every save of the channels file shows the on state
// again); the pane's Send To to the package path of the settings. Gives the view its host:
// manual jobs run under CDlgProgress (a package that cannot be created is reported in an
// "Error" box), the File menu's Send To shows the Send To menu, and "&Options" runs the Options
// dialog, whose OK keeps and stores the values through the subscriptions. While the state's
// scheduled update runs the frame's tray icon shows the busy icon (switched from the update's
// thread). Returns the pane.
CTaskBar* InstallTaskPane(CMainFrame& frame, CCorvaneView& view);

} // namespace corvane
