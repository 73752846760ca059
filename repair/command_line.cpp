/*
** A command line read as Windows reads it to find the program it starts
** (CreateProcess, lpCommandLine: learn.microsoft.com/windows/win32/api/
** processthreadsapi/nf-processthreadsapi-createprocessa). The service
** manager starts an ImagePath so (CreateService, lpBinaryPathName), the
** shell a Run value.
*/
#include "repair/command_line.h"
#include "platform/wow64.h"

bool ProgramReadings::Next(size_t* end) {
    if (done_) return false;
    if (quoted_) {
        done_ = true;
        *end = strcspn(text_, "\"");
        return true;
    }
    while (!done_ && at_ < MAX_PATH) {
        const size_t here = at_++;
        const char c = text_[here];
        if (c != ' ' && c != '\t' && c) continue;
        done_ = c == 0;
        if (here > 0) {
            *end = here;
            return true;
        }
    }
    done_ = true;
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
