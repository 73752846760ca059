/*
** Fuzz target: the file check over arbitrary file contents. Whatever the
** bytes, the check must neither crash nor read outside its buffers, and must
** close the file before it returns.
*/
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "fuzz_world.h"
#include "platform/win32.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FreshWorld("file-check");
    memset(&g_scan, 0, sizeof g_scan);
    g_scan.action = ACTION_REPORT_ONLY;
    simwin::WriteFile("C:\\sample.exe", std::string((const char*)data, size));
    CheckFile("W32/Phantaxis.Trojan", "C:\\sample.exe");
    if (simwin::OpenDescriptorCount() != 0) abort();
    return 0;
}
