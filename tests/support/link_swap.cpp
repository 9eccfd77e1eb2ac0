#include "tests/support/link_swap.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

namespace {

// Wine's own exports: a Unix program started from a Windows one, and the Unix name of a path.
using UnixSpawn = int (*)(char* const arguments[], int wait);
using UnixFileName = char* (*)(const wchar_t* name);

template <typename Function>
Function wineExport(const char* module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
}

std::string unixName(const std::string& path) {
    wchar_t wide[MAX_PATH * 2];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2);
    char* name = wineExport<UnixFileName>("kernel32.dll", "wine_get_unix_file_name")(wide);
    if (name == nullptr) throw std::runtime_error("no Unix name for " + path);
    const std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

void shell(const char* script, const std::string& path, const std::string& target) {
    std::string unixPath = unixName(path), unixTarget = target.empty() ? "" : unixName(target);
    char* arguments[] = {const_cast<char*>("/bin/sh"),
                         const_cast<char*>("-c"),
                         const_cast<char*>(script),
                         const_cast<char*>("sh"),
                         unixPath.data(),
                         unixTarget.data(),
                         nullptr};
    if (wineExport<UnixSpawn>("ntdll.dll", "__wine_unix_spawnvp")(arguments, 1) != 0) {
        throw std::runtime_error(std::string("the shell failed: ") + script);
    }
}

}  // namespace

bool canSwapForLinks() { return wineExport<UnixSpawn>("ntdll.dll", "__wine_unix_spawnvp") != nullptr; }
#else
#include <stdlib.h>

#include <cstdlib>

namespace {

void shell(const char* script, const std::string& path, const std::string& target) {
    setenv("VENNHOLT_SWAP_PATH", path.c_str(), 1);
    setenv("VENNHOLT_SWAP_TARGET", target.c_str(), 1);
    const std::string command = std::string("set -- \"$VENNHOLT_SWAP_PATH\" \"$VENNHOLT_SWAP_TARGET\"; ") + script;
    if (std::system(command.c_str()) != 0) throw std::runtime_error(std::string("the shell failed: ") + script);
}

}  // namespace

bool canSwapForLinks() { return true; }
#endif

void swapForLink(const std::string& path, const std::string& target) {
    shell("if [ -e \"$1\" ] || [ -L \"$1\" ]; then mv -T \"$1\" \"$1.swapped\"; fi; ln -s \"$2\" \"$1\"", path, target);
}

void undoSwap(const std::string& path) {
    shell(
        "if [ -L \"$1\" ]; then rm \"$1\"; if [ -e \"$1.swapped\" ]; then mv -T \"$1.swapped\" \"$1\"; fi;"
        " else rm -rf \"$1.swapped\"; fi",
        path, "");
}
