/*
** Fuzz target: the legacy attachment check over an arbitrary hosts file.
**
** Input: byte 0 picks the disposal action (delete, rename, delete, report
** only); the rest is the hosts file. Whatever the bytes, the check must
** neither crash nor read outside its buffers, must close the file, and may
** touch nothing but the hosts file itself: a bystander file beside it stays
** as it was, and a file that did not match stays unchanged.
*/
#include "engine/legacy_check.h"
#include "engine/scan_state.h"
#include "fuzz_world.h"
#include "platform/win32.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FreshWorld("legacy");
    memset(&g_scan, 0, sizeof g_scan);
    g_scan.action = ACTION_DELETE + data[0] % 4;
    const std::string hosts = "C:\\WINDOWS\\system32\\drivers\\etc\\hosts";
    const std::string content((const char*)data + 1, size - 1);
    simwin::WriteFile(hosts, content);
    simwin::WriteFile("C:\\WINDOWS\\system32\\drivers\\etc\\lmhosts", "bystander");

    int32_t matched = CheckLegacyFile("W32/Phantaxis.Backdoor", hosts.c_str());
    if (simwin::OpenDescriptorCount() != 0) abort();
    if (simwin::ReadFile("C:\\WINDOWS\\system32\\drivers\\etc\\lmhosts") != "bystander") abort();
    if (matched != 0 && matched != 1) abort();
    if (!matched && simwin::ReadFile(hosts) != content) abort();
    if (g_scan.filesInfected != matched) abort();
    return 0;
}
