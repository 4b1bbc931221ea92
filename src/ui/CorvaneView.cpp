#include "ui/CorvaneView.h"

#include "platform/Installation.h"
#include "platform/Paths.h"
#include "ui/ChannelProp.h"
#include "ui/CommandIds.h"
#include "ui/DlgDeleteConfirm.h"
#include "ui/DlgFeedOptions.h"
#include "ui/DlgGroupProp.h"
#include "ui/DlgImportConfirm.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/EpisodeList.h"

#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QUrl>

namespace corvane {

namespace {

// Layout of one item inside its visual rectangle: the mark picture, the icon, the label.
constexpr int kStateLeft = 1;
constexpr int kIconLeft = 19;
constexpr int kTextLeft = 38;
constexpr int kImageSide = 16;
constexpr int kTextPadding = 3;

// Draws an item as the tree control does: state picture, icon, label (highlighted when selected
// or when it is the drop target).
class ItemDelegate : public QStyledItemDelegate {
public:
    explicit ItemDelegate(CCorvaneView& owner)
        : QStyledItemDelegate(&owner)
        , view(owner)
        , closedFolder(ResourceIcon(144))
        , openFolder(ResourceIcon(134))
        , page(ResourceIcon(135))
        , unchecked(ResourceIcon(142))
        , checked(ResourceIcon(141))
        , mixed(ResourceIcon(143))
    { }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QString text = index.data(Qt::DisplayRole).toString();
        const int width = kTextLeft + option.fontMetrics.horizontalAdvance(text) + 2 * kTextPadding;
        return QSize(width, std::max(kImageSide + 2, option.fontMetrics.height() + 2));
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override
    {
        const QRect rect = option.rect;
        const int top = rect.top() + (rect.height() - kImageSide) / 2;
        const QVariant mark = index.data(Qt::CheckStateRole);
        const QIcon* markIcon = &unchecked;
        if (mark.toInt() == Qt::Checked)
            markIcon = &checked;
        else if (mark.toInt() == Qt::PartiallyChecked)
            markIcon = &mixed;
        markIcon->paint(painter, QRect(rect.left() + kStateLeft, top, kImageSide, kImageSide));

        const bool selected = option.state & QStyle::State_Selected;
        const bool feed = index.data(SubscriptionModel::IsFeedRole).toBool();
        const QIcon& icon = feed ? page : (selected ? openFolder : closedFolder);
        icon.paint(painter, QRect(rect.left() + kIconLeft, top, kImageSide, kImageSide));

        const QString text = index.data(Qt::DisplayRole).toString();
        QRect label(rect.left() + kTextLeft, rect.top(),
            option.fontMetrics.horizontalAdvance(text) + 2 * kTextPadding, rect.height());
        const bool highlighted = selected || QModelIndex(view.Drag().DropHighlight()) == index;
        painter->save();
        if (highlighted) {
            painter->fillRect(label, option.palette.brush(QPalette::Highlight));
            painter->setPen(option.palette.color(QPalette::HighlightedText));
        } else {
            painter->setPen(option.palette.color(QPalette::Text));
        }
        painter->setFont(option.font);
        painter->drawText(label.adjusted(kTextPadding, 0, -kTextPadding, 0),
            Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text);
        painter->restore();
    }

private:
    CCorvaneView& view;
    QIcon closedFolder, openFolder, page, unchecked, checked, mixed;
};

} // namespace

CCorvaneView::CCorvaneView(CProgramState& programState, QWidget* parent)
    : QTreeView(parent)
    , state(programState)
    , subscriptions(programState.Subscriptions())
    , host(std::make_unique<CViewHost>())
    , drag(*this)
{
    setHeaderHidden(true);
    setAccessibleName(QStringLiteral("Subscriptions"));
    setAccessibleDescription(
        QStringLiteral("Groups and feeds; a marked item is updated by Update Marked Feeds"));
    setRootIsDecorated(true);
    setItemsExpandable(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    setAcceptDrops(false);
    setExpandsOnDoubleClick(true);
    setUniformRowHeights(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setItemDelegate(new ItemDelegate(*this));
    // Only the label shows the selection, as in the tree control, not the indentation.
    setStyleSheet(QStringLiteral("QTreeView { show-decoration-selected: 0; }"));
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    scheduleTimer.setInterval(kScheduleMs);
    connect(&scheduleTimer, &QTimer::timeout, this, &CCorvaneView::OnScheduleTimer);
    connect(&drag, &CTreeDrag::moved, this, &CCorvaneView::AfterMove);

    setModel(&Model());
    // A click moves the current item before it selects it, so the Edit commands' states follow
    // the selection as well: a command still disabled from before the click would drop its
    // shortcut (Ctrl+C would keep the old clipboard, Ctrl+V would do nothing).
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
        &CCorvaneView::commandStatesChanged);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &CCorvaneView::commandStatesChanged);
    connect(&Model(), &QAbstractItemModel::modelReset, this, &CCorvaneView::AfterTreeReset);
}

CCorvaneView::~CCorvaneView()
{
    // The model stays with the state; the view stops listening before its parts go.
    scheduleTimer.stop();
    blockSignals(true);
    disconnect(&Model(), nullptr, this, nullptr);
    setModel(nullptr);
}

void CCorvaneView::SetHost(std::unique_ptr<CViewHost> newHost)
{
    host = newHost ? std::move(newHost) : std::make_unique<CViewHost>();
}

void CCorvaneView::OnInitialUpdate()
{
    subscriptions.Load();
    CreateDataFolder();
    AfterTreeReset();
    scheduleTimer.start();
}

void CCorvaneView::AfterTreeReset()
{
    contextItem = QModelIndex();
    expand(Model().RootIndex());
    emit commandStatesChanged();
}

// --- hit testing ----------------------------------------------------------------------------

QRect CCorvaneView::StateImageRect(const QModelIndex& index) const
{
    const QRect rect = visualRect(index);
    return QRect(rect.left() + kStateLeft, rect.top() + (rect.height() - kImageSide) / 2,
        kImageSide, kImageSide);
}

QRect CCorvaneView::IconRect(const QModelIndex& index) const
{
    const QRect rect = visualRect(index);
    return QRect(rect.left() + kIconLeft, rect.top() + (rect.height() - kImageSide) / 2, kImageSide,
        kImageSide);
}

QRect CCorvaneView::LabelRect(const QModelIndex& index) const
{
    const QRect rect = visualRect(index);
    const int width = fontMetrics().horizontalAdvance(index.data(Qt::DisplayRole).toString())
        + 2 * kTextPadding;
    return QRect(rect.left() + kTextLeft, rect.top(), width, rect.height());
}

CCorvaneView::Hit CCorvaneView::HitTest(const QPoint& pos) const
{
    Hit hit;
    const QModelIndex index = indexAt(pos);
    if (!index.isValid())
        return hit;
    hit.index = index;
    const QRect rect = visualRect(index);
    const int x = pos.x() - rect.left();
    if (x < 0)
        hit.part = HitPart::Elsewhere; // indentation or expand button
    else if (x < kIconLeft)
        hit.part = HitPart::StateImage;
    else if (x < kTextLeft)
        hit.part = HitPart::Icon;
    else if (LabelRect(index).contains(pos))
        hit.part = HitPart::Label;
    else
        hit.part = HitPart::Elsewhere;
    return hit;
}

QModelIndex CCorvaneView::SelectedItem() const
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isSelected(current))
        return current;
    return {};
}

