/*
** The one way a path is put together from pieces into a fixed buffer.
*/
#ifndef CLEANPHANTAXIS_JOIN_PATH_H
#define CLEANPHANTAXIS_JOIN_PATH_H

#include "platform/win32.h"

/* Writes `head`, `tail` and `more` one after another into `out` (`size`
   bytes), terminated, when all three fit with the terminator; false, with
   `out` left as it was, when they do not. `head` may be `out` itself: the
   other two are then appended to what it holds. */
inline bool JoinPath(char* out, size_t size, const char* head, const char* tail,
                     const char* more = "") {
    const size_t a = strlen(head), b = strlen(tail), c = strlen(more);
    // Each length against the room the ones before it leave: no sum can wrap.
    if (a >= size || b >= size - a || c >= size - a - b) return false;
    memmove(out, head, a);
    memcpy(out + a, tail, b);
    memcpy(out + a + b, more, c + 1);
    return true;
}

/* The first `length` bytes of `from` into `out`, terminated, when they fit
   with the terminator; false, with `out` left as it was, when they do not. */
inline bool CopyPart(char* out, size_t size, const char* from, size_t length) {
    if (length >= size) return false;
    memmove(out, from, length);
    out[length] = 0;
    return true;
}

#endif
