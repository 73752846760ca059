/*
** Termination of the process that runs a given image file.
**
** The methods pause on the window's thread with the lengths below; the
** window neither repaints nor reacts meanwhile. The program never terminates
** itself, whatever a name or path comparison says.
**
** A process is terminated only when its image is the file, and through the
** handle opened when it was listed (or one proved to reach the same process):
** its identifier may by then belong to another program.
*/
#include "memory/kill_process.h"
#include "engine/scan_state.h"
#include "memory/image_path.h"
#include "platform/platform.h"
#include "memory/process_scan.h"

#include <stdlib.h>

enum {
    PATH_COPY_SIZE = 264,
    NAME_BUFFER_SIZE = 260, // the converted instance name
    VALUE_NAME_SIZE = 1024, // the object index, as the value name to query
    ROW_NAME_CHARS = 16,
};

static const char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
static const DWORD kPerfDataFirstSize = 51200;
static const DWORD kPerfDataGrowth = 25600;
/* A performance data block never needs more; beyond it the query is given up. */
static const DWORD kPerfDataLimit = 64u * 1024 * 1024;

/* ---- Windows 9x: tool help, by file name ---- */

static const char* FileNamePart(const char* path) {
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

/* Deliberate: the pauses of termination. On 9x 100 ms around each step of
   the snapshot walk (a search without a match takes about six seconds) and
   50 ms before and 500 ms after the termination; on NT 500 ms after each.
   The disposal that follows relies on them: an ended process lets go of its
   image file only some time after TerminateProcess returns; pinned by
   KillProcessTest.EachFamilyTerminatesByItsOwnMethod (its 98 row without a match). */
int32_t KillByFileNameToolhelp(const char* path) {
    HMODULE kernel = LoadLibraryA("Kernel32.dll"); // stays loaded
    Sleep(100);
    if (!kernel) return 0;
    // All three functions or none: without Process32Next the first entry
    // alone would be compared, as if it were the whole list.
    ProcessImage* list = ListProcessesToolhelp();
    Sleep(100);
    if (!list) return 0;
    int32_t result = 0;
    for (const ProcessImage* rec = list; rec; rec = rec->next) {
        // The snapshot names each image by its full path: the file itself,
        // not another of the same name (Windows' own EXPLORER.EXE).
        if (SameFile(rec->imagePath, path)) {
            // The first match is the only one tried.
            Sleep(50);
            result = TerminateListed(rec) ? 1 : 0;
            Sleep(500);
            break;
        }
        Sleep(100); // around the fetch of the next entry
        Sleep(100);
    }
    FreeProcessList(list);
    return result;
}

/* ---- other NT: performance data, by base name ---- */

/* Reads the 32-bit little-endian value at `at`, when all four bytes lie
   inside the block. */
static bool Read32(const uint8_t* block, size_t size, size_t at, uint32_t* value) {
    if (size < 4 || at > size - 4) return false;
    *value = (uint32_t)block[at] | (uint32_t)block[at + 1] << 8 | (uint32_t)block[at + 2] << 16 |
             (uint32_t)block[at + 3] << 24;
    return true;
}

/* base + offset, when it does not pass the block's end. */
static bool Advance(size_t base, uint32_t offset, size_t size, size_t* result) {
    if (base > size || offset > size - base) return false;
    *result = base + offset;
    return true;
}

/* Layout of the published structures (32-bit Windows; the same offsets in the
   64-bit data format). */
enum {
    BLOCK_HEADER_LENGTH = 24, // PERF_DATA_BLOCK
    BLOCK_OBJECT_TYPES = 28,
    OBJECT_DEFINITION_LENGTH = 4, // PERF_OBJECT_TYPE
    OBJECT_HEADER_LENGTH = 8,
    OBJECT_NUM_COUNTERS = 32,
    OBJECT_NUM_INSTANCES = 40,
    COUNTER_STRIDE = 40, // sizeof(PERF_COUNTER_DEFINITION)
    COUNTER_TITLE_INDEX = 4,
    COUNTER_OFFSET = 36,
    INSTANCE_BYTE_LENGTH = 0, // PERF_INSTANCE_DEFINITION
    INSTANCE_NAME_OFFSET = 16,
    COUNTER_BLOCK_BYTE_LENGTH = 0, // PERF_COUNTER_BLOCK
};
static_assert(offsetof(PERF_DATA_BLOCK, HeaderLength) == BLOCK_HEADER_LENGTH, "layout");
static_assert(offsetof(PERF_DATA_BLOCK, NumObjectTypes) == BLOCK_OBJECT_TYPES, "layout");
static_assert(offsetof(PERF_OBJECT_TYPE, DefinitionLength) == OBJECT_DEFINITION_LENGTH, "layout");
static_assert(offsetof(PERF_OBJECT_TYPE, HeaderLength) == OBJECT_HEADER_LENGTH, "layout");
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == OBJECT_NUM_COUNTERS, "layout");
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == OBJECT_NUM_INSTANCES, "layout");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == COUNTER_STRIDE, "layout");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex) == COUNTER_TITLE_INDEX,
              "layout");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == COUNTER_OFFSET, "layout");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameOffset) == INSTANCE_NAME_OFFSET, "layout");

