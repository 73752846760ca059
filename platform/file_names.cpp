#include "platform/file_names.h"
#include "platform/platform.h"

#include <ctype.h>

namespace {

bool Is(const char* base, size_t n, const char* device) {
    return strlen(device) == n && _strnicmp(base, device, n) == 0;
}

} // namespace

bool NamesDosDevice(const char* path) {
    if (!path) return false;
    const char* base = path;
    for (const char* p = path; *p; p++) {
        // A lead byte and its trail are one character, whatever the trail.
        if (IsDBCSLeadByte((BYTE)*p) && p[1]) {
            p++;
            continue;
        }
        if (*p == '\\' || *p == '/' || (*p == ':' && p == path + 1)) base = p + 1;
    }
    size_t n = strcspn(base, ".:");
    while (n > 0 && base[n - 1] == ' ')
        n--;
    if (Is(base, n, "CON") || Is(base, n, "PRN") || Is(base, n, "AUX") || Is(base, n, "NUL") ||
        Is(base, n, "CLOCK$"))
        return true;
    const bool nt = GetPlatform() == PLATFORM_NT;
    if ((Is(base, n, "CONIN$") || Is(base, n, "CONOUT$")) && nt) return true;
    if (n != 4 || (_strnicmp(base, "COM", 3) != 0 && _strnicmp(base, "LPT", 3) != 0)) return false;
    const unsigned char digit = (unsigned char)base[3];
    return (digit >= '1' && digit <= '9') || (nt && digit == '0') ||
           (nt && (digit == 0xB9 || digit == 0xB2 || digit == 0xB3));
}

namespace {

/* The length of a folder's stream type at the end of the `n` characters of
   `part`: "::$INDEX_ALLOCATION" or ":$I30:$INDEX_ALLOCATION", in any letter
   case; 0 where there is none. */
size_t FolderTypeLength(const char* part, size_t n) {
    for (const char* type : {"::$INDEX_ALLOCATION", ":$I30:$INDEX_ALLOCATION"}) {
        const size_t t = strlen(type);
        if (n > t && _strnicmp(part + n - t, type, t) == 0) return t;
    }
    return 0;
}

} // namespace

void DropDataType(char* path) {
    // A folder named with its directory stream is that folder, wherever it
    // stands in the path: "C:\x::$INDEX_ALLOCATION\a.exe" is C:\x\a.exe.
    for (char *part = path, *end = path;; part = end + 1) {
        end = strchr(part, '\\');
        const size_t n = end ? (size_t)(end - part) : strlen(part);
        if (const size_t t = FolderTypeLength(part, n)) {
            memmove(part + n - t, part + n, strlen(part + n) + 1);
            end = end ? end - t : nullptr;
        }
        if (!end) break;
    }
    char* colon = strrchr(path, ':');
    if (!colon || colon < path + 2 || _stricmp(colon, ":$DATA") != 0) return;
    // "x::$DATA" is x itself, "x:s:$DATA" its stream s; ":$DATA" after the
    // drive's colon alone is a stream of that name.
    if (colon[-1] == ':' && colon - 1 > path + 1)
        colon[-1] = 0;
    else if (strchr(path + 2, ':') != colon)
        *colon = 0;
}

bool NamesStream(const char* path) {
    const char* drive = strncmp(path, "\\\\?\\", 4) == 0 ? path + 4 : path;
    return drive[0] && drive[1] == ':' && strchr(drive + 2, ':') != nullptr;
}

FileName::FileName(const char* path) : name_(path) {
    prefixed_[0] = 0;
    if (!path || !NamesDosDevice(path) || strncmp(path, "\\\\?\\", 4) == 0) return;
    const bool drivePath = isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\\';
    if (GetPlatform() != PLATFORM_NT || !drivePath || strlen(path) + 4 >= sizeof prefixed_) {
        name_ = nullptr;
        return;
    }
    strcpy(prefixed_, "\\\\?\\");
    strcat(prefixed_, path);
    name_ = prefixed_;
}
