# Shared settings of both MinGW-w64 toolchains. The posix thread-model compilers are used because
# GoogleTest needs std::mutex, which the win32 thread model lacks; everything is linked statically
# so that no MinGW DLL is needed when the program runs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VENNHOLT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VENNHOLT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VENNHOLT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VENNHOLT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