/* Converts the terminated UTF-16 name at `at` into `row->name`. The name is
   converted into a 260-byte buffer, so a name of 260 units or more cannot
   be converted ("unknown") and is not read further. False when the name
   runs into the block's end first. */
static bool ReadInstanceName(const uint8_t* block, size_t size, size_t at, PerfProcessEntry* row) {
    if (at > size) return false;
    const size_t available = (size - at) / 2; // whole units inside the block
    WCHAR wide[NAME_BUFFER_SIZE + 1];
    size_t units = 0;
    for (; units < NAME_BUFFER_SIZE; units++) {
        if (units == available) return false;
        wide[units] = (WCHAR)(block[at + 2 * units] | block[at + 2 * units + 1] << 8);
        if (wide[units] == 0) break;
    }
    if (units == NAME_BUFFER_SIZE) {
        strcpy(row->name, "unknown");
        return true;
    }
    char name[NAME_BUFFER_SIZE];
    memset(name, 0, sizeof name);
    if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, name, sizeof name, NULL, NULL)) {
        strcpy(row->name, "unknown");
    } else {
        name[sizeof name - 1] = 0;
        if (strlen(name) <= ROW_NAME_CHARS) strcpy(row->name, name); // else it stays empty
    }
    return true;
}

int ReadPerfProcessTable(const uint8_t* block, size_t size, uint32_t counterIndex,
                         PerfProcessEntry* table) {
    static const uint8_t kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
    if (!block || size < sizeof kSignature || memcmp(block, kSignature, sizeof kSignature) != 0)
        return 0;
    uint32_t headerLength, objectTypes;
    if (!Read32(block, size, BLOCK_HEADER_LENGTH, &headerLength) ||
        !Read32(block, size, BLOCK_OBJECT_TYPES, &objectTypes) || objectTypes == 0)
        return 0;

    // Only the first object type is read.
    size_t object;
    uint32_t definitionLength, objectHeaderLength, numCounters, numInstances;
    if (!Advance(0, headerLength, size, &object) ||
        !Read32(block, size, object + OBJECT_DEFINITION_LENGTH, &definitionLength) ||
        !Read32(block, size, object + OBJECT_HEADER_LENGTH, &objectHeaderLength) ||
        !Read32(block, size, object + OBJECT_NUM_COUNTERS, &numCounters) ||
        !Read32(block, size, object + OBJECT_NUM_INSTANCES, &numInstances))
        return 0;

    // The definition of the identifier counter, at a fixed stride. Without it
    // the identifiers cannot be located and no row is read.
    size_t definition;
    if (!Advance(object, objectHeaderLength, size, &definition)) return 0;
    bool found = false;
    uint32_t counterOffset = 0;
    for (uint32_t i = 0; i < numCounters; i++) {
        uint32_t title;
        if (!Read32(block, size, definition + COUNTER_TITLE_INDEX, &title)) return 0;
        if (title == counterIndex) {
            if (!Read32(block, size, definition + COUNTER_OFFSET, &counterOffset)) return 0;
            found = true;
            break;
        }
        if (!Advance(definition, COUNTER_STRIDE, size, &definition)) return 0;
    }
    if (!found) return 0;

    // The count is taken as unsigned: a negative one asks for the most rows.
    const uint32_t most = PERF_TABLE_ROWS_MAX;
    uint32_t rows = numInstances < most ? numInstances : most;
    size_t instance;
    if (!Advance(object, definitionLength, size, &instance)) return 0;
    for (uint32_t r = 0; r < rows; r++) {
        PerfProcessEntry* row = &table[r];
        memset(row, 0, sizeof *row);
        uint32_t byteLength, nameOffset, pid, counterBlockLength;
        size_t name, counters, value;
        if (!Read32(block, size, instance + INSTANCE_BYTE_LENGTH, &byteLength) ||
            !Read32(block, size, instance + INSTANCE_NAME_OFFSET, &nameOffset) ||
            !Advance(instance, nameOffset, size, &name) ||
            !ReadInstanceName(block, size, name, row) ||
            !Advance(instance, byteLength, size, &counters) ||
            !Advance(counters, counterOffset, size, &value) || !Read32(block, size, value, &pid) ||
            !Read32(block, size, counters + COUNTER_BLOCK_BYTE_LENGTH, &counterBlockLength))
            return 0;
        row->processId = pid ? pid : 0xFFFFFFFEu;
        if (r + 1 < rows && !Advance(counters, counterBlockLength, size, &instance)) return 0;
    }
    return (int)rows;
}

