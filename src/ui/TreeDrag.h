// CTreeDrag: moving an item of the tree view to another place with the mouse, following the tree
// control's mechanics. A drag starts only 60 ms or more after the button press, once the pointer
// moved the platform's drag distance, and never for the root. The drop target is the item under
// the pointer, none within 20 pixels of the left edge; holding still for 200 ms over an item
// selects and expands it; near the top or bottom edge the tree scrolls one line every 1 to 6
// ticks of 20 ms, faster the farther the pointer is past the line 10 pixels inside the edge. The
// drop moves the item through the subscriptions (CSubscriptions::CanMove and Move decide).
//
// The view hands over its mouse events (Press, Move, Release) and draws the drop highlight.
// Thread: GUI thread only.
#pragma once

#include "subscriptions/Subscriptions.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QTimer>

class QLabel;

namespace corvane {

class CCorvaneView;

class CTreeDrag : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kDragDelayMs = 60;
    static constexpr int kHoverMs = 200;
    static constexpr int kScrollMs = 20;
    static constexpr int kLeftEdge = 20;
    // Ticks of the scroll timer between two lines when the pointer is distance pixels past the
    // line 10 pixels inside the edge: 6 for 1..19, 5 for 20..39, ... 1 for 100 or more.
    static int ScrollPeriod(int distance);

    // Drags items of view, which must outlive this object. Touches nothing of view until the
    // first event.
    explicit CTreeDrag(CCorvaneView& view);
    ~CTreeDrag() override;

    // The left button went down at pos (viewport coordinates); item is the item whose icon or
    // label was hit, or none (a press that can start no drag).
    void Press(const QModelIndex& item, const QPoint& pos);
    // The pointer moved to pos with buttons held. True when the drag took the event (a drag runs
    // or the left button is down); false leaves it to the view.
    bool Move(const QPoint& pos, Qt::MouseButtons buttons);
    // The button came up: ends a running drag and drops the item on the target.
    void Release();

    bool IsDragging() const { return dragging; }
    QModelIndex DropTarget() const { return dropTarget; }
    // The item drawn highlighted as the place of the drop.
    QModelIndex DropHighlight() const { return dropHighlight; }
    // The picture that follows the pointer while dragging, or null.
    const QLabel* DragImage() const { return dragImage; }

    // The timers' handlers (public so that tests drive them tick by tick).
    void OnHoverTimer();
    void OnScrollTimer();
    QTimer& ScrollTimer() { return scrollTimer; }
    QTimer& HoverTimer() { return hoverTimer; }

signals:
    // A drop moved an item and saved the channels file with this outcome.
    void moved(const SaveResult& save);

private:
    void BeginDrag(const QModelIndex& index, const QPoint& pos);
    void EndDrag();
    void Drop(const QModelIndex& draggedIndex, const QModelIndex& targetIndex);
    void SetDropHighlight(const QModelIndex& index);
    void MoveDragImage(const QPoint& pos);
    int VisibleCount() const;

    CCorvaneView& view;
    bool dragging = false;
    bool dragDecided = false; // the current press already started or refused a drag
    QPersistentModelIndex pressItem;
    QPoint pressPos;
    QPersistentModelIndex dragItem;
    QPersistentModelIndex dropTarget;
    QPersistentModelIndex dropHighlight;
    QPoint lastPointer;
    qint64 lastButtonDownTick = 0;
    unsigned scrollTicks = 0;
    QLabel* dragImage = nullptr; // owned by the view's viewport
    QMetaObject::Connection scrollFollow; // keeps dragImage under the pointer while scrolling
    QTimer hoverTimer;
    QTimer scrollTimer;
};

} // namespace corvane
