#include <windows.h>

#include "engine/file_system.h"
#include "engine/platform/fault_injection.h"

bool setAttributesNormal(const char* path) { return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != 0; }

bool moveReplacing(const char* from, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool deleteFile(const char* path) { return DeleteFileA(path) != 0; }

bool isReadOnlyFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool pathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool ownExecutablePath(char* buffer, uint32_t size) { return GetModuleFileNameA(nullptr, buffer, size) != 0; }
