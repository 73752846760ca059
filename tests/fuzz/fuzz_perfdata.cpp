/*
** Fuzz target: the performance-data reader of the NT 4.0 termination
** method. The HKEY_PERFORMANCE_DATA provider answers every query with the
** input bytes; KillByBaseNamePerfData reads its process table out of them
** and terminates what matches C:\x\abc.exe. Whatever the bytes, it must
** neither crash nor read outside the block or its buffers, must close every
** handle and free every block it took, and must report 0 or 1.
**
** Run with FUZZ_WRITE_SEEDS=<folder> it first writes well-formed blocks
** there (those committed in tests/fuzz/seeds/fuzz_perfdata were made so).
*/
#include "memory/kill_process.h"
#include "platform/win32.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::vector<simwin::PerfInstance> Instances() {
    return {{u"Idle", 0},      {u"System", 2}, {u"abc", 1000},
            {u"abcdef", 1004}, {u"ab", 1008},  {u"a-name-of-seventeen", 1012},
            {u"_Total", 0}};
}

void WriteSeeds(const std::string& folder) {
    auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(folder + "/" + name, std::ios::binary)
            .write((const char*)bytes.data(), (std::streamsize)bytes.size());
    };
    simwin::PerfBlockLayout layout;
    std::vector<uint8_t> block = simwin::BuildProcessPerfBlock(Instances(), &layout);
    write("processes", block);
    write("one-process", simwin::BuildProcessPerfBlock({{u"abc", 1000}}));
    write("no-instances", simwin::BuildProcessPerfBlock({}));
    write("no-object", simwin::BuildEmptyPerfBlock());
    // Cut inside the counter definitions and inside the last instance.
    write("cut-in-counters",
          std::vector<uint8_t>(block.begin(), block.begin() + (long)layout.idCounter + 8));
    write("cut-in-instance",
          std::vector<uint8_t>(block.begin(), block.begin() + (long)layout.instances.back() + 20));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* folder = getenv("FUZZ_WRITE_SEEDS")) WriteSeeds(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    simwin::Reset();
    simwin::SetWindowsNt4();
    for (auto& p : Instances())
        if (p.pid >= 1000) simwin::StartProcess({"C:\\x\\" + std::to_string(p.pid) + ".exe"});
    simwin::ServePerformanceBlock(std::vector<uint8_t>(data, data + size));
    int32_t result = KillByBaseNamePerfData("C:\\x\\abc.exe");
    if (result != 0 && result != 1) abort();
    if (simwin::OpenHandleCount() != 0) abort();
    return 0;
}
