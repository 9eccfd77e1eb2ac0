// Code page 932 on every system: the rules of the names inside a patch, and of the POSIX backend.
#include "engine/code_page.h"

namespace {

bool hasNoSuperscriptDigits(unsigned char) { return false; }

}  // namespace

const CodePage codePage932 = {isCodePage932LeadByte, lowerCaseCodePage932Name, hasNoSuperscriptDigits};

bool isCodePage932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

void lowerCaseCodePage932Name(char* name) {
    for (unsigned char* p = reinterpret_cast<unsigned char*>(name); *p != 0; ++p) {
        if (isCodePage932LeadByte(*p)) {
            if (p[1] == 0) return;  // a lead byte without its trail byte ends the name
            const uint16_t lower = lowerCaseDoubleByte(static_cast<uint16_t>(p[0] << 8 | p[1]));
            p[0] = static_cast<unsigned char>(lower >> 8);
            p[1] = static_cast<unsigned char>(lower);
            ++p;
        } else if (*p >= 'A' && *p <= 'Z') {
            *p = static_cast<unsigned char>(*p - 'A' + 'a');
        }
    }
}
