#include "subscriptions/Subscriptions.h"

#include "formats/OutlineWriter.h"
#include "platform/Paths.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Dialog texts reach the nodes through this one rule: an empty text stores nothing, so a new
// node keeps the field absent and an edited node keeps its old value.
void SetIfNotEmpty(TextField& field, const std::string& text)
{
    if (!text.empty())
        field = text;
}

QString FileName(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadBytes(const std::string& path, QByteArray& bytes, std::string& reason)
{
    QFile file(FileName(path));
    if (!file.exists())
        return ReadOutcome::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString().toStdString();
        return ReadOutcome::Failed;
    }
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString().toStdString();
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Read;
}

// Through a temporary file in the same folder and a rename, so the target is always either the
// old or the new content: the scheduled update may read the channels file at any moment.
bool WriteBytesAtomically(const std::string& path, const QByteArray& bytes, std::string& reason)
{
    QSaveFile file(FileName(path));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        reason = file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    return true;
}

void AddFailure(SaveResult& result, const std::string& message)
{
    result.ok = false;
    if (!result.message.empty())
        result.message += '\n';
    result.message += message;
}

// Visits every node at or below node in display order, without recursion.
template <typename Visit> void WalkSubtree(const COutlineItem* node, Visit visit)
{
    const COutlineItem* current = node;
    while (current) {
        visit(current);
        if (current->firstChild) {
            current = current->firstChild.get();
            continue;
        }
        while (current != node && !current->nextSibling)
            current = current->parent;
        if (current == node)
            break;
        current = current->nextSibling.get();
    }
}

// A childless feed cannot take children: it would be written as a group and lose its address.
bool CanHoldChildren(const COutlineItem* node)
{
    return node && !(node->IsFeed() && !node->HasChildren());
}

} // namespace

