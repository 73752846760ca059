/*
** Fuzz target: the wininit.ini merge over an arbitrary existing wininit.ini
** on Windows 98, with up to two failing file operations along the way.
**
** Input: bytes 0 and 1 pick the first operation to fail (or none) and how
** many of its calls succeed first, bytes 2 and 3 the same for a second one,
** bit 0 of byte 4 whether the temporary folder is the Windows folder itself,
** its other bits n: the power is lost at the n-th file operation (none when
** 0; only the first fault then); the rest is the old wininit.ini. At every
** file operation and afterwards the
** file must hold either the old content or the complete new content (only
** while the old file steps aside for the new one may it be missing, and the
** old content then stands whole in cphxini.old); afterwards it holds the old
** content when the request failed and the new content when it succeeded.
** Then Windows restarts (WININIT carries out wininit.ini and renames it to
** wininit.bak) and a second request succeeds: when the restart ran nothing,
** it adds to the old content, else to no content at all; the old content
** is never carried out twice.
**
** Bits 3 and 4 of byte 1 pick the start: 0 wininit.ini alone; 1 a swap the
** power stopped between its renames (kStranded in cphxini.old beside
** cphxini.new); 2 that and another program's new wininit.ini; 3 as 2 with
** kStranded waiting in cphxini.wai too. From 1 to 3, kStranded stands in
** wininit.ini, cphxini.old or cphxini.wai at every file operation, and over
** both restarts it and kLater run once.
**
** The expected file is computed here by a line-based model of the merge:
** the text ends at the first Ctrl+Z; in it, a line starting with "[rename]"
** (any case) opens the section; the entry goes before the first line
** starting with "[" after it, else at the end of the text, after a line
** break when the text does not end with one and after a new "[rename]" line
** when there was no such section; whatever followed the text follows it.
*/
#include "engine/scan_state.h"
#include "fuzz_world.h"
#include "platform/win32.h"
#include "actions/files.h"

#include <cstdlib>
#include <string>

static const char* const kFaults[] = {
    nullptr, "_write", "_open",  "_close",      "CopyFileA",
    "fopen", "fgets",  "fclose", "DeleteFileA", "MoveFileA",
};
static const std::string kEntry = "NUL=C:\\PROGRA~1\\VICTIM~1\\EVIL.EXE\r\n";
static const std::string kLater = "NUL=C:\\B.EXE\r\n";
static const char* const kIni = "C:\\WINDOWS\\wininit.ini";
static const char* const kOld = "C:\\WINDOWS\\cphxini.old";
static const char* const kNew = "C:\\WINDOWS\\cphxini.new";
static const char* const kWait = "C:\\WINDOWS\\cphxini.wai";
static const std::string kStranded = "NUL=C:\\APP\\OLD.DLL\r\n";

static bool IsHeader(const std::string& s, size_t at) {
    static const char kSection[] = "[rename]";
    if (s.size() - at < 8) return false;
    for (size_t i = 0; i < 8; i++)
        if (tolower((unsigned char)s[at + i]) != kSection[i]) return false;
    return true;
}

static std::string Expected(const std::string& old, const std::string& entry = kEntry) {
    const size_t mark = old.find('\x1A');
    const std::string text = old.substr(0, mark),
                      rest = mark == std::string::npos ? "" : old.substr(mark);
    bool inRename = false;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (inRename && text[at] == '[') return text.substr(0, at) + entry + text.substr(at) + rest;
        if (!inRename && IsHeader(text, at)) inRename = true;
        at = end;
    }
    std::string out = text;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    if (!inRename) out += "[rename]\r\n";
    return out + entry + rest;
}

static std::string g_old, g_new;
static int g_start;

static size_t Count(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(line, at)) != std::string::npos; at++)
        n++;
    return n;
}

