// CSubscriptions: what the tree view holds besides its widgets. The document (tree and head),
// the model the view shows, the settings members, the flags repackable and syncChannels, the
// backup counter of the channels file and the clipboard node; and the operations on the tree,
// each of which saves the channels file, clears repackable and recomputes marks exactly where
// the tree view's commands do.
//
// Channels file. GetChannelsFilePath() (program folder + "Corvane.Cha"), written as OPML by
// WriteOutlineFile, which replaces the file atomically (a reader never sees half a file); a
// symbolic link there stays a link and the file it leads to is replaced.
// Before each rewrite the previous content is copied to GetBackupFolder() (one private folder
// per program folder) + "rchnlbak%03d.cbf" with the new backupCount (numbers above 999 take more
// digits); Undo copies the newest backup back. When there was no channels file to copy, the backup
// is written as an empty file, and undoing that step removes the channels file again (the file a
// link leads to; the link stays), so the tree returns to the bare root instead of a stale backup
// left by an earlier run.
//
// Dialog input arrives as parameters: UTF-8 text, an empty string meaning "the dialog's field
// was empty" (a new node leaves that field absent; Properties keeps the old value).
//
// Errors: a failed backup copy or rewrite does not undo the change (the tree keeps it, the
// counter advances, as the view does); the outcome says what failed, naming the file.
//
// Thread: everything on the GUI thread (the thread that owns the model), except Repackable(),
// SetRepackable() and SyncChannels(), which the update worker and the scheduled update may call
// from their own threads. Node pointers passed in must belong to this tree.
#pragma once

#include "formats/CorvaneDoc.h"
#include "model/FeedOptions.h"
#include "model/SubscriptionModel.h"
#include "platform/Settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

// The outcome of writing files: ok, or what failed (the file and the reason).
struct SaveResult {
    bool ok = true;
    std::string message; // empty when ok; else one line per failure
    explicit operator bool() const { return ok; }
};

// The outcome of a tree operation.
struct TreeChange {
    bool changed = false; // the operation changed the tree (and saved when it saves)
    COutlineItem* node = nullptr; // the new, pasted or moved node; null otherwise
    SaveResult save; // the save's outcome when changed
};

// Groups before feeds; then titles byte by byte as unsigned values after mapping A-Z to a-z
// (no other folding). An absent title compares as an empty one. Returns -1, 0 or 1.
// Which OPML an export writes.
enum class OpmlExport {
    ChannelsFile, // exactly as the channels file: what this program has always exported
    Opml2, // OPML 2.0 for other programs
};

// The outcome of MergeOpml.
struct MergeOutcome {
    bool foundFeeds = false; // the file held at least one feed
    std::size_t added = 0;
    std::size_t skipped = 0; // already in the tree, or twice in the file
    TreeChange change; // changed only when something was added
    // "Added 2 feeds, skipped 1 already subscribed." for the caller to show.
    std::string Summary() const;
};

int CompareByKindAndTitle(const COutlineItem& a, const COutlineItem& b);

class CSubscriptions {
public:
    // An empty document (a bare untitled root) and its model; backupCount 0, syncChannels 1,
    // settings at their defaults. Reads nothing: call Load().
    CSubscriptions();
    ~CSubscriptions();
    CSubscriptions(const CSubscriptions&) = delete;
    CSubscriptions& operator=(const CSubscriptions&) = delete;

    // Start-up: reads the settings (LoadSettings) and the channels file into the document (a
    // missing or malformed file leaves what could be read, at least the root "My Subscriptions")
    // and resets the model. Writes nothing. unreadable, when given, receives why a channels file
    // that stands there could not be read at all (not a regular file, no permission), naming
    // it; it is left as it was otherwise. A caller that gets it should not save over the file.
    // A settings file that is refused (SettingsFileProblem) is said there too.
    void Load(std::string* unreadable = nullptr);

    CCorvaneDoc& Document() { return doc; }
    SubscriptionModel& Model() { return *model; }
    COutlineItem* Root() const { return doc.root.get(); }

    // --- settings -----------------------------------------------------------------------------
    // The settings members as read by Load (repackable as of the last SetRepackable). Any thread.
    CorvaneSettings Settings() const;
    // The Options dialog's OK: keeps the members and stores the Options entries (not Repackable).
    // Fails, the members kept all the same, when the settings file cannot be written.
    Result<void> ApplyOptions(const CorvaneSettings& options);
    int Repackable() const;
    // Sets repackable and writes "Podcast"/"Repackable" at once. Any thread: calls that meet are
    // done one after the other, member and store together, so the last call's value is the one
    // in memory and in the store. Fails, naming the settings file, when the store could not be
    // written: the value then holds in memory only, and the next run reads the old one.
    Result<void> SetRepackable(int value);
    // Replaces the writer of "Podcast"/"Repackable" (StoreRepackable), which SetRepackable calls
    // while it holds its lock. For tests that watch the order; call before any job starts.
    void SetRepackableWriter(std::function<Result<void>(int)> writer);

