#include "subscriptions/Subscriptions.h"

#include "support/TempDir.h"
#include "support/TestHome.h"

#include "platform/Paths.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace corvane;

namespace {

// The tree as text: titles (or "?" for none), children in braces, feeds marked with '*'.
std::string Shape(const COutlineItem* node)
{
    std::string out = node->title ? *node->title : "?";
    if (node->IsFeed())
        out += '*';
    if (node->HasChildren()) {
        out += '{';
        for (const COutlineItem* child = node->firstChild.get(); child;
             child = child->nextSibling.get()) {
            if (child != node->firstChild.get())
                out += ',';
            out += Shape(child);
        }
        out += '}';
    }
    return out;
}

COutlineItem* Child(const COutlineItem* node, int row)
{
    COutlineItem* child = node->firstChild.get();
    while (child && row-- > 0)
        child = child->nextSibling.get();
    return child;
}

class SubscriptionsTest : public TestHome {
protected:
    // A fresh run: a new holder that loads the files of the test home.
    std::unique_ptr<CSubscriptions> Start()
    {
        auto subscriptions = std::make_unique<CSubscriptions>();
        subscriptions->Load();
        return subscriptions;
    }

    // Root { News{ a*, b* }, c* } saved as the channels file, then loaded afresh.
    std::unique_ptr<CSubscriptions> StartWithFile()
    {
        {
            CSubscriptions first;
            first.Load();
            COutlineItem* news = first.NewGroup(first.Root(), "News", "").node;
            first.NewFeed(news, "a", "http://a/", "", "");
            first.NewFeed(news, "b", "http://b/", "", "");
            first.NewFeed(first.Root(), "c", "http://c/", "", "");
        }
        return Start();
    }
};

TEST_F(SubscriptionsTest, FirstRunShowsOnlyTheRootAndWritesNothing)
{
    auto subscriptions = Start();
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions");
    EXPECT_FALSE(subscriptions->CanUndo());
    EXPECT_EQ(subscriptions->SyncChannels(), 1);
    EXPECT_FALSE(FileExists(ChannelsPath()));
    EXPECT_FALSE(FileExists(SettingsPath()));
    // Marking and collecting write nothing either.
    subscriptions->ClickMark(subscriptions->Root());
    EXPECT_TRUE(subscriptions->CollectAllFeeds(subscriptions->Root()).empty());
    EXPECT_FALSE(FileExists(ChannelsPath()));
}

TEST_F(SubscriptionsTest, NewGroupAndFeedStoreOnlyNonEmptyFields)
{
    auto subscriptions = Start();
    subscriptions->SetRepackable(1);
    const TreeChange group = subscriptions->NewGroup(subscriptions->Root(), "Group", "");
    ASSERT_TRUE(group.changed);
    EXPECT_TRUE(group.save.ok) << group.save.message;
    EXPECT_EQ(*group.node->title, "Group");
    EXPECT_FALSE(group.node->description.has_value());
    EXPECT_EQ(Child(subscriptions->Root(), 0), group.node);
    EXPECT_EQ(subscriptions->Repackable(), 0);
    EXPECT_EQ(QSettings(QString::fromStdString(SettingsPath()), QSettings::IniFormat)
                  .value("Podcast/Repackable")
                  .toInt(),
        0);

    const TreeChange feed = subscriptions->NewFeed(group.node, "", "http://", "http://", "");
    ASSERT_TRUE(feed.changed);
    EXPECT_FALSE(feed.node->title.has_value());
    EXPECT_EQ(*feed.node->xmlurl, "http://");
    EXPECT_EQ(*feed.node->htmlurl, "http://");
    EXPECT_EQ(subscriptions->BackupCount(), 2u);

    // A feed takes no children: it would be written as a group and lose its address.
    EXPECT_FALSE(subscriptions->NewGroup(feed.node, "x", "").changed);
    EXPECT_FALSE(subscriptions->NewFeed(nullptr, "x", "http://x/", "", "").changed);
    EXPECT_EQ(subscriptions->BackupCount(), 2u);
}

TEST_F(SubscriptionsTest, EmptyGroupIsNotStoredButAGroupWithAFeedIs)
{
    {
        auto subscriptions = Start();
        subscriptions->NewGroup(subscriptions->Root(), "Empty", "");
        COutlineItem* kept = subscriptions->NewGroup(subscriptions->Root(), "Kept", "").node;
        subscriptions->NewFeed(kept, "f", "http://f/", "", "");
        EXPECT_EQ(ReadWholeFile(ChannelsPath()).find("Empty"), std::string::npos);
    }
    auto restarted = Start();
    EXPECT_EQ(Shape(restarted->Root()), "My Subscriptions{Kept{f*}}");
}

TEST_F(SubscriptionsTest, ThreeChangesAndThreeUndosRestoreTheStart)
{
    auto subscriptions = StartWithFile();
    const std::string startBytes = ReadWholeFile(ChannelsPath());
    const std::string startShape = Shape(subscriptions->Root());
    ASSERT_EQ(startShape, "My Subscriptions{News{a*,b*},c*}");

    subscriptions->NewFeed(subscriptions->Root(), "d", "http://d/", "", "");
    subscriptions->Delete(Child(subscriptions->Root(), 0));
    subscriptions->SortByName(subscriptions->Root());
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions{c*,d*}");
    EXPECT_EQ(subscriptions->BackupCount(), 3u);

    subscriptions->SetSyncChannels(0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(subscriptions->CanUndo());
        const SaveResult undone = subscriptions->Undo();
        EXPECT_TRUE(undone.ok) << undone.message;
    }
    EXPECT_EQ(Shape(subscriptions->Root()), startShape);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), startBytes);
    EXPECT_FALSE(subscriptions->CanUndo());
    EXPECT_EQ(subscriptions->SyncChannels(), 0); // undo leaves the flag alone
    EXPECT_EQ(subscriptions->Repackable(), 0);

    // Nothing left: a fourth undo changes nothing.
    EXPECT_TRUE(subscriptions->Undo().ok);
    EXPECT_EQ(subscriptions->BackupCount(), 0u);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), startBytes);
}

