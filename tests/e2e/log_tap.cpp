/*
** e2e_logtap.dll: a window hook the end-to-end driver installs on the
** program's window thread. It sees every message sent to the program's
** windows and appends each line the log list receives (LB_ADDSTRING to
** control 1055) to the file named by the environment variable E2E_LOG_TAP,
** which the program inherits from the driver. An emptied list (LB_RESETCONTENT)
** is written as a line holding only "\x01". What another thread sends is
** left out.
**
** The program may end with exit(0) right after posting its last lines (the
** memory scan on Windows NT), before anyone could read its window; the file
** is opened and closed for every line, so nothing is lost then.
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

#include "resources/resource_ids.h"

namespace {

void Append(const char* text, size_t length) {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetEnvironmentVariableW(L"E2E_LOG_TAP", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

} // namespace

/* WH_CALLWNDPROC hook procedure. The program sends its log lines with
   SendMessageA, so lParam of LB_ADDSTRING is an ANSI string. */
extern "C" __declspec(dllexport) LRESULT CALLBACK
    TapCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    // What another program sends the list (refused there) is none of its lines.
    if (code == HC_ACTION && !InSendMessage()) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (m && GetDlgCtrlID(m->hwnd) == IDC_LOG_LIST) {
            if (m->message == LB_ADDSTRING && m->lParam) {
                const char* line = reinterpret_cast<const char*>(m->lParam);
                Append(line, strlen(line));
            } else if (m->message == LB_RESETCONTENT) {
                Append("\x01", 1);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
