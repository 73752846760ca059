/*
** The room's registry actions: the deletion of an autostart value and of a
** service's registration keys, and the proof each takes.
**
** The proof of a value is its key, its registry view and its name, as the
** autostart walk (repair/autostart.cpp) read them when it resolved the
** value's command to the checked file, or as it remembered them then for a
** later scan. The proof of a service's keys is the control set's key whose
** ImagePath the finder (repair/service_keys.cpp) resolved to the variant's
** image, or the service the process scan proved to run it.
*/
#ifndef CLEANPHANTAXIS_ACTIONS_REGISTRY_H
#define CLEANPHANTAXIS_ACTIONS_REGISTRY_H

#include "platform/win32.h"

/* Deletes one value; true when the deletion and the closing succeeded. */
bool DeleteRegistryValue(HKEY root, const char* subKey, const char* valueName, REGSAM view = 0);

/* True when RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) succeeded. */
bool DeleteMachineKey(const char* path);

#endif
