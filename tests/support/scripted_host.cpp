#include "tests/support/scripted_host.h"

namespace {

// The controls are told apart by these addresses; they are never dereferenced.
char labelControl, fileBarControl, overallBarControl;

ScriptedHost& self(void* context) { return *static_cast<ScriptedHost*>(context); }

std::string controlName(void* control) {
    if (control == &labelControl) return "label";
    if (control == &fileBarControl) return "file";
    if (control == &overallBarControl) return "overall";
    return "unknown";
}

}  // namespace

RunHost ScriptedHost::host() {
    RunHost result{};
    result.context = this;
    result.takeControls = [](void* context) {
        return self(context).withControls ? RunControls{&labelControl, &fileBarControl, &overallBarControl}
                                          : RunControls{nullptr, nullptr, nullptr};
    };
    result.setText = [](void* context, void* control, const char* text) {
        self(context).calls.push_back("text " + controlName(control) + " " + text);
    };
    result.setRange = [](void* context, void* control, uint32_t low, uint32_t high) {
        self(context).calls.push_back("range " + controlName(control) + " " + std::to_string(low) + " " +
                                      std::to_string(high));
    };
    result.setPosition = [](void* context, void* control, uint32_t position) {
        self(context).calls.push_back("position " + controlName(control) + " " + std::to_string(position));
    };
    result.pumpMessages = [](void* context) -> uint32_t {
        ScriptedHost& host = self(context);
        ++host.pumps;
        host.calls.push_back("pump " + std::to_string(host.pumps));
        if (host.pumps == host.abortAtPump) host.abortFlag = true;
        if (host.pumps == host.cancelAtPump) host.cancelFlag = true;
        return host.pumps == host.quitAtPump ? 1 : 0;
    };
    result.cancelFlag = [](void* context) { return self(context).cancelFlag; };
    result.abortFlag = [](void* context) { return self(context).abortFlag; };
    result.setCancelFlag = [](void* context) { self(context).cancelFlag = true; };
    return result;
}

std::vector<std::string> ScriptedHost::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& call : calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) matching.push_back(call);
    }
    return matching;
}