COutlineItem* CCorvaneView::ContextNode() const
{
    return SubscriptionModel::NodeFromIndex(contextItem);
}

// --- commands -------------------------------------------------------------------------------

std::optional<bool> CCorvaneView::CommandEnabled(int commandId) const
{
    const COutlineItem* selected = SubscriptionModel::NodeFromIndex(SelectedItem());
    switch (commandId) {
    case CommandId::UPDATE_ALL:
    case CommandId::UPDATE_MARKED:
    case CommandId::UPDATE_CURRENT:
    case CommandId::SEND_TO:
    case CommandId::SYNC_EPISODES_TO:
    case CommandId::IMPORT_OPML:
    case CommandId::MERGE_OPML:
    case CommandId::EXPORT_OPML:
    case CommandId::OPTIONS:
    case CommandId::HELP_CONTENTS:
    case CommandId::SORT_BY_NAME:
        return true;
    case CommandId::REPACK:
        return CanRepack(subscriptions.Repackable(), state.UpdateController().UpdateRunning());
    case CommandId::EDIT_UNDO:
        return subscriptions.CanUndo();
    case CommandId::EDIT_CUT:
    case CommandId::EDIT_COPY:
        return selected != nullptr && selected->parent != nullptr;
    case CommandId::EDIT_PASTE:
        return selected != nullptr && !selected->IsFeed() && subscriptions.HasClipboard();
    case CommandId::NEW_GROUP:
    case CommandId::NEW_FEED:
    case CommandId::CONTEXT_PASTE:
    case CommandId::CONTEXT_CUT:
    case CommandId::CONTEXT_COPY:
    case CommandId::CONTEXT_DELETE:
    case CommandId::PROPERTIES: {
        const COutlineItem* node = ContextNode();
        if (!node)
            return false;
        if (commandId == CommandId::NEW_GROUP || commandId == CommandId::NEW_FEED)
            return !node->IsFeed();
        if (commandId == CommandId::CONTEXT_PASTE)
            return !node->IsFeed() && subscriptions.HasClipboard();
        return node->parent != nullptr;
    }
    case CommandId::FEED_OPTIONS: {
        const COutlineItem* node = ContextNode();
        return node && node->IsFeed() && !node->HasChildren();
    }
    default:
        return std::nullopt;
    }
}

