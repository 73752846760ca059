/*
** Deleting an in-use file at the next restart.
*/
#include "repair/delete_on_restart.h"
#include "engine/scan_state.h"

// Not yet: wininit.ini and MoveFileExA.
bool ScheduleDeleteOnRestart(const char*) { return false; }
