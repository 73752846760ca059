/*
** The memory scan step: checks every running program before the drives are walked.
*/
#ifndef CLEANPHANTAXIS_MEMORY_SCAN_H
#define CLEANPHANTAXIS_MEMORY_SCAN_H

#include <stdint.h>

void ScanMemory();

#endif
