// patchtool on Windows: UTF-16 file calls of the C runtime and Win32 on UTF-8 paths, name
// conversions through the system's code page tables, and the command line taken as UTF-16.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"

namespace {

// `text` from code page `from` to UTF-16; none when a byte is no character of it.
std::optional<std::wstring> toWide(UINT from, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wideLength <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), wideLength);
    return wide;
}

// UTF-16 in code page `to`; none when a character has no exact form there (no best-fit substitutes:
// a yen sign must not turn into a backslash). UTF-8 holds every character but half a surrogate pair.
std::optional<std::string> fromWide(UINT to, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int wideLength = static_cast<int>(wide.size());
    const DWORD flags = to == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* substituted = to == CP_UTF8 ? nullptr : &usedDefault;
    const int length = WideCharToMultiByte(to, flags, wide.data(), wideLength, nullptr, 0, nullptr, substituted);
    if (length <= 0 || usedDefault) return std::nullopt;
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(to, flags, wide.data(), wideLength, text.data(), length, nullptr, substituted);
    if (usedDefault) return std::nullopt;
    return text;
}

std::wstring widePath(const std::string& utf8) { return toWide(CP_UTF8, utf8).value_or(L""); }

// The console's output code page before patchtool set it to UTF-8; 0 while it is unchanged.
UINT consoleCodePageBefore = 0;

void restoreConsoleCodePage() {
    if (consoleCodePageBefore == 0) return;
    SetConsoleOutputCP(consoleCodePageBefore);
    consoleCodePageBefore = 0;
}

// At exit: what is still buffered goes out while the console still reads UTF-8, then the code page
// goes back (the C runtime would flush the streams only after this).
void restoreConsoleAtExit() {
    std::fflush(nullptr);
    restoreConsoleCodePage();
}

// Ctrl-C or a closed console, where no command stops the run itself: the code page goes back, and
// the next handler (the system's) ends the process.
BOOL WINAPI restoreConsoleOnSignal(DWORD) {
    restoreConsoleCodePage();
    return FALSE;
}

// The path the system holds for an open file or folder, in its DOS form.
std::filesystem::path finalPathOfHandle(HANDLE handle, std::error_code& failure) {
    failure.clear();
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = 0;
    // The length needed, the closing zero included, comes back when the buffer is too small.
    for (int attempt = 0; attempt < 2; ++attempt) {
        length = GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < final.size()) break;
        final.resize(length);
    }
    if (length == 0 || length >= final.size()) {
        failure = std::error_code(static_cast<int>(GetLastError()), std::system_category());
        return {};
    }
    final.resize(length);
    // \\?\C:\x is C:\x, and \\?\UNC\server\share is \\server\share.
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + final.substr(7);
    if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
    return final;
}

}  // namespace

std::optional<std::string> utf8ToCodePage932(const std::string& name) {
    const std::optional<std::wstring> wide = toWide(CP_UTF8, name);
    return wide ? fromWide(932, *wide) : std::nullopt;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(fromWide(CP_UTF8, wide[i]).value_or(""));
    LocalFree(wide);
    return arguments;
}

std::filesystem::path fileSystemPath(const std::string& utf8) { return widePath(utf8); }

bool utf8Path(const std::filesystem::path& path, std::string& utf8) {
    const std::optional<std::string> converted = fromWide(CP_UTF8, path.native());
    if (converted) utf8 = *converted;
    return converted.has_value();
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(widePath(path).c_str(), widePath(mode).c_str());
}

bool removeFile(const std::string& path) { return _wremove(widePath(path).c_str()) == 0; }

std::optional<std::string> engineFilePath(const std::string& path) {
    const std::optional<std::wstring> wide = toWide(CP_UTF8, path);
    return wide ? fromWide(CP_ACP, *wide) : std::nullopt;
}

std::optional<std::string> engineFolderPath(const std::string& folder) { return engineFilePath(folder); }

uint32_t decodeDoubleByteCharacter(uint8_t lead, uint8_t trail) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t wide[2] = {};
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, wide, 2) != 1) return 0;
    return static_cast<uint16_t>(wide[0]);
}

void useUtf8Console() {
    const UINT before = GetConsoleOutputCP();  // 0 without a console
    if (before == 0 || before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    consoleCodePageBefore = before;
    std::atexit(restoreConsoleAtExit);
    SetConsoleCtrlHandler(restoreConsoleOnSignal, TRUE);
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
    const int descriptor =
        _wopen(widePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        removeFile(path);
    }
    return stream;
}

unsigned processId() { return static_cast<unsigned>(_getpid()); }

bool syncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }

std::filesystem::path finalPath(const std::filesystem::path& path, std::error_code& failure) {
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        failure = missing ? std::make_error_code(std::errc::no_such_file_or_directory)
                          : std::error_code(static_cast<int>(code), std::system_category());
        return {};
    }
    std::filesystem::path final = finalPathOfHandle(handle, failure);
    CloseHandle(handle);
    return final;
}

std::filesystem::path finalPathOfOpenFile(std::FILE* stream, std::error_code& failure) {
    return finalPathOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), failure);
}

bool isReplaceableDestination(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool moveOver(const std::string& from, const std::string& to) {
    if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

std::string ownExecutableFolder() {
    // The name comes back cut to the buffer, filling it, when the buffer is too small.
    for (std::wstring path(MAX_PATH, L'\0'); path.size() <= 32768; path.resize(path.size() * 2)) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            std::string folder;
            return utf8Path(std::filesystem::path(path).parent_path(), folder) ? folder : std::string();
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