int CompareByKindAndTitle(const COutlineItem& a, const COutlineItem& b)
{
    if (a.IsFeed() != b.IsFeed())
        return a.IsFeed() ? 1 : -1;
    static const std::string empty;
    const std::string& left = a.title ? *a.title : empty;
    const std::string& right = b.title ? *b.title : empty;
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        auto fold = [](unsigned char c) -> unsigned char {
            return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
        };
        const unsigned char x = fold(static_cast<unsigned char>(left[i]));
        const unsigned char y = fold(static_cast<unsigned char>(right[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

CSubscriptions::CSubscriptions()
    : model(std::make_unique<SubscriptionModel>())
{
    settings.outputPath = DefaultOutputPath();
    model->SetRoot(doc.root.get());
    model->SetDropHandler([this](COutlineItem* dragged, COutlineItem* target) {
        return Move(dragged, target).changed;
    });
}

CSubscriptions::~CSubscriptions()
{
    // The model points into the document's tree; let it forget the tree before the tree goes.
    model->SetRoot(nullptr);
}

void CSubscriptions::Load()
{
    settings = LoadSettings();
    repackable.store(settings.repackable);
    ReloadChannels(GetChannelsFilePath());
}

// --- settings -------------------------------------------------------------------------------

CorvaneSettings CSubscriptions::Settings() const
{
    CorvaneSettings copy = settings;
    copy.repackable = repackable.load();
    return copy;
}

void CSubscriptions::ApplyOptions(const CorvaneSettings& options)
{
    const int keep = repackable.load();
    settings = options;
    settings.repackable = keep;
    SaveOptions(settings);
}

void CSubscriptions::SetRepackable(int value)
{
    repackable.store(value);
    StoreRepackable(value);
}

// --- channels file ----------------------------------------------------------------------------

void CSubscriptions::SetSyncChannels(int value)
{
    const int flag = value ? 1 : 0;
    if (syncChannels.exchange(flag) != flag && syncListener)
        syncListener(flag);
}

void CSubscriptions::SetSyncChannelsListener(std::function<void(int)> listener)
{
    syncListener = std::move(listener);
}

std::string CSubscriptions::BackupPath(std::uint32_t number)
{
    const std::string folder = GetPrivateTempFolder();
    if (folder.empty())
        return {}; // never a bare name, which would land in the working folder
    char name[32];
    std::snprintf(name, sizeof name, "rchnlbak%03u.cbf", static_cast<unsigned>(number));
    return folder + name;
}

SaveResult CSubscriptions::SaveChannels()
{
    SaveResult result;
    ++backupCount;
    const std::string backup = BackupPath(backupCount);
    const std::string channels = GetChannelsFilePath();

    QByteArray bytes;
    std::string reason;
    if (backup.empty())
        AddFailure(result, "no private temporary folder for the backup of " + channels);
    else
        switch (ReadBytes(channels, bytes, reason)) {
        case ReadOutcome::Read:
            if (!WriteBytesAtomically(backup, bytes, reason)) {
                QFile::remove(FileName(backup)); // never leave a stale backup under this number
                AddFailure(result, "cannot write the backup " + backup + ": " + reason);
            }
            break;
        case ReadOutcome::Missing:
            // An empty backup stands for "there was no channels file": undoing this step removes
            // the file again rather than restoring whatever an earlier run left under this number.
            if (!WriteBytesAtomically(backup, QByteArray(), reason)) {
                QFile::remove(FileName(backup));
                AddFailure(result, "cannot write the backup " + backup + ": " + reason);
            }
            break;
        case ReadOutcome::Failed:
            QFile::remove(FileName(backup));
            AddFailure(
                result, "cannot read the channels file " + channels + " to back it up: " + reason);
            break;
        }

    if (!WriteOutlineFile(channels, *doc.root))
        AddFailure(
            result, "cannot write the channels file " + channels + ": " + std::strerror(errno));

    SetSyncChannels(1);
    return result;
}

SaveResult CSubscriptions::Undo()
{
    SaveResult result;
    if (!CanUndo())
        return result;
    const std::string backup = BackupPath(backupCount);
    const std::string channels = GetChannelsFilePath();

    QByteArray bytes;
    std::string reason;
    if (backup.empty())
        AddFailure(result, "no private temporary folder to restore a backup from");
    else
        switch (ReadBytes(backup, bytes, reason)) {
        case ReadOutcome::Read:
            if (bytes.isEmpty()) {
                if (QFile::exists(FileName(channels)) && !QFile::remove(FileName(channels)))
                    AddFailure(result, "cannot remove the channels file " + channels);
            } else if (!WriteBytesAtomically(channels, bytes, reason)) {
                AddFailure(result, "cannot restore the channels file " + channels + ": " + reason);
            }
            break;
        case ReadOutcome::Missing:
            AddFailure(result, "the backup " + backup + " is missing; the channels file stays");
            break;
        case ReadOutcome::Failed:
            AddFailure(result, "cannot read the backup " + backup + ": " + reason);
            break;
        }

    const SaveResult reloaded = ReloadChannels(channels);
    if (!reloaded)
        AddFailure(result, reloaded.message);
    --backupCount;
    SetRepackable(0);
    return result;
}

SaveResult CSubscriptions::ReloadChannels(const std::string& path)
{
    SaveResult result;
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    const bool exists = QFile::exists(FileName(path));
    if (!CCorvaneDoc::ReadOutlineFile(path, head, root) && exists)
        AddFailure(result, "cannot read the channels file " + path + " completely");
    // The model lets go of the old tree before the document destroys it.
    model->SetRoot(root.get());
    doc.root = std::move(root);
    doc.head = std::move(head);
    return result;
}

// --- tree operations --------------------------------------------------------------------------

TreeChange CSubscriptions::Finish(COutlineItem* node, COutlineItem* marksFrom)
{
    TreeChange change;
    change.changed = true;
    change.node = node;
    change.save = SaveChannels();
    SetRepackable(0);
    model->UpdateParentMarks(marksFrom);
    return change;
}

TreeChange CSubscriptions::NewGroup(
    COutlineItem* parent, const std::string& title, const std::string& description)
{
    if (!CanHoldChildren(parent) || !model->Contains(parent))
        return {};
    auto node = std::make_unique<COutlineItem>();
    SetIfNotEmpty(node->title, title);
    SetIfNotEmpty(node->description, description);
    COutlineItem* added = model->AppendNode(parent, std::move(node));
    return Finish(added, parent);
}

TreeChange CSubscriptions::NewFeed(COutlineItem* parent, const std::string& title,
    const std::string& xmlurl, const std::string& htmlurl, const std::string& description)
{
    if (!CanHoldChildren(parent) || !model->Contains(parent))
        return {};
    auto node = std::make_unique<COutlineItem>();
    SetIfNotEmpty(node->title, title);
    SetIfNotEmpty(node->xmlurl, xmlurl);
    SetIfNotEmpty(node->htmlurl, htmlurl);
    SetIfNotEmpty(node->description, description);
    COutlineItem* added = model->AppendNode(parent, std::move(node));
    return Finish(added, parent);
}

TreeChange CSubscriptions::Properties(COutlineItem* node, const std::string& title,
    const std::string& xmlurl, const std::string& htmlurl, const std::string& description)
{
    if (!node || !model->Contains(node))
        return {};
    SetIfNotEmpty(node->title, title);
    if (node->IsFeed()) {
        SetIfNotEmpty(node->xmlurl, xmlurl);
        SetIfNotEmpty(node->htmlurl, htmlurl);
    }
    SetIfNotEmpty(node->description, description);
    model->NodeChanged(node);
    TreeChange change;
    change.changed = true;
    change.node = node;
    change.save = SaveChannels();
    SetRepackable(0);
    return change;
}

void CSubscriptions::Copy(const COutlineItem* node)
{
    if (node)
        clipboardNode = node->Clone();
}

TreeChange CSubscriptions::Cut(COutlineItem* node)
{
    if (!node || node == Root() || !model->Contains(node))
        return {};
    Copy(node);
    COutlineItem* parent = node->parent;
    model->TakeNode(node); // destroyed here, with its subtree
    return Finish(nullptr, parent);
}

TreeChange CSubscriptions::Paste(COutlineItem* target)
{
    if (!clipboardNode || !CanHoldChildren(target) || !model->Contains(target))
        return {};
    COutlineItem* pasted = model->AppendNode(target, clipboardNode->Clone());
    return Finish(pasted, target);
}

TreeChange CSubscriptions::Delete(COutlineItem* node)
{
    if (!node || node == Root() || !model->Contains(node))
        return {};
    COutlineItem* parent = node->parent;
    model->TakeNode(node);
    return Finish(nullptr, parent);
}

TreeChange CSubscriptions::SortByName(COutlineItem* node)
{
    if (!node || !model->Contains(node))
        return {};
    COutlineItem* parent = (node == Root()) ? node : node->parent;
    std::vector<COutlineItem*> order;
    for (COutlineItem* child = parent->firstChild.get(); child; child = child->nextSibling.get())
        order.push_back(child);
    std::stable_sort(order.begin(), order.end(), [](const COutlineItem* a, const COutlineItem* b) {
        return CompareByKindAndTitle(*a, *b) < 0;
    });
    model->ReorderChildren(parent, order);
    TreeChange change;
    change.changed = true;
    change.save = SaveChannels();
    return change;
}

bool CSubscriptions::CanMove(const COutlineItem* dragged, const COutlineItem* target) const
{
    if (!dragged || !target || dragged == Root() || dragged == target)
        return false;
    if (!model->Contains(dragged) || !model->Contains(target))
        return false;
    for (const COutlineItem* up = target->parent; up; up = up->parent) {
        if (up == dragged)
            return false;
    }
    return true;
}

TreeChange CSubscriptions::Move(COutlineItem* dragged, COutlineItem* target)
{
    if (!CanMove(dragged, target))
        return {};
    COutlineItem* oldParent = dragged->parent;
    const bool behindTarget = target->IsFeed() && target != Root();
    COutlineItem* newParent = behindTarget ? target->parent : target;
    std::unique_ptr<COutlineItem> taken = model->TakeNode(dragged);
    COutlineItem* moved = behindTarget ? model->InsertNodeAfter(target, std::move(taken))
                                       : model->AppendNode(target, std::move(taken));
    model->UpdateParentMarks(oldParent);
    model->UpdateParentMarks(newParent);
    TreeChange change;
    change.changed = true;
    change.node = moved;
    change.save = SaveChannels();
    return change;
}

// --- feeds for an update job ------------------------------------------------------------------

std::vector<std::string> CSubscriptions::CollectAllFeeds(const COutlineItem* node) const
{
    std::vector<std::string> feeds;
    if (!node)
        return feeds;
    WalkSubtree(node, [&](const COutlineItem* each) {
        if (!each->HasChildren() && each->IsFeed())
            feeds.push_back(*each->xmlurl);
    });
    return feeds;
}

std::vector<std::string> CSubscriptions::CollectMarkedFeeds(const COutlineItem* node) const
{
    std::vector<std::string> feeds;
    if (!node)
        return feeds;
    WalkSubtree(node, [&](const COutlineItem* each) {
        if (!each->HasChildren() && each->IsFeed() && model->Mark(each) == MARK_CHECKED)
            feeds.push_back(*each->xmlurl);
    });
    return feeds;
}

// --- OPML exchange ----------------------------------------------------------------------------

TreeChange CSubscriptions::ImportOpml(const std::string& path)
{
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    CCorvaneDoc::ReadOutlineFile(path, head, root); // a part read up to a fault still counts
    if (!root || !root->HasChildren())
        return {};
    model->SetRoot(root.get());
    doc.root = std::move(root);
    doc.head = std::move(head);
    TreeChange change;
    change.changed = true;
    change.node = doc.root.get();
    change.save = SaveChannels();
    SetRepackable(0);
    return change;
}

SaveResult CSubscriptions::ExportOpml(const std::string& path) const
{
    SaveResult result;
    if (!WriteOutlineFile(path, *doc.root))
        AddFailure(result, "cannot write " + path + ": " + std::strerror(errno));
    return result;
}
