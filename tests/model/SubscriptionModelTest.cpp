#include "model/SubscriptionModel.h"
#include "subscriptions/Subscriptions.h"

#include "support/TestHome.h"

#include <QMimeData>
#include <QPersistentModelIndex>
#ifdef CORVANE_HAVE_MODEL_TESTER
#include <QAbstractItemModelTester>
#endif

#include <gtest/gtest.h>

using namespace corvane;

namespace {

// The tree as the model presents it: display texts, children in braces.
std::string ModelShape(const QAbstractItemModel& model, const QModelIndex& index)
{
    std::string out = index.isValid() ? index.data().toString().toStdString() : "";
    const int rows = model.rowCount(index);
    if (rows > 0) {
        out += index.isValid() ? "{" : "";
        for (int row = 0; row < rows; ++row) {
            if (row > 0)
                out += ',';
            out += ModelShape(model, model.index(row, 0, index));
        }
        out += index.isValid() ? "}" : "";
    }
    return out;
}

// The same from the nodes.
std::string NodeShape(const COutlineItem* node)
{
    std::string out = node->title ? *node->title : (node->IsFeed() ? *node->xmlurl : "");
    if (node->HasChildren()) {
        out += '{';
        for (const COutlineItem* child = node->firstChild.get(); child;
             child = child->nextSibling.get()) {
            if (child != node->firstChild.get())
                out += ',';
            out += NodeShape(child);
        }
        out += '}';
    }
    return out;
}

// The model tester reports a broken rule as a warning; every warning is kept here.
QStringList warnings;

void KeepWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        warnings << text;
}

struct SignalCounts {
    int inserted = 0, removed = 0, layout = 0, reset = 0, data = 0;
};

class SubscriptionModelTest : public TestHome {
protected:
    void SetUp() override
    {
        TestHome::SetUp();
        warnings.clear();
        previousHandler = qInstallMessageHandler(KeepWarning);
        subscriptions = std::make_unique<CSubscriptions>();
        subscriptions->Load();
        SubscriptionModel* model = &subscriptions->Model();
#ifdef CORVANE_HAVE_MODEL_TESTER
        tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
#endif
        QObject::connect(model, &QAbstractItemModel::rowsInserted, [this] { ++counts.inserted; });
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, [this] { ++counts.removed; });
        QObject::connect(model, &QAbstractItemModel::layoutChanged, [this] { ++counts.layout; });
        QObject::connect(model, &QAbstractItemModel::modelReset, [this] { ++counts.reset; });
        QObject::connect(model, &QAbstractItemModel::dataChanged, [this] { ++counts.data; });
    }

    void TearDown() override
    {
#ifdef CORVANE_HAVE_MODEL_TESTER
        tester.reset();
#endif
        subscriptions.reset();
        qInstallMessageHandler(previousHandler);
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        TestHome::TearDown();
    }

    void ExpectModelMatchesNodes()
    {
        const SubscriptionModel& model = subscriptions->Model();
        EXPECT_EQ(model.rowCount(), 1);
        EXPECT_EQ(ModelShape(model, QModelIndex()), NodeShape(subscriptions->Root()));
    }

    std::unique_ptr<CSubscriptions> subscriptions;
#ifdef CORVANE_HAVE_MODEL_TESTER
    std::unique_ptr<QAbstractItemModelTester> tester;
#endif
    SignalCounts counts;
    QtMessageHandler previousHandler = nullptr;
};

TEST_F(SubscriptionModelTest, EveryOperationIsSignalledAndMirrored)
{
    COutlineItem* root = subscriptions->Root();
    COutlineItem* news = subscriptions->NewGroup(root, "News", "").node;
    COutlineItem* a = subscriptions->NewFeed(news, "a", "http://a/", "", "").node;
    subscriptions->NewFeed(news, "b", "http://b/", "", "");
    COutlineItem* other = subscriptions->NewGroup(root, "Other", "").node;
    EXPECT_EQ(counts.inserted, 4);
    ExpectModelMatchesNodes();

    subscriptions->Copy(news);
    subscriptions->Paste(other);
    subscriptions->Paste(other);
    EXPECT_EQ(counts.inserted, 6);
    ExpectModelMatchesNodes();

    subscriptions->Move(a, other->firstChild->firstChild.get()); // behind a feed
    subscriptions->Move(other->firstChild.get(), root); // onto a group
    EXPECT_EQ(counts.removed, 2);
    EXPECT_EQ(counts.inserted, 8);
    ExpectModelMatchesNodes();

    subscriptions->Cut(news);
    subscriptions->Delete(other->LastChild());
    EXPECT_EQ(counts.removed, 4);
    ExpectModelMatchesNodes();

    subscriptions->SortByName(root);
    EXPECT_EQ(counts.layout, 1);
    ExpectModelMatchesNodes();

    subscriptions->Properties(other, "Renamed", "", "", "");
    EXPECT_GE(counts.data, 1);
    ExpectModelMatchesNodes();

    subscriptions->Undo();
    EXPECT_EQ(counts.reset, 1);
    ExpectModelMatchesNodes();

    const std::string opml = temp.Write("in.opml",
        "<opml><body><outline title=\"G\"><outline title=\"f\" xmlUrl=\"http://f/\"/>"
        "</outline></body></opml>");
    subscriptions->ImportOpml(opml);
    EXPECT_EQ(counts.reset, 2);
    ExpectModelMatchesNodes();
}

