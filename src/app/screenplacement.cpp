#include "app/screenplacement.h"

#include <algorithm>

namespace tarnwick::app {

namespace {

long long overlap(const ScreenRect& a, const ScreenRect& b)
{
    const long long w = std::min(a.right(), b.right()) - std::max(a.left, b.left);
    const long long h = std::min(a.bottom(), b.bottom()) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

// One axis: the client's start and length so that start - before .. start + length + after lies in
// [areaStart, areaStart + areaLength) where it can; the start side wins where it cannot.
void fitAxis(int& start, int& length, int before, int after, int areaStart, int areaLength, int minimum)
{
    const int room = areaLength - before - after;
    length = std::max(std::min(length, room), std::max(minimum, 1));
    const int lowest = areaStart + before;
    const int highest = areaStart + areaLength - after - length;
    start = std::max(std::min(start, highest), lowest);
}

} // namespace

std::size_t screenFor(const std::vector<ScreenRect>& available, const ScreenRect& window)
{
    std::size_t best = 0;
    long long bestArea = 0;
    for (std::size_t i = 0; i < available.size(); ++i) {
        const long long area = overlap(available[i], window);
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

ScreenRect placeOnScreen(const ScreenRect& wanted, const FrameMargins& frame, const ScreenRect& available,
                         int minimumWidth, int minimumHeight)
{
    ScreenRect r = wanted;
    fitAxis(r.left, r.width, frame.left, frame.right, available.left, available.width, minimumWidth);
    fitAxis(r.top, r.height, frame.top, frame.bottom, available.top, available.height, minimumHeight);
    return r;
}

} // namespace tarnwick::app
