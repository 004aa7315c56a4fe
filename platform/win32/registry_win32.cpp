// The key store on Windows: the real registry below HKEY_LOCAL_MACHINE. The program's key
// handles are 32-bit numbers (as HKEYs are on the machines the program is for); a table maps them
// to the registry's own handles, which are wider in a 64-bit build. Deleting a key takes its
// subkeys with it, as RegDeleteKeyA does on the 9x family: the NT family refuses a key that has
// subkeys, so they are deleted first, deepest first.
#include <windows.h>

#include <map>

#include "platform/registry.h"
#include "platform/threads.h"

namespace platform {

namespace {

Mutex tableMutex;
std::map<RegKey, HKEY> openKeys;
RegKey nextKey = 1;

constexpr DWORD LongestKeyNameChars = 256;  // 255 characters and the terminating zero

// The registry's handle for a key of ours; null when it is none.
HKEY systemKey(RegKey key)
{
    if (key == HkeyLocalMachine) {
        return HKEY_LOCAL_MACHINE;
    }
    std::lock_guard<Mutex> lock(tableMutex);
    auto it = openKeys.find(key);
    return it == openKeys.end() ? nullptr : it->second;
}

RegKey remember(HKEY key)
{
    std::lock_guard<Mutex> lock(tableMutex);
    while (nextKey == 0 || nextKey == HkeyLocalMachine || openKeys.count(nextKey) != 0) {
        ++nextKey;
    }
    RegKey ours = nextKey++;
    openKeys[ours] = key;
    return ours;
}

// Deletes every subkey of key, each with its own subkeys first.
LONG deleteSubkeys(HKEY key)
{
    char name[LongestKeyNameChars];
    for (;;) {
        DWORD chars = sizeof name;
        LONG r = RegEnumKeyExA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (r != ERROR_SUCCESS) {
            return r;
        }
        HKEY child = nullptr;
        r = RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &child);
        if (r != ERROR_SUCCESS) {
            return r;
        }
        r = deleteSubkeys(child);
        RegCloseKey(child);
        if (r == ERROR_SUCCESS) {
            r = RegDeleteKeyA(key, name);
        }
        if (r != ERROR_SUCCESS) {
            return r;
        }
    }
}

}  // namespace

int32_t regOpenKeyEx(RegKey parent, const std::string& subKey, RegKey* result)
{
    HKEY base = systemKey(parent);
    if (!base) {
        return RegInvalidHandle;
    }
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(base, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (r == ERROR_SUCCESS) {
        *result = remember(key);
    }
    return r;
}

int32_t regCreateKeyEx(RegKey parent, const std::string& subKey, RegKey* result)
{
    HKEY base = systemKey(parent);
    if (!base) {
        return RegInvalidHandle;
    }
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(base, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr);
    if (r == ERROR_SUCCESS) {
        *result = remember(key);
    }
    return r;
}

int32_t regEnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameChars)
{
    HKEY k = systemKey(key);
    if (!k) {
        return RegInvalidHandle;
    }
    if (!name || !nameChars) {
        return RegInvalidParameter;
    }
    DWORD chars = *nameChars;
    LONG r = RegEnumKeyExA(k, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_SUCCESS) {
        *nameChars = chars;
    }
    return r;
}

int32_t regQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                        uint32_t* dataBytes)
{
    HKEY k = systemKey(key);
    if (!k) {
        return RegInvalidHandle;
    }
    if (!dataBytes) {
        return data ? RegInvalidParameter : static_cast<int32_t>(
            RegQueryValueExA(k, valueName.c_str(), nullptr, reinterpret_cast<DWORD*>(type), nullptr, nullptr));
    }
    DWORD valueType = 0;
    DWORD bytes = *dataBytes;
    LONG r = RegQueryValueExA(k, valueName.c_str(), nullptr, &valueType, data, &bytes);
    if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
        *dataBytes = bytes;
        if (type) {
            *type = valueType;
        }
    }
    return r;
}

int32_t regSetValueEx(RegKey key, const std::string& valueName, uint32_t type, const uint8_t* data,
                      uint32_t dataBytes)
{
    HKEY k = systemKey(key);
    if (!k) {
        return RegInvalidHandle;
    }
    return RegSetValueExA(k, valueName.c_str(), 0, type, data, dataBytes);
}

int32_t regDeleteValue(RegKey key, const std::string& valueName)
{
    HKEY k = systemKey(key);
    if (!k) {
        return RegInvalidHandle;
    }
    return RegDeleteValueA(k, valueName.c_str());
}

int32_t regDeleteKey(RegKey parent, const std::string& subKey)
{
    HKEY base = systemKey(parent);
    if (!base) {
        return RegInvalidHandle;
    }
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(base, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    r = deleteSubkeys(key);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? RegDeleteKeyA(base, subKey.c_str()) : r;
}

int32_t regCloseKey(RegKey key)
{
    if (key == HkeyLocalMachine) {
        return RegOk;
    }
    HKEY k = nullptr;
    {
        std::lock_guard<Mutex> lock(tableMutex);
        auto it = openKeys.find(key);
        if (it == openKeys.end()) {
            return RegInvalidHandle;
        }
        k = it->second;
        openKeys.erase(it);
    }
    return RegCloseKey(k);
}

// The real registry has no lines to misread.
bool regStoreWritable() { return true; }  // the registry's own rights are asked by each change

std::string regUnreadableNotice() { return std::string(); }

}  // namespace platform
