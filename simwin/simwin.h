/*
** simwin: a small model of Windows for the host build.
**
** The engine is compiled against these declarations instead of the SDK's.
** Each area lives in its own header and source file; each offers the Win32
** (or C run-time) operations by their real names and signatures, plus, in
** namespace simwin, the calls through which a test builds and inspects the
** world. simwin::Reset() empties the whole world.
*/
#ifndef SIMWIN_SIMWIN_H
#define SIMWIN_SIMWIN_H

#include "simwin/types.h"
#include "simwin/base.h"
#include "simwin/crt.h"
#include "simwin/files.h"
#include "simwin/messages.h"
#include "simwin/dialogs.h"
#include "simwin/system.h"
#include "simwin/registry.h"
#include "simwin/processes.h"
#include "simwin/security.h"
#include "simwin/services.h"
#include "simwin/modules.h"
#include "simwin/perfdata.h"
#include "simwin/wow64.h"
#include "simwin/text.h"
/* Last come the headers that rename run-time calls (fopen, fgets, fclose,
   exit) for all code that follows. */
#include "simwin/stdio.h"
/* After every standard header: it renames calls of exit. */
#include "simwin/exit.h"

#endif
