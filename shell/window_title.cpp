#include "shell/window_title.h"

#include <cstring>

char windowTitle[1024] = {};

namespace {

// "「Vennholt」 更新パッチ ver 1.01" in code page 932; the two blanks are ASCII spaces.
constexpr char title[] =
    "\x81\x75"
    "Vennholt"
    "\x81\x76"
    " "
    "\x8D\x58\x90\x56\x83\x70\x83\x62\x83\x60"
    " ver 1.01";
static_assert(sizeof title <= sizeof windowTitle);

}  // namespace

void fillWindowTitle() { std::memcpy(windowTitle, title, sizeof title); }