namespace {

// The commands the view runs. The Edit menu acts on the selected item, the context menu on
// contextItem: onSelection makes the selected item the context item first.
struct ViewCommand {
    int commandId;
    void (CCorvaneView::*run)();
    bool onSelection;
};

constexpr ViewCommand kViewCommands[] = {
    {CommandId::UPDATE_ALL, &CCorvaneView::OnUpdateAll, false},
    {CommandId::UPDATE_MARKED, &CCorvaneView::OnUpdateMarked, false},
    {CommandId::UPDATE_CURRENT, &CCorvaneView::OnUpdateCurrent, false},
    {CommandId::REPACK, &CCorvaneView::OnRepack, false},
    {CommandId::SEND_TO, &CCorvaneView::OnSendTo, false},
    {CommandId::SYNC_EPISODES_TO, &CCorvaneView::OnSyncEpisodesTo, false},
    {CommandId::IMPORT_OPML, &CCorvaneView::OnImportOpml, false},
    {CommandId::MERGE_OPML, &CCorvaneView::OnMergeOpml, false},
    {CommandId::EXPORT_OPML, &CCorvaneView::OnExportOpml, false},
    {CommandId::EDIT_UNDO, &CCorvaneView::OnEditUndo, false},
    {CommandId::OPTIONS, &CCorvaneView::OnOptions, false},
    {CommandId::HELP_CONTENTS, &CCorvaneView::OnHelpContents, false},
    {CommandId::EDIT_CUT, &CCorvaneView::OnCut, true},
    {CommandId::EDIT_COPY, &CCorvaneView::OnCopy, true},
    {CommandId::EDIT_PASTE, &CCorvaneView::OnPaste, true},
    {CommandId::CONTEXT_CUT, &CCorvaneView::OnCut, false},
    {CommandId::CONTEXT_COPY, &CCorvaneView::OnCopy, false},
    {CommandId::CONTEXT_PASTE, &CCorvaneView::OnPaste, false},
    {CommandId::CONTEXT_DELETE, &CCorvaneView::OnDelete, false},
    {CommandId::NEW_GROUP, &CCorvaneView::OnNewGroup, false},
    {CommandId::NEW_FEED, &CCorvaneView::OnNewFeed, false},
    {CommandId::SORT_BY_NAME, &CCorvaneView::OnSortByName, false},
    {CommandId::PROPERTIES, &CCorvaneView::OnProperties, false},
    {CommandId::FEED_OPTIONS, &CCorvaneView::OnFeedOptions, false},
};

} // namespace

bool CCorvaneView::OnCommand(int commandId)
{
    for (const ViewCommand& command : kViewCommands) {
        if (command.commandId != commandId)
            continue;
        if (command.onSelection)
            contextItem = SelectedItem();
        (this->*command.run)();
        emit commandStatesChanged();
        return true;
    }
    return false;
}

