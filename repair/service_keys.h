/*
** Removing a service's registration from both control sets.
*/
#ifndef CLEANPHANTAXIS_SERVICE_KEYS_H
#define CLEANPHANTAXIS_SERVICE_KEYS_H

/* True when at least one of the six key deletions succeeded. */
bool DeleteServiceKeys(const char* name);
/* True when RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) succeeded. */
bool DeleteMachineKey(const char* path);

#endif
