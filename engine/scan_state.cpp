/*
** The scan state and the two notifications to the main window.
*/
#include "engine/scan_state.h"

#include <stdarg.h>

ScanState g_scan;

void CopyText(char* dest, size_t size, const char* src) {
    if (size == 0) return;
    size_t n = strlen(src);
    if (n >= size) n = size - 1;
    memmove(dest, src, n);
    dest[n] = 0;
}

#ifdef CHECK_SCAN_STATE
/* The first broken rule's text, or null. */
static const char* BrokenScanStateRule() {
    const ScanState& s = g_scan;
    if (s.pendingMemoryAction != 0 && !s.memoryScanMode)
        return "pendingMemoryAction outside memory-scan mode";
    if (s.memoryRestartNeeded && !s.memoryScanMode)
        return "memoryRestartNeeded outside memory-scan mode";
    if (s.keepLog) return "a walk or check after the statistics (keepLog)";
    const int32_t slots = (int32_t)(sizeof s.volumeEntered / sizeof s.volumeEntered[0]);
    if (s.volumesEntered < 0 || s.volumesEntered > slots) return "volumesEntered out of its slots";
    const int32_t waiting = (int32_t)(sizeof s.fileWaiting / sizeof s.fileWaiting[0]);
    if (s.filesWaiting < 0 || s.filesWaiting > waiting) return "filesWaiting out of its slots";
    for (BOOL flag : {s.scanning, s.restartNeeded, s.programFilesPending, s.programFilesVisited,
                      s.memoryRestartNeeded, s.restartOtherwise})
        if (flag != 0 && flag != 1) return "a BOOL flag other than 0 or 1";
    return nullptr;
}
#endif

void CheckScanStateRules() {
#ifdef CHECK_SCAN_STATE
    if (const char* broken = BrokenScanStateRule()) {
        fprintf(stderr, "scan state rule broken: %s\n", broken);
        abort();
    }
#endif
}

void PostLogLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_scan.lineBuffer, sizeof g_scan.lineBuffer, format, args);
    va_end(args);
    if (g_scan.mainWindow) SendMessageA(g_scan.mainWindow, WM_SCAN_LOGLINE, 0, 0);
}

void ShowStatus(const char* text) {
    if (text != g_scan.statusText) CopyText(g_scan.statusText, sizeof g_scan.statusText, text);
    if (g_scan.mainWindow) SendMessageA(g_scan.mainWindow, WM_SCAN_STATUS, 0, 0);
}
