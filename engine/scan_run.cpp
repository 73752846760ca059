/*
** The scan run: the whole of one scan, from the memory scan to the closing
** statistics and the restart question. Runs on the window's thread, inside
** its timer handler; everything it reports goes out through PostLogLine and
** ShowStatus.
*/
#include "engine/scan_run.h"
#include "actions/files.h"
#include "engine/ask_user.h"
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "engine/walk.h"
#include "memory/memory_scan.h"
#include "platform/platform.h"
#include "platform/wow64.h"
#include "repair/service_command.h"
#include "actions/restart.h"

/* After each top-level walk: the drive's "\Program Files" when the tree walk
   did not enter it under exactly that spelling. */
static void WalkProgramFilesIfMissed() {
    if (g_scan.programFilesPending == 1 && g_scan.programFilesVisited == 0) {
        WalkDirectory(g_scan.programFilesPattern);
        g_scan.programFilesPending = 0;
    }
}

static void WalkTarget() {
    if (strcmp(g_scan.target, "!:") == 0) {
        for (char letter = 'C'; letter <= 'Z'; letter++) {
            char root[4] = {letter, ':', '\\', 0};
            if (GetDriveTypeA(root) != DRIVE_FIXED) continue;
            char pattern[8] = {letter, ':', '\\', '*', '.', '*', 0};
            WalkDirectory(pattern);
            WalkProgramFilesIfMissed();
        }
        return;
    }
    char pattern[260];
    if (strlen(g_scan.target) + 4 >= sizeof pattern) return; // no room for "\*.*"
    strcpy(pattern, g_scan.target);
    strcat(pattern, "\\*.*");
    WalkDirectory(pattern);
    WalkProgramFilesIfMissed();
}

int32_t RunScan() {
    // A proof of an earlier run is no ground for this one's acts by name.
    g_scan.provedVariant[0] = 0;
    DetectWow64();
    EnableBackupPrivileges();
    ResolveFileOpens();
    if (g_scan.target[0]) {
        ScanMemory();
        WalkTarget();
    }
    g_scan.keepLog = true;
    ForgetMatched(); // no check comes after the walks
    if (g_scan.filesInfected > 0) PostLogLine(" ");
    PostLogLine("Scanning statistics");
    PostLogLine("------------------------------");
    PostLogLine("Total files scanned\t\t:  %d", g_scan.filesScanned);
    PostLogLine("Total files infected\t\t:  %d", g_scan.filesInfected);
    PostLogLine("Total files removed\t\t:  %d", g_scan.filesRemoved);
    ShowStatus(g_scan.stopRequested ? "Scanning terminated" : "Scanning completed");
    // The files waiting for the restart are checked again when it is offered
    // and once more when the answer comes: one moved away needs no restart.
    if (RestartStillNeeded() &&
        AskUser("The system has to be restarted to remove the virus completely from your "
                "system. \n\n Restart now?",
                SCAN_TITLE, MB_YESNO | MB_ICONQUESTION) == IDYES &&
        RestartStillNeeded())
        RestartComputer();
    return 1;
}
