#include "tools/patchtool/progress_line.h"

#include <cstdio>

#include "tools/patchtool/platform.h"

ProgressLine::ProgressLine(const char* command) : command_(command), shown_(isTerminal(stderr)) {}

void ProgressLine::show(size_t done, size_t total, const std::string& what) {
    if (!shown_) return;
    std::fprintf(stderr, "\rpatchtool: %s: %zu of %zu: %s\x1b[K", command_, done + 1, total, what.c_str());
    std::fflush(stderr);
    open_ = true;
}

void ProgressLine::clear() {
    if (!open_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    open_ = false;
}
