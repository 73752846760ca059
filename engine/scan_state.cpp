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
