#pragma once
// Where patchtool build finds the updater stub when --stub is not given.

#include <string>

// The first of these places that holds a regular file: the stub installed with this patchtool
// (the installation's data folder, or beside patchtool.exe where the Windows zip was unpacked),
// then build/win32/setup.exe below the current folder (the shipping build of a source tree).
// False, with a message that names every place looked at, when none does.
bool findStub(std::string& path, std::string& error);
