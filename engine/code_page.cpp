#include "engine/code_page.h"

const char* findCharacter(const char* text, char wanted) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == wanted) return p;
        if (isLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0') return nullptr;
            ++p;
        }
    }
    return nullptr;
}

const char* findCharacter(const char* text, size_t length, char wanted) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == wanted) return text + i;
        if (isLeadByte(static_cast<unsigned char>(text[i]))) ++i;
    }
    return nullptr;
}

const CodePage systemCodePage = {isLeadByte, lowerCaseName, isSuperscriptDigit};

bool nameEqualsLowerKey(const char* name, const char* lowerKey, const CodePage& codePage) {
    char work[260];
    size_t length = 0;
    while (length < sizeof work - 1 && name[length] != '\0') ++length;
    // A name that does not fit the work buffer cannot equal a key that does.
    if (name[length] != '\0') return false;
    for (size_t i = 0; i <= length; ++i) work[i] = name[i];
    codePage.lowerCaseName(work);
    for (size_t i = 0;; ++i) {
        if (work[i] != lowerKey[i]) return false;
        if (work[i] == '\0') return true;
    }
}
