/*
** The scan run: memory scan, every fixed drive (or one folder), statistics,
** and the restart question.
*/
#ifndef CLEANPHANTAXIS_SCAN_RUN_H
#define CLEANPHANTAXIS_SCAN_RUN_H

#include <stdint.h>

int32_t RunScan();

#endif
