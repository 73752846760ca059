/*
** A command line read as Windows reads it to find the program it starts.
*/
#include "repair/command_line.h"
#include "platform/wow64.h"

bool ProgramReadings::Next(size_t* end) {
    if (done) return false;
    if (quoted) {
        done = true;
        *end = strcspn(text, "\"");
        return true;
    }
    while (!done && at < MAX_PATH) {
        const char c = text[at++];
        done = c == 0;
        if ((c == ' ' || c == '\t' || done) && at > 1) return *end = at - 1, true;
    }
    done = true;
    return false;
}

bool ReadingPath(const char* text, size_t end, bool dropDots, char* path, size_t size) {
    if (end + 5 > size) return false;
    memcpy(path, text, end);
    path[end] = 0;
    if (dropDots) DropDotFolders(path);
    const char* name = strrchr(path, '\\');
    if (name && !strchr(name, '.')) strcat(path, ".exe");
    return true;
}

void DropDotFolders(char* path) {
    if (path[1] != ':' || path[2] != '\\') return;
    char* out = path + 3;
    for (const char* at = path + 3; *at;) {
        const size_t length = strcspn(at, "\\");
        const bool last = !at[length];
        if (length == 2 && at[0] == '.' && at[1] == '.') {
            if (out > path + 3) out--; // the separator before the name dropped
            while (out > path + 3 && out[-1] != '\\')
                out--;
        } else if (!(length == 1 && at[0] == '.') && length > 0) {
            memmove(out, at, length);
            out += length;
            if (!last) *out++ = '\\';
        }
        at += length + !last;
    }
    *out = 0;
}

bool IsExistingFile(const char* path) {
    NativeFileNames native;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
