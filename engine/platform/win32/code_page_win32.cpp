// The code page rules on Windows follow the system's ANSI code page: its lead bytes, and the C
// runtime's multibyte lower-casing, which maps double-byte characters through the system locale.
#include <mbstring.h>
#include <windows.h>

#include "engine/code_page.h"

bool isLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

void lowerCaseName(char* name) {
    if (_mbslwr(reinterpret_cast<unsigned char*>(name)) == nullptr) name[0] = '\0';
}
