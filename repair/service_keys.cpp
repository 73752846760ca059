/*
** Removing a service's registration from both control sets.
*/
#include "repair/service_keys.h"

// Not yet: the registry deletions.
bool DeleteServiceKeys(const char*) { return false; }
bool DeleteMachineKey(const char*) { return false; }
