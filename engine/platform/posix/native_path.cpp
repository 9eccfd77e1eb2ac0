#include "engine/platform/posix/native_path.h"

#include "engine/code_page.h"

std::string toNativePath(const char* enginePath) {
    std::string path(enginePath);
    for (size_t i = 0; i < path.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(path[i]))) {
            ++i;
        } else if (path[i] == '\\') {
            path[i] = '/';
        }
    }
    return path;
}
