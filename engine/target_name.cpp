#include "engine/target_name.h"

#include <cstring>

#include "engine/code_page.h"
#include "engine/text_join.h"

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool isSafeTargetName(const char* name) {
    if (name[0] == '\0' || isSeparator(name[0])) return false;
    if (!isLeadByte(static_cast<unsigned char>(name[0])) && name[1] == ':') return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || isSeparator(*p)) {
            const size_t length = static_cast<size_t>(p - component);
            if (length == 0) return false;
            if (length <= 2 && std::strncmp(component, "..", length) == 0) return false;
            if (*p == '\0') return true;
            component = p + 1;
        } else if (isLeadByte(static_cast<unsigned char>(*p))) {
            // Half a double-byte character: appending ".tmp" would make its "." the trail byte,
            // and the uninstall list could not hold the name.
            if (p[1] == '\0') return false;
            ++p;
        }
    }
}

bool composePath(char* buffer, uint32_t size, const char* folder, const char* name, const char* suffix) {
    return joinText(buffer, size, {folder, "\\", name, suffix});
}
