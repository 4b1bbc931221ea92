// Drag and drop in the tree view: the delay after the press, the root, drops onto descendants,
// feeds and the left edge, hovering over a group, and the scrolling near an edge.
#include "ViewFixture.h"

#include "ui/TreeDrag.h"

#include <QLabel>
#include <QScrollBar>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

using TreeDragTest = ViewTest;

TEST_F(TreeDragTest, DragStartedWithin60MsOfThePressIsIgnored)
{
    Drag("Weather", {LabelPoint("News")}, 59);
    EXPECT_FALSE(view->Drag().IsDragging());
    EXPECT_EQ(Node("Weather")->parent, Node("My Subscriptions"));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u);

    Drag("Weather", {LabelPoint("News")}, 60);
    EXPECT_EQ(Node("Weather")->parent, Node("News"));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 1u);
}

TEST_F(TreeDragTest, RootCannotBeDragged)
{
    Drag("My Subscriptions", {LabelPoint("Weather")});
    EXPECT_EQ(Node("My Subscriptions")->parent, nullptr);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u);
}

TEST_F(TreeDragTest, DropOntoOwnDescendantChangesAndSavesNothing)
{
    Drag("Podcasts", {LabelPoint("Inner Feed")});
    EXPECT_EQ(Children("Deep"), (std::vector<std::string> {"Inner Feed"}));
    EXPECT_EQ(Node("Podcasts")->parent, Node("My Subscriptions"));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u);
}

TEST_F(TreeDragTest, DropOntoFeedInAnotherGroupPlacesItBehindThatFeed)
{
    ClickMark("Science Hour");
    Drag("Science Hour", {LabelPoint("Alpha Daily")});
    EXPECT_EQ(
        Children("News"), (std::vector<std::string> {"Alpha Daily", "Science Hour", "Beta Times"}));
    EXPECT_EQ(Children("Podcasts"), (std::vector<std::string> {"Deep"}));
    EXPECT_EQ(view->SelectedItem(), Find("Science Hour"));
    EXPECT_EQ(Mark("Science Hour"), MARK_UNCHECKED); // moved items come back unmarked
    EXPECT_EQ(Mark("Podcasts"), MARK_UNCHECKED);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 1u);
    EXPECT_FALSE(view->Drag().DropHighlight().isValid());
}

TEST_F(TreeDragTest, DropIntoTheLeftEdgeHasNoTarget)
{
    const QPoint overNews = LabelPoint("News");
    Drag("Weather", {overNews, QPoint(CTreeDrag::kLeftEdge - 1, overNews.y())});
    EXPECT_EQ(Node("Weather")->parent, Node("My Subscriptions"));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u);

    // Leaving the edge again picks the item under the pointer once more.
    Drag("Weather", {QPoint(5, overNews.y()), overNews});
    EXPECT_EQ(Node("Weather")->parent, Node("News"));
}

TEST_F(TreeDragTest, TheDragPictureOfAShortItemIsWhole)
{
    const QPoint start = LabelPoint("Weather");
    SendMouse(Viewport(), QEvent::MouseButtonPress, start);
    clock += 100;
    SendMouse(Viewport(), QEvent::MouseMove, start + QPoint(12, 0), Qt::NoButton);
    ASSERT_TRUE(view->Drag().IsDragging());
    ASSERT_NE(view->Drag().DragImage(), nullptr);
    const int whole = view->sizeHintForIndex(Find("Weather")).width();
    ASSERT_LT(whole, 200); // a short item
    EXPECT_EQ(view->Drag().DragImage()->width(), whole);
    SendMouse(Viewport(), QEvent::MouseButtonRelease, start + QPoint(12, 0), Qt::NoButton);
}

