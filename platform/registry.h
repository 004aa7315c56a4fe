// The key store: HKEY_LOCAL_MACHINE with the roles and results of the Win32 registry calls the
// station and the driver change use (RegOpenKeyExA, RegCreateKeyExA, RegEnumKeyExA,
// RegQueryValueExA, RegSetValueExA, RegDeleteKeyA, RegDeleteValueA, RegCloseKey).
//
// On Linux the store is the file $TARVO_HOST/registry.reg, REGEDIT4 text as regedit writes it.
// A key handle names a key path; every operation sees the file as it is at that moment, so a
// change made meanwhile by another process (the USB simulator, a second station, a person's
// editor) is seen at once; a version of the file (the same file, size and times) is read and
// parsed once and reused while it stays that version.
// Every change is a read-modify-write under an exclusive lock on the file (an flock on
// registry.reg.lock beside it, which the rename never replaces and which is never followed as a
// link), written to a temporary file in the same folder and renamed over the old one, so a
// reader never sees half a file and no change is lost. Before the rename the writer checks that
// the file is still the version it read; when a person's edit landed meanwhile the change is
// made again on the edited file. Temporaries of writers killed before their rename are removed
// by a later writer. A file with a line the store cannot read is never rewritten: reads see what
// could be read, every write fails with RegAccessDenied. A file that is no store at all (empty,
// not beginning with the REGEDIT4 line, not a regular file, larger than 64 MiB) is never
// rewritten either, and reads see no key in it. Key and value names with a line break are
// refused (RegInvalidParameter): the file could not hold them.
//
// Results: RegOk (0) for success, otherwise the Win32 error code named below.
// Thread rule: safe from any thread; a handle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using RegKey = uint32_t;                          // an open key; 0 none
constexpr RegKey HkeyLocalMachine = 0x80000002u;  // the predefined root, never closed

constexpr int32_t RegOk = 0;               // ERROR_SUCCESS
constexpr int32_t RegNotFound = 2;         // ERROR_FILE_NOT_FOUND: no such key or value
constexpr int32_t RegAccessDenied = 5;     // ERROR_ACCESS_DENIED: the store cannot be written
constexpr int32_t RegInvalidHandle = 6;    // ERROR_INVALID_HANDLE
constexpr int32_t RegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER: a missing size or data
constexpr int32_t RegMoreData = 234;       // ERROR_MORE_DATA: the caller's buffer is too small
constexpr int32_t RegNoMoreItems = 259;    // ERROR_NO_MORE_ITEMS: enumeration past the end
constexpr int32_t RegKeyDeleted = 1018;    // ERROR_KEY_DELETED: a change to a key removed meanwhile

// Value types as the registry keeps them.
constexpr uint32_t RegTypeNone = 0;
constexpr uint32_t RegTypeSz = 1;        // REG_SZ: text with its terminating zero
constexpr uint32_t RegTypeExpandSz = 2;  // REG_EXPAND_SZ
constexpr uint32_t RegTypeBinary = 3;    // REG_BINARY
constexpr uint32_t RegTypeDword = 4;     // REG_DWORD, little-endian

// Opens an existing key (KEY_ALL_ACCESS) below an open key or HkeyLocalMachine. Names are
// matched without regard to case; an empty subKey opens the same key again.
int32_t regOpenKeyEx(RegKey parent, const std::string& subKey, RegKey* result);
// Opens a key, creating it and any missing keys above it.
int32_t regCreateKeyEx(RegKey parent, const std::string& subKey, RegKey* result);
// The name of subkey number index into name (nameChars in: the buffer's size in characters
// including the terminating zero; out: the name's length without it). RegNoMoreItems past the
// last; RegMoreData when the name does not fit.
int32_t regEnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameChars);
// A value's type and data (an empty valueName is the default value). dataBytes in: the buffer's
// size; out: the data's size. Data that does not fit gives RegMoreData and fills nothing; a null
// data pointer asks only for the size. type may be null.
int32_t regQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                        uint32_t* dataBytes);
int32_t regSetValueEx(RegKey key, const std::string& valueName, uint32_t type, const uint8_t* data,
                      uint32_t dataBytes);
int32_t regDeleteValue(RegKey key, const std::string& valueName);
// Deletes a key below an open key with all its subkeys and values, as the Windows 9x family does.
int32_t regDeleteKey(RegKey parent, const std::string& subKey);
int32_t regCloseKey(RegKey key);

// False when no change to the store could be written now (the file has a line the store cannot
// read or is no store, or its folder cannot be written): a dry run says its changes would fail.
bool regStoreWritable();

// For the command line: when the store has a line it cannot read, one sentence naming the file
// and its first such line, given once per process for that file and line; empty otherwise.
std::string regUnreadableNotice();

}  // namespace platform