TEST_F(SubscriptionsTest, SaveAfterUndoReusesTheFreedNumber)
{
    auto subscriptions = StartWithFile();
    subscriptions->NewFeed(subscriptions->Root(), "d", "http://d/", "", "");
    const std::string afterFirst = ReadWholeFile(ChannelsPath());
    subscriptions->NewFeed(subscriptions->Root(), "e", "http://e/", "", "");
    subscriptions->Undo();
    EXPECT_EQ(subscriptions->BackupCount(), 1u);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), afterFirst);

    subscriptions->NewFeed(subscriptions->Root(), "f", "http://f/", "", "");
    EXPECT_EQ(subscriptions->BackupCount(), 2u);
    EXPECT_EQ(ReadWholeFile(BackupFile(2)), afterFirst);
    subscriptions->Undo();
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions{News{a*,b*},c*,d*}");
}

TEST_F(SubscriptionsTest, UndoOfTheFirstSaveIgnoresAStaleBackupOfAnEarlierRun)
{
    std::filesystem::create_directories(home);
    const std::string stale = "<opml version=\"1.0\"><body><outline title=\"Stale\" "
                              "xmlUrl=\"http://stale/\"/></body></opml>";
    std::filesystem::create_directories(runtime + "/corvane");
    mkdir(BackupFolder(home).c_str(), 0700);
    {
        std::ofstream(BackupFile(1)) << stale;
    }

    auto subscriptions = Start(); // no channels file yet
    subscriptions->NewFeed(subscriptions->Root(), "new", "http://new/", "", "");
    ASSERT_TRUE(FileExists(ChannelsPath()));
    const SaveResult undone = subscriptions->Undo();
    EXPECT_TRUE(undone.ok) << undone.message;
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions");
    EXPECT_FALSE(FileExists(ChannelsPath()));
}

TEST_F(SubscriptionsTest, UndoClearsMarksAndKeepsTheClipboard)
{
    auto subscriptions = StartWithFile();
    COutlineItem* news = Child(subscriptions->Root(), 0);
    subscriptions->Copy(news);
    subscriptions->NewFeed(subscriptions->Root(), "d", "http://d/", "", "");
    subscriptions->ClickMark(Child(subscriptions->Root(), 2));
    subscriptions->Undo();
    EXPECT_EQ(subscriptions->Mark(subscriptions->Root()), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(Child(subscriptions->Root(), 1)), MARK_UNCHECKED);
    ASSERT_TRUE(subscriptions->HasClipboard());
    EXPECT_EQ(Shape(subscriptions->Clipboard()), "News{a*,b*}");
    EXPECT_TRUE(subscriptions->Paste(subscriptions->Root()).changed);
}

TEST_F(SubscriptionsTest, FailedWriteKeepsTheChangeAndSaysWhichFile)
{
    auto subscriptions = Start();
    std::filesystem::create_directories(ChannelsPath()); // a folder where the file should be
    const TreeChange change
        = subscriptions->NewFeed(subscriptions->Root(), "a", "http://a/", "", "");
    EXPECT_TRUE(change.changed);
    EXPECT_FALSE(change.save.ok);
    EXPECT_NE(change.save.message.find(ChannelsPath() + ": it is a folder"), std::string::npos)
        << change.save.message;
    EXPECT_EQ(subscriptions->BackupCount(), 1u);
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions{a*}");
}

TEST_F(SubscriptionsTest, PropertiesKeepFieldsLeftEmptyAndAlwaysSave)
{
    auto subscriptions = Start();
    COutlineItem* feed
        = subscriptions->NewFeed(subscriptions->Root(), "Old", "http://x/", "http://site/", "About")
              .node;
    COutlineItem* group = subscriptions->NewGroup(subscriptions->Root(), "G", "Group text").node;
    subscriptions->SetRepackable(1);

    const TreeChange change = subscriptions->Properties(feed, "New", "", "http://other/", "");
    EXPECT_TRUE(change.changed);
    EXPECT_EQ(*feed->title, "New");
    EXPECT_EQ(*feed->xmlurl, "http://x/");
    EXPECT_EQ(*feed->htmlurl, "http://other/");
    EXPECT_EQ(*feed->description, "About");
    EXPECT_EQ(subscriptions->Repackable(), 0);
    const QModelIndex index = subscriptions->Model().IndexFromNode(feed);
    EXPECT_EQ(index.data().toString(), QString("New"));

    // An OK without any change still saves; a group never gains addresses.
    const std::uint32_t before = subscriptions->BackupCount();
    subscriptions->Properties(group, "", "http://ignored/", "http://ignored/", "");
    EXPECT_EQ(subscriptions->BackupCount(), before + 1);
    EXPECT_FALSE(group->IsFeed());
    EXPECT_EQ(*group->description, "Group text");
}

