// Three wide-character calls that the compiler's runtime makes (the lock of libgcc and its
// unwinder, the C runtime's look-ups of its own DLLs), given an ANSI body here. The 95/98/Me family
// exports them but does not implement them: they fail there, and a failed semaphore would make
// the first contended lock of a static object end the program. Every name these callers pass is
// ASCII (a DLL's file name) or absent, so the ANSI call does the same on every Windows.
// Compiled into each Windows executable itself, not into a library: the runtime libraries are
// linked after the program's own objects and find these import slots already filled, so the
// system's stubs are never imported (scripts/check-win32-imports.sh reads the result).
// Thread rule: none of its own; each call is as thread-safe as the ANSI call it makes.
#include <windows.h>

#include <string>

namespace {

// The wide name as ANSI, or an empty string for none.
std::string narrow(LPCWSTR name)
{
    std::string text;
    for (; name != nullptr && *name != 0; ++name) {
        text.push_back(*name < 0x80 ? static_cast<char>(*name) : '?');
    }
    return text;
}

HANDLE WINAPI createSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum, LPCWSTR name)
{
    return CreateSemaphoreA(security, initial, maximum, name == nullptr ? nullptr : narrow(name).c_str());
}

HMODULE WINAPI getModuleHandleW(LPCWSTR name)
{
    return GetModuleHandleA(name == nullptr ? nullptr : narrow(name).c_str());
}

HMODULE WINAPI loadLibraryW(LPCWSTR name)
{
    return LoadLibraryA(narrow(name).c_str());
}

}  // namespace

// The import slots, under the names the linker gives them on each architecture.
#ifdef _WIN64
#define TARVO_IMPORT_SLOT(function, bytes) "__imp_" #function
#else
#define TARVO_IMPORT_SLOT(function, bytes) "__imp__" #function "@" #bytes
#endif

extern "C" {
__attribute__((used)) void* createSemaphoreWSlot asm(TARVO_IMPORT_SLOT(CreateSemaphoreW, 16)) =
    reinterpret_cast<void*>(&createSemaphoreW);
__attribute__((used)) void* getModuleHandleWSlot asm(TARVO_IMPORT_SLOT(GetModuleHandleW, 4)) =
    reinterpret_cast<void*>(&getModuleHandleW);
__attribute__((used)) void* loadLibraryWSlot asm(TARVO_IMPORT_SLOT(LoadLibraryW, 4)) =
    reinterpret_cast<void*>(&loadLibraryW);
}
