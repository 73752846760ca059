/*
** Restarting the computer when a removal needs it.
*/
#include "repair/restart.h"
#include "engine/scan_state.h"

// Not yet: the privilege step and the restart itself.
int32_t RestartComputer() { return 0; }