    // --- per-feed choices (the file GetFeedOptionsFilePath(), beside the channels file) ---------
    // Load reads them with the settings. Keyed by address, they stay through renames, moves, cut
    // and paste, sorting and undo; Properties that change a feed's address take them along when
    // no other feed keeps the old one; ImportOpml and MergeOpml take those an OPML 2.0 file
    // carries (an import for every feed of the file, a merge only for the feeds it adds).
    //
    // The choices of the feed at address; all unset when it has none. Any thread.
    FeedOptions FeedOptionsFor(const std::string& address) const;
    // Every feed's choices. Any thread.
    FeedOptionsTable AllFeedOptions() const;
    // Why the file of choices could not be read (naming it); empty when it was read or is
    // missing. While set, nothing writes the file, so the user can mend it: SetFeedOptions
    // fails with this text, and import and merge keep the choices of the file as they were.
    std::string FeedOptionsReadError() const;
    // Stores the choices of address (all unset removes its entry) and writes the file at once.
    // On failure the choices in memory are as before and the message names the file.
    Result<void> SetFeedOptions(const std::string& address, const FeedOptions& options);

    // --- channels file ------------------------------------------------------------------------
    int SyncChannels() const { return syncChannels.load(); }
    // The task pane's synchronize buttons. Calls the listener when the value changes.
    void SetSyncChannels(int value);
    // Called on the GUI thread whenever syncChannels changes (a save turns it on).
    void SetSyncChannelsListener(std::function<void(int)> listener);

    std::uint32_t BackupCount() const { return backupCount; }
    // The command-line program keeps its undo depth between runs and restores it here.
    void SetBackupCount(std::uint32_t count) { backupCount = count; }
    bool CanUndo() const { return backupCount >= 1; }
    // The backup file of a number: GetBackupFolder() + "rchnlbak%03d.cbf"; empty when no
    // private backup folder can be had (the save then reports that and makes no backup).
    static std::string BackupPath(std::uint32_t number);

    // backupCount + 1, copy the channels file to its backup, rewrite the channels file from the
    // tree, turn syncChannels on.
    SaveResult SaveChannels();
    // The Edit menu's Undo: copies the newest backup over the channels file (atomically),
    // ReloadChannels, backupCount - 1, SetRepackable(0). Nothing when !CanUndo() (ok stays
    // true, nothing changes). Makes no backup; syncChannels unchanged.
    SaveResult Undo();
    // Reads path into a new root and head that replace the document's (also after a read that
    // stopped part-way) and resets the model: every mark cleared. The clipboard survives.
    // Not ok (with the reason) when the file could not be read completely, is not an OPML
    // document (an RSS document or an HTML page saved there: unreadable is set too) or is a link
    // whose target is missing (unreadable stays as it was: the next save makes the file there).
    // unreadable as for Load otherwise.
    SaveResult ReloadChannels(const std::string& path, std::string* unreadable = nullptr);
    // The outcome of the last Load, ReloadChannels or SaveChannels: ok when the tree is the
    // whole channels file (or there is none and the tree is empty). What removes files for the
    // feeds the tree lacks (clean, the prune) must not run on a tree that is not.
    const SaveResult& ChannelsRead() const { return channelsRead; }

    // --- tree operations (GUI thread) -------------------------------------------------------
    // A new group as the last child of parent (a group). changed false when parent is null or
    // a feed.
    TreeChange NewGroup(
        COutlineItem* parent, const std::string& title, const std::string& description);
    // A new feed as the last child of parent (a group).
    TreeChange NewFeed(COutlineItem* parent, const std::string& title, const std::string& xmlurl,
        const std::string& htmlurl, const std::string& description);
    // The fields of one new feed.
    struct FeedFields {
        std::string title;
        std::string xmlurl;
        std::string htmlurl;
        std::string description;
    };
    // Several new feeds, in order, as the last children of parent (a group), with one save (one
    // backup, so one undo takes them all back). node is the last one added. changed false when
    // parent is null or a feed, or feeds is empty.
    TreeChange NewFeeds(COutlineItem* parent, const std::vector<FeedFields>& feeds);
    // The properties dialog's OK: each non-empty text replaces the field (xmlurl and htmlurl
    // only for a feed), an empty one keeps it; saves also when nothing differs.
    TreeChange Properties(COutlineItem* node, const std::string& title, const std::string& xmlurl,
        const std::string& htmlurl, const std::string& description);
    // The clipboard becomes a clone of node (with its subtree). Saves nothing.
    void Copy(const COutlineItem* node);
    // Copy, then remove node (not the root) and save.
    TreeChange Cut(COutlineItem* node);
    // A new clone of the clipboard as the last child of target (a group); the clipboard keeps
    // its copy. changed false without a clipboard or target.
    TreeChange Paste(COutlineItem* target);
    bool HasClipboard() const { return clipboardNode != nullptr; }
    const COutlineItem* Clipboard() const { return clipboardNode.get(); }
    // Removes node (not the root) and saves. The confirmation is the caller's.
    TreeChange Delete(COutlineItem* node);
    // Sorts node's parent's children (node and its siblings; one level) with
    // CompareByKindAndTitle, equal ones keeping their order; for the root, the root's children.
    // Saves even when the order stays; repackable and marks unchanged.
    TreeChange SortByName(COutlineItem* node);