TEST_F(SubscriptionsTest, CutThenPasteTwiceGivesIndependentCopies)
{
    auto subscriptions = StartWithFile();
    COutlineItem* root = subscriptions->Root();
    COutlineItem* one = subscriptions->NewGroup(root, "One", "").node;
    COutlineItem* two = subscriptions->NewGroup(root, "Two", "").node;
    const std::uint32_t start = subscriptions->BackupCount();

    ASSERT_TRUE(subscriptions->Cut(Child(root, 0)).changed); // News
    COutlineItem* first = subscriptions->Paste(one).node;
    COutlineItem* second = subscriptions->Paste(two).node;
    EXPECT_EQ(subscriptions->BackupCount(), start + 3);
    for (std::uint32_t n = start + 1; n <= start + 3; ++n)
        EXPECT_TRUE(FileExists(BackupFile(static_cast<int>(n))));
    EXPECT_EQ(Shape(root), "My Subscriptions{c*,One{News{a*,b*}},Two{News{a*,b*}}}");

    ASSERT_NE(first, second);
    *first->firstChild->title = "changed";
    EXPECT_EQ(*second->firstChild->title, "a");
    EXPECT_EQ(*subscriptions->Clipboard()->firstChild->title, "a");
    EXPECT_FALSE(subscriptions->Cut(root).changed);
    EXPECT_FALSE(subscriptions->Paste(Child(root, 0)).changed); // onto a feed
}

TEST_F(SubscriptionsTest, SortByNamePutsGroupsFirstAndFoldsOnlyAsciiCapitals)
{
    auto subscriptions = Start();
    COutlineItem* root = subscriptions->Root();
    subscriptions->NewFeed(root, "before", "http://0/", "", "");
    COutlineItem* g = subscriptions->NewGroup(root, "G", "").node;
    COutlineItem* gamma = subscriptions->NewFeed(g, "gamma", "http://g/", "", "").node;
    subscriptions->NewFeed(g, "alpha", "http://a/", "", "");
    subscriptions->NewFeed(g, "Beta", "http://b/", "", "");
    COutlineItem* zeta = subscriptions->NewGroup(g, "zeta", "").node;
    subscriptions->NewFeed(zeta, "z", "http://z/", "", "");
    subscriptions->NewFeed(g, "[x", "http://x/", "", "");
    subscriptions->NewFeed(g, "ALPHA", "http://a2/", "", ""); // equal: keeps its place after
    subscriptions->ClickMark(gamma);
    subscriptions->SetRepackable(1);
    const std::uint32_t before = subscriptions->BackupCount();

    EXPECT_TRUE(subscriptions->SortByName(gamma).changed);
    EXPECT_EQ(Shape(g), "G{zeta{z*},[x*,alpha*,ALPHA*,Beta*,gamma*}");
    EXPECT_EQ(Shape(root), "My Subscriptions{before*," + Shape(g) + "}");
    EXPECT_EQ(subscriptions->BackupCount(), before + 1);
    EXPECT_EQ(subscriptions->Repackable(), 1);
    EXPECT_EQ(subscriptions->Mark(gamma), MARK_CHECKED);

    // The sorted order survives a restart.
    subscriptions.reset();
    auto restarted = Start();
    EXPECT_EQ(Shape(Child(restarted->Root(), 1)), "G{zeta{z*},[x*,alpha*,ALPHA*,Beta*,gamma*}");
}

TEST(CompareByKindAndTitle, OrdersKindThenBytes)
{
    COutlineItem group, feed, untitled, upper, lower, accented;
    feed.xmlurl = "http://x/";
    group.title = "zzz";
    feed.title = "aaa";
    upper.title = "\xC3\x89"; // É: not folded, so it differs from é
    lower.title = "\xC3\xA9";
    accented.title = "Abc";
    EXPECT_EQ(CompareByKindAndTitle(group, feed), -1);
    EXPECT_EQ(CompareByKindAndTitle(feed, group), 1);
    EXPECT_EQ(CompareByKindAndTitle(untitled, group), -1);
    EXPECT_EQ(CompareByKindAndTitle(upper, lower), -1);
    EXPECT_NE(CompareByKindAndTitle(upper, lower), 0);
    untitled.title = "abc";
    EXPECT_EQ(CompareByKindAndTitle(untitled, accented), 0);
}

TEST_F(SubscriptionsTest, MoveRules)
{
    auto subscriptions = StartWithFile();
    COutlineItem* root = subscriptions->Root();
    COutlineItem* news = Child(root, 0);
    COutlineItem* other = subscriptions->NewGroup(root, "Other", "").node;
    COutlineItem* x = subscriptions->NewFeed(other, "x", "http://x/", "", "").node;
    subscriptions->NewFeed(other, "y", "http://y/", "", "");
    COutlineItem* inner = subscriptions->NewGroup(news, "Inner", "").node;
    subscriptions->NewFeed(inner, "i", "http://i/", "", "");
    subscriptions->SetRepackable(1);
    const std::uint32_t count = subscriptions->BackupCount();
    const std::string bytes = ReadWholeFile(ChannelsPath());

    // Onto itself, into its own subtree, the root dragged, null: nothing at all.
    EXPECT_FALSE(subscriptions->Move(news, news).changed);
    EXPECT_FALSE(subscriptions->Move(news, inner).changed);
    EXPECT_FALSE(subscriptions->Move(news, inner->firstChild.get()).changed);
    EXPECT_FALSE(subscriptions->Move(root, x).changed);
    EXPECT_FALSE(subscriptions->Move(nullptr, x).changed);
    EXPECT_EQ(subscriptions->BackupCount(), count);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), bytes);

    // A feed onto a feed of another group lands directly behind it.
    COutlineItem* a = news->firstChild.get();
    const TreeChange moved = subscriptions->Move(a, x);
    EXPECT_TRUE(moved.changed);
    EXPECT_EQ(moved.node, a);
    EXPECT_EQ(Shape(other), "Other{x*,a*,y*}");
    EXPECT_EQ(Shape(news), "News{b*,Inner{i*}}");
    EXPECT_EQ(subscriptions->BackupCount(), count + 1);
    EXPECT_EQ(subscriptions->Repackable(), 1);

    // Onto a group: its last child; onto its own parent: moves to the end.
    subscriptions->Move(inner, root);
    EXPECT_EQ(Shape(root), "My Subscriptions{News{b*},c*,Other{x*,a*,y*},Inner{i*}}");
    subscriptions->Move(news->firstChild.get(), news);
    EXPECT_EQ(Shape(news), "News{b*}");
}

