/*
** demo_scan: one scan through the host build, over a simulated drive C: with
** a few planted specimens, printing the log lines and the final status as
** the window would list them.
**
**   demo_scan <specimen-folder> <work-folder>
*/
#include "engine/scan_run.h"
#include "engine/scan_state.h"
#include "platform/win32.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

static LRESULT PrintingWindow(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_SCAN_LOGLINE) printf("  | %s\n", g_scan.lineBuffer);
    return 0;
}

static bool Plant(const std::string& specimens, int row, const std::string& winPath) {
    char name[32];
    snprintf(name, sizeof name, "/rec-%03d.exe", row);
    std::ifstream in(specimens + name, std::ios::binary);
    if (!in) return false;
    simwin::WriteFile(winPath, std::string(std::istreambuf_iterator<char>(in), {}));
    return true;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <specimen-folder> <work-folder>\n", argv[0]);
        return 2;
    }
    std::string specimens = argv[1], work = argv[2];
    simwin::Reset();
    simwin::MapDrive('C', work + "/c");
    simwin::MapDrive('D', work + "/d", DRIVE_CDROM);
    simwin::WriteFile("C:\\WINDOWS\\system32\\drivers\\etc\\hosts", "127.0.0.1 localhost\r\n");
    simwin::WriteFile("C:\\Documents\\letter.txt", "Dear friend,\r\n");
    simwin::WriteFile("C:\\Program Files\\Editor\\editor.exe", "MZ not really a program");
    bool planted = Plant(specimens, 1, "C:\\Documents\\Downloads\\setup.exe") &&
                   Plant(specimens, 45, "C:\\Program Files\\Toolbar\\toolbar.exe") &&
                   Plant(specimens, 127, "C:\\WINDOWS\\Temp\\svchost32.exe");
    if (!planted) {
        fprintf(stderr, "demo_scan: specimens missing in %s (build the host first)\n",
                specimens.c_str());
        return 1;
    }
    SetFileAttributesA("C:\\WINDOWS\\Temp\\svchost32.exe", FILE_ATTRIBUTE_READONLY);

    printf("Scanning a simulated drive C: at %s/c\n", work.c_str());
    g_scan.mainWindow = simwin::CreateTestWindow(PrintingWindow);
    strcpy(g_scan.target, "!:");
    g_scan.action = ACTION_DELETE;
    g_scan.scanning = 1;
    RunScan();
    g_scan.scanning = 0;
    printf("Status: %s\n", g_scan.statusText);
    return 0;
}