/* The two indexes of the English name table: the process object's, as the
   value name to query, and that of its "ID Process" counter. False when
   either is missing or the table cannot be read. */
static bool ReadNameIndexes(char* objectIndex, uint32_t* counterIndex) {
    char keyName[VALUE_NAME_SIZE];
    snprintf(keyName, sizeof keyName, "%s\\%03x", kPerflibKey, 9);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool haveObject = false, haveCounter = false;
    DWORD size = 0;
    if (RegQueryValueExA(key, "Counters", NULL, NULL, NULL, &size) == ERROR_SUCCESS &&
        size < 0xFFFFFFF0u) {
        // Two more zero bytes than the value: its last string is terminated
        // even when the value itself does not end with one.
        char* table = (char*)calloc((size_t)size + 2, 1);
        if (table &&
            RegQueryValueExA(key, "Counters", NULL, NULL, (LPBYTE)table, &size) == ERROR_SUCCESS) {
            const char* previous = NULL;
            for (size_t pos = 0; pos < size;) {
                const char* s = table + pos;
                if (previous && _stricmp(s, "process") == 0) {
                    CopyText(objectIndex, VALUE_NAME_SIZE, previous);
                    haveObject = true;
                } else if (previous && _stricmp(s, "id process") == 0) {
                    *counterIndex = (uint32_t)atol(previous);
                    haveCounter = true;
                }
                previous = s;
                pos += strlen(s) + 1;
            }
        }
        free(table);
    }
    RegCloseKey(key);
    return haveObject && haveCounter;
}

/* Windows' own programs, by instance name: never terminated by name, for a
   variant may well be named like one of them. Besides those whose end stops
   Windows, its shell and its print spooler (NT 4.0's spoolss.exe): the
   user's open folders and print jobs go with them. */
static const char* const kWindowsOwn[] = {"System", "smss",    "csrss",   "winlogon", "services",
                                          "lsass",  "wininit", "svchost", "explorer", "spoolss"};

/* Queries the performance data of `objectIndex`; the block and its size, or
   null. The buffer starts at 51200 bytes and grows by 25600 each time the
   query says it is too small. */
static uint8_t* QueryPerfData(const char* objectIndex, DWORD* dataSize) {
    DWORD capacity = kPerfDataFirstSize;
    uint8_t* data = (uint8_t*)calloc(capacity, 1);
    if (!data) return NULL;
    DWORD size = capacity;
    LONG rc = RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectIndex, NULL, NULL, data, &size);
    while (rc == ERROR_MORE_DATA) {
        // The size the call leaves is not defined: it may be the size
        // needed, the size given, less, or anything. Never shrink, and take
        // no size beyond reason.
        const bool plausible = size > capacity && size <= kPerfDataLimit - kPerfDataGrowth;
        DWORD base = plausible ? size : capacity;
        if (base > kPerfDataLimit - kPerfDataGrowth) break;
        capacity = base + kPerfDataGrowth;
        uint8_t* grown = (uint8_t*)realloc(data, capacity);
        if (!grown) break;
        data = grown;
        memset(data, 0, capacity);
        size = capacity;
        rc = RegQueryValueExA(HKEY_PERFORMANCE_DATA, objectIndex, NULL, NULL, data, &size);
    }
    RegCloseKey(HKEY_PERFORMANCE_DATA);
    if (rc != ERROR_SUCCESS || size == 0) {
        free(data);
        return NULL;
    }
    *dataSize = size < capacity ? size : capacity;
    return data;
}

