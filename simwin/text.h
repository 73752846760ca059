/*
** simwin: conversion of UTF-16 text to the 8-bit code pages.
**
** CP_ACP is the code page of a western Windows: each UTF-16 unit below 256
** becomes that byte, any other unit the default character ("?" unless the
** caller gives one), which sets *usedDefaultChar. CP_UTF8 encodes UTF-16
** properly (an unpaired surrogate becomes U+FFFD). As on Windows: a length of
** -1 converts up to and including the terminator, a buffer size of 0 asks
** for the size needed, and a buffer too small fails with
** ERROR_INSUFFICIENT_BUFFER.
** MultiByteToWideChar goes the other way for CP_ACP: each byte becomes the
** UTF-16 unit of that number, with the same rules for lengths and buffers.
*/
#ifndef SIMWIN_TEXT_H
#define SIMWIN_TEXT_H

#include "simwin/base.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wideText, int wideChars, LPSTR buffer,
                        int bufferSize, LPCSTR defaultChar, LPBOOL usedDefaultChar);

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR buffer,
                        int bufferSize);

namespace simwin {
/* UTF-8 of `chars` UTF-16 units (the host's form of names); an unpaired
   surrogate becomes U+FFFD. */
std::string Utf8Of(LPCWSTR wide, size_t chars);
} // namespace simwin

#endif
