#include "shell/display_monitors.h"

#include "shell/dialog_placement.h"
#include "shell/monitor_list.h"

namespace {

MonitorRect monitorRect(const RECT& rect) { return MonitorRect{rect.left, rect.top, rect.right, rect.bottom}; }

bool primaryWorkArea(MonitorRect* area) {
    RECT rect;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &rect, 0)) {
        return false;
    }
    *area = monitorRect(rect);
    return true;
}

}  // namespace

BOOL CALLBACK monitorEnumCallback(HMONITOR, HDC, LPRECT rect, LPARAM) {
    return appendMonitor(monitorRect(*rect)) ? TRUE : FALSE;
}

BOOL collectMonitors() { return EnumDisplayMonitors(nullptr, nullptr, monitorEnumCallback, 0); }

void centerDialog(HWND window) {
    RECT windowRect;
    if (!GetWindowRect(window, &windowRect)) {
        return;
    }
    MonitorRect area;
    if (!findMonitorRect(&area, 0) && !primaryWorkArea(&area)) {
        return;
    }
    // The monitor's own corner is added, so the dialog lands on monitor 0 even when that monitor
    // does not start at the virtual screen's origin.
    const WindowPosition position = centredPosition(area, monitorRect(windowRect));
    SetWindowPos(window, HWND_TOP, position.x, position.y, 0, 0, SWP_NOSIZE);
}