/* The process table as the performance data gives it now; its rows. */
static int ReadProcessTable(PerfProcessEntry* table) {
    char objectIndex[VALUE_NAME_SIZE];
    uint32_t counterIndex = 0;
    int rows = 0;
    if (ReadNameIndexes(objectIndex, &counterIndex)) {
        DWORD size = 0;
        uint8_t* data = QueryPerfData(objectIndex, &size);
        if (data) rows = ReadPerfProcessTable(data, size, counterIndex, table);
        free(data);
    }
    return rows;
}

/* Whether `table` has a row with the identifier and name of `row`. */
static bool Listed(const PerfProcessEntry* table, int rows, const PerfProcessEntry& row) {
    for (int r = 0; r < rows; r++)
        if (table[r].processId == row.processId && strcmp(table[r].name, row.name) == 0)
            return true;
    return false;
}

int32_t KillByBaseNamePerfData(const char* path) {
    char copy[PATH_COPY_SIZE];
    if (strlen(path) >= sizeof copy) return 0;
    strcpy(copy, path);
    _strupr(copy);
    size_t length = strlen(copy);
    if (length <= 4) return 0;
    copy[length - 4] = 0; // normally the dot and a three-letter extension
    const char* base = FileNamePart(copy);
    // A file name of just its extension has an empty base name: it names no
    // process. Nor does the name of one of Windows' own programs.
    if (!base[0]) return 0;
    for (const char* own : kWindowsOwn)
        if (_stricmp(base, own) == 0) return 0;

    PerfProcessEntry table[PERF_TABLE_ROOM];
    const int rows = ReadProcessTable(table);
    // The whole instance name is the base name; one that only begins with it
    // is another program. Each is opened at once; none is given the
    // identifier of an ended process while its handle is open.
    bool matches[PERF_TABLE_ROOM];
    HANDLE opened[PERF_TABLE_ROOM];
    bool any = false;
    for (int r = 0; r < rows; r++) {
        matches[r] = _stricmp(table[r].name, base) == 0;
        opened[r] = matches[r] && table[r].processId != GetCurrentProcessId()
                        ? OpenProcess(PROCESS_TERMINATE, FALSE, table[r].processId)
                        : NULL;
        if (opened[r]) any = true;
    }
    // Read once more: a row of that identifier and name proves that the
    // handle reaches a process of that name, not one that took the
    // identifier between the reading and the open.
    PerfProcessEntry now[PERF_TABLE_ROOM];
    const int nowRows = any ? ReadProcessTable(now) : 0;
    int32_t result = 0;
    for (int r = 0; r < rows; r++) {
        if (!matches[r]) continue;
        if (opened[r]) {
            if (TerminateRelisted(opened[r], Listed(now, nowRows, table[r]))) result = 1;
            CloseHandle(opened[r]);
        }
        Sleep(500);
    }
    return result;
}

/* ---- NT 2000/XP/2003: psapi, by full path ---- */

/* Terminates every listed process whose image is the file `path`; how
   many. Where kernel32 has QueryFullProcessImageNameA (Vista and later) it
   also reads the images that psapi cannot (64-bit and protected processes). */
static int KillListed(const char* path, bool* listed) {
    // No privilege is enabled here: the process scan may already have done it.
    ProcessImage* list = ListProcessesPsapi(false, true, listed);
    int ended = 0;
    for (const ProcessImage* rec = list; rec; rec = rec->next) {
        if (!SameFile(rec->imagePath, path) || !TerminateListed(rec)) continue;
        ended++;
        Sleep(500);
    }
    FreeProcessList(list);
    return ended;
}

bool KillByPathPsapi(const char* path) {
    bool listed;
    KillListed(path, &listed);
    return listed;
}

int32_t KillByFullPath(const char* path) {
    bool listed;
    return KillListed(path, &listed) > 0 ? 1 : 0;
}

int32_t KillProcessByImage(const char* path) {
    int32_t result;
    switch (GetPlatform()) {
    case PLATFORM_WIN9X:
        result = KillByFileNameToolhelp(path);
        break;
    case PLATFORM_NT:
        switch (GetNtGeneration()) {
        case NTGEN_5:
            return KillByPathPsapi(path) ? 1 : 0;
        case NTGEN_4:
            result = KillByBaseNamePerfData(path);
            break;
        default: // Vista and later
            result = KillByFullPath(path);
            break;
        }
        break;
    default:
        return 1; // nothing is attempted
    }
    if (result) return 1;
    MessageBoxA(NULL, "Could not kill process", path, MB_OK);
    return 0;
}
