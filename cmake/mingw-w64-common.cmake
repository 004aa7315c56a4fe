# What the MinGW-w64 toolchain files share; each sets TARVO_MINGW_TRIPLE and includes this.
# Debian's compilers with the win32 thread model, every runtime library linked in, so that the exe
# needs no DLL beside it. The posix model links winpthreads, which imports functions that Windows
# before Vista lacks or only stubs; the program's threads are its own (platform/threads.h).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TARVO_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${TARVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without -static the exe wants libstdc++-6.dll and libgcc's DLL beside it (Wine then ends with
# status 53 and prints nothing).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The test framework is built from Debian's googletest sources with this compiler.
set(TARVO_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "googletest sources to build the tests with")
