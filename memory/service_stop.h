/*
** Stopping a service through the service control manager.
*/
#ifndef CLEANPHANTAXIS_SERVICE_STOP_H
#define CLEANPHANTAXIS_SERVICE_STOP_H

#include "actions/services.h"
#include "engine/file_identity.h"
#include "platform/win32.h"
#include <stdint.h>

/* StopServiceOfImage for the file the file check last proved a variant
   (g_scan.provedVariant): a service by its name alone is stopped only where
   it runs that file; 0, with nothing asked, before any match. 1 when the
   service reached the stopped state after this call asked it to. */
int32_t StopService(const char* name);

/* StopService for the service `name` only when the service manager's binary
   path for it runs the file `image` on drive `drive` (by that identity, see
   CommandImage),
   however a path of the image is named by now; NotStopped, with nothing
   asked of the service, for one that runs another program. With
   `processId`, the listed process proved to run `image`, a service that
   another process runs is left as well: OtherProcess (see StopAndWait). */
ServiceStop StopServiceOfImage(const char* name, char drive, const FileId& image,
                               DWORD processId = 0);

#endif
