/*
** Stopping a service through the service control manager.
*/
#ifndef CLEANPHANTAXIS_SERVICE_STOP_H
#define CLEANPHANTAXIS_SERVICE_STOP_H

#include <stdint.h>

/* 1 when the service reached the stopped state after this call asked it to. */
int32_t StopService(const char* name);

#endif