TEST_F(SubscriptionsTest, MovedSubtreeComesBackUnmarkedAndParentsFollow)
{
    auto subscriptions = StartWithFile();
    COutlineItem* root = subscriptions->Root();
    COutlineItem* news = Child(root, 0);
    COutlineItem* a = news->firstChild.get();
    COutlineItem* c = Child(root, 1);
    subscriptions->ClickMark(root); // everything checked
    ASSERT_EQ(subscriptions->Mark(a), MARK_CHECKED);

    subscriptions->Move(a, c); // behind c, at the root
    EXPECT_EQ(subscriptions->Mark(a), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(news), MARK_CHECKED); // b alone, still checked
    EXPECT_EQ(subscriptions->Mark(root), MARK_MIXED);

    // The old parent left without children keeps its mark; its parents are not revisited.
    subscriptions->Move(news->firstChild.get(), c);
    EXPECT_FALSE(news->HasChildren());
    EXPECT_EQ(subscriptions->Mark(news), MARK_CHECKED);
}

TEST_F(SubscriptionsTest, MarksFollowTheClickRule)
{
    auto subscriptions = Start();
    COutlineItem* root = subscriptions->Root();
    COutlineItem* group = subscriptions->NewGroup(root, "G", "").node;
    COutlineItem* one = subscriptions->NewFeed(group, "1", "http://1/", "", "").node;
    COutlineItem* two = subscriptions->NewFeed(group, "2", "http://2/", "", "").node;
    const std::uint32_t count = subscriptions->BackupCount();

    subscriptions->ClickMark(one);
    EXPECT_EQ(subscriptions->Mark(group), MARK_MIXED);
    EXPECT_EQ(subscriptions->Mark(root), MARK_MIXED);
    subscriptions->ClickMark(two);
    EXPECT_EQ(subscriptions->Mark(group), MARK_CHECKED);
    EXPECT_EQ(subscriptions->Mark(root), MARK_CHECKED);
    subscriptions->ClickMark(group);
    EXPECT_EQ(subscriptions->Mark(one), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(two), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(group), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(root), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->BackupCount(), count); // marking saves nothing

    // A mixed group clicked becomes unchecked, not checked.
    subscriptions->ClickMark(one);
    subscriptions->ClickMark(group);
    EXPECT_EQ(subscriptions->Mark(group), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(one), MARK_UNCHECKED);

    // A new node enters unmarked and the parents are recomputed.
    subscriptions->ClickMark(group);
    subscriptions->NewFeed(group, "3", "http://3/", "", "");
    EXPECT_EQ(subscriptions->Mark(group), MARK_MIXED);
    // Removing the only unchecked child makes the parent checked again.
    subscriptions->Delete(group->LastChild());
    EXPECT_EQ(subscriptions->Mark(group), MARK_CHECKED);
    EXPECT_EQ(subscriptions->Mark(root), MARK_CHECKED);
}

TEST_F(SubscriptionsTest, CollectFeedsInDisplayOrderAtEveryDepth)
{
    auto subscriptions = Start();
    COutlineItem* root = subscriptions->Root();
    COutlineItem* top = subscriptions->NewGroup(root, "top", "").node;
    subscriptions->NewFeed(top, "1", "http://1/", "", "");
    COutlineItem* middle = subscriptions->NewGroup(top, "middle", "").node;
    COutlineItem* deep = subscriptions->NewGroup(middle, "deep", "").node;
    COutlineItem* two = subscriptions->NewFeed(deep, "2", "http://2/", "", "").node;
    subscriptions->NewGroup(middle, "empty", "");
    COutlineItem* three = subscriptions->NewFeed(top, "3", "http://3/", "", "").node;
    COutlineItem* outside = subscriptions->NewFeed(root, "4", "http://4/", "", "").node;
    // A node with children is never collected itself, even with an address.
    auto below = std::make_unique<COutlineItem>();
    below->xmlurl = "http://5/";
    ASSERT_NE(subscriptions->Model().AppendNode(outside, std::move(below)), nullptr);

    using List = std::vector<std::string>;
    EXPECT_EQ(subscriptions->CollectAllFeeds(top), (List {"http://1/", "http://2/", "http://3/"}));
    EXPECT_EQ(subscriptions->CollectAllFeeds(two), List {"http://2/"});
    EXPECT_EQ(subscriptions->CollectAllFeeds(root),
        (List {"http://1/", "http://2/", "http://3/", "http://5/"}));
    EXPECT_TRUE(subscriptions->CollectAllFeeds(nullptr).empty());

    EXPECT_TRUE(subscriptions->CollectMarkedFeeds(root).empty());
    subscriptions->ClickMark(three);
    subscriptions->SetMark(deep, MARK_CHECKED);
    subscriptions->SetMark(two, MARK_UNCHECKED); // the group's own mark plays no part
    EXPECT_EQ(subscriptions->CollectMarkedFeeds(root), List {"http://3/"});
}

