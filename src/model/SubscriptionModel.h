// SubscriptionModel: the subscription tree as a QAbstractItemModel (QtCore only), for the tree
// view of the desktop program and for the command-line program, which uses it without a view.
//
// Shape. One column. The only top-level row is the root node; below it every node's children in
// node order. An index's internalPointer is its COutlineItem. The model does not own the nodes:
// the document does. SetRoot() points the model at a new root (a model reset).
//
// Roles.
//   Qt::DisplayRole   the node's title as QString::fromUtf8; a feed without a (non-empty) title
//                     shows its xmlurl instead, a group without one shows an empty text.
//   Qt::ToolTipRole   a feed's xmlurl.
//   Qt::CheckStateRole the mark: Qt::Unchecked = MARK_UNCHECKED, Qt::Checked = MARK_CHECKED,
//                     Qt::PartiallyChecked = MARK_MIXED.
//   Qt::AccessibleTextRole the name a screen reader says: the shown text, "Untitled group" for a
//                     group without one.
//   Qt::AccessibleDescriptionRole what the item is and its mark: "Feed, marked", "Group, not
//                     marked", "Group, partly marked".
//   IsFeedRole        bool: the node has an xmlurl (the view picks the feed or the group icon).
//   XmlUrlRole        the feed's xmlurl as QString (null QString for a group).
//
// Marks live here only (a hash from node to mark; absent means MARK_UNCHECKED), never in the nodes
// or in any file. Every node that enters the model (reset, insert, move) starts unmarked.
//
// Editing the tree. Structural changes go through the mutators below, which link or unlink the
// nodes and emit the matching begin/end insert/remove/layout/reset signals, so a QTreeView
// follows every change. The desktop program and the command-line program call the operations of
// CSubscriptions (which also save the channels file) rather than these mutators.
//
// Drag and drop. Every node but the root can be dragged (mime type kNodeMimeType carries the
// node's row path, never a pointer); a drop onto an item (not between items) calls the drop
// handler set with SetDropHandler, which decides and performs the move.
//
// Thread: the GUI thread (the thread the model lives in) only. Walks are iterative: a tree
// 100,000 levels deep neither overflows the stack here nor in the mark updates.
#pragma once

#include "model/Records.h"

#include <QAbstractItemModel>
#include <QHash>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvane {

constexpr int MARK_UNCHECKED = 1;
constexpr int MARK_CHECKED = 2;
constexpr int MARK_MIXED = 3;

class SubscriptionModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Roles {
        IsFeedRole = Qt::UserRole + 1,
        XmlUrlRole,
    };
    static constexpr const char* kNodeMimeType = "application/x-corvane-node-path";

    explicit SubscriptionModel(QObject* parent = nullptr);
    ~SubscriptionModel() override;

    // Points the model at root (not owned; may be null for an empty model). Resets the model:
    // every mark is cleared.
    void SetRoot(COutlineItem* root);
    COutlineItem* Root() const { return root; }

    // Index <-> node. IndexFromNode gives an invalid index for null or a node outside the tree.
    // NodeFromIndex gives null for an invalid index.
    QModelIndex IndexFromNode(const COutlineItem* node) const;
    static COutlineItem* NodeFromIndex(const QModelIndex& index);
    QModelIndex RootIndex() const;

    // --- marks -------------------------------------------------------------------------------
    int Mark(const COutlineItem* node) const;
    // Sets node's mark; MARK_UNCHECKED and MARK_CHECKED also go to every descendant, MARK_MIXED
    // changes only node. Any other value is ignored.
    void SetMark(COutlineItem* node, int mark);
    // From node upward: a node with children takes MARK_UNCHECKED when no child is checked or
    // mixed, MARK_CHECKED when every child is checked, else MARK_MIXED; then its parent, up to the
    // root. Stops at the first node without children (that node keeps its mark).
    void UpdateParentMarks(COutlineItem* node);
    // The click on a mark: unchecked becomes checked, checked and mixed become unchecked (whole
    // subtree), then UpdateParentMarks from the parent.
    void ClickMark(COutlineItem* node);
    // Every mark back to unchecked.
    void ClearMarks();

    // --- structural mutators (link the nodes and signal the view) ---------------------------
    // Appends node as the last child of parent. Returns the node, or null (node discarded) when
    // parent is null or not in the tree.
    COutlineItem* AppendNode(COutlineItem* parent, std::unique_ptr<COutlineItem> node);
    // Links node directly behind after (a node of the tree other than the root). Returns the
    // node, or null (node discarded) when after is null, the root or not in the tree.
    COutlineItem* InsertNodeAfter(COutlineItem* after, std::unique_ptr<COutlineItem> node);
    // Unlinks node (not the root) with its subtree and hands it back; its marks are forgotten.
    // Null when node is null, the root or not in the tree.
    std::unique_ptr<COutlineItem> TakeNode(COutlineItem* node);
    // Relinks parent's children in the given order, which must be a permutation of them
    // (otherwise nothing happens and false is returned). Persistent indexes follow their nodes.
    bool ReorderChildren(COutlineItem* parent, const std::vector<COutlineItem*>& order);
    // Tells the view that node's own fields (title, xmlurl) changed.
    void NodeChanged(COutlineItem* node);

    // Called for a drop of dragged onto target; returns whether something moved.
    using DropHandler = std::function<bool(COutlineItem* dragged, COutlineItem* target)>;
    void SetDropHandler(DropHandler handler) { dropHandler = std::move(handler); }

    // True when node is the root or one of its descendants (node must be a live node: a
    // pointer to a destroyed node cannot be checked).
    bool Contains(const COutlineItem* node) const;

    // --- QAbstractItemModel ------------------------------------------------------------------
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Qt::CheckStateRole is the click on the mark, as a view's delegate sends it: a request for
    // Qt::Checked on an unchecked node checks it; any other request on a checked or mixed node
    // unchecks it (the click rule, whatever state the delegate guessed next). Parents follow.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
        const QModelIndex& parent) override;

private:
    // The children of a parent as a vector, built on demand so that index() and rowCount() do
    // not walk a long sibling list each time; dropped whenever that parent's children change.
    const std::vector<COutlineItem*>& Children(const COutlineItem* parent) const;
    int RowOf(const COutlineItem* node) const;
    void ForgetChildren(const COutlineItem* parent);
    void ForgetSubtree(const COutlineItem* node);
    void ApplyMark(COutlineItem* node, int mark, std::vector<COutlineItem*>& changed);
    void SignalMarksChanged(const std::vector<COutlineItem*>& changed);
    COutlineItem* NodeFromPath(const QByteArray& path) const;

    COutlineItem* root = nullptr;
    QHash<const COutlineItem*, int> marks;
    // std::unordered_map: references to its values survive a rehash.
    mutable std::unordered_map<const COutlineItem*, std::vector<COutlineItem*>> childCache;
    mutable QHash<const COutlineItem*, int> rowCache;
    DropHandler dropHandler;
};

} // namespace corvane
