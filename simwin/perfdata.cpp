/*
** simwin: the English performance name table and the process object's
** performance data block.
*/
#include "simwin/perfdata.h"
#include "simwin/crt.h"
#include "simwin/processes.h"
#include "simwin/registry.h"

#include <cstddef>
#include <map>

namespace {

/* Counter types as winperf.h composes them. */
const DWORD kTimer100ns = 0x20510500;    // PERF_100NSEC_TIMER
const DWORD kRawCount = 0x00010000;      // PERF_COUNTER_RAWCOUNT
const DWORD kLargeRawCount = 0x00010100; // PERF_COUNTER_LARGE_RAWCOUNT
const DWORD kCounter = 0x10410400;       // PERF_COUNTER_COUNTER
const DWORD kBulkCount = 0x10410500;     // PERF_COUNTER_BULK_COUNT
const DWORD kElapsed = 0x30240500;       // PERF_ELAPSED_TIME

struct Counter {
    DWORD index;
    const char* name;
    DWORD type;
    DWORD size;
};

/* The process object's counters, in the order Windows XP lists them. */
const Counter kProcessCounters[] = {
    {6, "% Processor Time", kTimer100ns, 8},
    {142, "% User Time", kTimer100ns, 8},
    {144, "% Privileged Time", kTimer100ns, 8},
    {172, "Virtual Bytes Peak", kLargeRawCount, 8},
    {174, "Virtual Bytes", kLargeRawCount, 8},
    {28, "Page Faults/sec", kCounter, 4},
    {178, "Working Set Peak", kLargeRawCount, 8},
    {180, "Working Set", kLargeRawCount, 8},
    {182, "Page File Bytes Peak", kLargeRawCount, 8},
    {184, "Page File Bytes", kLargeRawCount, 8},
    {186, "Private Bytes", kLargeRawCount, 8},
    {680, "Thread Count", kRawCount, 4},
    {682, "Priority Base", kRawCount, 4},
    {684, "Elapsed Time", kElapsed, 8},
    {784, "ID Process", kRawCount, 4},
    {1410, "Creating Process ID", kRawCount, 4},
    {56, "Pool Paged Bytes", kRawCount, 4},
    {58, "Pool Nonpaged Bytes", kRawCount, 4},
    {952, "Handle Count", kRawCount, 4},
    {1412, "IO Read Operations/sec", kBulkCount, 8},
    {1414, "IO Write Operations/sec", kBulkCount, 8},
    {1416, "IO Data Operations/sec", kBulkCount, 8},
    {1418, "IO Other Operations/sec", kBulkCount, 8},
    {1420, "IO Read Bytes/sec", kBulkCount, 8},
    {1422, "IO Write Bytes/sec", kBulkCount, 8},
    {1424, "IO Data Bytes/sec", kBulkCount, 8},
    {1426, "IO Other Bytes/sec", kBulkCount, 8},
};
const size_t kCounterCount = sizeof kProcessCounters / sizeof kProcessCounters[0];

/* Other names of the table, objects first. */
const std::pair<DWORD, const char*> kOtherNames[] = {
    {1, "1847"},     {2, "System"},      {4, "Memory"},    {230, "Process"},
    {232, "Thread"}, {238, "Processor"}, {260, "Objects"}, {1846, "End Marker"},
};

std::function<DWORD(DWORD, DWORD)> sizeOnMoreData;
simwin::ResetHook resetPerfSize([] { sizeOnMoreData = nullptr; });

size_t Align8(size_t n) { return (n + 7) & ~(size_t)7; }

template <class T> void Put(std::vector<uint8_t>& block, size_t at, const T& value) {
    memcpy(block.data() + at, &value, sizeof value);
}

void PutName(std::vector<uint8_t>& block, size_t at, const std::u16string& name) {
    for (size_t i = 0; i < name.size(); i++) {
        block[at + 2 * i] = (uint8_t)(name[i] & 0xFF);
        block[at + 2 * i + 1] = (uint8_t)(name[i] >> 8);
    }
}

/* The block header and the computer's name; `objects` as given. */
std::vector<uint8_t> Header(DWORD objects) {
    const std::u16string computer = u"SIMWIN";
    size_t nameBytes = (computer.size() + 1) * 2;
    size_t headerLength = Align8(sizeof(PERF_DATA_BLOCK) + nameBytes);
    std::vector<uint8_t> block(headerLength, 0);
    PERF_DATA_BLOCK h;
    memset(&h, 0, sizeof h);
    const char16_t sig[4] = {u'P', u'E', u'R', u'F'};
    for (int i = 0; i < 4; i++)
        h.Signature[i] = sig[i];
    h.LittleEndian = 1;
    h.Version = 1;
    h.Revision = 1;
    h.TotalByteLength = (DWORD)headerLength;
    h.HeaderLength = (DWORD)headerLength;
    h.NumObjectTypes = objects;
    h.DefaultObject = 238;
    h.SystemTime = SYSTEMTIME{2003, 6, 0, 1, 12, 0, 0, 0};
    h.PerfTime.QuadPart = 123456789;
    h.PerfFreq.QuadPart = 3579545;
    h.PerfTime100nSec.QuadPart = 127000000000000000LL;
    h.SystemNameLength = (DWORD)nameBytes;
    h.SystemNameOffset = sizeof(PERF_DATA_BLOCK);
    Put(block, 0, h);
    PutName(block, sizeof(PERF_DATA_BLOCK), computer);
    return block;
}

std::vector<uint8_t> Answer(const std::string& valueName) {
    // The value name lists indexes separated by blanks, or a word such as Global.
    std::string token;
    bool process = false;
    for (size_t i = 0; i <= valueName.size(); i++) {
        if (i == valueName.size() || valueName[i] == ' ') {
            if (token == "230" || _stricmp(token.c_str(), "Global") == 0) process = true;
            token.clear();
        } else {
            token += valueName[i];
        }
    }
    if (!process) return simwin::BuildEmptyPerfBlock();
    return simwin::BuildProcessPerfBlock(simwin::ProcessPerfInstances());
}

} // namespace