TEST_F(SubscriptionModelTest, RolesShowTitlesKindsAndMarks)
{
    COutlineItem* root = subscriptions->Root();
    COutlineItem* group = subscriptions->NewGroup(root, "", "").node;
    COutlineItem* feed = subscriptions->NewFeed(group, "", "http://untitled/", "", "").node;
    const SubscriptionModel& model = subscriptions->Model();
    const QModelIndex groupIndex = model.IndexFromNode(group);
    const QModelIndex feedIndex = model.IndexFromNode(feed);

    EXPECT_EQ(model.RootIndex().data().toString(), QString("My Subscriptions"));
    EXPECT_EQ(groupIndex.data().toString(), QString());
    EXPECT_EQ(feedIndex.data().toString(), QString("http://untitled/"));
    EXPECT_FALSE(groupIndex.data(SubscriptionModel::IsFeedRole).toBool());
    EXPECT_TRUE(feedIndex.data(SubscriptionModel::IsFeedRole).toBool());
    EXPECT_EQ(
        feedIndex.data(SubscriptionModel::XmlUrlRole).toString(), QString("http://untitled/"));
    EXPECT_EQ(feedIndex.parent(), groupIndex);
    EXPECT_EQ(SubscriptionModel::NodeFromIndex(feedIndex), feed);
    EXPECT_FALSE(model.flags(model.RootIndex()).testFlag(Qt::ItemIsDragEnabled));
    EXPECT_TRUE(model.flags(feedIndex).testFlag(Qt::ItemIsUserCheckable));

    subscriptions->ClickMark(feed);
    EXPECT_EQ(feedIndex.data(Qt::CheckStateRole).toInt(), static_cast<int>(Qt::Checked));
    subscriptions->NewFeed(group, "second", "http://2/", "", "");
    EXPECT_EQ(groupIndex.data(Qt::CheckStateRole).toInt(), static_cast<int>(Qt::PartiallyChecked));
}

TEST_F(SubscriptionModelTest, CheckStateEditsFollowTheClickRule)
{
    COutlineItem* group = subscriptions->NewGroup(subscriptions->Root(), "G", "").node;
    COutlineItem* one = subscriptions->NewFeed(group, "1", "http://1/", "", "").node;
    subscriptions->NewFeed(group, "2", "http://2/", "", "");
    SubscriptionModel& model = subscriptions->Model();
    const std::uint32_t count = subscriptions->BackupCount();

    EXPECT_TRUE(model.setData(model.IndexFromNode(one), Qt::Checked, Qt::CheckStateRole));
    ASSERT_EQ(subscriptions->Mark(group), MARK_MIXED);
    // A delegate asks for "checked" on a mixed group; the click rule unchecks it.
    EXPECT_TRUE(model.setData(model.IndexFromNode(group), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(subscriptions->Mark(group), MARK_UNCHECKED);
    EXPECT_EQ(subscriptions->Mark(one), MARK_UNCHECKED);
    EXPECT_FALSE(model.setData(model.IndexFromNode(group), "x", Qt::DisplayRole));
    EXPECT_EQ(subscriptions->BackupCount(), count);
}

TEST_F(SubscriptionModelTest, PersistentIndexFollowsItsNodeThroughSorting)
{
    COutlineItem* root = subscriptions->Root();
    COutlineItem* c = subscriptions->NewFeed(root, "c", "http://c/", "", "").node;
    subscriptions->NewFeed(root, "b", "http://b/", "", "");
    subscriptions->NewFeed(root, "a", "http://a/", "", "");
    const QPersistentModelIndex kept(subscriptions->Model().IndexFromNode(c));
    ASSERT_EQ(kept.row(), 0);
    subscriptions->SortByName(c);
    EXPECT_EQ(kept.row(), 2);
    EXPECT_EQ(SubscriptionModel::NodeFromIndex(kept), c);
}

TEST_F(SubscriptionModelTest, DropOntoAnItemMovesThroughTheOperations)
{
    COutlineItem* root = subscriptions->Root();
    COutlineItem* group = subscriptions->NewGroup(root, "G", "").node;
    COutlineItem* inner = subscriptions->NewGroup(group, "inner", "").node;
    COutlineItem* feed = subscriptions->NewFeed(root, "f", "http://f/", "", "").node;
    subscriptions->NewFeed(inner, "i", "http://i/", "", "");
    SubscriptionModel& model = subscriptions->Model();

    std::unique_ptr<QMimeData> dragGroup(model.mimeData({model.IndexFromNode(group)}));
    ASSERT_TRUE(dragGroup);
    // Into its own subtree, between items, or as a copy: refused.
    EXPECT_FALSE(
        model.canDropMimeData(dragGroup.get(), Qt::MoveAction, -1, 0, model.IndexFromNode(inner)));
    EXPECT_FALSE(model.canDropMimeData(dragGroup.get(), Qt::MoveAction, 0, 0, model.RootIndex()));
    EXPECT_FALSE(
        model.canDropMimeData(dragGroup.get(), Qt::CopyAction, -1, 0, model.IndexFromNode(feed)));
    const std::uint32_t count = subscriptions->BackupCount();

    EXPECT_TRUE(
        model.dropMimeData(dragGroup.get(), Qt::MoveAction, -1, 0, model.IndexFromNode(feed)));
    EXPECT_EQ(NodeShape(root), "My Subscriptions{f,G{inner{i}}}");
    EXPECT_EQ(subscriptions->BackupCount(), count + 1);
    ExpectModelMatchesNodes();

    // The mime data names a path, so a drag whose node has gone cannot reach freed memory.
    std::unique_ptr<QMimeData> dragInner(model.mimeData({model.IndexFromNode(inner)}));
    subscriptions->Delete(group);
    EXPECT_FALSE(model.dropMimeData(dragInner.get(), Qt::MoveAction, -1, 0, model.RootIndex()));
    EXPECT_EQ(model.mimeData({model.RootIndex()}), nullptr);
}

} // namespace
