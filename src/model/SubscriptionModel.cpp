#include "model/SubscriptionModel.h"

#include <QMimeData>
#include <QStringList>

#include <algorithm>
#include <unordered_set>

namespace corvane {

namespace {

Qt::CheckState CheckStateOf(int mark)
{
    switch (mark) {
    case MARK_CHECKED:
        return Qt::Checked;
    case MARK_MIXED:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

} // namespace

SubscriptionModel::SubscriptionModel(QObject* parent)
    : QAbstractItemModel(parent)
{ }

SubscriptionModel::~SubscriptionModel() = default;

void SubscriptionModel::SetRoot(COutlineItem* newRoot)
{
    beginResetModel();
    root = newRoot;
    marks.clear();
    childCache.clear();
    rowCache.clear();
    endResetModel();
}

const std::vector<COutlineItem*>& SubscriptionModel::Children(const COutlineItem* parent) const
{
    auto found = childCache.find(parent);
    if (found != childCache.end())
        return found->second;
    std::vector<COutlineItem*> children;
    int row = 0;
    for (COutlineItem* child = parent->firstChild.get(); child; child = child->nextSibling.get()) {
        children.push_back(child);
        rowCache.insert(child, row++);
    }
    return childCache.emplace(parent, std::move(children)).first->second;
}

int SubscriptionModel::RowOf(const COutlineItem* node) const
{
    if (!node || node == root || !node->parent)
        return 0;
    auto found = rowCache.find(node);
    if (found == rowCache.end()) {
        Children(node->parent);
        found = rowCache.find(node);
        if (found == rowCache.end())
            return -1;
    }
    return *found;
}

void SubscriptionModel::ForgetChildren(const COutlineItem* parent)
{
    auto found = childCache.find(parent);
    if (found == childCache.end())
        return;
    for (const COutlineItem* child : found->second)
        rowCache.remove(child);
    childCache.erase(found);
}

void SubscriptionModel::ForgetSubtree(const COutlineItem* node)
{
    ForEachNode(const_cast<COutlineItem*>(node), [this](COutlineItem* each, int) {
        marks.remove(each);
        rowCache.remove(each);
        ForgetChildren(each);
    });
}

bool SubscriptionModel::Contains(const COutlineItem* node) const
{
    if (!node || !root)
        return false;
    for (const COutlineItem* current = node; current != root; current = current->parent) {
        // A node taken out of the tree keeps its parent link, so each step is checked against
        // the parent's children.
        if (!current->parent)
            return false;
        const std::vector<COutlineItem*>& siblings = Children(current->parent);
        const int row = RowOf(current);
        if (row < 0 || row >= static_cast<int>(siblings.size()) || siblings[row] != current)
            return false;
    }
    return true;
}

QModelIndex SubscriptionModel::IndexFromNode(const COutlineItem* node) const
{
    if (!node || !Contains(node))
        return {};
    return createIndex(RowOf(node), 0, const_cast<COutlineItem*>(node));
}

COutlineItem* SubscriptionModel::NodeFromIndex(const QModelIndex& index)
{
    return index.isValid() ? static_cast<COutlineItem*>(index.internalPointer()) : nullptr;
}

QModelIndex SubscriptionModel::RootIndex() const
{
    return root ? createIndex(0, 0, root) : QModelIndex();
}

// --- marks ------------------------------------------------------------------------------------

int SubscriptionModel::Mark(const COutlineItem* node) const
{
    return marks.value(node, MARK_UNCHECKED);
}

void SubscriptionModel::ApplyMark(COutlineItem* node, int mark, std::vector<COutlineItem*>& changed)
{
    if (Mark(node) == mark)
        return;
    if (mark == MARK_UNCHECKED)
        marks.remove(node);
    else
        marks.insert(node, mark);
    changed.push_back(node);
}

void SubscriptionModel::SignalMarksChanged(const std::vector<COutlineItem*>& changed)
{
    for (COutlineItem* node : changed) {
        const QModelIndex index = createIndex(RowOf(node), 0, node);
        emit dataChanged(index, index, {Qt::CheckStateRole});
    }
}

void SubscriptionModel::SetMark(COutlineItem* node, int mark)
{
    if (!node || (mark != MARK_UNCHECKED && mark != MARK_CHECKED && mark != MARK_MIXED))
        return;
    std::vector<COutlineItem*> changed;
    if (mark == MARK_MIXED)
        ApplyMark(node, mark, changed);
    else
        ForEachNode(node, [&](COutlineItem* each, int) { ApplyMark(each, mark, changed); });
    SignalMarksChanged(changed);
}

void SubscriptionModel::UpdateParentMarks(COutlineItem* node)
{
    std::vector<COutlineItem*> changed;
    for (COutlineItem* current = node; current && current->HasChildren();
         current = current->parent) {
        int unchecked = 0, checked = 0, mixed = 0;
        for (COutlineItem* child = current->firstChild.get(); child;
             child = child->nextSibling.get()) {
            switch (Mark(child)) {
            case MARK_CHECKED:
                ++checked;
                break;
            case MARK_MIXED:
                ++mixed;
                break;
            default:
                ++unchecked;
            }
        }
        const int mark = (checked == 0 && mixed == 0) ? MARK_UNCHECKED
            : (unchecked == 0 && mixed == 0)          ? MARK_CHECKED
                                                      : MARK_MIXED;
        // A checked or unchecked result means every child already carries that mark, and each
        // child's own subtree agrees with it, so the mark goes to this node alone; walking the
        // whole subtree at every level would make a click in a deep tree quadratic.
        ApplyMark(current, mark, changed);
    }
    SignalMarksChanged(changed);
}

void SubscriptionModel::ClickMark(COutlineItem* node)
{
    if (!node)
        return;
    SetMark(node, Mark(node) == MARK_UNCHECKED ? MARK_CHECKED : MARK_UNCHECKED);
    if (node->parent && node != root)
        UpdateParentMarks(node->parent);
}

void SubscriptionModel::ClearMarks()
{
    std::vector<COutlineItem*> changed;
    for (auto it = marks.begin(); it != marks.end(); ++it)
        changed.push_back(const_cast<COutlineItem*>(it.key()));
    marks.clear();
    SignalMarksChanged(changed);
}

// --- structure --------------------------------------------------------------------------------

COutlineItem* SubscriptionModel::AppendNode(
    COutlineItem* parent, std::unique_ptr<COutlineItem> node)
{
    if (!parent || !node || !Contains(parent))
        return nullptr;
    COutlineItem* raw = node.get();
    ForgetSubtree(raw); // a new node may sit where a forgotten one was
    const int row = static_cast<int>(Children(parent).size());
    beginInsertRows(IndexFromNode(parent), row, row);
    COutlineItem* last = Children(parent).empty() ? nullptr : Children(parent).back();
    parent->AppendChild(std::move(node), last);
    ForgetChildren(parent);
    endInsertRows();
    return raw;
}

COutlineItem* SubscriptionModel::InsertNodeAfter(
    COutlineItem* after, std::unique_ptr<COutlineItem> node)
{
    if (!after || !node || after == root || !Contains(after))
        return nullptr;
    COutlineItem* parent = after->parent;
    COutlineItem* raw = node.get();
    ForgetSubtree(raw);
    const int row = RowOf(after) + 1;
    beginInsertRows(IndexFromNode(parent), row, row);
    parent->InsertAfter(node, after);
    ForgetChildren(parent);
    endInsertRows();
    return raw;
}

std::unique_ptr<COutlineItem> SubscriptionModel::TakeNode(COutlineItem* node)
{
    if (!node || node == root || !Contains(node))
        return nullptr;
    COutlineItem* parent = node->parent;
    const int row = RowOf(node);
    beginRemoveRows(IndexFromNode(parent), row, row);
    ForgetSubtree(node);
    std::unique_ptr<COutlineItem> taken = parent->RemoveChild(node);
    ForgetChildren(parent);
    endRemoveRows();
    return taken;
}

bool SubscriptionModel::ReorderChildren(
    COutlineItem* parent, const std::vector<COutlineItem*>& order)
{
    if (!parent || !Contains(parent))
        return false;
    const std::vector<COutlineItem*> current = Children(parent);
    if (order.size() != current.size())
        return false;
    std::unordered_set<const COutlineItem*> seen(current.begin(), current.end());
    for (const COutlineItem* node : order) {
        if (!seen.erase(node))
            return false;
    }

    const QPersistentModelIndex parentIndex(IndexFromNode(parent));
    emit layoutAboutToBeChanged({parentIndex}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();

    std::vector<std::unique_ptr<COutlineItem>> owned;
    owned.reserve(current.size());
    while (parent->firstChild)
        owned.push_back(parent->RemoveChild(parent->firstChild.get()));
    // owned is in the old order; hand each node back in the new one.
    QHash<const COutlineItem*, std::size_t> slot;
    for (std::size_t i = 0; i < owned.size(); ++i)
        slot.insert(owned[i].get(), i);
    COutlineItem* last = nullptr;
    for (COutlineItem* node : order) {
        parent->AppendChild(std::move(owned[slot.value(node)]), last);
        last = node;
    }
    ForgetChildren(parent);

    for (const QModelIndex& old : persistent) {
        COutlineItem* node = NodeFromIndex(old);
        if (node && node != root && node->parent == parent)
            changePersistentIndex(old, createIndex(RowOf(node), old.column(), node));
    }
    emit layoutChanged({parentIndex}, QAbstractItemModel::VerticalSortHint);
    return true;
}

void SubscriptionModel::NodeChanged(COutlineItem* node)
{
    const QModelIndex index = IndexFromNode(node);
    if (index.isValid())
        emit dataChanged(index, index);
}

// --- QAbstractItemModel -------------------------------------------------------------------------

QModelIndex SubscriptionModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!root || column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, root) : QModelIndex();
    const COutlineItem* node = NodeFromIndex(parent);
    const std::vector<COutlineItem*>& children = Children(node);
    if (row >= static_cast<int>(children.size()))
        return {};
    return createIndex(row, 0, children[row]);
}

QModelIndex SubscriptionModel::parent(const QModelIndex& child) const
{
    const COutlineItem* node = NodeFromIndex(child);
    if (!node || node == root || !node->parent)
        return {};
    COutlineItem* parentNode = node->parent;
    return createIndex(RowOf(parentNode), 0, parentNode);
}

int SubscriptionModel::rowCount(const QModelIndex& parent) const
{
    if (!root)
        return 0;
    if (!parent.isValid())
        return 1;
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(Children(NodeFromIndex(parent)).size());
}

int SubscriptionModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool SubscriptionModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return root != nullptr;
    return parent.column() == 0 && NodeFromIndex(parent)->HasChildren();
}

namespace {

// An item's kind and mark in words, as the tree's pictures show them.
QString AccessibleDescription(bool isFeed, int mark)
{
    const QString kind = isFeed ? QStringLiteral("Feed") : QStringLiteral("Group");
    switch (mark) {
    case MARK_CHECKED:
        return kind + QStringLiteral(", marked");
    case MARK_MIXED:
        return kind + QStringLiteral(", partly marked");
    default:
        return kind + QStringLiteral(", not marked");
    }
}

} // namespace

QVariant SubscriptionModel::data(const QModelIndex& index, int role) const
{
    const COutlineItem* node = NodeFromIndex(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        if (node->title && !node->title->empty())
            return QString::fromUtf8(*node->title);
        return node->IsFeed() ? QString::fromUtf8(*node->xmlurl) : QString();
    case Qt::ToolTipRole:
        return node->IsFeed() ? QVariant(QString::fromUtf8(*node->xmlurl)) : QVariant();
    case Qt::AccessibleTextRole: {
        const QString shown = data(index, Qt::DisplayRole).toString();
        return shown.isEmpty() ? QStringLiteral("Untitled group") : shown;
    }
    case Qt::AccessibleDescriptionRole:
        return AccessibleDescription(node->IsFeed(), Mark(node));
    case Qt::CheckStateRole:
        return static_cast<int>(CheckStateOf(Mark(node)));
    case IsFeedRole:
        return node->IsFeed();
    case XmlUrlRole:
        return node->IsFeed() ? QString::fromUtf8(*node->xmlurl) : QString();
    default:
        return {};
    }
}

bool SubscriptionModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    COutlineItem* node = NodeFromIndex(index);
    if (!node || role != Qt::CheckStateRole)
        return false;
    const int requested = value.toInt();
    const int mark = Mark(node);
    if (requested == Qt::Checked && mark == MARK_CHECKED)
        return true;
    if (requested == Qt::Unchecked && mark == MARK_UNCHECKED)
        return true;
    ClickMark(node);
    return true;
}