namespace simwin {

const char kPerflibEnglishKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib\\009";

void InstallPerfNameTable() {
    std::map<DWORD, std::string> names;
    for (auto& [index, name] : kOtherNames)
        names[index] = name;
    for (const Counter& c : kProcessCounters)
        names[c.index] = c.name;
    std::vector<uint8_t> value;
    for (auto& [index, name] : names) {
        std::string number = std::to_string(index);
        value.insert(value.end(), number.begin(), number.end());
        value.push_back(0);
        value.insert(value.end(), name.begin(), name.end());
        value.push_back(0);
    }
    value.push_back(0); // REG_MULTI_SZ: an empty string ends the list
    RegSetValue(HKEY_LOCAL_MACHINE, kPerflibEnglishKey, "Counters", REG_MULTI_SZ, value);
    RegSetValue(HKEY_LOCAL_MACHINE, kPerflibEnglishKey, "Help", REG_MULTI_SZ, {0, 0});
}

std::vector<uint8_t> BuildEmptyPerfBlock() { return Header(0); }

std::vector<uint8_t> BuildProcessPerfBlock(const std::vector<PerfInstance>& instances,
                                           PerfBlockLayout* layout) {
    PerfBlockLayout where;
    std::vector<uint8_t> block = Header(1);
    const size_t object = block.size();
    where.object = object;

    // Counter values: each aligned to its own size, after the counter block's
    // length field (padded to 8).
    std::vector<DWORD> offsets;
    size_t valueBytes = 8;
    size_t idOffset = 0;
    for (const Counter& c : kProcessCounters) {
        valueBytes = (valueBytes + c.size - 1) / c.size * c.size;
        offsets.push_back((DWORD)valueBytes);
        if (c.index == kIdProcessCounterIndex) idOffset = valueBytes;
        valueBytes += c.size;
    }
    const size_t counterBlockLength = Align8(valueBytes);

    const size_t definitionLength =
        sizeof(PERF_OBJECT_TYPE) + kCounterCount * sizeof(PERF_COUNTER_DEFINITION);
    block.resize(object + definitionLength, 0);
    where.counters = object + sizeof(PERF_OBJECT_TYPE);
    for (size_t i = 0; i < kCounterCount; i++) {
        const Counter& c = kProcessCounters[i];
        PERF_COUNTER_DEFINITION d;
        memset(&d, 0, sizeof d);
        d.ByteLength = sizeof d;
        d.CounterNameTitleIndex = c.index;
        d.CounterHelpTitleIndex = c.index + 1;
        d.DetailLevel = PERF_DETAIL_NOVICE;
        d.CounterType = c.type;
        d.CounterSize = c.size;
        d.CounterOffset = offsets[i];
        size_t at = where.counters + i * sizeof d;
        if (c.index == kIdProcessCounterIndex) where.idCounter = at;
        Put(block, at, d);
    }

    for (const PerfInstance& inst : instances) {
        const size_t at = block.size();
        const size_t nameBytes = (inst.name.size() + 1) * 2;
        const size_t instLength = sizeof(PERF_INSTANCE_DEFINITION) + Align8(nameBytes);
        block.resize(at + instLength + counterBlockLength, 0);
        PERF_INSTANCE_DEFINITION d;
        memset(&d, 0, sizeof d);
        d.ByteLength = (DWORD)instLength;
        d.UniqueID = PERF_NO_UNIQUE_ID;
        d.NameOffset = sizeof d;
        d.NameLength = (DWORD)nameBytes;
        Put(block, at, d);
        PutName(block, at + sizeof d, inst.name);
        const size_t counters = at + instLength;
        Put(block, counters, PERF_COUNTER_BLOCK{(DWORD)counterBlockLength});
        Put(block, counters + idOffset, inst.pid);
        where.instances.push_back(at);
        where.counterBlocks.push_back(counters);
    }

    PERF_OBJECT_TYPE o;
    memset(&o, 0, sizeof o);
    o.TotalByteLength = (DWORD)(block.size() - object);
    o.DefinitionLength = (DWORD)definitionLength;
    o.HeaderLength = sizeof o;
    o.ObjectNameTitleIndex = kProcessObjectIndex;
    o.ObjectHelpTitleIndex = kProcessObjectIndex + 1;
    o.DetailLevel = PERF_DETAIL_NOVICE;
    o.NumCounters = (DWORD)kCounterCount;
    o.DefaultCounter = 0;
    o.NumInstances = (LONG)instances.size();
    o.PerfFreq.QuadPart = 10000000;
    Put(block, object, o);
    Put(block, offsetof(PERF_DATA_BLOCK, TotalByteLength), (DWORD)block.size());
    if (layout) *layout = where;
    return block;
}

std::vector<PerfInstance> ProcessPerfInstances() {
    std::vector<PerfInstance> list;
    for (const ProcessView& p : RunningProcesses())
        list.push_back({Utf16(p.instanceName), p.pid});
    list.push_back({u"_Total", 0});
    return list;
}

void ServeProcessPerformanceData() {
    InstallPerfNameTable();
    SetPerformanceData(Answer);
}

void ServePerformanceBlock(const std::vector<uint8_t>& block) {
    InstallPerfNameTable();
    SetPerformanceData([block](const std::string&) { return block; });
}

void SetPerfSizeOnMoreData(std::function<DWORD(DWORD, DWORD)> reported) {
    sizeOnMoreData = std::move(reported);
}

DWORD PerfSizeOnMoreData(DWORD given, DWORD needed) {
    return sizeOnMoreData ? sizeOnMoreData(given, needed) : given;
}

std::u16string Utf16(const std::string& text) {
    std::u16string out;
    for (unsigned char c : text)
        out += (char16_t)c;
    return out;
}

} // namespace simwin
