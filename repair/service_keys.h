/*
** Removing a service's registration from both control sets.
*/
#ifndef CLEANPHANTAXIS_SERVICE_KEYS_H
#define CLEANPHANTAXIS_SERVICE_KEYS_H

/* True when at least one of the six key deletions succeeded. */
bool DeleteServiceKeys(const char* name);
/* DeleteServiceKeys, each control set only where the service's key there
   registers `image` as its program (its ImagePath, see CommandRunsFile):
   a key of that name for another program stays whole. */
bool DeleteServiceKeysOfImage(const char* name, const char* image);
#include "actions/registry.h" // DeleteMachineKey

#endif
