/*
** Removing a service's registration from the control sets.
*/
#ifndef CLEANPHANTAXIS_SERVICE_KEYS_H
#define CLEANPHANTAXIS_SERVICE_KEYS_H

#include "engine/file_identity.h"

/* DeleteServiceKeysOfImage for the file the file check last proved a
   variant (g_scan.provedVariant): nothing goes by the service's name alone,
   nor before any match. */
bool DeleteServiceKeys(const char* name);
/* The three deletions in every control set of the machine (each
   ControlSetNNN, and always the current one) whose key for the service
   registers `image` as its program (its ImagePath, see
   ServiceCommandRunsFile): a key of that name for another program stays
   whole. True when at least one deletion succeeded. */
bool DeleteServiceKeysOfImage(const char* name, const char* image);
/* The same for the image a listing proved by its identity on drive `drive`:
   a key's ImagePath registers it only where the file it names is that file
   (see CommandImage), whatever the image's path names by now. */
bool DeleteServiceKeysOfImage(const char* name, char drive, const FileId& image);
#include "actions/registry.h" // DeleteMachineKey

#endif
