#include "tests/support/scripted_host.h"

namespace {

char controls[3];  // label, file bar, overall bar: told apart by address, never dereferenced

ScriptedHost& self(void* context) { return *static_cast<ScriptedHost*>(context); }

void record(void* context, const char* call, void* control, const std::string& values) {
    const char* name = control == controls       ? "label"
                       : control == controls + 1 ? "file"
                       : control == controls + 2 ? "overall"
                                                 : "unknown";
    self(context).calls.push_back(std::string(call) + " " + name + " " + values);
}

}  // namespace

RunHost ScriptedHost::host() {
    return RunHost{
        .context = this,
        .takeControls =
            [](void* context) {
                return self(context).withControls ? RunControls{controls, controls + 1, controls + 2} : RunControls{};
            },
        .setText = [](void* context, void* control, const char* text) { record(context, "text", control, text); },
        .setRange =
            [](void* context, void* control, uint32_t low, uint32_t high) {
                record(context, "range", control, std::to_string(low) + " " + std::to_string(high));
            },
        .setPosition = [](void* context, void* control,
                          uint32_t position) { record(context, "position", control, std::to_string(position)); },
        .pumpMessages = [](void* context) -> uint32_t {
            ScriptedHost& script = self(context);
            script.calls.push_back("pump " + std::to_string(++script.pumps));
            script.abortFlag = script.abortFlag || script.pumps == script.abortAtPump;
            script.cancelFlag = script.cancelFlag || script.pumps == script.cancelAtPump;
            return script.pumps == script.quitAtPump ? 1 : 0;
        },
        .cancelFlag = [](void* context) { return self(context).cancelFlag; },
        .abortFlag = [](void* context) { return self(context).abortFlag; },
        .setCancelFlag = [](void* context) { self(context).cancelFlag = true; },
    };
}
