/*
** The room's registry actions (see registry.h).
*/
#include "actions/registry.h"

bool DeleteRegistryValue(HKEY root, const char* subKey, const char* valueName, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return false;
    if (RegDeleteValueA(key, valueName) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    return RegCloseKey(key) == ERROR_SUCCESS;
}

bool DeleteMachineKey(const char* path) {
    return path && RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
}
