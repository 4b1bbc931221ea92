// CMainFrame: the main window. Holds the menu bar (File, Edit, View, Help), the task pane docked
// at the left, the tray icon and the tree view as its central widget. Closing the window
// hides it (minimises it when the desktop has no notification area); "E&xit" from the File menu or
// the tray menu stores "WinPos" from the window's normal outer rectangle (the window manager's
// frame included) and ends the program. A restored window is kept wholly within a screen's
// available area.
//
// Commands: every menu action carries its command identifier as QAction::data(). A triggered
// action goes to the frame's own handlers (Open, Exit, About) or else to the command target (the
// view), which also decides the enablement (refreshed when a menu opens and whenever the target
// reports a change). Others find actions by identifier through Action().
//
// The status bar at the bottom shows the menu items' prompts while they are highlighted and
// whatever ShowStatusText puts there.
//
// Thread: GUI thread only.
#pragma once

#include "ui/CommandTarget.h"

#include <QMainWindow>
#include <QMargins>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QDockWidget;
class QMenu;

namespace corvane {

class CTrayIcon;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Builds the menus and the tray icon (shown with TRAY_ICON_NORMAL) and places the window from
    // "WinPos" (defaults 10, 10, 500 by 350), hidden.
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The caption: the document's title, a dash and "Corvane".
    void SetDocumentTitle(const QString& documentTitle);

    // The view: becomes the central widget (the frame takes ownership) and the command target
    // when it implements CCommandTarget. target may be given separately (not owned).
    void SetView(QWidget* view, CCommandTarget* target);
    CCommandTarget* CommandTarget() const { return commandTarget; }

    // The task pane: placed in a dock at the left edge without title bar (the frame owns it).
    void SetTaskPane(QWidget* pane);
    QDockWidget* TaskPaneDock() const { return taskPaneDock; }

    // The action of a command of the main menu, or null.
    QAction* Action(int commandId) const;
    QMenu* FileMenu() const { return fileMenu; }
    QMenu* EditMenu() const { return editMenu; }
    QMenu* ViewMenu() const { return viewMenu; }
    QMenu* HelpMenu() const { return helpMenu; }
    CTrayIcon* TrayIcon() const { return trayIcon.get(); }

    // Shows text in the status bar until the next prompt replaces it.
    void ShowStatusText(const QString& text);

    // F6 / Shift+F6: the keyboard focus goes to the next / previous visible pane (the task pane,
    // the view), round the end.
    void SwitchPane(int step);

    // Re-reads every action's enablement from the command target.
    void UpdateCommandStates();

    // Runs a command by identifier as if its menu item or tray item was chosen (enablement is
    // checked first). Returns false when nobody handled it.
    bool ExecuteCommand(int commandId);

    // "&Open": the window in its normal state, in front; an open modal dialog in front of it with
    // the keyboard focus.
    void ShowInFront();
    // "E&xit": sets exiting, cancels the open dialogs (a running update stops as by its Cancel
    // button) and closes the window, which stores "WinPos" and ends the program.
    void Exit();
    bool IsExiting() const { return exiting; }

    // Shows the About box; replaced by tests so that no modal loop blocks them.
    std::function<void()> showAbout;

signals:
    // Exit closed the window and stored "WinPos": the program should end now.
    void exited();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildMenus();
    void BuildPaneKeys();
    void CloseOpenDialogs();
    QWidget* FocusablePart(QWidget* pane) const;
    void RestorePlacement();
    void FinishPlacement();
    QMargins FrameMargins() const;
    void SavePlacement();
    QAction* AddCommand(QMenu* menu, const QString& text, int commandId);

    std::unique_ptr<CTrayIcon> trayIcon;
    QDockWidget* taskPaneDock = nullptr; // owned by the window
    QMenu* fileMenu = nullptr; // owned by the menu bar
    QMenu* editMenu = nullptr;
    QMenu* viewMenu = nullptr;
    QMenu* helpMenu = nullptr;
    CCommandTarget* commandTarget = nullptr; // not owned
    bool exiting = false;
    // The restored outer rectangle until the frame's margins are known; then null.
    QRect pendingOuter;
};

} // namespace corvane
