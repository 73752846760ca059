/*
** simwin: the run-time library's exit. On Windows it ends the program; here
** it throws simwin::ProcessExit carrying the exit code, so that a test can
** see that, and with which code, the program would have ended at that point.
**
** Engine code calls exit by its real name: the function-like macro below
** renames the call. It is defined after every standard header that simwin
** uses has been included, and only a name followed by "(" is replaced, so
** "using ::exit;" in a later <cstdlib> stays untouched; "std::exit(...)"
** reaches the same function through the using line below.
*/
#ifndef SIMWIN_EXIT_H
#define SIMWIN_EXIT_H

#include <cstdlib>

namespace simwin {

/* Thrown where the program would have ended. */
struct ProcessExit {
    int code;
};

} // namespace simwin

[[noreturn]] void simwin_exit(int code);

namespace std {
using ::simwin_exit;
} // namespace std

#define exit(code) simwin_exit(code)

#endif
