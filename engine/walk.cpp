/*
** The directory walk, its message pump, and the display form of a path.
**
** Every level of the walk keeps its pattern and composed paths in fixed
** 260-byte buffers of its own frame. An entry is named by its long name,
** except where that cannot reach it: a long name that holds "?" (a character
** the ANSI code page cannot show; "?" never stands in a real name) and a
** path that would not fit with the long name (a deep folder plus a long
** name) use the entry's 8.3 name instead, so that the walk goes on in the
** short form where the long one overflows. Without an 8.3 name (their
** generation can be turned off on NTFS) such an entry stays unchecked: an
** over-long one is neither shown, counted, checked nor entered.
**
** A directory link (a junction or directory symbolic link, marked as a
** reparse point) is shown but not entered: links that point back up would
** make the walk branch at every level, and every file behind a link is
** reached by its real path anyway. The stop flag is tested after every
** pump, at least once per entry, and a stop unwinds every level with 0.
*/
#include "engine/walk.h"
#include "engine/ask_user.h"
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "memory/wow64.h"

enum { PATH_BUF = 260, DISPLAY_BUF = 512, DISPLAY_MAX = 60 };

const FileCheck FileCheckList[] = {
    {"W32/Phantaxis.Trojan", CheckFile, CheckFileCouldHandle},
    {nullptr, nullptr, nullptr},
};
const FileCheck* g_fileChecks = FileCheckList;

/* Appends `tail` to `buf` (holding `len` characters) when the result fits a
   path buffer; returns false, leaving `buf` unchanged, when it does not. */
static bool AppendPath(char* buf, size_t len, const char* tail) {
    size_t add = strlen(tail);
    if (add >= PATH_BUF - len) return false;
    memcpy(buf + len, tail, add + 1);
    return true;
}

/* Length of the pattern's folder part: everything before the character that
   precedes its last "." ("C:\dir\*.*" -> "C:\dir\"); -1 without a ".". */
static int FolderLength(const char* pattern) {
    const char* dot = strrchr(pattern, '.');
    if (!dot) return -1;
    return dot > pattern ? (int)(dot - pattern) - 1 : 0;
}

/* Forms `folder part of pattern` + name (+ suffix) in `out`; false when the
   pattern has no "." (*noDot set) or the result does not fit. */
static bool ComposePath(const char* pattern, const char* name, const char* suffix, char* out,
                        bool* noDot) {
    int keep = FolderLength(pattern);
    *noDot = keep < 0;
    if (keep < 0) return false;
    memcpy(out, pattern, (size_t)keep);
    out[keep] = 0;
    return AppendPath(out, (size_t)keep, name) && AppendPath(out, strlen(out), suffix);
}

/* Under WoW64 the walk lists folders by their real names: C:\Windows\System32
   is the system folder itself and SysWOW64 is met under its own name, so
   each file is seen once. Only the opening of a search needs the switch. */
static HANDLE FindFirst(const char* pattern, WIN32_FIND_DATAA* fd) {
    NativeFileNames native;
    return FindFirstFileA(pattern, fd);
}

static bool IsDotEntry(const char* name) { return !strcmp(name, ".") || !strcmp(name, ".."); }

/* Forms the entry's path (folder part of pattern + name + suffix) in `out`,
   by its 8.3 name where the long name holds "?" or the path would not fit
   with it; false when neither fits or the pattern has no "." (*noDot). */
static bool ComposeEntryPath(const char* pattern, const WIN32_FIND_DATAA& fd, const char* suffix,
                             char* out, bool* noDot) {
    const char* alt = fd.cAlternateFileName;
    bool hasAlt = alt[0] != 0 && memchr(alt, 0, sizeof fd.cAlternateFileName) != nullptr;
    if (!hasAlt || !strchr(fd.cFileName, '?')) {
        if (ComposePath(pattern, fd.cFileName, suffix, out, noDot)) return true;
        if (*noDot || !hasAlt) return false;
    }
    return ComposePath(pattern, alt, suffix, out, noDot);
}

/* Step 2 of a walk: a drive root pattern notes the drive's "\Program Files". */
static void NoteProgramFiles(const char* pattern) {
    if (strlen(pattern) > 6) return;
    char* pf = g_scan.programFilesPattern;
    CopyText(pf, sizeof g_scan.programFilesPattern, pattern);
    char* colon = strchr(pf, ':');
    if (!colon) return;
    colon[1] = 0;
    strcat(pf, "\\Program Files");
    if (_access(pf, 0) == 0) {
        g_scan.programFilesPending = 1;
        strcat(pf, "\\*.*");
    }
}

