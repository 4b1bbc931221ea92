#include "app/MainFrame.h"

#include "app/ScreenFit.h"
#include "app/TrayIcon.h"
#include "platform/Settings.h"
#include "ui/AboutDlg.h"
#include "ui/CommandIds.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"
#include "ui/SendTo.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>

namespace corvane {

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent)
    , trayIcon(std::make_unique<CTrayIcon>(130))
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/program.svg")));
    SetDocumentTitle(QStringLiteral("Velmora"));
    BuildMenus();
    BuildPaneKeys();
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    showAbout = [this] {
        CAboutDlg about(this);
        ExecModal(about);
    };
    connect(trayIcon.get(), &CTrayIcon::commandTriggered, this,
        [this](int commandId) { ExecuteCommand(commandId); });
    trayIcon->SetIconResource(TRAY_ICON_NORMAL);

    RestorePlacement();
}

void CMainFrame::RestorePlacement()
{
    // "WinPos" holds the outer rectangle, the window manager's frame included. A position from
    // another session (other screens, another scale) is brought wholly into an available area
    // of a screen, so that the title bar can always be reached.
    const WindowPlacement placement = LoadWindowPlacement();
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    pendingOuter = FitIntoAreas(QRect(placement.x, placement.y, placement.cx, placement.cy), areas);
    // The frame's margins are unknown until the window is mapped: the size is set as if there
    // were none, and corrected once they are known (FinishPlacement). A window without a frame
    // (no window manager) is right as it stands.
    resize(pendingOuter.size());
    move(pendingOuter.topLeft()); // a top-level window's position is its frame's
}

