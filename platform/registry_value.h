/*
** A string value of the registry, read whole as the shell and the service
** manager take it: the one way this program reads one.
*/
#ifndef CLEANPHANTAXIS_REGISTRY_VALUE_H
#define CLEANPHANTAXIS_REGISTRY_VALUE_H

#include "platform/win32.h"

/* Reads one string value (REG_SZ or REG_EXPAND_SZ, the only types the shell
   starts: learn.microsoft.com/windows-hardware/drivers/install/runonce-
   registry-key; `type` gets which) of
   `root`\`subKey` in the registry view `view` whole, into a heap block of
   the size the registry reports plus a terminator that this call adds: a
   value stored without one is read as it is (Wine's advapi32/tests/
   registry.c, test_string_termination). On success *data is a string the
   caller frees with free(). False for a value of another type, one of
   `limit` bytes or more, or one that grew or changed type between the
   size's query and the read. */
bool ReadRegistryString(HKEY root, const char* subKey, const char* valueName, char** data,
                        REGSAM view = 0, DWORD limit = 0xFFFFFFFFu, DWORD* type = nullptr);

#endif
