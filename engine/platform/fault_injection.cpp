#ifdef VENNHOLT_FAULT_INJECTION
#include "engine/platform/fault_injection.h"

#include "engine/file_system.h"

namespace {

constexpr auto kinds = static_cast<unsigned>(FaultOperation::Count);
uint32_t counters[kinds];
struct {
    FaultOperation operation;
    uint32_t nth;
    FaultEffect effect;
} plan{FaultOperation::Open, 0, FaultEffect::None};

}  // namespace

void resetFaultCounters() {
    for (uint32_t& counter : counters) counter = 0;
}

void injectFault(FaultOperation operation, uint32_t nth, FaultEffect effect) {
    resetFaultCounters();
    plan = {operation, nth, effect};
}

void clearFaults() { plan.effect = FaultEffect::None; }

uint32_t faultOperationCount(FaultOperation operation) { return counters[static_cast<unsigned>(operation)]; }

FaultEffect nextFaultEffect(FaultOperation operation) {
    const uint32_t number = ++counters[static_cast<unsigned>(operation)];
    if (plan.effect == FaultEffect::None || plan.operation != operation || plan.nth != number) return FaultEffect::None;
    // An operation that fails gives the code of a failing disk; one that moves no bytes cannot come
    // back short, so it fails either way. A short transfer is the system's own, and fails no call.
    const bool transfer = operation == FaultOperation::Read || operation == FaultOperation::Write;
    if (plan.effect == FaultEffect::Fail || !transfer) refuse(Refusal::InjectedFault);
    return plan.effect;
}
#endif
