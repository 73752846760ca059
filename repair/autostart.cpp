/*
** Registry autostart cleanup.
**
** Values are matched against g_scan.currentFile, the infected file, by two
** rules: a prefix rule (the data, raw or with its environment variables
** expanded, one leading quote skipped, starts with the file's full path) and
** a bare rule for data without a path (it names the file and the file lies in
** a system directory). All text is compared in lower case.
**
** Nothing here trusts the registry's sizes: a value is read whole into a
** block of the size the registry reports and terminated by us, whatever its
** type; an expansion that does not fit the fixed buffer is redone whole in a
** block of the size it asked for, and never compared truncated.
*/
#include "repair/autostart.h"
#include "engine/scan_state.h"
#include "repair/hosts_file.h"
#include "memory/wow64.h"

namespace {

const DWORD kValueNameChars = 16384; // the longest value name, 16383, and its terminator
const DWORD kExpandedSize = 261;     // the fixed expansion buffer
const char* const kWalkName = "W32/Phantaxis.Backdoor";

bool Terminated(const char* text, size_t size) { return memchr(text, 0, size) != nullptr; }

/* A name that does not fit is not remembered: a truncated name could be
   another value's, and deleting that one later would be wrong. */
void RememberValueName(const char* name) {
    if (strlen(name) < sizeof g_scan.autostartValueName) strcpy(g_scan.autostartValueName, name);
}

/* Expands `source` whole and returns the text (in `local` or in *heap, which
   the caller frees), or null when the expansion fails. */
char* ExpandWhole(const char* source, char* local, DWORD localSize, char** heap) {
    *heap = nullptr;
    char* buffer = local;
    DWORD capacity = localSize;
    for (int attempt = 0; attempt < 3; attempt++) {
        DWORD needed = ExpandEnvironmentStringsA(source, buffer, capacity);
        if (needed == 0) break;
        if (needed <= capacity && Terminated(buffer, needed)) return buffer;
        // Too small: the buffer's contents are undefined. Retry with the size
        // asked for plus one (the ANSI call may want a byte more than it says).
        if (needed < capacity) needed = capacity;
        if (needed > 0xFFFF0000u) break;
        free(*heap);
        capacity = needed + 1;
        *heap = (char*)malloc(capacity);
        if (!*heap) break;
        buffer = *heap;
    }
    free(*heap);
    *heap = nullptr;
    return nullptr;
}

/* A bare name starts a file of the system folder. In the 32-bit view of
   64-bit Windows, a 32-bit program's system folder is SysWOW64. */
bool InSystemDirectory(const char* lowerPath, REGSAM view) {
    return strstr(lowerPath, "\\system\\") || strstr(lowerPath, "\\system32\\") ||
           (view == KEY_WOW64_32KEY && strstr(lowerPath, "\\syswow64\\"));
}

/* The text of a value the 32-bit view holds, with the file it names under
   the name the walk met it by (System32 -> SysWOW64), in lower case; `text`
   itself elsewhere. Null only when no memory is left. */
const char* RealNames(const char* text, REGSAM view, char** heap) {
    *heap = nullptr;
    if (view != KEY_WOW64_32KEY) return text;
    size_t size = strlen(text) + MAX_PATH;
    *heap = (char*)malloc(size);
    if (!*heap) return nullptr;
    if (!NativePath(text, *heap, size)) CopyText(*heap, size, text);
    return _strlwr(*heap);
}

} // namespace

