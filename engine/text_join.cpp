#include "engine/text_join.h"

#include <cstring>

bool joinText(char* buffer, uint32_t size, std::initializer_list<const char*> parts) {
    if (size == 0) return false;
    uint32_t used = 0;
    for (const char* part : parts) {
        const size_t length = std::strlen(part);
        if (length >= size - used) {
            buffer[0] = '\0';
            return false;
        }
        std::memcpy(buffer + used, part, length);
        used += static_cast<uint32_t>(length);
    }
    buffer[used] = '\0';
    return true;
}
