// The lower-casing rule on Windows: the C runtime's multibyte lower-casing, which follows the
// process's ANSI code page and maps double-byte characters through the system locale.
#include <mbstring.h>

#include "engine/code_page.h"

void lowerCaseName(char* name) {
    if (_mbslwr(reinterpret_cast<unsigned char*>(name)) == nullptr) name[0] = '\0';
}
