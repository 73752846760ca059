/*
** The memory scan step: checks every running program before the drives are walked.
*/
#include "memory/memory_scan.h"
#include "engine/scan_state.h"

// Not yet: the process scans.
void ScanMemory() {}
