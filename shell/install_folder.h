#pragma once
// Where the game is installed, as its installer recorded it in the registry.

#include <cstdint>

// The size of the install-folder buffer: the whole of it receives the registry value.
inline constexpr uint32_t installFolderSize = 260;

// Reads HKEY_LOCAL_MACHINE\Software\<brand>\<product>, value "InstalledFolder", into folder (a
// buffer of installFolderSize bytes). True only for a value of type REG_SZ that fits the buffer with
// its terminating zero and is not empty. A missing key or value, a longer value, one of any other
// type (REG_EXPAND_SZ included) or a null brand or product gives false.
bool findInstallFolder(char* folder, const char* brand, const char* product);
