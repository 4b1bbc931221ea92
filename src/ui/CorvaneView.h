// CCorvaneView: the main window's tree of subscriptions, and the command target of the File,
// Edit and View commands and of the tree's context menus.
//
// It shows the SubscriptionModel of the program state's CSubscriptions (the state is handed in
// and outlives the view; the view owns only its widgets, its host and its drag): a group shows a
// closed folder (an open one while selected), a feed a page, and before the icon each item
// shows its mark as a check-box picture that a click toggles. The rules of every operation live
// in CSubscriptions; this class collects the user's input through the dialogs and passes it on.
//
// Drag and drop is CTreeDrag's: the view hands it the mouse events and reports its drops.
//
// Modal questions go through Prompts() (replaceable in tests). Jobs, Send To, Options, the
// help's browser, the context menu's loop and the drag's clock are the host's (CViewHost), which
// the task pane's side of the program and the tests replace.
//
// Thread: GUI thread only.
#pragma once

#include "ui/CommandTarget.h"
#include "ui/ProgramState.h"
#include "ui/TreeDrag.h"
#include "ui/ViewHost.h"

#include <QPersistentModelIndex>
#include <QTimer>
#include <QTreeView>

#include <memory>
#include <optional>

class QMenu;

namespace corvane {

class CCorvaneView : public QTreeView, public CCommandTarget {
    Q_OBJECT
public:
    // Where a point of the viewport falls on an item (TVM_HITTEST's parts).
    enum class HitPart { Nowhere, StateImage, Icon, Label, Elsewhere };
    struct Hit {
        QModelIndex index;
        HitPart part = HitPart::Nowhere;
    };

    static constexpr int kScheduleMs = 1000;

    // The view shows and changes state, which must outlive it.
    explicit CCorvaneView(CProgramState& state, QWidget* parent = nullptr);
    ~CCorvaneView() override;

    // Start-up: reads the settings and the channels file, creates the data folder, shows the
    // tree with the root expanded and nothing selected, and starts the schedule timer.
    void OnInitialUpdate();

    CProgramState& State() { return state; }
    CSubscriptions& Subscriptions() { return state.Subscriptions(); }
    CUpdateController& UpdateController() { return state.UpdateController(); }
    SubscriptionModel& Model() { return state.Subscriptions().Model(); }

    // --- CCommandTarget ---------------------------------------------------------------------
    bool OnCommand(int commandId) override;
    std::optional<bool> CommandEnabled(int commandId) const override;

    // --- the host -----------------------------------------------------------------------------
    // Replaces the host (the view owns it); null restores the defaults of CViewHost.
    void SetHost(std::unique_ptr<CViewHost> newHost);
    CViewHost& Host() { return *host; }

    // --- the operations (also run by OnCommand) ------------------------------------------------
    void OnNewGroup();
    void OnNewFeed();
    void OnProperties();
    // The context menu's Feed Options: the selected feed's own choices and its episodes.
    void OnFeedOptions();
    // The Feed Options dialog for the feed at address, over parent (the view, or Channel
    // Properties); stores the choices on OK and says so when they could not be written.
    void OpenFeedOptions(const std::string& address, QWidget* parent);
    void OnCopy();
    void OnCut();
    void OnPaste();
    void OnDelete();
    void OnSortByName();
    void OnEditUndo();
    void OnImportOpml();
    // File menu "Merge OPML File...": adds the chosen file's new feeds and says how many.
    void OnMergeOpml();
    void OnExportOpml();
    void OnSendTo();
    void OnSyncEpisodesTo();
    void OnOptions();
    void OnHelpContents();
    // The update commands: collect the feeds and start the job (nothing when none was found).
    void OnUpdateAll();
    void OnUpdateMarked();
    void OnUpdateCurrent();
    void OnRepack();
    // The feed list of the last update command.
    const std::vector<std::string>& FeedUrls() const { return feedUrls; }

    // --- state the tests and the task pane read ----------------------------------------------
    QModelIndex ContextItem() const { return contextItem; }
    void SetContextItem(const QModelIndex& index) { contextItem = index; }
    // The selected item (the current item when it is selected), or an invalid index.
    QModelIndex SelectedItem() const;
    CTreeDrag& Drag() { return drag; }
    const CTreeDrag& Drag() const { return drag; }
    Hit HitTest(const QPoint& viewportPos) const;
    // The state picture's and the icon's rectangles of an item, in viewport coordinates.
    QRect StateImageRect(const QModelIndex& index) const;
    QRect IconRect(const QModelIndex& index) const;
    QRect LabelRect(const QModelIndex& index) const;

    // The item menu (onItem) or the short menu, with enablement for the current contextItem.
    std::unique_ptr<QMenu> BuildContextMenu(bool onItem);
    // The right-click at a viewport point: selects, sets contextItem, shows the menu, runs the
    // chosen command.
    void ShowContextMenuAt(const QPoint& viewportPos);
    // Shift+F10 and the Menu key: the selected item's menu below its label (the short menu when
    // nothing is selected), run as a right-click's.
    void ShowContextMenuForSelection();

    // The schedule timer's handler (public so that tests drive it tick by tick).
    void OnScheduleTimer();
    QTimer& ScheduleTimer() { return scheduleTimer; }

signals:
    // Something that decides a command's enablement changed (selection, clipboard, backups).
    void commandStatesChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void AfterTreeReset();
    void AfterMove(const SaveResult& save);
    void ReportSave(const SaveResult& result);
    // wholeTree: feeds are every feed of the tree (Update All), the day's update for catch-up.
    void StartUpdate(std::vector<std::string> feeds, bool repack, bool wholeTree = false);
    // Shows the item menu for item (the short menu of the root when item is invalid) at a
    // viewport point and runs the chosen command.
    void RunContextMenu(const QModelIndex& item, const QPoint& viewportPos);
    COutlineItem* ContextNode() const;
    void DeleteNode(COutlineItem* node);

    CProgramState& state;
    CSubscriptions& subscriptions; // of state

    std::vector<std::string> feedUrls;
    QPersistentModelIndex contextItem;

    std::unique_ptr<CViewHost> host;
    CTreeDrag drag;
    QTimer scheduleTimer;
};

} // namespace corvane
