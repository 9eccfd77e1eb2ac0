// The code page rules on Windows follow the system's ANSI code page: its lead bytes, and the C
// runtime's multibyte lower-casing, which maps double-byte characters through the system locale.
#include <mbstring.h>
#include <windows.h>

#include "engine/code_page.h"

bool isLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

bool isSuperscriptDigit(unsigned char byte) {
    const char single = static_cast<char>(byte);
    wchar_t character = 0;
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, &single, 1, &character, 1) == 1 &&
           (character == 0x00B9 || character == 0x00B2 || character == 0x00B3);
}

void lowerCaseName(char* name) {
    if (_mbslwr(reinterpret_cast<unsigned char*>(name)) == nullptr) name[0] = '\0';
}
