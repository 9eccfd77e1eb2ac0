#pragma once
// Where a window goes to be centred on an area of the screen. Plain arithmetic, tested natively.

#include <cstdint>

#include "shell/monitor_list.h"

struct WindowPosition {
    int32_t x;
    int32_t y;
};

// The top-left corner that centres a window of the given rectangle's size on the area: the area's
// corner plus half the difference of the sizes, in signed 32-bit arithmetic with the division
// truncating toward zero. A window larger than the area starts left of or above its corner.
WindowPosition centredPosition(const MonitorRect& area, const MonitorRect& window);
