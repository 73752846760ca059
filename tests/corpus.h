/*
** The false-positive corpus: folders of real PE files written by others
** (Wine, mingw-w64, the NSIS stubs and plug-ins, win32-loader), 32- and
** 64-bit DLLs and executables, none of which may ever be detected.
*/
#ifndef TESTS_CORPUS_H
#define TESTS_CORPUS_H

inline const char* const kCorpusRoots[] = {
    "/usr/lib/x86_64-linux-gnu/wine",
    "/usr/lib/i386-linux-gnu/wine",
    // the same DLLs, unpacked (never installed) by scripts/install-deps
    I386_ROOT "/usr/lib/i386-linux-gnu/wine",
    "/usr/lib/wine",
    "/usr/x86_64-w64-mingw32",
    "/usr/i686-w64-mingw32",
    "/usr/lib/gcc/x86_64-w64-mingw32",
    "/usr/lib/gcc/i686-w64-mingw32",
    "/usr/share/wine",
    "/usr/share/nsis",  // nsis-common: installer stubs and plug-in DLLs, 32-bit
    "/usr/share/win32", // win32-loader: a 32-bit installer program
};

#endif
