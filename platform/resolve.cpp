/*
** The table's lookup.
*/
#include "platform/resolve.h"

FARPROC Resolvable::Find(HMODULE module, const char* name) {
    return module ? GetProcAddress(module, name) : nullptr;
}
