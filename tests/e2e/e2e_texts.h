#pragma once
// Texts the end-to-end programs share, written here in UTF-8 and turned into the code page 932 bytes
// that the updater's ANSI calls use by the platform's own conversion, so that the expected bytes do
// not come from the code under test.

#include <windows.h>

#include <string>

// The updater's window title: the caption of the progress dialog and of every message box.
inline constexpr const char* windowTitleUtf8 = "「Vennholt」 更新パッチ ver 1.01";

// Code page 932 bytes of a UTF-8 text; empty when either conversion fails.
inline std::string cp932(const std::string& utf8) {
    const int wideLength =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
    const int length = WideCharToMultiByte(932, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(932, 0, wide.data(), wideLength, bytes.data(), length, nullptr, nullptr);
    return bytes;
}