bool DeleteRegistryValue(HKEY root, const char* subKey, const char* valueName, REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return false;
    if (RegDeleteValueA(key, valueName) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    return RegCloseKey(key) == ERROR_SUCCESS;
}

bool ReadRegistryString(HKEY root, const char* subKey, const char* valueName, char** data,
                        REGSAM view) {
    *data = nullptr;
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    char* buffer = nullptr;
    bool read =
        RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size < 0xFFFFFFFFu && (buffer = (char*)malloc((size_t)size + 1)) != nullptr;
    if (read) {
        // The second query may report fewer bytes (an ANSI string) but never
        // writes more than `size`; a value that grew meanwhile fails here.
        DWORD got = size;
        read = RegQueryValueExA(key, valueName, nullptr, nullptr, (LPBYTE)buffer, &got) ==
                   ERROR_SUCCESS &&
               got <= size;
        if (read) buffer[got] = 0;
    }
    if (RegCloseKey(key) != ERROR_SUCCESS) read = false;
    if (!read) {
        free(buffer);
        return false;
    }
    *data = buffer;
    return true;
}

void WalkAutostartKey(HKEY root, const char* subKey, REGSAM view) {
    HKEY key;
    char* currentFile = g_scan.currentFile;
    if (!Terminated(currentFile, sizeof g_scan.currentFile)) return;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    DWORD count = 0; // taken once, before anything is deleted
    char* name = nullptr;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        count == 0 || (name = (char*)malloc(kValueNameChars)) == nullptr) {
        RegCloseKey(key);
        return;
    }
    DWORD deletedCount = 0;
    for (DWORD i = 0; i < count; i++) {
        // Each deletion moves the later values down by one index.
        DWORD nameChars = kValueNameChars;
        if (RegEnumValueA(key, i - deletedCount, name, &nameChars, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            continue;
        const char* fileName = strrchr(currentFile, '\\');
        // No file name to look for (an empty currentFile ends here too).
        if (!fileName || !fileName[1]) break;
        fileName++;
        char* data;
        if (!ReadRegistryString(root, subKey, name, &data, view)) continue;
        _strlwr(data);
        _strlwr(currentFile);
        char local[kExpandedSize];
        char* heap;
        char* expanded = ExpandWhole(data, local, sizeof local, &heap);
        if (!expanded) {
            free(data);
            continue;
        }
        _strlwr(expanded);
        size_t n = strlen(currentFile);
        char *rawHeap, *expandedHeap;
        const char* rawPath = RealNames(data + (data[0] == '"'), view, &rawHeap);
        const char* expandedPath = RealNames(expanded + (expanded[0] == '"'), view, &expandedHeap);
        if (!rawPath || !expandedPath) {
            free(rawHeap);
            free(expandedHeap);
            free(heap);
            free(data);
            continue;
        }
        bool bareReference = !strchr(data, '\\') || data[0] == '\\';
        if (bareReference && strstr(data, fileName)) {
            // Bare rule: only a file in a system directory; the prefix rule is not tried.
            if (InSystemDirectory(currentFile, view) &&
                DeleteRegistryValue(root, subKey, name, view)) {
                RememberValueName(name);
                PostLogLine("System Registry     %s removed", kWalkName);
                deletedCount++;
            }
        } else if (strncmp(rawPath, currentFile, n) == 0 ||
                   strncmp(expandedPath, currentFile, n) == 0) {
            // Prefix rule: remembered even when the deletion fails, so that
            // the next detection tries again.
            RememberValueName(name);
            if (DeleteRegistryValue(root, subKey, name, view)) {
                PostLogLine("System Registry     %s removed", kWalkName);
                deletedCount++;
            }
        }
        free(rawHeap);
        free(expandedHeap);
        free(heap);
        free(data);
    }
    free(name);
    RegCloseKey(key);
}

bool CleanSystemEntries(const char* variantName) {
    CheckHostsFile();
    const char* remembered = g_scan.autostartValueName;
    const char* const keys[] = {AUTOSTART_RUN_KEY, AUTOSTART_RUNSERVICES_KEY};
    REGSAM views[2];
    const int viewCount = RegistryViews(views);
    if (Terminated(remembered, sizeof g_scan.autostartValueName) && remembered[0]) {
        for (const char* key : keys)
            for (int v = 0; v < viewCount; v++)
                if (DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, remembered, views[v]))
                    PostLogLine("System Registry     %s removed", variantName);
    }
    if (Terminated(g_scan.currentFile, sizeof g_scan.currentFile) && g_scan.currentFile[0]) {
        for (const char* key : keys)
            for (int v = 0; v < viewCount; v++)
                WalkAutostartKey(HKEY_LOCAL_MACHINE, key, views[v]);
    }
    return true;
}
