/*
** A string value of the registry read whole (registry_value.h).
*/
#include "platform/registry_value.h"

#include <stdlib.h>

static bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

bool ReadRegistryString(HKEY root, const char* subKey, const char* valueName, char** data,
                        REGSAM view, DWORD limit, DWORD* type) {
    *data = nullptr;
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0, kind = REG_NONE;
    char* buffer = nullptr;
    bool read = RegQueryValueExA(key, valueName, nullptr, &kind, nullptr, &size) == ERROR_SUCCESS &&
                IsStringType(kind) && size < limit &&
                (buffer = (char*)malloc((size_t)size + 1)) != nullptr;
    if (read) {
        DWORD got = size;
        read = RegQueryValueExA(key, valueName, nullptr, &kind, (LPBYTE)buffer, &got) ==
                   ERROR_SUCCESS &&
               got <= size && IsStringType(kind);
        if (read) buffer[got] = 0;
    }
    if (RegCloseKey(key) != ERROR_SUCCESS) read = false;
    if (!read) {
        free(buffer);
        return false;
    }
    if (type) *type = kind;
    *data = buffer;
    return true;
}
