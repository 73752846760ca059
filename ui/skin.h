/*
** The window skin: a window region cut from a bitmap along its key colour,
** and the scaling of a window's children to the skin's pixel layout.
*/
#ifndef CLEANPHANTAXIS_SKIN_H
#define CLEANPHANTAXIS_SKIN_H

#include "ui/framework.h"

/* A region covering every pixel of `bitmap` whose colour differs from
   `keyColor` (0x00BBGGRR), with the bitmap's top-left pixel at the origin;
   null when there is no bitmap or a device context or 32-bit section cannot
   be made. */
HRGN RegionFromBitmap(HBITMAP bitmap, COLORREF keyColor);

/* Moves and resizes every descendant of `window` by the ratio between its
   client size and the design size. */
void ScaleChildWindows(HWND window, int designWidth, int designHeight);

#endif
