// Name conversions on Windows through the system's code page tables, with the ANSI code page on
// the command line.
#include <windows.h>

#include "tools/patchtool/name_encoding.h"

std::optional<std::string> commandLineNameToCodePage932(const std::string& name) {
    if (name.empty()) return std::string();
    const int length = static_cast<int>(name.size());
    const int wideLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
    if (wideLength <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, wide.data(), wideLength);
    BOOL usedDefault = FALSE;
    const int encodedLength =
        WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr, &usedDefault);
    if (encodedLength <= 0 || usedDefault) return std::nullopt;
    std::string encoded(static_cast<size_t>(encodedLength), '\0');
    WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, encoded.data(), encodedLength, nullptr,
                        &usedDefault);
    if (usedDefault) return std::nullopt;
    return encoded;
}

uint32_t decodeDoubleByteCharacter(uint8_t lead, uint8_t trail) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t wide[2] = {};
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, wide, 2) != 1) return 0;
    return static_cast<uint16_t>(wide[0]);
}
