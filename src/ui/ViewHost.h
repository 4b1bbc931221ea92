// CViewHost: what the tree view asks of the program around it: the windows that run a job, show
// the Send To menu and the Options dialog, and the services that tests replace (the help's
// browser, a context menu's loop, the drag's clock). Each function does by default what a view
// without the rest of the program does; the program and the tests override what they provide.
//
// Thread: GUI thread only. The view owns its host (CCorvaneView::SetHost).
#pragma once

#include <QtGlobal>

class QAction;
class QMenu;
class QPoint;
class QString;
class QUrl;

namespace corvane {

class CCorvaneView;
struct UpdateRequest;

class CViewHost {
public:
    virtual ~CViewHost();

    // Runs a manual job of view's state. Default: without a window; a package that cannot be
    // created is reported in an "Error" box (Prompts()).
    virtual void RunUpdate(CCorvaneView& view, const UpdateRequest& request);
    // Shows the Send To menu for the package at globalPos. Default: nothing.
    virtual void ShowSendTo(
        CCorvaneView& view, const QString& packagePath, const QPoint& globalPos);
    // Shows the Sync Episodes To menu for the package at globalPos. Default: nothing.
    virtual void ShowSyncTo(
        CCorvaneView& view, const QString& packagePath, const QPoint& globalPos);
    // Shows the Options dialog. Default: nothing.
    virtual void ShowOptions(CCorvaneView& view);
    // Opens the help. Default: QDesktopServices::openUrl.
    virtual bool OpenUrl(const QUrl& url);
    // Shows a context menu at globalPos and returns the chosen action. Default: QMenu::exec.
    virtual QAction* ExecMenu(QMenu& menu, const QPoint& globalPos);
    // Tells the user something in passing (where a package went). Default: nothing.
    virtual void ShowStatusText(const QString& text);
    // Millisecond ticks for the drag delay. Default: a monotonic clock.
    virtual qint64 TickCount();
};

} // namespace corvane
