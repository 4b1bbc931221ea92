#include "ui/TreeDrag.h"

#include "ui/CorvaneView.h"

#include <QApplication>
#include <QLabel>
#include <QScrollBar>

namespace corvane {

int CTreeDrag::ScrollPeriod(int distance)
{
    const int period = 6 - distance / 20;
    return period > 0 ? period : 1;
}

CTreeDrag::CTreeDrag(CCorvaneView& treeView)
    : view(treeView)
{
    hoverTimer.setSingleShot(true);
    hoverTimer.setInterval(kHoverMs);
    scrollTimer.setInterval(kScrollMs);
    connect(&hoverTimer, &QTimer::timeout, this, &CTreeDrag::OnHoverTimer);
    connect(&scrollTimer, &QTimer::timeout, this, &CTreeDrag::OnScrollTimer);
}

CTreeDrag::~CTreeDrag() = default;

void CTreeDrag::Press(const QModelIndex& item, const QPoint& pos)
{
    lastButtonDownTick = view.Host().TickCount();
    pressItem = item;
    pressPos = pos;
    dragDecided = false;
}

bool CTreeDrag::Move(const QPoint& pos, Qt::MouseButtons buttons)
{
    if (dragging) {
        hoverTimer.start();
        lastPointer = pos;
        MoveDragImage(pos);
        const CCorvaneView::Hit hit = view.HitTest(pos);
        if (hit.index.isValid()) {
            SetDropHighlight(hit.index);
            dropTarget = hit.index;
        }
        if (pos.x() < kLeftEdge)
            dropTarget = QModelIndex();
        return true;
    }
    if (!(buttons & Qt::LeftButton))
        return false;
    // The view's own drag-selection would move the selection under the pointer; the tree
    // control keeps it, and a drag decides once per press.
    if (!dragDecided && pressItem.isValid()
        && (pos - pressPos).manhattanLength() >= QApplication::startDragDistance()) {
        dragDecided = true;
        BeginDrag(pressItem, pos);
    }
    return true;
}

void CTreeDrag::BeginDrag(const QModelIndex& index, const QPoint& pos)
{
    if (view.Host().TickCount() - lastButtonDownTick < kDragDelayMs)
        return;
    COutlineItem* node = SubscriptionModel::NodeFromIndex(index);
    if (!node || !node->parent)
        return;
    dragItem = index;
    dropTarget = QModelIndex();
    QWidget* viewport = view.viewport();
    // The picture is the item itself (check box, icon, label), not the empty rest of its row;
    // a short item is never cut.
    QRect itemRect = view.visualRect(index).intersected(viewport->rect());
    itemRect.setWidth(std::min(itemRect.width(), view.sizeHintForIndex(index).width()));
    const QPixmap picture = viewport->grab(itemRect);
    if (picture.isNull())
        return;
    dragging = true;
    dragImage = new QLabel(viewport);
    dragImage->setPixmap(picture);
    dragImage->setAttribute(Qt::WA_TransparentForMouseEvents);
    dragImage->resize(picture.size());
    MoveDragImage(pos);
    dragImage->show();
    lastPointer = pos;
    // The picture is a child of the viewport, which moves its children when the tree scrolls;
    // it goes back under the pointer.
    scrollFollow = connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this] { MoveDragImage(lastPointer); });
    scrollTimer.start();
}

void CTreeDrag::MoveDragImage(const QPoint& pos)
{
    if (dragImage)
        dragImage->move(pos - QPoint(8, 8));
}

void CTreeDrag::SetDropHighlight(const QModelIndex& index)
{
    const QModelIndex previous = dropHighlight;
    dropHighlight = index;
    if (previous.isValid())
        view.update(previous);
    if (index.isValid())
        view.update(index);
}

void CTreeDrag::OnHoverTimer()
{
    hoverTimer.stop();
    const CCorvaneView::Hit hit = view.HitTest(lastPointer);
    if (hit.index.isValid() && dragging) {
        view.setCurrentIndex(hit.index);
        view.expand(hit.index);
    }
}

int CTreeDrag::VisibleCount() const
{
    const QModelIndex first = view.indexAt(QPoint(1, 1));
    const int rowHeight = first.isValid() ? view.visualRect(first).height() : 0;
    return rowHeight > 0 ? view.viewport()->height() / rowHeight : 0;
}

void CTreeDrag::OnScrollTimer()
{
    ++scrollTicks;
    const QRect client = view.viewport()->rect();
    const QModelIndex first = view.indexAt(QPoint(1, 1));
    const int y = lastPointer.y();
    const int top = client.top();
    const int bottom = client.top() + client.height();
    if (y < top + 10) {
        if (scrollTicks % ScrollPeriod(top + 10 - y) != 0)
            return;
        view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        SetDropHighlight(first);
        dropTarget = first;
    } else if (y > bottom - 10) {
        if (scrollTicks % ScrollPeriod(y - bottom + 10) != 0)
            return;
        view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QModelIndex reached = first;
        for (int step = 1; step < VisibleCount() && reached.isValid(); ++step)
            reached = view.indexBelow(reached);
        SetDropHighlight(reached);
        dropTarget = reached;
    }
}

void CTreeDrag::EndDrag()
{
    dragging = false;
    disconnect(scrollFollow);
    delete dragImage;
    dragImage = nullptr;
    SetDropHighlight(QModelIndex());
    scrollTimer.stop();
}

void CTreeDrag::Release()
{
    pressItem = QModelIndex();
    if (!dragging)
        return;
    EndDrag();
    const QModelIndex draggedIndex = dragItem;
    const QModelIndex targetIndex = dropTarget;
    dragItem = QModelIndex();
    dropTarget = QModelIndex();
    Drop(draggedIndex, targetIndex);
}

void CTreeDrag::Drop(const QModelIndex& draggedIndex, const QModelIndex& targetIndex)
{
    COutlineItem* dragged = SubscriptionModel::NodeFromIndex(draggedIndex);
    COutlineItem* target = SubscriptionModel::NodeFromIndex(targetIndex);
    if (!dragged || !target || dragged == target)
        return;
    view.expand(targetIndex);
    CSubscriptions& subscriptions = view.Subscriptions();
    if (!subscriptions.CanMove(dragged, target))
        return;
    const TreeChange change = subscriptions.Move(dragged, target);
    if (!change.changed)
        return;
    const QModelIndex movedIndex = view.Model().IndexFromNode(change.node);
    if (!target->IsFeed())
        view.expand(view.Model().IndexFromNode(target));
    else
        view.setCurrentIndex(movedIndex);
    view.expand(movedIndex);
    emit moved(change.save);
}

} // namespace corvane
