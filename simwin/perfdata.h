/*
** simwin: the performance data of the NT family, as far as the "Process"
** object goes.
**
** A query of HKEY_PERFORMANCE_DATA answers with one PERF_DATA_BLOCK in the
** layout Windows publishes (the structures below, 32-bit Windows' sizes):
** the block header and the computer's UTF-16 name; one PERF_OBJECT_TYPE;
** its PERF_COUNTER_DEFINITIONs, 40 bytes each; then per instance a
** PERF_INSTANCE_DEFINITION, the instance's UTF-16 name (terminated, padded
** to 8 bytes) and a PERF_COUNTER_BLOCK with the counter values. Offsets are
** relative: an object's counter definitions start at its HeaderLength, its
** first instance at its DefinitionLength; an instance's name at its
** NameOffset and its counter block at its ByteLength; a counter's value at
** the counter block plus CounterOffset; the next instance right after the
** counter block (its ByteLength).
**
** The English name table ("Counters" under PerflibEnglishKey) lists index and
** name strings in turn, among them 230 "Process" and 784 "ID Process".
**
** A world has no performance data until the test installs it: with
** ServeProcessPerformanceData for the live process table, or with
** ServePerformanceBlock for bytes of its own (hostile ones included).
*/
#ifndef SIMWIN_PERFDATA_H
#define SIMWIN_PERFDATA_H

#include "simwin/base.h"
#include <functional>
#include <string>
#include <vector>

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

struct PERF_DATA_BLOCK {
    WCHAR Signature[4];
    DWORD LittleEndian;
    DWORD Version;
    DWORD Revision;
    DWORD TotalByteLength;
    DWORD HeaderLength;
    DWORD NumObjectTypes;
    LONG DefaultObject;
    SYSTEMTIME SystemTime;
    LARGE_INTEGER PerfTime;
    LARGE_INTEGER PerfFreq;
    LARGE_INTEGER PerfTime100nSec;
    DWORD SystemNameLength;
    DWORD SystemNameOffset;
};

struct PERF_OBJECT_TYPE {
    DWORD TotalByteLength;
    DWORD DefinitionLength;
    DWORD HeaderLength;
    DWORD ObjectNameTitleIndex;
    DWORD ObjectNameTitle; // a pointer on 32-bit Windows, unused in data
    DWORD ObjectHelpTitleIndex;
    DWORD ObjectHelpTitle;
    DWORD DetailLevel;
    DWORD NumCounters;
    LONG DefaultCounter;
    LONG NumInstances;
    DWORD CodePage;
    LARGE_INTEGER PerfTime;
    LARGE_INTEGER PerfFreq;
};

struct PERF_COUNTER_DEFINITION {
    DWORD ByteLength;
    DWORD CounterNameTitleIndex;
    DWORD CounterNameTitle; // a pointer on 32-bit Windows, unused in data
    DWORD CounterHelpTitleIndex;
    DWORD CounterHelpTitle;
    LONG DefaultScale;
    DWORD DetailLevel;
    DWORD CounterType;
    DWORD CounterSize;
    DWORD CounterOffset;
};

struct PERF_INSTANCE_DEFINITION {
    DWORD ByteLength;
    DWORD ParentObjectTitleIndex;
    DWORD ParentObjectInstance;
    LONG UniqueID;
    DWORD NameOffset;
    DWORD NameLength;
};

struct PERF_COUNTER_BLOCK {
    DWORD ByteLength;
};

static_assert(sizeof(PERF_DATA_BLOCK) == 88, "published layout");
static_assert(sizeof(PERF_OBJECT_TYPE) == 64, "published layout");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40, "published layout");
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == 24, "published layout");
static_assert(sizeof(PERF_COUNTER_BLOCK) == 4, "published layout");

#define PERF_NO_INSTANCES -1
#define PERF_NO_UNIQUE_ID -1
#define PERF_DETAIL_NOVICE 100

namespace simwin {

/* Key of the English name table under HKEY_LOCAL_MACHINE. */
extern const char kPerflibEnglishKey[];
/* Title indexes of the process object and its identifier counter. */
const DWORD kProcessObjectIndex = 230;
const DWORD kIdProcessCounterIndex = 784;

/* Writes the "Counters" value of the English name table. */
void InstallPerfNameTable();

struct PerfInstance {
    std::u16string name;
    DWORD pid;
};

/* Where the parts of a block made by BuildProcessPerfBlock lie, for tests
   that damage it on purpose. */
struct PerfBlockLayout {
    size_t object = 0;                 // the PERF_OBJECT_TYPE
    size_t counters = 0;               // its first PERF_COUNTER_DEFINITION
    size_t idCounter = 0;              // the definition of "ID Process"
    std::vector<size_t> instances;     // each PERF_INSTANCE_DEFINITION
    std::vector<size_t> counterBlocks; // each instance's PERF_COUNTER_BLOCK
};

/* A whole block with the process object and one instance per entry, in
   order; the counters are those Windows XP reports for a process, "ID
   Process" the fifteenth of 27. */
std::vector<uint8_t> BuildProcessPerfBlock(const std::vector<PerfInstance>& instances,
                                           PerfBlockLayout* layout = nullptr);
/* A block with no object at all (what a query for an unknown index gets). */
std::vector<uint8_t> BuildEmptyPerfBlock();

/* What Windows reports for the running processes: one instance per process
   by its instance name, in order of identifier, then "_Total" with
   identifier 0. */
std::vector<PerfInstance> ProcessPerfInstances();

/* Installs the name table and answers queries from the live process table:
   "230" (alone or among other indexes) and "Global" get the process object as
   of that query; any other value name a block without objects. */
void ServeProcessPerformanceData();
/* Installs the name table and answers every query with `block`. */
void ServePerformanceBlock(const std::vector<uint8_t>& block);

/* What a query of HKEY_PERFORMANCE_DATA leaves in its size argument when it
   answers ERROR_MORE_DATA. Windows documents the value as undefined then;
   by default it stays as the caller gave it, and a test may have it report
   something else: `reported(given, needed)` gives the value left. */
void SetPerfSizeOnMoreData(std::function<DWORD(DWORD given, DWORD needed)> reported);
/* Used by the registry's query: the size to leave after ERROR_MORE_DATA. */
DWORD PerfSizeOnMoreData(DWORD given, DWORD needed);

/* UTF-16 of plain 8-bit text (each byte one unit). */
std::u16string Utf16(const std::string& text);

} // namespace simwin

#endif
