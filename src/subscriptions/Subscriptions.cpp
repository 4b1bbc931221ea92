#include "subscriptions/Subscriptions.h"

#include "formats/OutlineReader.h"
#include "formats/OutlineWriter.h"
#include "platform/AtomicFile.h"
#include "platform/DiskFull.h"
#include "platform/InputFile.h"
#include "platform/Paths.h"
#include "subscriptions/FeedOptionsFile.h"

#include <QFile>

#include <chrono>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <unordered_set>

namespace corvane {

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

// Nothing where path leads: no file, or a symbolic link to a file not made yet (the next save
// creates it there). A path that cannot be examined is not missing.
bool NoFileAt(const std::string& path)
{
    std::error_code error;
    return std::filesystem::status(path, error).type() == std::filesystem::file_type::not_found;
}

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome ReadBytes(const std::string& path, QByteArray& bytes, std::string& reason)
{
    if (NoFileAt(path))
        return ReadOutcome::Missing;
    InputFile file;
    if (!file.Open(path, reason))
        return ReadOutcome::Failed;
    bytes.clear();
    char piece[65536];
    for (;;) {
        const long got = file.Read(piece, sizeof piece);
        if (got < 0) {
            reason = std::string("cannot read: ") + std::strerror(errno);
            return ReadOutcome::Failed;
        }
        if (got == 0)
            return ReadOutcome::Read;
        bytes.append(piece, static_cast<qsizetype>(got));
    }
}

// Through the atomic file commit, so the target is always either the old or the new content:
// the scheduled update may read the channels file at any moment.
bool WriteBytesAtomically(const std::string& path, const QByteArray& bytes, std::string& error)
{
    return WriteFileAtomically(
        path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), error);
}

void AddFailure(SaveResult& result, const std::string& message)
{
    result.ok = false;
    if (!result.message.empty())
        result.message += '\n';
    result.message += message;
}

// A symbolic link at path whose target is missing.
bool DanglingLinkAt(const std::string& path)
{
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type()
        == std::filesystem::file_type::symlink
        && NoFileAt(path);
}