TEST_F(TreeDragTest, HoveringOverACollapsedGroupSelectsAndExpandsIt)
{
    view->collapse(Find("Podcasts"));
    const QPoint start = LabelPoint("Weather");
    SendMouse(Viewport(), QEvent::MouseButtonPress, start);
    clock += 100;
    SendMouse(Viewport(), QEvent::MouseMove, start + QPoint(12, 0), Qt::NoButton);
    SendMouse(Viewport(), QEvent::MouseMove, LabelPoint("Podcasts"), Qt::NoButton);
    ASSERT_TRUE(view->Drag().IsDragging());
    EXPECT_TRUE(view->Drag().HoverTimer().isActive());
    EXPECT_EQ(view->Drag().HoverTimer().interval(), 200);
    EXPECT_EQ(view->Drag().DropTarget(), Find("Podcasts"));
    view->Drag().OnHoverTimer();
    EXPECT_TRUE(view->isExpanded(Find("Podcasts")));
    EXPECT_EQ(view->currentIndex(), Find("Podcasts"));
    SendMouse(Viewport(), QEvent::MouseButtonRelease, LabelPoint("Podcasts"), Qt::LeftButton,
        Qt::NoButton);
    EXPECT_FALSE(view->Drag().ScrollTimer().isActive());
    EXPECT_EQ(Node("Weather")->parent, Node("Podcasts"));
    view->Drag().OnHoverTimer(); // a late tick after the drop does nothing
    EXPECT_EQ(Node("Weather")->parent, Node("Podcasts"));
}

TEST(ScrollPeriod, FollowsTheDistancePastTheInnerLine)
{
    EXPECT_EQ(CTreeDrag::ScrollPeriod(1), 6);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(19), 6);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(20), 5);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(59), 4);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(60), 3);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(99), 2);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(100), 1);
    EXPECT_EQ(CTreeDrag::ScrollPeriod(5000), 1);
}

TEST_F(TreeDragTest, ScrollTimerScrollsNearTheBottomEdgeAtTheDescribedPace)
{
    // Enough feeds to scroll.
    for (int i = 0; i < 60; ++i) {
        auto feed = std::make_unique<COutlineItem>();
        feed->title = "Extra " + std::to_string(i);
        feed->xmlurl = "http://extra.example/" + std::to_string(i);
        view->Model().AppendNode(Node("Weather")->parent, std::move(feed));
    }
    view->resize(300, 200);
    QApplication::processEvents();
    const QPoint start = LabelPoint("News");
    SendMouse(Viewport(), QEvent::MouseButtonPress, start);
    clock += 100;
    SendMouse(Viewport(), QEvent::MouseMove, start + QPoint(12, 0), Qt::NoButton);
    ASSERT_TRUE(view->Drag().IsDragging());
    EXPECT_EQ(view->Drag().ScrollTimer().interval(), 20);
    view->Drag().ScrollTimer().stop(); // ticks are driven by hand below

    QScrollBar* bar = view->verticalScrollBar();
    const int bottom = Viewport()->height();
    SendMouse(Viewport(), QEvent::MouseMove, QPoint(100, bottom - 5), Qt::NoButton);
    int before = bar->value();
    int lines = 0;
    for (int tick = 0; tick < 24; ++tick) {
        view->Drag().OnScrollTimer();
        lines += bar->value() != before;
        before = bar->value();
    }
    EXPECT_EQ(lines, 4); // one line every 6 ticks (120 ms)
    EXPECT_TRUE(view->Drag().DropTarget().isValid());
    // The viewport moves its children as it scrolls; the picture stays under the pointer.
    ASSERT_NE(view->Drag().DragImage(), nullptr);
    EXPECT_EQ(view->Drag().DragImage()->pos(), QPoint(100, bottom - 5) - QPoint(8, 8));
    bar->setValue(bar->value() + 3); // the wheel, say
    EXPECT_EQ(view->Drag().DragImage()->pos(), QPoint(100, bottom - 5) - QPoint(8, 8));

    SendMouse(Viewport(), QEvent::MouseMove, QPoint(100, bottom + 100), Qt::NoButton);
    before = bar->value();
    for (int tick = 0; tick < 5; ++tick)
        view->Drag().OnScrollTimer();
    EXPECT_EQ(bar->value() - before, 5); // one line every tick (20 ms)

    SendMouse(Viewport(), QEvent::MouseMove, QPoint(100, bottom / 2), Qt::NoButton);
    before = bar->value();
    for (int tick = 0; tick < 12; ++tick)
        view->Drag().OnScrollTimer();
    EXPECT_EQ(bar->value(), before); // away from the edges nothing scrolls
    SendMouse(Viewport(), QEvent::MouseButtonRelease, QPoint(100, bottom / 2), Qt::LeftButton,
        Qt::NoButton);
}

} // namespace
