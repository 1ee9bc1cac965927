// Conversions between our rectangles (exclusive right and bottom) and Qt's.
// Only these cross the boundary; arithmetic stays on TQelRect.
#pragma once

#include <QRect>

#include "QelGeometry.h"

inline QRect QelToQRect(const TQelRect& r) {
    return QRect(r.Left, r.Top, int32_t(int64_t(r.Right) - r.Left), int32_t(int64_t(r.Bottom) - r.Top));
}

inline TQelRect QelFromQRect(const QRect& r) {
    return TQelRect(r.left(), r.top(), int32_t(int64_t(r.left()) + r.width()), int32_t(int64_t(r.top()) + r.height()));
}
