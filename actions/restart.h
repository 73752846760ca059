/*
** Restarting the computer when a removal needs it.
*/
#ifndef CLEANPHANTAXIS_RESTART_H
#define CLEANPHANTAXIS_RESTART_H

#include <stdint.h>

int32_t RestartComputer();

#endif
