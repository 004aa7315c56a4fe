# The same sources as a 64-bit Windows program: only for running the Windows tests under a 64-bit
# Wine on a Linux kernel that cannot run 32-bit code (no IA-32 emulation), where the 32-bit Wine
# cannot start. The calls are the same Win32 ones; what differs is the width of pointers and
# handles.
#   cmake -S . -B build-win32-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
