// Where a restored window may stand: a stored rectangle comes from another session, whose
// screens may have been larger, placed elsewhere or scaled differently.
//
// Pure geometry over QRect (QtCore); GUI thread or any thread.
#pragma once

#include <QList>
#include <QRect>

namespace corvane {

// The rectangle moved, and shrunk where it is larger, so that it lies wholly within one of the
// available areas: the one it overlaps most, or, when it overlaps none, the one nearest to it.
// With no area (or an empty rectangle) the rectangle comes back as it is.
QRect FitIntoAreas(const QRect& outer, const QList<QRect>& areas);

} // namespace corvane
