#include "shell/monitor_list.h"

#include <new>

MonitorNode* monitorHead = nullptr;
MonitorNode* monitorTail = nullptr;

bool appendMonitor(const MonitorRect& rect) {
    MonitorNode* node = new (std::nothrow) MonitorNode{0, rect.left, rect.top, rect.right, rect.bottom, nullptr};
    if (node == nullptr) {
        return false;
    }
    if (monitorTail == nullptr) {
        monitorHead = node;
    } else {
        node->index = monitorTail->index + 1;
        monitorTail->next = node;
    }
    monitorTail = node;
    return true;
}

bool findMonitorRect(MonitorRect* rect, uint32_t index) {
    for (const MonitorNode* node = monitorHead; node != nullptr; node = node->next) {
        if (node->index == index) {
            *rect = MonitorRect{node->left, node->top, node->right, node->bottom};
            return true;
        }
    }
    return false;
}

void freeMonitors() {
    while (monitorHead != nullptr) {
        MonitorNode* node = monitorHead;
        monitorHead = node->next;
        delete node;
    }
    monitorTail = nullptr;
}
