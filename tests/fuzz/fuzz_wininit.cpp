/*
** Fuzz target: the wininit.ini merge over an arbitrary existing wininit.ini
** on Windows 98, with at most one failing file operation along the way.
**
** Input: byte 0 picks the operation to fail (or none), byte 1 how many of
** its calls succeed first; the rest is the old wininit.ini. Afterwards the
** file must hold either the old content unchanged (the request failed) or
** the old content with exactly one correct entry added where the merge puts
** it (the request succeeded): the old content is never lost.
**
** The expected file is computed here by a line-based model of the merge:
** a line starting with "[rename]" (any case) opens the section; the entry
** goes before the first line starting with "[" after it, else at the end,
** after a line break when the file does not end with one and after a new
** "[rename]" line when there was no such section.
*/
#include "engine/scan_state.h"
#include "platform/win32.h"
#include "repair/delete_on_restart.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

static std::string Root() {
    static std::string root;
    if (root.empty()) {
        char tmpl[] = "/tmp/cpfuzz-wininit-XXXXXX";
        root = mkdtemp(tmpl);
    }
    return root;
}

static const char* const kFaults[] = {
    nullptr, "_write", "_open",  "_close",      "CopyFileA",
    "fopen", "fgets",  "fclose", "DeleteFileA", "MoveFileA",
};
static const std::string kEntry = "NUL=C:\\PROGRA~1\\VICTIM~1\\EVIL.EXE\r\n";

static bool IsHeader(const std::string& s, size_t at) {
    static const char kSection[] = "[rename]";
    if (s.size() - at < 8) return false;
    for (size_t i = 0; i < 8; i++)
        if (tolower((unsigned char)s[at + i]) != kSection[i]) return false;
    return true;
}

static std::string Expected(const std::string& old) {
    bool inRename = false;
    for (size_t at = 0; at < old.size();) {
        size_t end = old.find('\n', at);
        end = end == std::string::npos ? old.size() : end + 1;
        if (inRename && old[at] == '[') return old.substr(0, at) + kEntry + old.substr(at);
        if (!inRename && IsHeader(old, at)) inRename = true;
        at = end;
    }
    std::string out = old;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    if (!inRename) out += "[rename]\r\n";
    return out + kEntry;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    simwin::Reset();
    simwin::MapDrive('C', Root());
    simwin::SetWindows98();
    memset(&g_scan, 0, sizeof g_scan);
    const std::string ini = "C:\\WINDOWS\\wininit.ini";
    const std::string old((const char*)data + 2, size - 2);
    simwin::WriteFile(ini, old);
    simwin::WriteFile("C:\\Program Files\\Victim Tool\\evil.exe", "MZ");
    simwin::MakeDir("C:\\WINDOWS\\TEMP");

    const size_t faults = sizeof kFaults / sizeof kFaults[0];
    const char* fault = kFaults[data[0] % faults];
    if (fault) simwin::FailCall(fault, ERROR_ACCESS_DENIED, 1, data[1] % 8);

    bool ok = AddWininitRename("NUL", "C:\\PROGRA~1\\VICTIM~1\\EVIL.EXE");
    const std::string now = simwin::ReadFile(ini);
    if (!simwin::FileExists(ini)) abort();                       // lost
    if (!ok && now != old) abort();                              // failed, yet changed
    if (ok && now != Expected(old)) abort();                     // wrong entry or damage
    if (simwin::FileExists("C:\\WINDOWS\\wininit.new")) abort(); // left behind
    if (simwin::OpenDescriptorCount() != 0 || simwin::OpenStreamCount() != 0) abort();
    return 0;
}
