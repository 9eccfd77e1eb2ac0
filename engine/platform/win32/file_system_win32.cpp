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

uint32_t systemErrorCode() { return GetLastError(); }

void clearSystemErrorCode() { SetLastError(ERROR_SUCCESS); }

// Windows denies access to a folder opened or replaced as a file, so both refusals read alike.
uint32_t refusalCode(Refusal refusal) {
    constexpr DWORD codes[] = {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT};
    return codes[static_cast<unsigned>(refusal)];
}

bool refuse(Refusal refusal) {
    SetLastError(refusalCode(refusal));
    return false;
}
