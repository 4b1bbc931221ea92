#include "model/Records.h"
#include "formats/CorvaneDoc.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvane;

namespace {

std::unique_ptr<COutlineItem> Node(const char* title)
{
    auto node = std::make_unique<COutlineItem>();
    node->title = title;
    return node;
}

std::vector<std::string> ChildTitles(const COutlineItem& parent)
{
    std::vector<std::string> titles;
    const COutlineItem* previous = nullptr;
    for (const COutlineItem* child = parent.firstChild.get(); child;
         child = child->nextSibling.get()) {
        EXPECT_EQ(child->prevSibling, previous);
        EXPECT_EQ(child->parent, &parent);
        titles.push_back(child->title.value_or("?"));
        previous = child;
    }
    return titles;
}

using Titles = std::vector<std::string>;

} // namespace

TEST(Records, TextFieldsKeepAbsentAndEmptyApart)
{
    TextField field;
    EXPECT_EQ(AssignText(field, "", 0), 0u);
    ASSERT_TRUE(field.has_value());
    EXPECT_EQ(*field, "");
    AssignText(field, "ab\0c", 4);
    EXPECT_EQ(field->size(), 4u);

    EXPECT_FALSE(DuplicateString(TextField {}).has_value());
    EXPECT_FALSE(DuplicateString(TextField {""}).has_value());
    EXPECT_EQ(DuplicateString(TextField {"x"}), TextField {"x"});
}

TEST(Records, RemoveChildRelinksNeighbours)
{
    COutlineItem parent;
    parent.AppendChild(Node("a"));
    parent.AppendChild(Node("b"));
    parent.AppendChild(Node("c"));

    std::unique_ptr<COutlineItem> first = parent.RemoveChild(parent.firstChild.get());
    ASSERT_TRUE(first);
    EXPECT_EQ(ChildTitles(parent), (Titles {"b", "c"}));
    EXPECT_EQ(parent.firstChild->prevSibling, nullptr);
    EXPECT_EQ(first->nextSibling, nullptr);
    EXPECT_EQ(first->parent, &parent); // the parent link is left as it was

    parent.AppendChild(std::move(first));
    std::unique_ptr<COutlineItem> last = parent.RemoveChild(parent.LastChild());
    EXPECT_EQ(*last->title, "a");
    EXPECT_EQ(ChildTitles(parent), (Titles {"b", "c"}));
    EXPECT_EQ(parent.LastChild()->nextSibling, nullptr);

    COutlineItem stranger;
    EXPECT_EQ(parent.RemoveChild(&stranger), nullptr);
    EXPECT_EQ(parent.RemoveChild(nullptr), nullptr);
    EXPECT_EQ(ChildTitles(parent), (Titles {"b", "c"}));
}

TEST(Records, InsertAfterOnlyBehindOwnChildren)
{
    COutlineItem parent, other;
    parent.AppendChild(Node("a"));
    parent.AppendChild(Node("c"));
    other.AppendChild(Node("x"));

    auto node = Node("b");
    EXPECT_EQ(parent.InsertAfter(node, other.firstChild.get()), 0);
    ASSERT_TRUE(node); // still the caller's
    EXPECT_EQ(parent.InsertAfter(node, parent.firstChild.get()), 1);
    EXPECT_FALSE(node);
    EXPECT_EQ(ChildTitles(parent), (Titles {"a", "b", "c"}));

    auto tail = Node("d");
    EXPECT_EQ(parent.InsertAfter(tail, parent.LastChild()), 1);
    EXPECT_EQ(ChildTitles(parent), (Titles {"a", "b", "c", "d"}));
    EXPECT_EQ(ChildTitles(other), (Titles {"x"}));
}

TEST(Records, AppendingASubtreeKeepsItsChildren)
{
    COutlineItem root;
    auto group = Node("g");
    group->AppendChild(Node("f1"));
    group->AppendChild(Node("f2"));
    root.AppendChild(std::move(group));
    EXPECT_EQ(ChildTitles(*root.firstChild), (Titles {"f1", "f2"}));
}

TEST(Records, CloneCopiesChildrenNotSiblingsAndDropsEmptyStrings)
{
    COutlineItem root;
    auto group = Node("g");
    group->description = "";
    group->xmlurl = "http://h/x";
    group->AppendChild(Node("f1"));
    group->firstChild->AppendChild(Node("deep"));
    group->AppendChild(Node("f2"));
    root.AppendChild(std::move(group));
    root.AppendChild(Node("sibling"));

    std::unique_ptr<COutlineItem> copy = root.firstChild->Clone();
    EXPECT_FALSE(copy->description.has_value());
    EXPECT_EQ(copy->xmlurl, TextField {"http://h/x"});
    EXPECT_EQ(copy->parent, nullptr);
    EXPECT_EQ(copy->nextSibling, nullptr);
    EXPECT_EQ(copy->reserved, 2);
    EXPECT_EQ(ChildTitles(*copy), (Titles {"f1", "f2"}));
    EXPECT_EQ(ChildTitles(*copy->firstChild), (Titles {"deep"}));
    EXPECT_NE(copy->firstChild.get(), root.firstChild->firstChild.get());
}

