/*
** What the system says about itself (version, folders, environment) and the
** thread's message queue, as platform detection, the hosts file, the delete
** at restart, the autostart cleanup and the walk's message pump rely on.
*/
#include "check.h"
#include "stage.h"

#include <cstring>
#include <vector>

CASE(VersionNeedsTheWholeRecord) {
    OSVERSIONINFOA v;
    memset(&v, 0, sizeof v);
    v.dwOSVersionInfoSize = 148;
    CHECK_EQ(sizeof v, 148u);
    CHECK(GetVersionExA(&v));
    CHECK(v.dwPlatformId == VER_PLATFORM_WIN32_NT || v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
    CHECK(v.dwMajorVersion >= 4);
    v.dwOSVersionInfoSize = 100;
    CHECK(!GetVersionExA(&v));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

CASE(FolderQueriesGiveTheLengthOrTheSizeNeeded) {
    char windows[MAX_PATH], system[MAX_PATH], temp[MAX_PATH], small[3];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    CHECK_EQ(n, (UINT)strlen(windows)); // without the terminator
    CHECK(n > 3 && windows[n - 1] != '\\');
    CHECK_EQ(GetWindowsDirectoryA(small, sizeof small), n + 1); // with it
    n = GetSystemDirectoryA(system, sizeof system);
    CHECK_EQ(n, (UINT)strlen(system));
    CHECK(n > 3 && system[n - 1] != '\\');
    CHECK(_strnicmp(system, windows, strlen(windows)) == 0);
    CHECK_EQ(GetSystemDirectoryA(small, sizeof small), n + 1);
    DWORD t = GetTempPathA(sizeof temp, temp);
    CHECK_EQ(t, (DWORD)strlen(temp));
    CHECK(t > 3 && temp[t - 1] == '\\'); // the temporary folder ends in a backslash
    CHECK_EQ(GetTempPathA(sizeof small, small), t + 1);
}

CASE(ExpansionCountsTheTerminator) {
    char windows[MAX_PATH], buffer[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    std::string want = std::string(windows) + "\\a.exe";
    DWORD n = ExpandEnvironmentStringsA("%SystemRoot%\\a.exe", buffer, sizeof buffer);
    CHECK_EQ(n, (DWORD)want.size() + 1);
    CHECK(_stricmp(buffer, want.c_str()) == 0);
    const char* kept = "%CP_UNDEFINED%\\x 50%";
    CHECK_EQ(ExpandEnvironmentStringsA(kept, buffer, sizeof buffer), (DWORD)strlen(kept) + 1);
    CHECK_EQ(buffer, kept); // an undefined name stays as written
    // Longer than the buffer: the size needed, and nothing written beyond it.
    memset(buffer, '#', sizeof buffer);
    CHECK_EQ(ExpandEnvironmentStringsA("%SystemRoot%\\a.exe", buffer, 4), (DWORD)want.size() + 1);
    CHECK_EQ(buffer[4], '#');
}

namespace {

std::vector<std::string> delivered;

LRESULT CALLBACK Record(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message >= WM_USER)
        delivered.push_back(std::to_string(message - WM_USER) + "/" + std::to_string(wParam));
    return 0;
}

} // namespace

CASE(PostedMessagesComeInOrderAndQuitComesLast) {
    delivered.clear();
    HWND w = stage::MakeWindow(Record);
    CHECK(w != nullptr);
    CHECK(PostMessageA(w, WM_USER + 1, 10, 0));
    PostQuitMessage(3);
    CHECK(PostMessageA(w, WM_USER + 2, 20, 0));
    MSG m;
    CHECK(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    CHECK_EQ(m.message, (UINT)WM_USER + 1); // still there
    std::vector<std::string> order;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back(m.message == WM_QUIT ? "quit/" + std::to_string(m.wParam)
                                             : std::to_string(m.message - WM_USER));
        if (m.message != WM_QUIT) {
            CHECK(m.hwnd == w);
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
    std::string got;
    for (auto& s : order)
        got += s + " ";
    // WM_QUIT waits until no other message is posted.
    CHECK_EQ(got, "1 2 quit/3 ");
    std::string seen;
    for (auto& s : delivered)
        seen += s + " ";
    CHECK_EQ(seen, "1/10 2/20 ");
}
