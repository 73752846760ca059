/*
** The room's service actions: stopping a service, and the proof it takes.
**
** The proof of a service is its handle from the service control manager,
** opened by the finder (memory/service_stop.cpp), which has read through
** that very handle the service's configured command and resolved it to the
** variant's checked image (CommandRunsFile) before asking for the stop. The
** service's registration is removed as registry keys (actions/registry.h).
*/
#ifndef CLEANPHANTAXIS_ACTIONS_SERVICES_H
#define CLEANPHANTAXIS_ACTIONS_SERVICES_H

#include "platform/win32.h"

/* Asks the open service to stop and waits while it reports STOP_PENDING.
   True only when the last status read says STOPPED. */
bool StopAndWait(SC_HANDLE service);

#endif