TEST(Records, ItemsFormADoublyLinkedList)
{
    CFeedChannel channel;
    CFeedItem* last = nullptr;
    for (int i = 0; i < 3; ++i) {
        auto item = std::make_unique<CFeedItem>();
        CFeedItem* raw = item.get();
        channel.AppendItem(std::move(item), i == 2 ? last : nullptr);
        last = raw;
    }
    EXPECT_EQ(channel.ItemCount(), 3u);
    EXPECT_EQ(channel.firstItem->prevItem, nullptr);
    EXPECT_EQ(channel.firstItem->nextItem->prevItem, channel.firstItem.get());
    EXPECT_EQ(channel.firstItem->nextItem->nextItem.get(), last);
    EXPECT_EQ(last->nextItem, nullptr);
}

// Long lists and deep trees are torn down and copied without recursion; a recursive destructor
// would overflow the stack here.
TEST(Records, HugeStructuresDoNotOverflowTheStack)
{
    {
        auto channel = std::make_unique<CFeedChannel>();
        CFeedItem* last = nullptr;
        for (int i = 0; i < 1'000'000; ++i) {
            auto item = std::make_unique<CFeedItem>();
            CFeedItem* raw = item.get();
            channel->AppendItem(std::move(item), last);
            last = raw;
        }
        EXPECT_EQ(channel->ItemCount(), 1'000'000u);
    }
    {
        auto root = std::make_unique<COutlineItem>();
        COutlineItem* deepest = root.get();
        for (int i = 0; i < 100'000; ++i) {
            deepest->AppendChild(Node("level"));
            deepest = deepest->firstChild.get();
        }
        std::unique_ptr<COutlineItem> copy = root->Clone();
        int depth = 0;
        for (const COutlineItem* node = copy.get(); node->firstChild; node = node->firstChild.get())
            ++depth;
        EXPECT_EQ(depth, 100'000);
    }
    {
        COutlineItem root;
        COutlineItem* last = nullptr;
        for (int i = 0; i < 1'000'000; ++i) {
            auto node = std::make_unique<COutlineItem>();
            COutlineItem* raw = node.get();
            root.AppendChild(std::move(node), last);
            last = raw;
        }
    }
}

TEST(Records, ForEachNodeWalksASubtreeInDisplayOrderWithDepths)
{
    COutlineItem outside;
    auto root = Node("root");
    auto group = Node("group");
    group->AppendChild(Node("inner"));
    group->AppendChild(Node("second"));
    root->AppendChild(std::move(group));
    root->AppendChild(Node("last"));
    COutlineItem* walked = root.get();
    outside.AppendChild(std::move(root));
    outside.AppendChild(Node("sibling of root")); // not below root: never visited

    Titles seen;
    ForEachNode(walked, [&](const COutlineItem* node, int depth) {
        seen.push_back(std::to_string(depth) + node->title.value_or("?"));
    });
    EXPECT_EQ(seen, (Titles {"0root", "1group", "2inner", "2second", "1last"}));

    seen.clear();
    ForEachNode(walked, [&](COutlineItem* node, int) {
        seen.push_back(node->title.value_or("?"));
        return *node->title != "inner";
    });
    EXPECT_EQ(seen, (Titles {"root", "group", "inner"}));

    ForEachNode(static_cast<COutlineItem*>(nullptr), [](COutlineItem*, int) { ADD_FAILURE(); });

    // A chain 100,000 deep: the walk holds no stack of its own.
    COutlineItem deep;
    COutlineItem* tip = &deep;
    for (int i = 0; i < 100'000; ++i) {
        tip->AppendChild(std::make_unique<COutlineItem>());
        tip = tip->firstChild.get();
    }
    int count = 0;
    int deepest = 0;
    ForEachNode(&deep, [&](const COutlineItem*, int depth) {
        ++count;
        deepest = std::max(deepest, depth);
    });
    EXPECT_EQ(count, 100'001);
    EXPECT_EQ(deepest, 100'000);
}

TEST(Records, NewDocumentHasUntitledRoot)
{
    CCorvaneDoc doc;
    ASSERT_TRUE(doc.root);
    ASSERT_TRUE(doc.head);
    EXPECT_FALSE(doc.root->title.has_value());
    EXPECT_EQ(doc.title, "Velmora");
}
