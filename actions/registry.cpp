/*
** The room's registry actions (see registry.h).
*/
#include "actions/registry.h"

bool DeleteRegistryValue(const AutostartValue& value) {
    HKEY key;
    if (RegOpenKeyExA(value.Root(), value.SubKey(), 0, KEY_ALL_ACCESS | value.View(), &key) !=
        ERROR_SUCCESS)
        return false;
    if (RegDeleteValueA(key, value.Name()) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    return RegCloseKey(key) == ERROR_SUCCESS;
}

bool DeleteMachineKey(const ServiceKey& key) {
    return key.Path() && RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.Path()) == ERROR_SUCCESS;
}