Qt::ItemFlags SubscriptionModel::flags(const QModelIndex& index) const
{
    const COutlineItem* node = NodeFromIndex(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable
        | Qt::ItemIsDropEnabled;
    if (node != root)
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

Qt::DropActions SubscriptionModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

QStringList SubscriptionModel::mimeTypes() const
{
    return {QString::fromLatin1(kNodeMimeType)};
}

QMimeData* SubscriptionModel::mimeData(const QModelIndexList& indexes) const
{
    for (const QModelIndex& index : indexes) {
        const COutlineItem* node = NodeFromIndex(index);
        if (!node || node == root || !Contains(node))
            continue;
        // The row path from the root: a pointer in a drag could outlive its node.
        QList<int> rows;
        for (const COutlineItem* current = node; current != root; current = current->parent)
            rows.prepend(RowOf(current));
        QStringList parts;
        for (int row : rows)
            parts << QString::number(row);
        auto* data = new QMimeData;
        data->setData(QString::fromLatin1(kNodeMimeType), parts.join(QLatin1Char('/')).toLatin1());
        return data;
    }
    return nullptr;
}

COutlineItem* SubscriptionModel::NodeFromPath(const QByteArray& path) const
{
    if (!root || path.isEmpty())
        return nullptr;
    COutlineItem* node = root;
    for (const QByteArray& part : path.split('/')) {
        bool ok = false;
        const int row = part.toInt(&ok);
        const std::vector<COutlineItem*>& children = Children(node);
        if (!ok || row < 0 || row >= static_cast<int>(children.size()))
            return nullptr;
        node = children[row];
    }
    return node;
}

bool SubscriptionModel::canDropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int, const QModelIndex& parent) const
{
    // Only a drop onto an item means something here; between items there is no rule.
    if (!data || action != Qt::MoveAction || row != -1 || !parent.isValid() || !dropHandler)
        return false;
    const COutlineItem* dragged = NodeFromPath(data->data(QString::fromLatin1(kNodeMimeType)));
    const COutlineItem* target = NodeFromIndex(parent);
    if (!dragged || !target || dragged == target)
        return false;
    for (const COutlineItem* up = target; up; up = up->parent) {
        if (up == dragged)
            return false;
    }
    return true;
}

bool SubscriptionModel::dropMimeData(
    const QMimeData* data, Qt::DropAction action, int row, int column, const QModelIndex& parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    COutlineItem* dragged = NodeFromPath(data->data(QString::fromLatin1(kNodeMimeType)));
    return dropHandler(dragged, NodeFromIndex(parent));
}

} // namespace corvane
