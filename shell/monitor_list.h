#pragma once
// The display monitors' rectangles, numbered from 0 in the order the platform reports them. The
// progress dialog is centred on monitor 0. Process-wide: filled once after the dialog is created,
// freed once after the outcome message. Holds no platform types, so it is tested natively too.

#include <cstdint>

// A rectangle in virtual-screen coordinates; right and bottom lie just outside it.
struct MonitorRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

struct MonitorNode {
    uint32_t index;  // 0 for the first monitor, otherwise the index of the node before it plus 1
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    MonitorNode* next;  // null at the tail
};

// Head and tail of the process-wide list; both null while it is empty.
extern MonitorNode* monitorHead;
extern MonitorNode* monitorTail;

// Appends one monitor at the tail with the next index. False when no memory was left for the node
// (the list is then unchanged).
bool appendMonitor(const MonitorRect& rect);

// Copies the rectangle of the monitor with that index; false when there is none.
bool findMonitorRect(MonitorRect* rect, uint32_t index);

// Frees every node; head and tail are null afterwards.
void freeMonitors();