TEST_F(SubscriptionsTest, ImportReplacesTheTreeOnlyWhenSomethingWasFound)
{
    auto subscriptions = StartWithFile();
    subscriptions->Copy(Child(subscriptions->Root(), 0));
    subscriptions->SetRepackable(1);
    const std::uint32_t count = subscriptions->BackupCount();
    const std::string before = Shape(subscriptions->Root());

    const std::string head = "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/>";
    const std::string emptyBody = temp.Write("empty.opml", head + "<body></body></opml>");
    EXPECT_FALSE(subscriptions->ImportOpml(emptyBody).changed);
    EXPECT_FALSE(subscriptions->ImportOpml(temp.File("missing.opml")).changed);
    EXPECT_FALSE(subscriptions->ImportOpml(temp.Write("junk.opml", "not xml")).changed);
    EXPECT_EQ(Shape(subscriptions->Root()), before);
    EXPECT_EQ(subscriptions->BackupCount(), count);
    EXPECT_EQ(subscriptions->Repackable(), 1);

    const std::string oneGroup
        = temp.Write("group.opml", head + "<body><outline title=\"Only\"/></body></opml>");
    const TreeChange imported = subscriptions->ImportOpml(oneGroup);
    EXPECT_TRUE(imported.changed);
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions{Only}");
    EXPECT_EQ(subscriptions->BackupCount(), count + 1);
    EXPECT_EQ(subscriptions->Repackable(), 0);
    EXPECT_TRUE(subscriptions->HasClipboard());

    // Outlines read before a fault still count.
    const std::string broken = temp.Write(
        "broken.opml", head + "<body><outline title=\"x\" xmlUrl=\"http://x/\"/><outline <<");
    EXPECT_TRUE(subscriptions->ImportOpml(broken).changed);
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions{x*}");
}

TEST_F(SubscriptionsTest, ImportOfAFolderSaysWhyAndKeepsTheTree)
{
    auto subscriptions = StartWithFile();
    const std::string before = Shape(subscriptions->Root());
    const std::uint32_t count = subscriptions->BackupCount();
    std::filesystem::create_directory(temp.File("folder.opml"));
    std::string unreadable;
    EXPECT_FALSE(subscriptions->ImportOpml(temp.File("folder.opml"), &unreadable).changed);
    EXPECT_EQ(unreadable, temp.File("folder.opml") + ": not a regular file (a directory)");
    EXPECT_EQ(Shape(subscriptions->Root()), before);
    EXPECT_EQ(subscriptions->BackupCount(), count);

    unreadable.clear();
    const std::string empty = temp.Write("empty.opml", "<opml><body></body></opml>");
    EXPECT_FALSE(subscriptions->ImportOpml(empty, &unreadable).changed);
    EXPECT_EQ(unreadable, ""); // read, and nothing found in it
}

TEST_F(SubscriptionsTest, ChannelsFileThatIsAFolderIsUnreadableAndStaysAFolder)
{
    std::filesystem::create_directories(ChannelsPath());
    CSubscriptions subscriptions;
    std::string unreadable;
    subscriptions.Load(&unreadable);
    EXPECT_EQ(unreadable,
        "cannot read the channels file " + ChannelsPath() + ": not a regular file (a directory)");
    EXPECT_EQ(Shape(subscriptions.Root()), "My Subscriptions");

    // A save that goes on regardless says so, and leaves no backup that would pass for one.
    const TreeChange change = subscriptions.NewFeed(subscriptions.Root(), "a", "http://a/", "", "");
    EXPECT_FALSE(change.save.ok);
    EXPECT_NE(change.save.message.find("not a regular file"), std::string::npos)
        << change.save.message;
    EXPECT_FALSE(FileExists(BackupFile(1)));
    EXPECT_TRUE(std::filesystem::is_directory(ChannelsPath()));
}

TEST_F(SubscriptionsTest, ExportWritesTheChannelsFileBytes)
{
    auto subscriptions = StartWithFile();
    const std::string exported = temp.File("out.xml");
    EXPECT_TRUE(subscriptions->ExportOpml(exported).ok);
    EXPECT_EQ(ReadWholeFile(exported), ReadWholeFile(ChannelsPath()));
    const SaveResult failed = subscriptions->ExportOpml(temp.File("no/such/folder/out.xml"));
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.message.find("no/such/folder/out.xml"), std::string::npos);
}

