// patchtool on Windows: file calls of the C runtime and Win32, name conversions through the
// system's code page tables, and the ANSI code page on the command line.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"

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

bool isTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void setBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool regularFileSize(std::FILE* stream, uint64_t& size) {
    struct _stat64 status {};
    if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

std::FILE* createExclusiveFile(const std::string& path) {
    const int descriptor = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        _unlink(path.c_str());
    }
    return stream;
}

unsigned processId() { return static_cast<unsigned>(_getpid()); }

bool syncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }

bool isReplaceableDestination(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool moveOver(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

std::string ownExecutableFolder() {
    // The name comes back cut to the buffer, filling it, when the buffer is too small.
    for (std::string path(MAX_PATH, '\0'); path.size() <= 32768; path.resize(path.size() * 2)) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            return std::filesystem::path(path).parent_path().string();
        }
    }
    return std::string();
}

std::string describeSystemError(uint32_t code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string described = length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
    while (!described.empty() && (described.back() == '\n' || described.back() == '\r' || described.back() == '.')) {
        described.pop_back();
    }
    if (!described.empty()) described[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(described[0])));
    return described;
}

bool isCommandLineLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