/* The file phase: shows and checks every entry the pattern lists.
   Returns 1 to go on, 0 when stopped, -1 for a pattern without ".". */
static int32_t WalkFiles(const char* pattern) {
    WIN32_FIND_DATAA fd;
    HANDLE search = FindFirst(pattern, &fd);
    if (search == INVALID_HANDLE_VALUE) return 1;
    do {
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
        char path[PATH_BUF];
        bool fits = true;
        if (g_scan.memoryScanMode) {
            CopyText(path, sizeof path, pattern);
        } else {
            bool noDot;
            fits = ComposeEntryPath(pattern, fd, "", path, &noDot);
            if (noDot) {
                FindClose(search);
                return -1;
            }
        }
        if (fits) {
            char display[DISPLAY_BUF];
            ShortenPath(path, display, DISPLAY_MAX);
            ShowStatus(display);
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (!g_scan.memoryScanMode) g_scan.filesScanned++;
                // The listing already tells the file's length: a check that
                // cannot match that length is not even asked to open it.
                const uint64_t length = (uint64_t)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
                for (const FileCheck* c = g_fileChecks; c->name; c++) {
                    if (c->couldHandle && !c->couldHandle(length)) continue;
                    if (c->check(c->name, path)) break;
                }
            }
        }
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
    } while (FindNextFileA(search, &fd));
    FindClose(search);
    return 1;
}

/* The subdirectory phase: enters every folder the pattern's folder holds. */
static int32_t WalkSubdirectories(const char* pattern) {
    const char* dot = strrchr(pattern, '.');
    if (!dot) return -1;
    char dirPattern[PATH_BUF];
    size_t keep = (size_t)(dot - pattern) + 1;
    memcpy(dirPattern, pattern, keep);
    dirPattern[keep] = 0;
    if (!AppendPath(dirPattern, keep, "*")) return g_scan.filesScanned;

    WIN32_FIND_DATAA fd;
    HANDLE search = FindFirst(dirPattern, &fd);
    if (search == INVALID_HANDLE_VALUE) return g_scan.filesScanned;
    do {
        PumpMessages();
        if (g_scan.stopRequested) {
            FindClose(search);
            return 0;
        }
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !IsDotEntry(fd.cFileName)) {
            char sub[PATH_BUF];
            bool noDot;
            if (ComposeEntryPath(pattern, fd, "\\*.*", sub, &noDot)) {
                if (strstr(sub, "\\Program Files\\")) g_scan.programFilesVisited = 1;
                if (WalkDirectory(sub) == -1) {
                    FindClose(search);
                    return -1;
                }
            } else if (noDot) {
                FindClose(search);
                return -1;
            }
        }
    } while (FindNextFileA(search, &fd));
    FindClose(search);
    return g_scan.filesScanned;
}

int32_t WalkDirectory(const char* patternIn) {
    g_scan.fileMatched = false;
    char pattern[PATH_BUF];
    if (strlen(patternIn) >= sizeof pattern) return g_scan.filesScanned;
    strcpy(pattern, patternIn);

    NoteProgramFiles(pattern);
    int32_t r = WalkFiles(pattern);
    if (r <= 0) return r;
    // In memory-scan mode the pattern is one image file: there is nothing
    // below it, and a folder beside it that shares its name (abc.d next to
    // abc.exe) must not be entered, as that walk would clear the verdict on
    // the image before the process scan reads it.
    if (g_scan.memoryScanMode) return g_scan.filesScanned;
    return WalkSubdirectories(pattern);
}

void PumpMessages() {
    MSG msg;
    if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) return;
    if ((msg.wParam & 0xFFFF) == VK_ESCAPE) {
        if (AskUser("Terminate the Scan now?", SCAN_TITLE, MB_YESNO | MB_ICONQUESTION) == IDNO)
            return;
        g_scan.stopRequested = true;
        return;
    }
    if (msg.message == WM_QUIT || msg.message == WM_DESTROY) {
        g_scan.stopRequested = true;
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void ShortenPath(const char* source, char* dest, int16_t maximum) {
    size_t n = strlen(source);
    int k = maximum / 2 - 1;
    if (n > (size_t)(maximum < 0 ? 0 : maximum) && k > 0) {
        int dots = maximum - 2 * k;
        memcpy(dest, source, (size_t)k);
        memset(dest + k, '.', (size_t)dots);
        memcpy(dest + k + dots, source + n - (size_t)k, (size_t)k);
        dest[maximum] = 0;
    } else {
        memmove(dest, source, n + 1);
    }
}
