#ifdef VENNHOLT_FAULT_INJECTION
#include "engine/platform/fault_injection.h"

#include "engine/file_system.h"

namespace {

constexpr auto kinds = static_cast<unsigned>(FaultOperation::Count);
uint32_t counters[kinds];
struct {
    FaultOperation operation;
    uint32_t first, last;  // the operations of that kind, counted from 1, that are affected
    FaultEffect effect;
    void (*action)(void* context);
    void* context;
} plan{FaultOperation::Open, 0, 0, FaultEffect::None, nullptr, nullptr};
struct {
    void (*watcher)(const FileChangeRecord& change, void* context);
    void* context;
} watch{nullptr, nullptr};

}  // namespace

void resetFaultCounters() {
    for (uint32_t& counter : counters) counter = 0;
}

void injectFault(FaultOperation operation, uint32_t nth, FaultEffect effect, uint32_t times) {
    resetFaultCounters();
    const uint32_t last = times > UINT32_MAX - nth ? UINT32_MAX : nth + times - 1;
    plan = {operation, nth, last, effect, nullptr, nullptr};
}

void actBeforeOperation(FaultOperation operation, uint32_t nth, void (*action)(void* context), void* context) {
    resetFaultCounters();
    plan = {operation, nth, nth, FaultEffect::None, action, context};
}

void clearFaults() {
    plan.effect = FaultEffect::None;
    plan.action = nullptr;
}

uint32_t faultOperationCount(FaultOperation operation) { return counters[static_cast<unsigned>(operation)]; }

FaultEffect nextFaultEffect(FaultOperation operation) {
    const uint32_t number = ++counters[static_cast<unsigned>(operation)];
    if (plan.operation != operation || number < plan.first || number > plan.last) return FaultEffect::None;
    if (plan.action != nullptr) {
        const auto action = plan.action;
        plan.action = nullptr;  // once, even when the action itself makes such an operation
        action(plan.context);
        return FaultEffect::None;
    }
    switch (plan.effect) {
        case FaultEffect::None:
            return FaultEffect::None;
        case FaultEffect::Held:
            refuse(Refusal::Held);
            break;
        case FaultEffect::Denied:
            refuse(Refusal::AccessDenied);
            break;
        case FaultEffect::Fail:
        case FaultEffect::Short:
            // An operation that fails gives the code of a failing disk; one that moves no bytes cannot
            // come back short, so it fails either way. A short transfer is the system's own, and fails
            // no call.
            if (plan.effect == FaultEffect::Fail ||
                (operation != FaultOperation::Read && operation != FaultOperation::Write)) {
                refuse(Refusal::InjectedFault);
            }
            break;
    }
    return plan.effect;
}

void watchFileChanges(void (*watcher)(const FileChangeRecord& change, void* context), void* context) {
    watch = {watcher, context};
}

void reportFileChange(const FileChangeRecord& change) {
    if (watch.watcher != nullptr) watch.watcher(change, watch.context);
}
#endif
