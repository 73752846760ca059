/*
** Stopping a service through the service control manager.
*/
#include "memory/service_stop.h"

// Not yet: the service control manager.
int32_t StopService(const char*) { return 0; }
