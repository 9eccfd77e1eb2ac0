#include "shell/dialog_placement.h"

namespace {

// 32-bit two's-complement sums and differences: rectangles come from the platform and are not
// range-checked, so overflow wraps as the platform's own arithmetic would instead of being undefined.
int32_t wrappedDifference(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrappedSum(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t centredStart(int32_t areaStart, int32_t areaEnd, int32_t windowStart, int32_t windowEnd) {
    const int32_t spare =
        wrappedDifference(wrappedDifference(areaEnd, areaStart), wrappedDifference(windowEnd, windowStart));
    return wrappedSum(areaStart, spare / 2);
}

}  // namespace

WindowPosition centredPosition(const MonitorRect& area, const MonitorRect& window) {
    return WindowPosition{centredStart(area.left, area.right, window.left, window.right),
                          centredStart(area.top, area.bottom, window.top, window.bottom)};
}