bool IsLink(const std::string& path)
{
    struct stat status { };
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

TEST_F(SubscriptionsTest, AChannelsFileBehindALinkStaysALink)
{
    // Kept with the user's other settings and linked into the program folder.
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(temp.File("dotfiles"));
    const std::string real = temp.File("dotfiles/Corvane.Cha");
    ASSERT_EQ(symlink(real.c_str(), ChannelsPath().c_str()), 0); // dangling until the first save

    auto subscriptions = Start();
    const SaveResult first
        = subscriptions->NewFeed(subscriptions->Root(), "a", "http://a/", "", "").save;
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_TRUE(IsLink(ChannelsPath()));
    const std::string afterFirst = ReadWholeFile(real);
    EXPECT_NE(afterFirst.find("http://a/"), std::string::npos);

    // A chain of two links: the program folder's link leads to another link.
    ASSERT_EQ(rename(real.c_str(), temp.File("dotfiles/real.cha").c_str()), 0);
    ASSERT_EQ(symlink("real.cha", real.c_str()), 0);
    ASSERT_TRUE(subscriptions->NewFeed(subscriptions->Root(), "b", "http://b/", "", "").save.ok);
    EXPECT_TRUE(IsLink(ChannelsPath()));
    EXPECT_TRUE(IsLink(real));
    EXPECT_NE(ReadWholeFile(temp.File("dotfiles/real.cha")).find("http://b/"), std::string::npos);

    const SaveResult undone = subscriptions->Undo();
    EXPECT_TRUE(undone.ok) << undone.message;
    EXPECT_TRUE(IsLink(ChannelsPath()));
    EXPECT_TRUE(IsLink(real));
    EXPECT_EQ(ReadWholeFile(temp.File("dotfiles/real.cha")), afterFirst);

    // Back to before the first save, when there was no file: the links stay, the file goes.
    EXPECT_TRUE(subscriptions->Undo().ok);
    EXPECT_TRUE(IsLink(ChannelsPath()));
    EXPECT_TRUE(IsLink(real));
    EXPECT_FALSE(FileExists(temp.File("dotfiles/real.cha")));
    EXPECT_EQ(Shape(subscriptions->Root()), "My Subscriptions");
}

TEST_F(SubscriptionsTest, ExportThroughLinksAndOntoAFolder)
{
    auto subscriptions = StartWithFile();
    const std::string bytes = ReadWholeFile(ChannelsPath());
    const std::string real = temp.Write("exports/list.opml", "old export");
    ASSERT_EQ(symlink("exports/list.opml", temp.File("link.opml").c_str()), 0);
    ASSERT_EQ(symlink(temp.File("link.opml").c_str(), temp.File("chain.opml").c_str()), 0);
    ASSERT_EQ(symlink("exports/new.opml", temp.File("dangling.opml").c_str()), 0);

    for (const char* name : {"link.opml", "chain.opml", "dangling.opml"}) {
        temp.Write("exports/list.opml", "old export");
        const SaveResult written = subscriptions->ExportOpml(temp.File(name));
        EXPECT_TRUE(written.ok) << name << ": " << written.message;
        EXPECT_TRUE(IsLink(temp.File(name))) << name;
        if (std::string(name) != "dangling.opml") {
            EXPECT_EQ(ReadWholeFile(real), bytes) << name;
        }
    }
    EXPECT_EQ(ReadWholeFile(temp.File("exports/new.opml")), bytes);

    const SaveResult onFolder = subscriptions->ExportOpml(temp.File("exports"));
    EXPECT_FALSE(onFolder.ok);
    EXPECT_NE(onFolder.message.find(temp.File("exports") + ": it is a folder"), std::string::npos)
        << onFolder.message;
}

TEST_F(SubscriptionsTest, SaveTurnsSynchronizeOnAndTellsTheListener)
{
    auto subscriptions = Start();
    std::vector<int> heard;
    subscriptions->SetSyncChannelsListener([&](int value) { heard.push_back(value); });
    subscriptions->SetSyncChannels(0);
    subscriptions->SetSyncChannels(0);
    subscriptions->NewGroup(subscriptions->Root(), "G", "");
    EXPECT_EQ(subscriptions->SyncChannels(), 1);
    EXPECT_EQ(heard, (std::vector<int> {0, 1}));
}

TEST_F(SubscriptionsTest, BackupNumbersAbove999TakeMoreDigits)
{
    EXPECT_EQ(CSubscriptions::BackupPath(7), BackupFolder(home) + "/rchnlbak007.cbf");
    EXPECT_EQ(CSubscriptions::BackupPath(1000), BackupFolder(home) + "/rchnlbak1000.cbf");
}

TEST_F(SubscriptionsTest, DeepTreeIsHandledWithoutRecursion)
{
    auto subscriptions = Start();
    // Built directly on the document: 100,000 nested groups with a feed at the bottom.
    auto top = std::make_unique<COutlineItem>();
    COutlineItem* current = top.get();
    for (int i = 0; i < 100000; ++i) {
        auto next = std::make_unique<COutlineItem>();
        COutlineItem* raw = next.get();
        current->AppendChild(std::move(next));
        current = raw;
    }
    auto feed = std::make_unique<COutlineItem>();
    feed->xmlurl = "http://deep/";
    COutlineItem* leaf = feed.get();
    current->AppendChild(std::move(feed));
    COutlineItem* added = subscriptions->Model().AppendNode(subscriptions->Root(), std::move(top));
    ASSERT_NE(added, nullptr);

    EXPECT_EQ(subscriptions->CollectAllFeeds(subscriptions->Root()),
        std::vector<std::string> {"http://deep/"});
    subscriptions->ClickMark(leaf);
    EXPECT_EQ(subscriptions->Mark(subscriptions->Root()), MARK_CHECKED);
    subscriptions->ClickMark(subscriptions->Root());
    EXPECT_EQ(subscriptions->Mark(leaf), MARK_UNCHECKED);
    EXPECT_TRUE(subscriptions->Delete(added).changed);
}

// The update worker and the GUI thread set repackable at once; whichever comes last must win in
// memory and in the settings file alike, or Re-Pack is offered (or refused) against what the
// next start reads.
TEST_F(SubscriptionsTest, ConcurrentSetRepackableLeavesMemberAndStoreAlike)
{
    auto subscriptions = Start();
    for (int round = 0; round < 10; ++round) {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&subscriptions, t] {
                for (int i = 0; i < 3; ++i)
                    subscriptions->SetRepackable((t + i) % 2);
            });
        }
        threads.clear(); // joins
        ASSERT_EQ(subscriptions->Repackable(), LoadSettings().repackable) << "round " << round;
    }
}

// The same meeting, made to happen: a second call arrives while the first is writing. It must
// wait for the first to finish, so the second value ends up in memory and in the store; had it
// slipped in between, the first call's write would land last and the store would say 0.
TEST_F(SubscriptionsTest, SetRepackableThatArrivesDuringAWriteWaitsForIt)
{
    auto subscriptions = Start();
    std::mutex mutex;
    std::vector<int> stored;
    std::promise<void> secondDone;
    std::future<void> secondFinished = secondDone.get_future();
    std::jthread second;
    subscriptions->SetRepackableWriter([&](int value) {
        if (value == 0) {
            second = std::jthread([&] {
                subscriptions->SetRepackable(1);
                secondDone.set_value();
            });
            // Long enough for an unguarded second call to run to its end; it cannot end while
            // this write holds the lock, so the wait then simply runs out.
            secondFinished.wait_for(std::chrono::milliseconds(200));
        }
        std::lock_guard lock(mutex);
        stored.push_back(value);
        return Result<void>();
    });
    subscriptions->SetRepackable(0);
    second.join();
    EXPECT_EQ(stored, (std::vector<int> {0, 1}));
    EXPECT_EQ(subscriptions->Repackable(), 1);
}

