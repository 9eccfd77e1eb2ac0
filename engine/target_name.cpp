#include "engine/target_name.h"

#include <cstring>

#include "engine/code_page.h"
#include "engine/text_join.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Single-byte characters Windows never allows in a name: a ":" names a stream of another file or a
// drive, and the others are wildcards, redirections or control characters.
bool isForbiddenCharacter(unsigned char c) { return c < 0x20 || std::strchr(":<>\"|?*", c) != nullptr; }

// True when the component of `length` bytes names a device whatever its extension, as Windows
// matches device names: the part before the first "." with any spaces at its end dropped, in any
// case, is CON, PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT followed by a digit (0 to 9, or on a
// code page that has them the superscript digits one, two and three).
bool isDeviceName(const char* component, size_t length, const CodePage& codePage) {
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    if (base < 3 || base > 7) return false;
    char upper[7];
    for (size_t i = 0; i < base; ++i) {
        upper[i] = component[i] >= 'a' && component[i] <= 'z' ? static_cast<char>(component[i] - 32) : component[i];
    }
    const auto is = [&](const char* device) {
        return std::strlen(device) == base && std::memcmp(upper, device, base) == 0;
    };
    if (base == 4 && (std::memcmp(upper, "COM", 3) == 0 || std::memcmp(upper, "LPT", 3) == 0)) {
        const auto digit = static_cast<unsigned char>(upper[3]);
        return (digit >= '0' && digit <= '9') || codePage.isSuperscriptDigit(digit);
    }
    return is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$");
}

}  // namespace

bool isSafeTargetName(const char* name, const CodePage& codePage) {
    const char* component = name;
    bool endsInDotOrSpace = false;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || isSeparator(*p)) {
            // Windows strips a trailing "." or space, so such a component names another file;
            // this also refuses the empty, "." and ".." components.
            const size_t length = static_cast<size_t>(p - component);
            if (length == 0 || endsInDotOrSpace || isDeviceName(component, length, codePage)) return false;
            if (*p == '\0') return true;
            component = p + 1;
        } else if (codePage.isLeadByte(static_cast<unsigned char>(*p))) {
            // Half a double-byte character: appending ".tmp" would make its "." the trail byte,
            // and the uninstall list could not hold the name.
            if (p[1] == '\0') return false;
            ++p;
            endsInDotOrSpace = false;
        } else {
            if (isForbiddenCharacter(static_cast<unsigned char>(*p))) return false;
            endsInDotOrSpace = *p == '.' || *p == ' ';
        }
    }
}

bool foldTargetName(char* folded, uint32_t size, const char* name, const char* suffix, const CodePage& codePage) {
    if (!joinText(folded, size, {name, suffix})) return false;
    codePage.lowerCaseName(folded);
    for (char* p = folded; *p != '\0'; ++p) {
        if (*p == '/') *p = '\\';
        if (codePage.isLeadByte(static_cast<unsigned char>(*p)) && *++p == '\0') break;
    }
    return true;
}

uint32_t componentLength(const char* name, const CodePage& codePage) {
    const char* p = name;
    while (*p != '\0' && !isSeparator(*p))
        p += codePage.isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0' ? 2 : 1;
    return static_cast<uint32_t>(p - name);
}

const char* lastComponent(const char* name, const CodePage& codePage) {
    const char* last = name;
    for (const char* p = name; p[componentLength(p, codePage)] != '\0';) {
        p += componentLength(p, codePage) + 1;
        last = p;
    }
    return last;
}

bool composePath(char* buffer, uint32_t size, const char* folder, const char* name, const char* suffix) {
    return joinText(buffer, size, {folder, "\\", name, suffix});
}