// How a read of the channels file at path went, as ReloadChannels reports it.
SaveResult ChannelsReadOutcome(
    const std::string& path, const XmlReadStatus& status, std::string* unreadable)
{
    SaveResult result;
    const std::string what = "cannot read the channels file " + path;
    if (DanglingLinkAt(path)) {
        // Nothing to read yet, but also no sign that the tree is empty: the file may be on a
        // volume that is not mounted.
        AddFailure(result, what + ": it is a link to a missing file");
        return result;
    }
    if (NoFileAt(path))
        return result;
    // A well-formed document of another kind reads as an empty tree; taken as the tree it would
    // make every subscribed feed look removed.
    const bool otherKind
        = !status.documentElement.empty() && !EqualsNoCase(status.documentElement.c_str(), "opml");
    if (otherKind || status.inputFailed) {
        AddFailure(result,
            what + ": "
                + (otherKind ? "it is not an OPML document (its first element is <"
                            + status.documentElement + ">)"
                             : status.reason));
        if (unreadable)
            *unreadable = result.message;
    } else if (!status.result) {
        AddFailure(result, what + " completely");
    }
    return result;
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

void CSubscriptions::Load(std::string* unreadable)
{
    if (const std::string problem = SettingsFileProblem(); unreadable && !problem.empty())
        *unreadable = problem;
    {
        const CorvaneSettings loaded = LoadSettings();
        std::lock_guard lock(settingsMutex);
        settings = loaded;
        repackable = loaded.repackable;
    }
    Result<FeedOptionsTable> read = ReadFeedOptionsFile(GetFeedOptionsFilePath());
    {
        std::lock_guard lock(settingsMutex);
        feedOptions = read ? std::move(read.Value()) : FeedOptionsTable();
        feedOptionsError = read.Error();
    }
    ReloadChannels(GetChannelsFilePath(), unreadable);
}

// --- per-feed choices -------------------------------------------------------------------------

FeedOptions CSubscriptions::FeedOptionsFor(const std::string& address) const
{
    std::lock_guard lock(settingsMutex);
    return FeedOptionsOf(feedOptions, address);
}

FeedOptionsTable CSubscriptions::AllFeedOptions() const
{
    std::lock_guard lock(settingsMutex);
    return feedOptions;
}

std::string CSubscriptions::FeedOptionsReadError() const
{
    std::lock_guard lock(settingsMutex);
    return feedOptionsError;
}

Result<void> CSubscriptions::SetFeedOptions(const std::string& address, const FeedOptions& options)
{
    return StoreFeedOptions({{address, options}});
}

Result<void> CSubscriptions::StoreFeedOptions(const FeedOptionsTable& changes)
{
    if (changes.empty())
        return {};
    std::lock_guard lock(settingsMutex);
    if (!feedOptionsError.empty())
        return Result<void>::Failure(feedOptionsError);
    FeedOptionsTable changed = feedOptions;
    for (const auto& [address, options] : changes)
        SetFeedOptionsOf(changed, address, options);
    if (changed == feedOptions)
        return {};
    // Written before it is taken: what the job threads read is always what the file holds.
    Result<void> written = WriteFeedOptionsFile(GetFeedOptionsFilePath(), changed);
    if (written)
        feedOptions = std::move(changed);
    return written;
}

Result<void> CSubscriptions::FollowAddressChange(
    const std::string& oldAddress, const std::string& newAddress)
{
    const FeedOptions options = FeedOptionsFor(oldAddress);
    if (oldAddress == newAddress || options.IsDefault())
        return {};
    // A feed listed twice keeps its choices; the new address then starts with its own.
    if (FindFeed(oldAddress) || !FeedOptionsFor(newAddress).IsDefault())
        return {};
    return StoreFeedOptions({{oldAddress, FeedOptions()}, {newAddress, options}});
}

// --- settings -------------------------------------------------------------------------------

CorvaneSettings CSubscriptions::Settings() const
{
    std::lock_guard lock(settingsMutex);
    CorvaneSettings copy = settings;
    copy.repackable = repackable;
    return copy;
}

Result<void> CSubscriptions::ApplyOptions(const CorvaneSettings& options)
{
    CorvaneSettings applied = options;
    {
        std::lock_guard lock(settingsMutex);
        applied.repackable = repackable;
        settings = applied;
    }
    return SaveOptions(applied);
}

int CSubscriptions::Repackable() const
{
    std::lock_guard lock(settingsMutex);
    return repackable;
}

Result<void> CSubscriptions::SetRepackable(int value)
{
    // The update worker and the GUI thread may both get here: without one lock around both
    // steps, one call's member and the other's stored value could be what remains.
    std::lock_guard lock(settingsMutex);
    repackable = value;
    return repackableWriter ? repackableWriter(value) : StoreRepackable(value);
}

void CSubscriptions::ClearRepackable(SaveResult& save)
{
    if (const Result<void> stored = SetRepackable(0); !stored)
        AddFailure(save, stored.Error());
}

void CSubscriptions::SetRepackableWriter(std::function<Result<void>(int)> writer)
{
    std::lock_guard lock(settingsMutex);
    repackableWriter = std::move(writer);
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
    const std::string folder = GetBackupFolder();
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
        AddFailure(result, "no private backup folder for the backup of " + channels);
    else
        switch (ReadBytes(channels, bytes, reason)) {
        case ReadOutcome::Read:
        case ReadOutcome::Missing:
            // Without a channels file the backup is empty, which stands for "there was no
            // channels file": undoing this step removes the file again rather than restoring
            // whatever an earlier run left under this number.
            if (!WriteBytesAtomically(backup, bytes, reason)) {
                QFile::remove(FileName(backup)); // never leave a stale backup under this number
                AddFailure(result, "no backup was made: " + reason);
            }
            break;
        case ReadOutcome::Failed:
            QFile::remove(FileName(backup));
            AddFailure(
                result, "cannot read the channels file " + channels + " to back it up: " + reason);
            break;
        }

    if (!WriteOutlineFile(channels, *doc.root, &reason)) {
        if (IsDiskFullReason(reason))
            AddFailure(result, DiskFullText(channels));
        AddFailure(result, "the channels file was not saved: " + reason);
    } else
        channelsRead = {}; // the file now holds the whole tree

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
    bool restoredNoFile = false;
    if (backup.empty())
        AddFailure(result, "no private backup folder to restore a backup from");
    else
        switch (ReadBytes(backup, bytes, reason)) {
        case ReadOutcome::Read:
            if (bytes.isEmpty()) {
                // The file goes where a link leads; the link stays, as every save keeps it.
                std::string target;
                if (!ResolveLinks(channels, target, reason))
                    target = channels;
                if (!NoFileAt(target) && !QFile::remove(FileName(target)))
                    AddFailure(result, "cannot remove the channels file " + target);
                else
                    restoredNoFile = true;
            } else if (!WriteBytesAtomically(channels, bytes, reason)) {
                AddFailure(result, "the channels file was not restored: " + reason);
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
    // Back to before the first save: a link that now leads nowhere is the state this restores,
    // and the empty tree is the whole of it.
    if (restoredNoFile && DanglingLinkAt(channels))
        channelsRead = {};
    else if (!reloaded)
        AddFailure(result, reloaded.message);
    --backupCount;
    ClearRepackable(result);
    return result;
}

SaveResult CSubscriptions::ReloadChannels(const std::string& path, std::string* unreadable)
{
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    XmlReadStatus status;
    ReadOutlineDocument(path, head, root, &status);
    channelsRead = ChannelsReadOutcome(path, status, unreadable);
    // The model lets go of the old tree before the document destroys it.
    model->SetRoot(root.get());
    doc.root = std::move(root);
    doc.head = std::move(head);
    return channelsRead;
}

// --- tree operations --------------------------------------------------------------------------

TreeChange CSubscriptions::Finish(COutlineItem* node, COutlineItem* marksFrom)
{
    TreeChange change;
    change.changed = true;
    change.node = node;
    change.save = SaveChannels();
    ClearRepackable(change.save);
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
    return NewFeeds(parent, {{title, xmlurl, htmlurl, description}});
}

TreeChange CSubscriptions::NewFeeds(COutlineItem* parent, const std::vector<FeedFields>& feeds)
{
    if (!CanHoldChildren(parent) || !model->Contains(parent) || feeds.empty())
        return {};
    COutlineItem* added = nullptr;
    for (const FeedFields& fields : feeds) {
        auto node = std::make_unique<COutlineItem>();
        SetIfNotEmpty(node->title, fields.title);
        SetIfNotEmpty(node->xmlurl, fields.xmlurl);
        SetIfNotEmpty(node->htmlurl, fields.htmlurl);
        SetIfNotEmpty(node->description, fields.description);
        added = model->AppendNode(parent, std::move(node));
    }
    return Finish(added, parent);
}

TreeChange CSubscriptions::Properties(COutlineItem* node, const std::string& title,
    const std::string& xmlurl, const std::string& htmlurl, const std::string& description)
{
    if (!node || !model->Contains(node))
        return {};
    SetIfNotEmpty(node->title, title);
    std::string oldAddress;
    if (node->IsFeed()) {
        oldAddress = *node->xmlurl;
        SetIfNotEmpty(node->xmlurl, xmlurl);
        SetIfNotEmpty(node->htmlurl, htmlurl);
    }
    SetIfNotEmpty(node->description, description);
    model->NodeChanged(node);
    TreeChange change;
    change.changed = true;
    change.node = node;
    change.save = SaveChannels();
    if (node->IsFeed()) {
        if (const Result<void> moved = FollowAddressChange(oldAddress, *node->xmlurl); !moved)
            AddFailure(change.save, moved.Error());
    }
    ClearRepackable(change.save);
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

namespace {

// The xmlurl of every childless feed at or below node that takes, in display order.
template <class Takes>
std::vector<std::string> CollectFeeds(const COutlineItem* node, const Takes& takes)
{
    std::vector<std::string> feeds;
    ForEachNode(node, [&](const COutlineItem* each, int) {
        if (!each->HasChildren() && each->IsFeed() && takes(each))
            feeds.push_back(*each->xmlurl);
    });
    return feeds;
}

} // namespace

COutlineItem* CSubscriptions::FindFeed(const std::string& address) const
{
    COutlineItem* found = nullptr;
    ForEachNode(Root(), [&](COutlineItem* node, int) {
        if (node->IsFeed() && !node->HasChildren() && *node->xmlurl == address)
            found = node;
        return found == nullptr;
    });
    return found;
}

std::vector<std::string> CSubscriptions::CollectAllFeeds(const COutlineItem* node) const
{
    return CollectFeeds(node, [](const COutlineItem*) { return true; });
}

std::vector<std::string> CSubscriptions::CollectMarkedFeeds(const COutlineItem* node) const
{
    return CollectFeeds(
        node, [this](const COutlineItem* each) { return model->Mark(each) == MARK_CHECKED; });
}

// --- OPML exchange ----------------------------------------------------------------------------

TreeChange CSubscriptions::ImportOpml(const std::string& path, std::string* unreadable)
{
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    std::string reason;
    FeedOptionsTable fileOptions;
    // A part read up to a fault still counts.
    CCorvaneDoc::ReadOutlineFile(path, head, root, &reason, &fileOptions);
    if (!root || !root->HasChildren()) {
        if (unreadable && !reason.empty())
            *unreadable = path + ": " + reason;
        return {};
    }
    model->SetRoot(root.get());
    doc.root = std::move(root);
    doc.head = std::move(head);
    TreeChange change;
    change.changed = true;
    change.node = doc.root.get();
    change.save = SaveChannels();
    // Feeds the file carries no choices for keep the ones they had here.
    if (const Result<void> stored = StoreFeedOptions(fileOptions); !stored)
        AddFailure(change.save, stored.Error());
    ClearRepackable(change.save);
    return change;
}

SaveResult CSubscriptions::ExportOpml(const std::string& path, OpmlExport format) const
{
    SaveResult result;
    std::string error;
    if (!WriteFileAtomically(path, ExportText(format), error))
        AddFailure(result, error);
    return result;
}

std::string CSubscriptions::ExportText(OpmlExport format) const
{
    if (format != OpmlExport::Opml2)
        return OutlineDocumentText(*doc.root);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const FeedOptionsTable options = AllFeedOptions();
    return Opml2DocumentText(*doc.root, now, &options);
}

std::string MergeOutcome::Summary() const
{
    return "Added " + std::to_string(added) + (added == 1 ? " feed" : " feeds") + ", skipped "
        + std::to_string(skipped) + " already subscribed.";
}

COutlineItem* CSubscriptions::MergeTarget(
    const COutlineItem& fileFeed, std::vector<COutlineItem*>& touched)
{
    // The feed's groups in the file, outermost last; the file's root is left out.
    std::vector<const COutlineItem*> chain;
    for (const COutlineItem* up = fileFeed.parent; up && up->parent; up = up->parent)
        chain.push_back(up);
    COutlineItem* target = Root();
    for (auto group = chain.rbegin(); group != chain.rend(); ++group) {
        COutlineItem* found = nullptr;
        for (COutlineItem* child = target->firstChild.get(); child && !found;
             child = child->nextSibling.get()) {
            if (CanHoldChildren(child) && child->title == (*group)->title)
                found = child;
        }
        if (!found) {
            auto made = std::make_unique<COutlineItem>();
            made->title = (*group)->title;
            made->text = (*group)->text;
            made->description = (*group)->description;
            touched.push_back(target);
            found = model->AppendNode(target, std::move(made));
        }
        target = found;
    }
    return target;
}

MergeOutcome CSubscriptions::MergeOpml(const std::string& path, std::string* unreadable)
{
    MergeOutcome outcome;
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> fileRoot;
    std::string reason;
    FeedOptionsTable fileOptions;
    FeedOptionsTable addedOptions;
    // As for an import, a part read up to a fault still counts.
    CCorvaneDoc::ReadOutlineFile(path, head, fileRoot, &reason, &fileOptions);
    if (unreadable && !reason.empty())
        *unreadable = path + ": " + reason;

    std::unordered_set<std::string> held;
    ForEachNode(Root(), [&](const COutlineItem* node, int) {
        if (node->IsFeed())
            held.insert(*node->xmlurl);
    });
    std::vector<COutlineItem*> touched;
    ForEachNode(fileRoot.get(), [&](const COutlineItem* node, int) {
        if (!node->IsFeed() || node->HasChildren())
            return;
        outcome.foundFeeds = true;
        if (!held.insert(*node->xmlurl).second) {
            ++outcome.skipped;
            return;
        }
        COutlineItem* target = MergeTarget(*node, touched);
        model->AppendNode(target, node->Clone());
        touched.push_back(target);
        ++outcome.added;
        if (const auto found = fileOptions.find(*node->xmlurl); found != fileOptions.end())
            addedOptions.insert(*found);
    });
    if (outcome.added == 0)
        return outcome;
    // Each parent once: a list of thousands of feeds into one group stays linear.
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (COutlineItem* parent : touched)
        model->UpdateParentMarks(parent);
    outcome.change.changed = true;
    outcome.change.save = SaveChannels();
    if (const Result<void> stored = StoreFeedOptions(addedOptions); !stored)
        AddFailure(outcome.change.save, stored.Error());
    ClearRepackable(outcome.change.save);
    return outcome;
}

} // namespace corvane