// A change of the tree whose "Repackable" 0 the settings file does not take says so in its save
// outcome, naming the file: the channels file was saved, but the next run would offer Re-Pack.
TEST_F(SubscriptionsTest, AChangeWhoseRepackableCannotBeStoredSaysSo)
{
    auto subscriptions = StartWithFile();
    const std::string message = "cannot write the settings file /c/Corvane.conf: full";
    subscriptions->SetRepackableWriter([&message](int) { return Result<void>::Failure(message); });
    const TreeChange change
        = subscriptions->NewFeed(subscriptions->Root(), "N", "http://n/", "", "");
    ASSERT_TRUE(change.changed);
    EXPECT_FALSE(change.save.ok);
    EXPECT_EQ(change.save.message, message);
    EXPECT_NE(ReadWholeFile(ChannelsPath()).find("http://n/"), std::string::npos);
    EXPECT_EQ(subscriptions->SetRepackable(1).Error(), message);
}

} // namespace

TEST_F(SubscriptionsTest, MergeAddsNewFeedsUnderTheFilesGroupsWithOneSave)
{
    auto subscriptions = StartWithFile(); // { News{ a*, b* }, c* }
    subscriptions->SetRepackable(1);
    subscriptions->ClickMark(Child(subscriptions->Root(), 0)); // News checked
    const std::uint32_t count = subscriptions->BackupCount();
    const std::string channelsBefore = ReadWholeFile(ChannelsPath());
    const std::string other = temp.Write("other.opml",
        "<opml version=\"2.0\"><body>"
        "<outline text=\"News\"><outline text=\"B again\" xmlUrl=\"http://b/\"/>"
        "<outline text=\"d\" xmlUrl=\"http://d/\"/></outline>"
        "<outline text=\"Music\"><outline text=\"Deep\"><outline text=\"e\" xmlUrl=\"http://e/\"/>"
        "</outline><outline text=\"c twice\" xmlUrl=\"http://c/\"/></outline>"
        "<outline text=\"f\" xmlUrl=\"http://f/\"/><outline text=\"f dup\" xmlUrl=\"http://f/\"/>"
        "<outline text=\"Empty\"/>"
        "</body></opml>");
    const MergeOutcome merged = subscriptions->MergeOpml(other);
    EXPECT_TRUE(merged.foundFeeds);
    EXPECT_EQ(merged.added, 3u);
    EXPECT_EQ(merged.skipped, 3u);
    EXPECT_EQ(merged.Summary(), "Added 3 feeds, skipped 3 already subscribed.");
    ASSERT_TRUE(merged.change.changed);
    EXPECT_TRUE(merged.change.save.ok) << merged.change.save.message;
    // Nothing removed; groups found by title or made only where a new feed goes.
    EXPECT_EQ(
        Shape(subscriptions->Root()), "My Subscriptions{News{a*,b*,d*},c*,Music{Deep{e*}},f*}");
    EXPECT_EQ(subscriptions->BackupCount(), count + 1);
    EXPECT_EQ(ReadWholeFile(BackupFile(static_cast<int>(count) + 1)), channelsBefore);
    EXPECT_EQ(subscriptions->Repackable(), 0);
    // The checked group now holds an unchecked feed.
    EXPECT_EQ(subscriptions->Mark(Child(subscriptions->Root(), 0)), MARK_MIXED);

    // What was saved is what the next run sees.
    auto again = Start();
    EXPECT_EQ(Shape(again->Root()), Shape(subscriptions->Root()));
}

TEST_F(SubscriptionsTest, MergeOfNothingNewChangesNothing)
{
    auto subscriptions = StartWithFile();
    const std::uint32_t count = subscriptions->BackupCount();
    const std::string before = Shape(subscriptions->Root());
    const std::string same
        = temp.Write("same.opml", "<opml><body><outline xmlUrl=\"http://a/\"/></body></opml>");
    const MergeOutcome merged = subscriptions->MergeOpml(same);
    EXPECT_TRUE(merged.foundFeeds);
    EXPECT_EQ(merged.added, 0u);
    EXPECT_EQ(merged.skipped, 1u);
    EXPECT_FALSE(merged.change.changed);
    EXPECT_EQ(subscriptions->BackupCount(), count);
    EXPECT_EQ(Shape(subscriptions->Root()), before);

    const std::string groupsOnly
        = temp.Write("groups.opml", "<opml><body><outline text=\"G\"/></body></opml>");
    EXPECT_FALSE(subscriptions->MergeOpml(groupsOnly).foundFeeds);
    std::string unreadable;
    EXPECT_FALSE(subscriptions->MergeOpml(temp.File("missing.opml"), &unreadable).foundFeeds);
    EXPECT_NE(unreadable.find("missing.opml"), std::string::npos) << unreadable;
    EXPECT_EQ(Shape(subscriptions->Root()), before);
    EXPECT_EQ(subscriptions->BackupCount(), count);
}

