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

/* The same, with `library` loaded first, by its bare name: the room names
   only kernel32, ntdll, advapi32 and its rpcrt4, loaded in the program's
   process from its start, so the name gives the loaded module, no search. */
template <class Fn> Fn Resolve(const char* library, const char* name) {
    return Resolve<Fn>(LoadLibraryA(library), name);
}

#endif
