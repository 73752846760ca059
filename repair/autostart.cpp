/*
** Registry autostart cleanup at every detection.
*/
#include "repair/autostart.h"
#include "engine/scan_state.h"

// Not yet: the hosts file and the autostart keys.
bool CleanSystemEntries(const char*) { return true; }
