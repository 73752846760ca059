/*
** simwin: the Microsoft C run-time's low-level file access and the string
** helpers it adds to standard C, working on Windows paths.
*/
#ifndef SIMWIN_CRT_H
#define SIMWIN_CRT_H

#include "simwin/base.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define _O_RDONLY 0x0000
#define _O_WRONLY 0x0001
#define _O_RDWR 0x0002
#define _O_APPEND 0x0008
#define _O_CREAT 0x0100
#define _O_TRUNC 0x0200
#define _O_EXCL 0x0400
#define _O_TEXT 0x4000
#define _O_BINARY 0x8000
#define _S_IREAD 0x0100
#define _S_IWRITE 0x0080

/* `long` is 32 bits on Windows: offsets beyond 2 GB arrive negative there, and
   _lseek treats every offset as the 32-bit value Windows would see. */
int _open(const char* path, int flags, ...);
int _read(int fd, void* buffer, unsigned int count);
int _write(int fd, const void* buffer, unsigned int count);
long _lseek(int fd, long offset, int origin);
long _filelength(int fd);
int _close(int fd);
int _access(const char* path, int mode);
/* A descriptor over an open file handle (files.cpp): _close closes the
   handle too; _get_osfhandle gives it back. */
int _open_osfhandle(intptr_t osfhandle, int flags);
intptr_t _get_osfhandle(int fd);

namespace simwin {
/* Bytes that _read has delivered since Reset, over all descriptors. */
uint64_t BytesRead();
} // namespace simwin

int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t n);
int _memicmp(const void* a, const void* b, size_t n);
char* _strlwr(char* s);
char* _strupr(char* s);

#endif
