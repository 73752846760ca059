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

/* Whether `byte` begins a two-byte character of the ANSI code page: never
   in the western one; in code page 932 (Japanese, a Shift-JIS) 0x81 to 0x9F
   and 0xE0 to 0xFC, whose trail bytes 0x40 to 0xFC include 0x5C, the
   backslash (Microsoft's CP932.TXT table on unicode.org; the
   IsDBCSLeadByte page: "the system default Windows ANSI code page"). */
BOOL IsDBCSLeadByte(BYTE byte);

namespace simwin {
/* The ANSI code page IsDBCSLeadByte reads: 1252 (western) until a test sets
   932; every reset gives 1252 back. The conversions stay western. */
void SetAnsiCodePage(UINT codePage);
/* UTF-8 of `chars` UTF-16 units (the host's form of names); an unpaired
   surrogate becomes U+FFFD. */
std::string Utf8Of(LPCWSTR wide, size_t chars);
} // namespace simwin

#endif