/* The rule that holds at every moment. */
static void CheckLive() {
    if (g_start) {
        for (const char* f : {kIni, kOld, kWait})
            if (simwin::FileExists(f) && Count(simwin::ReadFile(f), kStranded)) return;
        abort(); // stranded content lost
    }
    if (simwin::FileExists(kIni)) {
        const std::string now = simwin::ReadFile(kIni);
        if (now != g_old && now != g_new) abort(); // damaged
    } else if (!simwin::FileExists(kOld) || simwin::ReadFile(kOld) != g_old) {
        abort(); // lost
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    FreshWorld("wininit");
    simwin::SetWindows98();
    memset(&g_scan, 0, sizeof g_scan);
    g_old.assign((const char*)data + 5, size - 5);
    g_new = Expected(g_old);
    g_start = (data[1] >> 3) % 4;
    for (const char* leftover : {kIni, kOld, kNew, kWait, "C:\\WINDOWS\\wininit.bak"})
        if (simwin::FileExists(leftover)) DeleteFileA(leftover);
    if (g_start) {
        simwin::WriteFile(kOld, "[rename]\r\n" + kStranded);
        simwin::WriteFile(kNew, "[rename]\r\n" + kStranded + kEntry);
    }
    if (g_start == 3) simwin::WriteFile(kWait, "[rename]\r\n" + kStranded);
    if (g_start != 1) simwin::WriteFile(kIni, g_old);
    simwin::WriteFile("C:\\Program Files\\Victim Tool\\evil.exe", "MZ");
    simwin::MakeDir("C:\\WINDOWS\\TEMP");
    if (data[4] & 1) simwin::SetTempPath("C:\\WINDOWS\\");

    const size_t faults = sizeof kFaults / sizeof kFaults[0];
    const int powerLost = data[4] >> 1;
    bool deleteFails = false;
    for (int i = 0; i < (powerLost ? 1 : 2); i++) {
        const char* fault = kFaults[data[2 * i] % faults];
        if (!fault) continue;
        simwin::FailCall(fault, ERROR_ACCESS_DENIED, 1, data[2 * i + 1] % 8);
        if (!strcmp(fault, "DeleteFileA")) deleteFails = true;
    }
    int calls = 0;
    for (const char* fault : kFaults) {
        if (!fault) continue;
        simwin::OnCall(fault, CheckLive);
        simwin::OnCall(fault, [&] {
            if (++calls == powerLost)
                for (const char* f : kFaults)
                    if (f) simwin::FailCall(f, ERROR_ACCESS_DENIED, -1);
        });
    }

    const bool ok = AddWininitRename("NUL", "C:\\PROGRA~1\\VICTIM~1\\EVIL.EXE");
    CheckLive();
    if (!g_start && (calls < powerLost || !powerLost)) {
        if (!simwin::FileExists(kIni)) abort(); // not back in place
        const std::string now = simwin::ReadFile(kIni);
        if (now != (ok ? g_new : g_old)) abort(); // result and file disagree
        // Leftovers only where deleting them failed.
        if (!deleteFails &&
            (simwin::FileExists(kOld) || simwin::FileExists("C:\\WINDOWS\\cphxini.new")))
            abort();
        if (simwin::OpenDescriptorCount() != 0 || simwin::OpenStreamCount() != 0) abort();
    }

    // Windows starts again, and the next request succeeds.
    FreshWorld("wininit");
    simwin::SetWindows98();
    if (data[4] & 1) simwin::SetTempPath("C:\\WINDOWS\\");
    const std::string ran = simwin::RunWininit();
    if (!g_start && !ran.empty() && ran != g_old && ran != g_new) abort(); // damaged
    if (!AddWininitRename("NUL", "C:\\B.EXE")) abort();
    // Content a lost power stranded mid-swap is merged into the next request
    // (its own sweep pins how); content that ran never runs again.
    const std::string next = simwin::ReadFile(kIni);
    if (g_start) {
        FreshWorld("wininit");
        simwin::SetWindows98();
        const std::string all = ran + simwin::RunWininit();
        if ((Count(all, kStranded) != 1 && !Count(g_old, kStranded)) || Count(all, kLater) < 1)
            abort(); // lost, or ran twice
        return 0;
    }
    if (ran.empty() ? next.find(kLater) == std::string::npos : next != Expected("", kLater))
        abort(); // lost, or ran again
    return 0;
}
