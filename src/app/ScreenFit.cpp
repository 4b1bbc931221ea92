#include "app/ScreenFit.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace corvane {

namespace {

std::int64_t OverlapArea(const QRect& a, const QRect& b)
{
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : std::int64_t {common.width()} * common.height();
}

// The squared distance between the two centres, in 64 bits: stored positions can be far off.
std::int64_t CentreDistance(const QRect& a, const QRect& b)
{
    const std::int64_t dx = std::int64_t {a.center().x()} - b.center().x();
    const std::int64_t dy = std::int64_t {a.center().y()} - b.center().y();
    return dx * dx + dy * dy;
}

const QRect* ChooseArea(const QRect& outer, const QList<QRect>& areas)
{
    const QRect* best = nullptr;
    std::int64_t bestOverlap = 0;
    for (const QRect& area : areas) {
        const std::int64_t overlap = OverlapArea(outer, area);
        if (!area.isEmpty() && overlap > bestOverlap) {
            best = &area;
            bestOverlap = overlap;
        }
    }
    if (best)
        return best;
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (const QRect& area : areas) {
        const std::int64_t distance = CentreDistance(outer, area);
        if (!area.isEmpty() && distance < bestDistance) {
            best = &area;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

QRect FitIntoAreas(const QRect& outer, const QList<QRect>& areas)
{
    const QRect* area = outer.isEmpty() ? nullptr : ChooseArea(outer, areas);
    if (!area)
        return outer;
    const int width = std::min(outer.width(), area->width());
    const int height = std::min(outer.height(), area->height());
    const int x = std::clamp(outer.x(), area->left(), area->left() + area->width() - width);
    const int y = std::clamp(outer.y(), area->top(), area->top() + area->height() - height);
    return QRect(x, y, width, height);
}

} // namespace corvane