QMargins CMainFrame::FrameMargins() const
{
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
        outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

void CMainFrame::FinishPlacement()
{
    if (pendingOuter.isNull() || !isVisible())
        return;
    const QMargins margins = FrameMargins();
    if (margins.isNull())
        return;
    const QRect outer = pendingOuter;
    pendingOuter = QRect();
    resize(outer.size().shrunkBy(margins));
    move(outer.topLeft());
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FinishPlacement();
    // Some platforms publish the margins only once the window is mapped, after this event.
    QMetaObject::invokeMethod(this, &CMainFrame::FinishPlacement, Qt::QueuedConnection);
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    FinishPlacement();
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FinishPlacement();
}

void CMainFrame::SavePlacement()
{
    // The normal rectangle also when the window is minimised or hidden; the frame's margins
    // stay known from the last time it was shown.
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    const QRect outer = normal.marginsAdded(FrameMargins());
    SaveWindowPlacement(WindowPlacement {outer.x(), outer.y(), outer.width(), outer.height()});
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetDocumentTitle(const QString& documentTitle)
{
    setWindowTitle(documentTitle + QStringLiteral(" - Corvane"));
}

QAction* CMainFrame::AddCommand(QMenu* menu, const QString& text, int commandId)
{
    // The text after a tab is the shortcut's label; Qt draws it from the shortcut itself.
    QAction* action = menu->addAction(text.section(QLatin1Char('\t'), 0, 0));
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { ExecuteCommand(commandId); });
    return action;
}

void CMainFrame::BuildMenus()
{
    QMenuBar* bar = menuBar();
    fileMenu = bar->addMenu(QStringLiteral("&File"));
    AddCommand(fileMenu, QStringLiteral("Update &All Feeds"), CommandId::UPDATE_ALL)
        ->setStatusTip(QStringLiteral("Download feeds of all subscribed channels."));
    AddCommand(fileMenu, QStringLiteral("Update &Marked Feeds"), CommandId::UPDATE_MARKED)
        ->setStatusTip(QStringLiteral("Download feeds of marked channels."));
    AddCommand(fileMenu, QStringLiteral("Update &Current Feed"), CommandId::UPDATE_CURRENT)
        ->setStatusTip(QStringLiteral("Download feeds of current selected channel."));
    fileMenu->addSeparator();
    AddCommand(fileMenu, QStringLiteral("Re-Pack"), CommandId::REPACK);
    AddCommand(fileMenu, QStringLiteral("Send &To"), CommandId::SEND_TO);
    AddCommand(fileMenu, SyncEpisodesToText(), CommandId::SYNC_EPISODES_TO)
        ->setStatusTip(QStringLiteral(
            "Copy the episodes as tagged files with playlists, for the phone's own player."));
    fileMenu->addSeparator();
    AddCommand(fileMenu, QStringLiteral("&Import OPML File"), CommandId::IMPORT_OPML);
    AddCommand(fileMenu, QStringLiteral("Me&rge OPML File..."), CommandId::MERGE_OPML)
        ->setStatusTip(
            QStringLiteral("Add the feeds of an OPML file that are not subscribed yet."));
    AddCommand(fileMenu, QStringLiteral("&Export OPML File"), CommandId::EXPORT_OPML);
    fileMenu->addSeparator();
    AddCommand(fileMenu, QStringLiteral("E&xit"), CommandId::APP_EXIT);

    editMenu = bar->addMenu(QStringLiteral("&Edit"));
    AddCommand(editMenu, QStringLiteral("&Undo\tCtrl+Z"), CommandId::EDIT_UNDO)
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    AddCommand(editMenu, QStringLiteral("Cu&t\tCtrl+X"), CommandId::EDIT_CUT)
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    AddCommand(editMenu, QStringLiteral("&Copy\tCtrl+C"), CommandId::EDIT_COPY)
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    AddCommand(editMenu, QStringLiteral("&Paste\tCtrl+V"), CommandId::EDIT_PASTE)
        ->setShortcuts(
            {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});

    viewMenu = bar->addMenu(QStringLiteral("&View"));
    AddCommand(viewMenu, QStringLiteral("&Options"), CommandId::OPTIONS)
        ->setStatusTip(QStringLiteral("View/modify the options."));
    AddCommand(viewMenu, QStringLiteral("Parse"), CommandId::PARSE);

    helpMenu = bar->addMenu(QStringLiteral("&Help"));
    AddCommand(helpMenu, QStringLiteral("&Contents"), CommandId::HELP_CONTENTS);
    helpMenu->addSeparator();
    AddCommand(helpMenu, QStringLiteral("&About Corvane..."), CommandId::APP_ABOUT);

    for (QMenu* menu : {fileMenu, editMenu, viewMenu, helpMenu})
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
    UpdateCommandStates();
}

void CMainFrame::BuildPaneKeys()
{
    const struct {
        QKeySequence key;
        int commandId;
        int step;
    } keys[] = {{QKeySequence(Qt::Key_F6), CommandId::NEXT_PANE, 1},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), CommandId::PREV_PANE, -1}};
    for (const auto& key : keys) {
        auto* action = new QAction(this);
        action->setShortcut(key.key);
        action->setData(key.commandId);
        const int step = key.step;
        connect(action, &QAction::triggered, this, [this, step] { SwitchPane(step); });
        addAction(action);
    }
}

QWidget* CMainFrame::FocusablePart(QWidget* pane) const
{
    if (!pane || !pane->isVisible())
        return nullptr;
    if (pane->focusPolicy() & Qt::TabFocus)
        return pane;
    // A pane made of buttons takes the focus on its first button.
    for (QWidget* child : pane->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && child->isVisible() && child->isEnabled())
            return child;
    }
    return nullptr;
}

void CMainFrame::SwitchPane(int step)
{
    std::vector<QWidget*> panes;
    for (QWidget* pane : {taskPaneDock ? taskPaneDock->widget() : nullptr, centralWidget()}) {
        if (FocusablePart(pane))
            panes.push_back(pane);
    }
    if (panes.empty())
        return;
    const int count = static_cast<int>(panes.size());
    int current = -1;
    for (int i = 0; i < count; ++i) {
        if (panes[i]->isAncestorOf(focusWidget()) || panes[i] == focusWidget())
            current = i;
    }
    const int next = current < 0 ? 0 : ((current + step) % count + count) % count;
    FocusablePart(panes[next])->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::ShowStatusText(const QString& text)
{
    statusBar()->showMessage(text);
}

QAction* CMainFrame::Action(int commandId) const
{
    for (QMenu* menu : {fileMenu, editMenu, viewMenu, helpMenu}) {
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator() && action->data().toInt() == commandId)
                return action;
        }
    }
    return nullptr;
}