TEST_F(SubscriptionsTest, ExportAsOpml2ForOtherPrograms)
{
    auto subscriptions = StartWithFile();
    const std::string exported = temp.File("out.opml");
    EXPECT_TRUE(subscriptions->ExportOpml(exported, OpmlExport::Opml2).ok);
    const std::string text = ReadWholeFile(exported);
    EXPECT_EQ(
        text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n", 0), 0u);
    EXPECT_NE(text.find("<dateCreated>"), std::string::npos);
    EXPECT_NE(
        text.find("\t\t<outline text=\"News\" title=\"News\">\n"
                  "\t\t\t<outline text=\"a\" title=\"a\" type=\"rss\" xmlUrl=\"http://a/\"/>\n"),
        std::string::npos)
        << text;
    // The channels file itself is untouched by the export.
    EXPECT_EQ(ReadWholeFile(ChannelsPath()).find("<opml version=\"1.0\">\r\n"), 41u);
}

namespace {

FeedOptions Choice(std::optional<bool> podcast, std::optional<int> newest, FeedAudio audio)
{
    return FeedOptions {podcast, newest, audio};
}

} // namespace

// The choices live beside the channels file, keyed by address: the tree's own operations never
// lose them and the channels file's bytes never change for them.
TEST_F(SubscriptionsTest, FeedChoicesSurviveTreeOperationsAndNeverTouchTheChannelsFile)
{
    auto subscriptions = StartWithFile(); // { News{ a*, b* }, c* }
    const std::string channels = ReadWholeFile(ChannelsPath());
    const FeedOptions aChoice = Choice(false, std::nullopt, FeedAudio::Default);
    const FeedOptions cChoice = Choice(std::nullopt, 2, FeedAudio::Mp3);
    ASSERT_TRUE(subscriptions->SetFeedOptions("http://a/", aChoice));
    ASSERT_TRUE(subscriptions->SetFeedOptions("http://c/", cChoice));
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), channels);

    COutlineItem* news = Child(subscriptions->Root(), 0);
    COutlineItem* c = Child(subscriptions->Root(), 1);
    ASSERT_TRUE(subscriptions->Move(c, Child(news, 0)).changed); // c behind a
    ASSERT_TRUE(subscriptions->Cut(Child(news, 0)).changed); // a
    ASSERT_TRUE(subscriptions->Paste(subscriptions->Root()).changed);
    ASSERT_TRUE(subscriptions->Properties(Child(news, 0), "c renamed", "", "", "").changed);
    ASSERT_TRUE(subscriptions->Undo()); // the rename

    // A new run reads them from their own file.
    auto again = Start();
    EXPECT_EQ(again->FeedOptionsFor("http://a/"), aChoice);
    EXPECT_EQ(again->FeedOptionsFor("http://c/"), cChoice);
    EXPECT_TRUE(again->FeedOptionsFor("http://b/").IsDefault());

    // A changed address takes its choices along; back to default removes the entry.
    ASSERT_TRUE(again->Properties(again->FindFeed("http://a/"), "", "http://a2/", "", "").save.ok);
    EXPECT_EQ(again->FeedOptionsFor("http://a2/"), aChoice);
    EXPECT_TRUE(again->FeedOptionsFor("http://a/").IsDefault());
    ASSERT_TRUE(again->SetFeedOptions("http://c/", FeedOptions()));
    EXPECT_EQ(Start()->AllFeedOptions().size(), 1u);
}

TEST_F(SubscriptionsTest, FeedChoicesTravelThroughOpml2ExportImportAndMerge)
{
    auto subscriptions = StartWithFile();
    const FeedOptions bChoice = Choice(true, 5, FeedAudio::Amr);
    ASSERT_TRUE(subscriptions->SetFeedOptions("http://b/", bChoice));
    const std::string exported = temp.File("with-choices.opml");
    ASSERT_TRUE(subscriptions->ExportOpml(exported, OpmlExport::Opml2).ok);
    const std::string text = ReadWholeFile(exported);
    EXPECT_NE(text.find(" xmlns:corvane=\"urn:corvane:feed-options:1\""), std::string::npos);
    EXPECT_NE(text.find("xmlUrl=\"http://b/\" corvane:podcast=\"on\" corvane:newest=\"5\" "
                        "corvane:audio=\"amr\"/>"),
        std::string::npos)
        << text;
    // The described export has none of them.
    EXPECT_EQ(subscriptions->ExportText().find("corvane:"), std::string::npos);

    // Import into a fresh home: the tree and the choices come back.
    ASSERT_TRUE(std::filesystem::remove(GetFeedOptionsFilePath()));
    auto fresh = Start();
    ASSERT_TRUE(fresh->FeedOptionsFor("http://b/").IsDefault());
    ASSERT_TRUE(fresh->ImportOpml(exported).save.ok);
    EXPECT_EQ(fresh->FeedOptionsFor("http://b/"), bChoice);

    // A merge takes the choices of the feeds it adds (any prefix bound to the namespace), never
    // of those it skips; values that do not read are passed by.
    const std::string other = temp.Write("merge.opml",
        "<opml version=\"2.0\" xmlns:x=\"urn:corvane:feed-options:1\"><body>"
        "<outline text=\"b\" xmlUrl=\"http://b/\" x:podcast=\"off\"/>"
        "<outline text=\"n\" xmlUrl=\"http://n/\" x:newest=\"3\" x:audio=\"ogg\"/>"
        "<outline text=\"o\" xmlUrl=\"http://o/\" other:newest=\"4\"/>"
        "</body></opml>");
    ASSERT_EQ(fresh->MergeOpml(other).added, 2u);
    EXPECT_EQ(fresh->FeedOptionsFor("http://b/"), bChoice);
    EXPECT_EQ(fresh->FeedOptionsFor("http://n/"), Choice(std::nullopt, 3, FeedAudio::Default));
    EXPECT_TRUE(fresh->FeedOptionsFor("http://o/").IsDefault());
}

TEST_F(SubscriptionsTest, AnUnreadableFileOfChoicesIsNeverWrittenOver)
{
    StartWithFile();
    const std::string broken = "{\"feeds\": [{\"address\": \"http://a/\", \"newest\": 5000}]}";
    {
        std::ofstream(GetFeedOptionsFilePath()) << broken;
    }
    auto subscriptions = Start();
    const std::string error = subscriptions->FeedOptionsReadError();
    EXPECT_NE(error.find(GetFeedOptionsFilePath()), std::string::npos) << error;
    EXPECT_NE(error.find("newest"), std::string::npos) << error;
    const Result<void> set = subscriptions->SetFeedOptions("http://b/", Choice(false, {}, {}));
    EXPECT_FALSE(set);
    EXPECT_EQ(set.Error(), error);
    EXPECT_EQ(ReadWholeFile(GetFeedOptionsFilePath()), broken);
}
