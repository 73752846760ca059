/*
** Functions that not every supported Windows has, found by name at run time:
** an import of one would keep the program from loading at all on Windows 95
** or NT 4.0 (tests/e2e/check_imports.sh guards the import table). Every such
** lookup goes through here; a missing library or function gives null, and
** the caller then does without. A library loaded here stays loaded.
*/
#ifndef CLEANPHANTAXIS_RESOLVE_H
#define CLEANPHANTAXIS_RESOLVE_H

#include "platform/win32.h"

/* The function `name` of `module` as the function pointer type Fn; null
   when the module is null (nothing is asked then) or lacks the function. */
template <class Fn> Fn Resolve(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through the generic function pointer type: a direct cast between
    // unrelated function types draws a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

/* The same, with `library` loaded first (LoadLibraryA). */
template <class Fn> Fn Resolve(const char* library, const char* name) {
    return Resolve<Fn>(LoadLibraryA(library), name);
}

#endif