void CMainFrame::SetView(QWidget* view, CCommandTarget* target)
{
    setCentralWidget(view);
    commandTarget = target;
    UpdateCommandStates();
}

void CMainFrame::SetTaskPane(QWidget* pane)
{
    if (!taskPaneDock) {
        taskPaneDock = new QDockWidget(this);
        taskPaneDock->setObjectName(QStringLiteral("taskPaneDock"));
        taskPaneDock->setFeatures(QDockWidget::NoDockWidgetFeatures);
        taskPaneDock->setTitleBarWidget(new QWidget(taskPaneDock));
        addDockWidget(Qt::LeftDockWidgetArea, taskPaneDock);
    }
    taskPaneDock->setWidget(pane);
}

void CMainFrame::UpdateCommandStates()
{
    for (QMenu* menu : {fileMenu, editMenu, viewMenu, helpMenu}) {
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            const int commandId = action->data().toInt();
            switch (commandId) {
            case CommandId::APP_EXIT:
            case CommandId::APP_ABOUT:
                action->setEnabled(true);
                break;
            default: {
                // A command nobody handles is shown disabled, as "Parse" is.
                const std::optional<bool> enabled
                    = commandTarget ? commandTarget->CommandEnabled(commandId) : std::nullopt;
                action->setEnabled(enabled.value_or(false));
            }
            }
        }
    }
}

bool CMainFrame::ExecuteCommand(int commandId)
{
    switch (commandId) {
    case CommandId::TRAY_OPEN:
        ShowInFront();
        return true;
    case CommandId::TRAY_EXIT:
    case CommandId::APP_EXIT:
        Exit();
        return true;
    case CommandId::APP_ABOUT:
        if (showAbout)
            showAbout();
        return true;
    default:
        break;
    }
    if (!commandTarget)
        return false;
    // A shortcut may fire before a menu refreshed the state; the target decides again.
    const std::optional<bool> enabled = commandTarget->CommandEnabled(commandId);
    if (!enabled.value_or(false))
        return false;
    const bool handled = commandTarget->OnCommand(commandId);
    UpdateCommandStates();
    return handled;
}

void CMainFrame::ShowInFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
    // An open dialog blocks the window: the keyboard goes to the dialog, which comes in front of
    // it, or Escape, Tab and typing would reach nothing until the user clicked it.
    if (QWidget* dialog = QApplication::activeModalWidget()) {
        dialog->raise();
        dialog->activateWindow();
        QWidget* focus = dialog->focusWidget();
        (focus ? focus : dialog)->setFocus(Qt::ActiveWindowFocusReason);
    }
}

void CMainFrame::Exit()
{
    exiting = true;
    CloseOpenDialogs();
    close();
}

void CMainFrame::CloseOpenDialogs()
{
    // Each dialog is cancelled as by its Cancel button, so that a running update stops at its
    // next safe point and keeps the previous package; its modal loop returns once this
    // handler has. A bounded loop: a dialog that refuses to go is left to the program's end.
    for (int i = 0; i < 16; ++i) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            break;
        dialog->reject();
        if (dialog->isVisible())
            dialog->hide();
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!exiting) {
        // Hidden, the window comes back only through the tray icon; without a notification
        // area that would leave the program running out of reach.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            hide();
        else
            showMinimized();
        event->ignore();
        return;
    }
    SavePlacement();
    trayIcon->SetIconResource(0);
    event->accept();
    emit exited();
}

} // namespace corvane
