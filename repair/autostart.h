/*
** Registry autostart cleanup at every detection.
*/
#ifndef CLEANPHANTAXIS_AUTOSTART_H
#define CLEANPHANTAXIS_AUTOSTART_H

#include <stdint.h>

/* Hosts file check, then the Run and RunServices values naming the file. */
bool CleanSystemEntries(const char* variantName);

#endif
