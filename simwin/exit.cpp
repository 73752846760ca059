/*
** simwin: the program's end, seen by the test as an exception.
*/
#include "simwin/exit.h"

void simwin_exit(int code) { throw simwin::ProcessExit{code}; }
