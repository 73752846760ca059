/*
** Deleting an in-use file at the next restart: on the NT family through
** MoveFileExA, on the 9x family through a "NUL=file" line in the [rename]
** section of wininit.ini, which Windows processes before it starts.
**
** wininit.ini may already hold other programs' pending work, so it is never
** rewritten in place: the new content is written completely to wininit.new
** beside it and only then takes its place. A failure at any point leaves the
** old file as it was (a copy of it also stays in the temporary folder).
*/
#include "memory/wow64.h"
#include "repair/delete_on_restart.h"
#include "memory/platform.h"
#include "platform/win32.h"

/* Buffer sizes: the Windows folder, the temporary folder, and one piece of a
   line (fgets reads at most 647 characters into it). */
static const UINT kWinDirSize = 350;
static const DWORD kTempDirSize = MAX_PATH;
static const int kPieceSize = 648;

static const char kSection[] = "[rename]";

static bool WriteAll(int fd, const char* text, size_t length) {
    return _write(fd, text, (unsigned int)length) == (int)length;
}

static bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

static bool WriteEntry(int fd, const char* destination, const char* source) {
    return WriteText(fd, destination) && WriteText(fd, "=") && WriteText(fd, source) &&
           WriteText(fd, "\r\n");
}

/* Joins folder and file name into `out` (size bytes), adding a backslash
   when the folder does not end with one. False when it does not fit. */
static bool JoinPath(char* out, size_t size, const char* folder, const char* name) {
    size_t a = strlen(folder), b = strlen(name);
    bool slash = a == 0 || folder[a - 1] != '\\';
    size_t need = a + (slash ? 1 : 0) + b;
    if (need >= size) return false;
    memcpy(out, folder, a);
    if (slash) out[a++] = '\\';
    memcpy(out + a, name, b + 1);
    return true;
}

/* Copies the old content from `in` to descriptor `out`, inserting the entry
   at the end of the [rename] section (before the next section header), or
   appending the section and the entry when there is none.
   Only a piece that starts a line is looked at: the rest of a line longer
   than one piece is copied as it is, so such a line is written back whole. */
static bool Merge(FILE* in, int out, const char* destination, const char* source) {
    bool inRename = false, entryWritten = false, atLineStart = true;
    char piece[kPieceSize];
    for (;;) {
        // fgets does not say how much it read, and a stray NUL byte would cut
        // strlen short: fill the buffer with non-zero bytes first, so that
        // the last NUL in it is the terminator fgets wrote.
        memset(piece, 0xFF, sizeof piece);
        if (!fgets(piece, kPieceSize, in)) break;
        size_t length = kPieceSize - 1;
        while (length > 0 && piece[length] != '\0')
            length--;
        if (length == 0) continue;

        if (!entryWritten && atLineStart) {
            if (inRename && piece[0] == '[') {
                if (!WriteEntry(out, destination, source)) return false;
                entryWritten = true;
            } else if (!inRename && length >= 8 && _strnicmp(piece, kSection, 8) == 0) {
                inRename = true;
            }
        }
        if (!WriteAll(out, piece, length)) return false;
        atLineStart = piece[length - 1] == '\n';
    }
    if (ferror(in)) return false; // the old content was not read completely
    if (entryWritten) return true;
    if (!atLineStart && !WriteText(out, "\r\n")) return false;
    if (!inRename && !(WriteText(out, kSection) && WriteText(out, "\r\n"))) return false;
    return WriteEntry(out, destination, source);
}

bool AddWininitRename(const char* destination, const char* source) {
    if (!destination || !source || !destination[0] || !source[0]) return false;
    // The entry must stay one line.
    if (strpbrk(destination, "\r\n") || strpbrk(source, "\r\n")) return false;

    char winDir[kWinDirSize];
    UINT n = GetWindowsDirectoryA(winDir, kWinDirSize);
    if (n == 0 || n >= kWinDirSize) return false;
    char iniPath[kWinDirSize + 16], newPath[kWinDirSize + 16];
    if (!JoinPath(iniPath, sizeof iniPath, winDir, "wininit.ini") ||
        !JoinPath(newPath, sizeof newPath, winDir, "wininit.new"))
        return false;

    // A wininit.new left over from an interrupted run is stale.
    if (_access(newPath, 0) == 0 && !DeleteFileA(newPath)) return false;

    bool exists = _access(iniPath, 0) == 0;
    char copyPath[kTempDirSize];
    FILE* in = NULL;
    if (exists) {
        char tempDir[kTempDirSize];
        DWORD t = GetTempPathA(kTempDirSize, tempDir);
        if (t == 0 || t >= kTempDirSize) return false;
        if (!JoinPath(copyPath, sizeof copyPath, tempDir, "wininit.ini")) return false;
        if (!CopyFileA(iniPath, copyPath, FALSE)) return false;
        // Binary reading: the pieces go back byte for byte, CR LF included.
        in = fopen(copyPath, "rb");
        if (!in) return false;
    }

    int out = _open(newPath, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (out == -1) {
        if (in) fclose(in);
        return false;
    }
    bool written = in ? Merge(in, out, destination, source)
                      : WriteText(out, kSection) && WriteText(out, "\r\n") &&
                            WriteEntry(out, destination, source);
    if (in) fclose(in);
    if (_close(out) != 0) written = false;
    if (!written) {
        DeleteFileA(newPath);
        return false;
    }

    // Put the complete new file in place. MoveFileExA does not exist on 9x,
    // so the old file is deleted first; should the rename then fail, the old
    // content comes back from the temporary copy.
    if (exists && !DeleteFileA(iniPath)) {
        DeleteFileA(newPath);
        return false;
    }
    if (!MoveFileA(newPath, iniPath)) {
        if (!exists || CopyFileA(copyPath, iniPath, TRUE)) DeleteFileA(newPath);
        return false;
    }
    return true;
}

bool ScheduleDeleteOnRestart(const char* path) {
    if (!path || !path[0]) return false;
    switch (GetPlatform()) {
    case PLATFORM_WIN9X: {
        // Windows 9x processes wininit.ini before long names are available,
        // so the entry must name the short form. Without one the request
        // fails rather than write an entry that would not work.
        char shortPath[MAX_PATH];
        DWORD n = GetShortPathNameA(path, shortPath, sizeof shortPath);
        if (n == 0 || n >= sizeof shortPath) return false;
        return AddWininitRename("NUL", shortPath);
    }
    case PLATFORM_NT: {
        NativeFileNames native; // the walk's names are the real ones
        return MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
    }
    default:
        return false;
    }
}