    // Whether dropping dragged onto target would move it: false for a null node, the root as
    // dragged, target == dragged, and target inside dragged's subtree.
    bool CanMove(const COutlineItem* dragged, const COutlineItem* target) const;
    // The drop: onto a feed, dragged goes directly behind it under its parent; onto a group, it
    // becomes the group's last child. The moved subtree comes back unmarked; marks recomputed
    // from the old and the new parent; saved; repackable unchanged. node is dragged.
    TreeChange Move(COutlineItem* dragged, COutlineItem* target);

    // --- marks (GUI thread; nothing is saved) --------------------------------------------------
    int Mark(const COutlineItem* node) const { return model->Mark(node); }
    void ClickMark(COutlineItem* node) { model->ClickMark(node); }
    void SetMark(COutlineItem* node, int mark) { model->SetMark(node, mark); }
    void UpdateParentMarks(COutlineItem* node) { model->UpdateParentMarks(node); }

    // The first childless feed of the tree with address, in display order; null when none.
    COutlineItem* FindFeed(const std::string& address) const;

    // --- feeds for an update job (GUI thread) -------------------------------------------------
    // The xmlurl of every childless feed at or below node, in display order. A node that has
    // children is never collected itself. Null node: empty.
    std::vector<std::string> CollectAllFeeds(const COutlineItem* node) const;
    // The same walk, taking only childless feeds marked MARK_CHECKED (group marks play no part).
    std::vector<std::string> CollectMarkedFeeds(const COutlineItem* node) const;

    // --- OPML exchange ------------------------------------------------------------------------
    // Reads path; when the new root has at least one child it replaces the tree (model reset),
    // saves and sets repackable 0, and changed is true; otherwise nothing changes (the caller
    // says "No feed was found in the input file. Please check it."). When path could not be
    // read at all (missing, no permission, not a regular file), unreadable, when given,
    // receives "<path>: <reason>".
    TreeChange ImportOpml(const std::string& path, std::string* unreadable = nullptr);
    // Writes ExportText(format) to path atomically. Not ok when it cannot be written.
    SaveResult ExportOpml(
        const std::string& path, OpmlExport format = OpmlExport::ChannelsFile) const;
    // The tree as an OPML document: as the channels file is written (the default), or as
    // OPML 2.0 for other programs (Opml2DocumentText, dated now).
    std::string ExportText(OpmlExport format = OpmlExport::ChannelsFile) const;
    // Adds the feeds of the OPML file at path whose address the tree does not hold yet, each
    // under groups titled as its groups in that file (an existing group of the same title at
    // the same place is used, else one is made, only when a feed goes into it). Nothing is
    // removed or changed. With at least one feed added: one save (one backup), repackable 0,
    // marks recomputed, changed true. A feed whose address is already in the tree, or came
    // earlier in the file, is skipped. foundFeeds is false when the file holds no feed at all
    // (the caller says "No feed was found in the input file. Please check it."); unreadable as
    // for ImportOpml.
    MergeOutcome MergeOpml(const std::string& path, std::string* unreadable = nullptr);

private:
    // The save, repackable and marks steps that end the operations that add or remove nodes.
    TreeChange Finish(COutlineItem* node, COutlineItem* marksFrom);
    // SetRepackable(0) after a change of the tree; a failure to store it is added to save.
    void ClearRepackable(SaveResult& save);
    void ResetModel();
    // MergeOpml's placing of one feed: the group chain under the root, found or made.
    COutlineItem* MergeTarget(const COutlineItem& fileFeed, std::vector<COutlineItem*>& touched);
    // Puts each of changes in place of the choices of its address and writes the file once.
    Result<void> StoreFeedOptions(const FeedOptionsTable& changes);
    // Properties: the choices of oldAddress go to newAddress unless a feed still holds it.
    Result<void> FollowAddressChange(const std::string& oldAddress, const std::string& newAddress);

    CCorvaneDoc doc;
    std::unique_ptr<SubscriptionModel> model;
    // settings and repackable are read by job threads while the GUI thread may change them.
    mutable std::mutex settingsMutex;
    CorvaneSettings settings;
    FeedOptionsTable feedOptions;
    std::string feedOptionsError; // why the file of choices could not be read
    int repackable = 0;
    std::function<Result<void>(int)> repackableWriter;
    std::atomic<int> syncChannels {1};
    std::uint32_t backupCount = 0;
    std::unique_ptr<COutlineItem> clipboardNode;
    std::function<void(int)> syncListener;
    SaveResult channelsRead;
};

} // namespace corvane
