/*
** simwin: the run-time library's stream functions fopen, fgets and fclose on
** Windows paths.
**
** Engine code calls them by their real names; on the host those names are
** macros for the simwin_ versions below. <cstdio> is included first, so the
** standard headers have already declared the real functions and nothing
** that comes later can see a renamed declaration; the std:: using lines keep
** a later "std::fopen" compiling too. A path that is not a Windows drive path
** goes to the host's own fopen, so test frameworks keep writing their files.
**
** As in the Microsoft run-time: mode "r" (or "rt") reads in text mode, where
** each CR LF becomes LF and a Ctrl+Z (0x1A) ends the file; "rb" reads the
** bytes as they are; "w" and "a" write, turning LF into CR LF unless "b" is
** given. An open stream keeps its file from being deleted or renamed, and a
** file another process holds without sharing cannot be opened. Update modes
** ("+") are not modelled: they fail with EINVAL.
*/
#ifndef SIMWIN_STDIO_H
#define SIMWIN_STDIO_H

#include "simwin/base.h"
#include <cstdio>
#include <string>

FILE* simwin_fopen(const char* path, const char* mode);
char* simwin_fgets(char* buffer, int size, FILE* stream);
int simwin_fclose(FILE* stream);

namespace std {
using ::simwin_fclose;
using ::simwin_fgets;
using ::simwin_fopen;
} // namespace std

#ifndef SIMWIN_STDIO_IMPLEMENTATION
#define fopen simwin_fopen
#define fgets simwin_fgets
#define fclose simwin_fclose
#endif

namespace simwin {

/* Whether an open stream of this process refers to the file (host path). */
bool IsOpenByStream(const std::string& hostPath);
/* Streams on Windows paths still open. */
size_t OpenStreamCount();

} // namespace simwin

#endif
