#include "tools/patchtool/terminal_host.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"

namespace {

// "をインストール中", the end of the run's label text in code page 932.
constexpr char labelSuffix[] = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";

volatile std::sig_atomic_t interrupted = 0;
void (*previousHandler)(int) = SIG_DFL;

void onInterrupt(int) { interrupted = 1; }

char labelControl, fileBarControl, overallBarControl;

TerminalProgress& progressOf(void* context) { return *static_cast<TerminalProgress*>(context); }

void draw(const TerminalProgress& progress) {
    const unsigned percent =
        progress.fileHigh == 0 ? 0 : static_cast<unsigned>(uint64_t{progress.filePosition} * 100 / progress.fileHigh);
    std::fprintf(stderr, "\r\033[K%s  %3u%%  (%u/%u files)", progress.file.c_str(), percent, progress.overallPosition,
                 progress.overallHigh);
    std::fflush(stderr);
}

}  // namespace

RunHost beginTerminalRun(TerminalProgress& progress) {
    progress.shown = isTerminal(stderr);
    interrupted = 0;
    previousHandler = std::signal(SIGINT, onInterrupt);

    RunHost host{};
    host.context = &progress;
    host.takeControls = [](void* context) {
        return progressOf(context).shown ? RunControls{&labelControl, &fileBarControl, &overallBarControl}
                                         : RunControls{nullptr, nullptr, nullptr};
    };
    host.setText = [](void* context, void*, const char* text) {
        TerminalProgress& progress = progressOf(context);
        size_t length = std::strlen(text);
        const size_t suffix = sizeof labelSuffix - 1;
        if (length >= suffix && std::memcmp(text + length - suffix, labelSuffix, suffix) == 0) length -= suffix;
        progress.file = codePage932ToUtf8(text, length);
        progress.lineOpen = true;
        draw(progress);
    };
    host.setRange = [](void* context, void* control, uint32_t, uint32_t high) {
        TerminalProgress& progress = progressOf(context);
        (control == &fileBarControl ? progress.fileHigh : progress.overallHigh) = high;
    };
    host.setPosition = [](void* context, void* control, uint32_t position) {
        TerminalProgress& progress = progressOf(context);
        (control == &fileBarControl ? progress.filePosition : progress.overallPosition) = position;
        if (progress.lineOpen) draw(progress);
    };
    host.pumpMessages = [](void*) -> uint32_t { return 0; };
    host.cancelFlag = [](void*) { return interrupted != 0; };
    host.abortFlag = [](void*) { return false; };
    host.setCancelFlag = [](void*) { interrupted = 1; };
    return host;
}

void endTerminalRun(TerminalProgress& progress) {
    if (progress.lineOpen) std::fputs("\r\033[K", stderr);
    progress.lineOpen = false;
    std::signal(SIGINT, previousHandler);
}
