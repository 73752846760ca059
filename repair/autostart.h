/*
** Registry autostart cleanup at every detection: the hosts file check, then
** the machine-wide Run and RunServices values that start the infected file.
*/
#ifndef CLEANPHANTAXIS_AUTOSTART_H
#define CLEANPHANTAXIS_AUTOSTART_H

#include "engine/file_identity.h"
#include "platform/win32.h"
#include <stdint.h>

#define AUTOSTART_RUN_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
#define AUTOSTART_RUNSERVICES_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"

/* Hosts file check, then the Run and RunServices values naming the file in
   g_scan.currentFile, in both registry views under WoW64 (see RegistryViews). `variantName` is the
   matched record's name, used in the lines about the remembered value. `matched` is the identity
   of the file the check held, read through its open (null when unknown): the run's list of
   matched files records it. Always true. */
bool CleanSystemEntries(const char* variantName, const FileId* matched);

/* Deletes the values of one autostart key whose data starts the infected
   file. `view` is 0 or one of the WoW64 view bits; under KEY_WOW64_32KEY the
   data is read as a 32-bit program means it (see NativePath). Remembers the name of a matched value
   in g_scan.autostartValueName. */
void WalkAutostartKey(HKEY root, const char* subKey, REGSAM view = 0);

#include "actions/registry.h" // DeleteRegistryValue

#include "platform/registry_value.h" // ReadRegistryString

#endif
