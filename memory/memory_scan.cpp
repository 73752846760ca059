/*
** The memory scan step: before any drive is walked, the running programs are
** checked, and a running variant is terminated and its file disposed of. On
** NT a variant found in memory ends the program here (exit code 0), after
** offering a restart when a variant's service could not be stopped or a
** file's delete waits for the restart; the files are scanned in a later
** run. On Windows 9x the scan goes on.
*/
#include "memory/memory_scan.h"
#include "engine/ask_user.h"
#include "engine/file_check.h"
#include "engine/scan_state.h"
#include "platform/platform.h"
#include "memory/process_scan.h"
#include "actions/restart.h"

void ScanMemory() {
    const int32_t platform = GetPlatform();
    g_scan.memoryScanMode = true;
    if (platform == PLATFORM_WIN9X) {
        ScanProcessesToolhelp(); // the drives are walked in any case
    } else if (platform == PLATFORM_NT && ScanProcessesPsapi()) {
        if ((g_scan.memoryRestartNeeded == 1 || RestartStillNeeded()) &&
            AskUser("W32/Phantaxis.Backdoor found in memory! registry entries created by the "
                    "worm are removed. You must restart the computer and run this program to "
                    "continue scanning.\n\nRestart the computer now?",
                    SCAN_TITLE, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK &&
            (g_scan.memoryRestartNeeded == 1 || RestartStillNeeded()))
            RestartComputer();
        exit(0);
    }
    g_scan.memoryScanMode = false;
}
