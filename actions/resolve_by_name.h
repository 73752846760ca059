/*
** A function found by any name, for the room's actions and the tests: code
** outside actions/ finds functions only through platform/resolve.h's table
** (an instance of these templates elsewhere imports GetProcAddress, which the
** build's reading list refuses there).
*/
#ifndef CLEANPHANTAXIS_RESOLVE_BY_NAME_H
#define CLEANPHANTAXIS_RESOLVE_BY_NAME_H

#include "platform/resolve.h"

/* The function `name` of `module` as the function pointer type Fn; null
   when the module is null (nothing is asked then) or lacks the function. */
template <class Fn> Fn Resolve(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

/* The same, with `library` loaded first (LoadLibraryA: by a bare name, for
   Windows' KnownDLLs alone, which are never looked for elsewhere). */
template <class Fn> Fn Resolve(const char* library, const char* name) {
    return Resolve<Fn>(LoadLibraryA(library), name);
}

#endif