void CCorvaneView::ReportSave(const SaveResult& result)
{
    // The change itself stands; the user learns that the channels file did not follow it.
    if (!result.ok) {
        Prompts().Message(this, QStringLiteral("Error"),
            Capitalized(QString::fromStdString(result.message)), QMessageBox::Warning);
    }
}

void CCorvaneView::OnNewGroup()
{
    COutlineItem* parent = ContextNode();
    if (!parent || parent->IsFeed())
        return;
    CDlgGroupProp dialog(this);
    if (Prompts().RunDialog(dialog) != 1)
        return;
    const TreeChange change = subscriptions.NewGroup(parent, dialog.title, dialog.description);
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::OnNewFeed()
{
    COutlineItem* parent = ContextNode();
    if (!parent || parent->IsFeed())
        return;
    CChannelProp dialog(this);
    if (Prompts().RunDialog(dialog) != 1)
        return;
    const TreeChange change = subscriptions.NewFeed(
        parent, dialog.title, dialog.xmlurl, dialog.htmlurl, dialog.description);
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::OnFeedOptions()
{
    const COutlineItem* node = ContextNode();
    if (node && node->IsFeed() && !node->HasChildren())
        OpenFeedOptions(*node->xmlurl, this);
}

void CCorvaneView::OpenFeedOptions(const std::string& address, QWidget* parent)
{
    CDlgFeedOptions dialog(parent);
    dialog.address = address;
    dialog.options = subscriptions.FeedOptionsFor(address);
    dialog.listEpisodes = [this, address](const FeedOptions& options) {
        const CCacheIndex index(GetDataFolder());
        return ListEpisodes(
            address, index.Find(address, CACHE_FEED), subscriptions.Settings(), options, index);
    };
    if (Prompts().RunDialog(dialog) != 1)
        return;
    if (const Result<void> stored = subscriptions.SetFeedOptions(address, dialog.options); !stored)
        Prompts().Message(parent, QStringLiteral("Error"), QString::fromStdString(stored.Error()),
            QMessageBox::Warning);
}

void CCorvaneView::OnProperties()
{
    COutlineItem* node = ContextNode();
    if (!node)
        return;
    TreeChange change;
    if (node->IsFeed()) {
        CChannelProp dialog(this);
        if (node->title)
            dialog.title = *node->title;
        dialog.xmlurl = *node->xmlurl;
        if (node->htmlurl)
            dialog.htmlurl = *node->htmlurl;
        if (node->description)
            dialog.description = *node->description;
        dialog.onFeedOptions
            = [this, address = *node->xmlurl, &dialog] { OpenFeedOptions(address, &dialog); };
        dialog.UpdateData(false);
        if (Prompts().RunDialog(dialog) != 1)
            return;
        change = subscriptions.Properties(
            node, dialog.title, dialog.xmlurl, dialog.htmlurl, dialog.description);
    } else {
        CDlgGroupProp dialog(this);
        if (node->title)
            dialog.title = *node->title;
        if (node->description)
            dialog.description = *node->description;
        dialog.UpdateData(false);
        if (Prompts().RunDialog(dialog) != 1)
            return;
        change = subscriptions.Properties(
            node, dialog.title, std::string(), std::string(), dialog.description);
    }
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::OnCopy()
{
    if (COutlineItem* node = ContextNode())
        subscriptions.Copy(node);
}

void CCorvaneView::OnCut()
{
    COutlineItem* node = ContextNode();
    if (!node || !node->parent)
        return;
    const TreeChange change = subscriptions.Cut(node);
    contextItem = QModelIndex();
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::OnPaste()
{
    COutlineItem* target = ContextNode();
    if (!target || target->IsFeed() || !subscriptions.HasClipboard())
        return;
    const TreeChange change = subscriptions.Paste(target);
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::DeleteNode(COutlineItem* node)
{
    if (!node || !node->parent)
        return;
    CDlgDeleteConfirm confirm(this);
    if (Prompts().RunDialog(confirm) != 1)
        return;
    const TreeChange change = subscriptions.Delete(node);
    if (SubscriptionModel::NodeFromIndex(contextItem) == nullptr)
        contextItem = QModelIndex();
    if (change.changed)
        ReportSave(change.save);
    emit commandStatesChanged();
}

void CCorvaneView::OnDelete()
{
    DeleteNode(ContextNode());
}

void CCorvaneView::OnSortByName()
{
    COutlineItem* node = ContextNode();
    if (!node)
        return;
    const TreeChange change = subscriptions.SortByName(node);
    if (change.changed)
        ReportSave(change.save);
}

void CCorvaneView::OnEditUndo()
{
    if (!subscriptions.CanUndo())
        return;
    ReportSave(subscriptions.Undo());
}

void CCorvaneView::OnImportOpml()
{
    const QString path = Prompts().OpenFileName(this,
        QStringLiteral("All OPML Files (*.opml *.xml);;All Files (*)"), QStringLiteral("opml"));
    if (path.isEmpty())
        return;
    CDlgImportConfirm confirm(this);
    if (Prompts().RunDialog(confirm) != 1)
        return;
    const TreeChange change = subscriptions.ImportOpml(QFile::encodeName(path).toStdString());
    if (!change.changed) {
        Prompts().Message(this, QStringLiteral("Error"),
            QStringLiteral("No feed was found in the input file. Please check it."),
            QMessageBox::Warning);
        return;
    }
    const QModelIndex root = Model().RootIndex();
    expand(root);
    setCurrentIndex(root);
    ReportSave(change.save);
}

void CCorvaneView::OnMergeOpml()
{
    const QString path = Prompts().OpenFileName(this,
        QStringLiteral("All OPML Files (*.opml *.xml);;All Files (*)"), QStringLiteral("opml"));
    if (path.isEmpty())
        return;
    // Nothing is removed, so nothing needs confirming.
    const MergeOutcome merged = subscriptions.MergeOpml(QFile::encodeName(path).toStdString());
    if (!merged.foundFeeds) {
        Prompts().Message(this, QStringLiteral("Error"),
            QStringLiteral("No feed was found in the input file. Please check it."),
            QMessageBox::Warning);
        return;
    }
    Prompts().Message(this, QStringLiteral("Merge OPML File"),
        QString::fromStdString(merged.Summary()), QMessageBox::Information);
    if (merged.change.changed)
        ReportSave(merged.change.save);
}

void CCorvaneView::OnExportOpml()
{
    // The first entry is the described export (the channels file's form); the second is OPML 2.0
    // for other programs.
    const QString channelsForm = QStringLiteral("OPML Files (*.xml)");
    QString chosen;
    const QString path = Prompts().SaveFileNameAndFilter(this,
        channelsForm + QStringLiteral(";;OPML 2.0 for other programs (*.opml)"),
        QStringLiteral("xml"), chosen);
    if (path.isEmpty())
        return;
    const OpmlExport format = chosen.startsWith(QStringLiteral("OPML 2.0"))
        ? OpmlExport::Opml2
        : OpmlExport::ChannelsFile;
    // A file that could not be written is said so; silence would pass for success.
    ReportSave(subscriptions.ExportOpml(QFile::encodeName(path).toStdString(), format));
}

void CCorvaneView::OnSendTo()
{
    const QString package = QString::fromStdString(subscriptions.Settings().outputPath);
    QFile file(package);
    if (package.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        Prompts().Message(this, QStringLiteral("Warning"),
            QStringLiteral("The updated feeds file does not exist. Please update "
                           "feeds first."),
            QMessageBox::Warning);
        return;
    }
    file.close();
    host->ShowSendTo(*this, package, viewport()->mapToGlobal(QPoint(0, 70)));
}

void CCorvaneView::OnSyncEpisodesTo()
{
    host->ShowSyncTo(*this, QString::fromStdString(subscriptions.Settings().outputPath),
        viewport()->mapToGlobal(QPoint(0, 70)));
}

void CCorvaneView::OnOptions()
{
    host->ShowOptions(*this);
}

void CCorvaneView::OnHelpContents()
{
    const std::string index = FindHelpIndex();
    if (index.empty()) {
        // Opening a page that is not there would leave the user with a browser's bare error.
        QStringList places;
        for (const std::string& place : HelpIndexCandidates(GetProgramFolder(), ExecutableFolder()))
            places << QString::fromStdString(place);
        Prompts().Message(this, QStringLiteral("Warning"),
            QStringLiteral("The help was not found. It is looked for at:\n") + places.join('\n'),
            QMessageBox::Warning);
        return;
    }
    // Without a browser or launcher nothing would open and nothing would be said.
    const QString file = QString::fromStdString(index);
    if (!host->OpenUrl(QUrl::fromLocalFile(file))) {
        Prompts().Message(this, QStringLiteral("Warning"),
            QStringLiteral("The help could not be opened: no program to show it was found. "
                           "Open this file in a web browser:\n")
                + file,
            QMessageBox::Warning);
    }
}

void CCorvaneView::StartUpdate(std::vector<std::string> feeds, bool repack, bool wholeTree)
{
    feedUrls = std::move(feeds);
    if (feedUrls.empty())
        return;
    UpdateRequest request;
    request.repack = repack;
    request.wholeTree = wholeTree;
    request.feedUrls = feedUrls;
    request.outputPath = subscriptions.Settings().outputPath;
    host->RunUpdate(*this, request);
    emit commandStatesChanged();
}

void CCorvaneView::OnUpdateAll()
{
    StartUpdate(subscriptions.CollectAllFeeds(subscriptions.Root()), false, true);
}

void CCorvaneView::OnUpdateMarked()
{
    std::vector<std::string> feeds = subscriptions.CollectMarkedFeeds(subscriptions.Root());
    // Nothing starts then; without a word the command would seem to have been lost.
    if (feeds.empty())
        host->ShowStatusText(QStringLiteral("No feed is marked: nothing to update."));
    StartUpdate(std::move(feeds), false);
}

void CCorvaneView::OnUpdateCurrent()
{
    const COutlineItem* selected = SubscriptionModel::NodeFromIndex(SelectedItem());
    std::vector<std::string> feeds = subscriptions.CollectAllFeeds(selected);
    if (!selected)
        host->ShowStatusText(QStringLiteral("No feed or group is selected: nothing to update."));
    else if (feeds.empty())
        host->ShowStatusText(
            QStringLiteral("The selected group holds no feed: nothing to update."));
    StartUpdate(std::move(feeds), false);
}

void CCorvaneView::OnRepack()
{
    if (!CommandEnabled(CommandId::REPACK).value_or(false))
        return;
    StartUpdate(subscriptions.CollectAllFeeds(subscriptions.Root()), true);
}

void CCorvaneView::OnScheduleTimer()
{
    UpdateController().OnScheduleTick(LocalTime::Now());
}

// --- context menus --------------------------------------------------------------------------

std::unique_ptr<QMenu> CCorvaneView::BuildContextMenu(bool onItem)
{
    auto menu = std::make_unique<QMenu>(QStringLiteral("Tree"));
    auto add = [this](QMenu* into, const QString& text, int commandId) {
        QAction* action = into->addAction(text);
        action->setData(commandId);
        action->setEnabled(CommandEnabled(commandId).value_or(false));
        return action;
    };
    QMenu* newMenu = menu->addMenu(QStringLiteral("&New"));
    add(newMenu, QStringLiteral("&Group"), CommandId::NEW_GROUP);
    add(newMenu, QStringLiteral("&Feed"), CommandId::NEW_FEED);
    if (!onItem)
        return menu;
    add(menu.get(), QStringLiteral("&Sort By Name"), CommandId::SORT_BY_NAME);
    menu->addSeparator();
    add(menu.get(), QStringLiteral("Cu&t"), CommandId::CONTEXT_CUT);
    add(menu.get(), QStringLiteral("&Copy"), CommandId::CONTEXT_COPY);
    add(menu.get(), QStringLiteral("&Paste"), CommandId::CONTEXT_PASTE);
    add(menu.get(), QStringLiteral("&Delete"), CommandId::CONTEXT_DELETE);
    menu->addSeparator();
    add(menu.get(), QStringLiteral("Propert&ies"), CommandId::PROPERTIES);
    add(menu.get(), QStringLiteral("Feed &Options..."), CommandId::FEED_OPTIONS);
    return menu;
}

void CCorvaneView::ShowContextMenuAt(const QPoint& pos)
{
    const Hit hit = HitTest(pos);
    if (hit.index.isValid())
        setCurrentIndex(hit.index);
    else
        clearSelection();
    const bool onItem = hit.part == HitPart::Icon || hit.part == HitPart::Label;
    RunContextMenu(onItem ? hit.index : QModelIndex(), pos);
}

void CCorvaneView::ShowContextMenuForSelection()
{
    // The keyboard's way to the menu: it is the selected item's, or the short menu of the tree
    // when nothing is selected, as a click beside the items gives.
    const QModelIndex selected = SelectedItem();
    if (!selected.isValid()) {
        RunContextMenu(QModelIndex(), QPoint(0, 0));
        return;
    }
    scrollTo(selected);
    RunContextMenu(selected, LabelRect(selected).bottomLeft());
}

void CCorvaneView::RunContextMenu(const QModelIndex& item, const QPoint& viewportPos)
{
    contextItem = item.isValid() ? item : Model().RootIndex();
    emit commandStatesChanged();
    std::unique_ptr<QMenu> menu = BuildContextMenu(item.isValid());
    QAction* chosen = host->ExecMenu(*menu, viewport()->mapToGlobal(viewportPos));
    if (chosen && chosen->isEnabled())
        OnCommand(chosen->data().toInt());
}

void CCorvaneView::contextMenuEvent(QContextMenuEvent* event)
{
    // The Menu key arrives as a context menu event of the keyboard, at no item in particular.
    if (event->reason() == QContextMenuEvent::Keyboard)
        ShowContextMenuForSelection();
    else
        ShowContextMenuAt(viewport()->mapFromGlobal(event->globalPos()));
    event->accept();
}

// --- mouse and keys -------------------------------------------------------------------------

void CCorvaneView::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        const Hit hit = HitTest(pos);
        const bool onItem = hit.part == HitPart::Icon || hit.part == HitPart::Label;
        drag.Press(onItem ? hit.index : QModelIndex(), pos);
        if (hit.part == HitPart::StateImage) {
            if (COutlineItem* node = SubscriptionModel::NodeFromIndex(hit.index))
                subscriptions.ClickMark(node);
            event->accept();
            return;
        }
    }
    QTreeView::mousePressEvent(event);
}

void CCorvaneView::mouseMoveEvent(QMouseEvent* event)
{
    if (drag.Move(event->position().toPoint(), event->buttons())) {
        event->accept();
        return;
    }
    QTreeView::mouseMoveEvent(event);
}

void CCorvaneView::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeView::mouseReleaseEvent(event);
    drag.Release();
}

void CCorvaneView::AfterMove(const SaveResult& save)
{
    if (SubscriptionModel::NodeFromIndex(contextItem) == nullptr)
        contextItem = QModelIndex();
    ReportSave(save);
    emit commandStatesChanged();
}

void CCorvaneView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const Hit hit = HitTest(event->position().toPoint());
    if (hit.index.isValid())
        setCurrentIndex(hit.index);
    else
        clearSelection();
    if (hit.part == HitPart::StateImage) {
        // The second click of a double click on a mark toggles it back, as two clicks would.
        if (COutlineItem* node = SubscriptionModel::NodeFromIndex(hit.index))
            subscriptions.ClickMark(node);
        event->accept();
        return;
    }
    if (hit.part == HitPart::Icon || hit.part == HitPart::Label) {
        contextItem = hit.index;
        if (!Model().hasChildren(hit.index)) {
            OnProperties();
            emit commandStatesChanged();
            event->accept();
            return;
        }
    }
    QTreeView::mouseDoubleClickEvent(event);
}

void CCorvaneView::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 is the other key of the context menu; the platform turns only the Menu key into
    // a context menu event.
    if (event->key() == Qt::Key_F10
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier) {
        ShowContextMenuForSelection();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void CCorvaneView::keyReleaseEvent(QKeyEvent* event)
{
    // Shift+Delete is Cut: its release must not ask to delete the item selected after the cut.
    if (event->key() == Qt::Key_Delete && !event->isAutoRepeat()
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        DeleteNode(SubscriptionModel::NodeFromIndex(SelectedItem()));
    }
    QTreeView::keyReleaseEvent(event);
}

} // namespace corvane
