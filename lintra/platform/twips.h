#pragma once

#include <QRect>
#include <QRectF>
#include <cmath>

// The design measures in twips, 1/1440 inch; widgets are placed in pixels
// at the screen's logical DPI.
namespace Twips {

inline constexpr double PerInch = 1440.0;

inline int toPixels(double twips, double dpi)
{
    return int(std::lround(twips * dpi / PerInch));
}

inline double fromPixels(int pixels, double dpi)
{
    return pixels * PerInch / dpi;
}

inline QRect toPixels(const QRectF &twips, double dpi)
{
    const int left = toPixels(twips.left(), dpi);
    const int top = toPixels(twips.top(), dpi);
    return QRect(left, top, toPixels(twips.left() + twips.width(), dpi) - left,
                 toPixels(twips.top() + twips.height(), dpi) - top);
}

} // namespace Twips
