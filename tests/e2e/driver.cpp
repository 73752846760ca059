/*
** e2e_driver: drives the real CleanPhantaxis.exe from another process, the
** way a person would, and checks what its windows show.
**
**   e2e_driver <scenario> --exe <path> --shots <folder> [--specimen <row>=<path>]...
**              [--tap <e2e_logtap.dll>] [--holder <e2e_holder.exe>]
**              [--next-version <version>] [options of the system scenarios]
**   e2e_driver url <file> <address>
**
** Scenarios: idle (layout, Enter, Escape, second copy, title clash, the web
** pages), product (the maker's product installed), scan (a whole scan with
** 300 planted specimens: the log's 150-line rule, a line wider than the
** list), cancel (questions answered by button and keyboard, and stopping by
** CANCEL, X and Escape while the run unwinds); demo runs one scan without
** checks and keeps its screenshots and log lines; bench times one whole scan
** for bench_wine.sh. The whole-system scenarios win98, nt40, winxp and win10
** (and xp10, the last two in one session) are in system_scenarios.cpp.
** --next-version makes Wine report that version (winxp, nt40, ...) to the
** programs started after the driver ends: the next scenario of a set run in
** one Wine session (run_e2e.sh set).
** "url" is the test prefix's handler of web addresses: it appends the
** address the shell hands it to <file>.
**
** It reads the program's controls across processes: texts with WM_GETTEXT,
** log lines with the wide LB_GETTEXT (the ANSI one returns only the first
** character across processes under Wine), states with IsWindowVisible and
** IsWindowEnabled, and pixels from the screen, compared with the program's
** own bitmap resources. Buttons are pressed by posting BM_CLICK, keys by
** posting WM_KEYDOWN to the window. Screenshots go to --shots as BMP files.
** Prints one line per check; exits 0 when every check passed, 1 otherwise.
** A program it started that ends by an exception (a crash) ends the
** scenario there, with one failed check that names the exception's code.
*/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tests/e2e/driver.h"

#include "engine/signatures.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace e2e {

const wchar_t kTitle[] = L"CleanPhantaxis Ver 1.0";
const wchar_t kStopQuestion[] = L"Terminate the Scan now?";
const wchar_t kProductKey[] = L"Software\\Kelvora\\Sentravix 2000";

std::wstring g_exe;
std::wstring g_shots;
std::wstring g_tapDll;
std::wstring g_tapFile;
std::vector<std::pair<int, std::wstring>> g_specimens; // table row, path
std::wstring g_holder;                                 // e2e_holder.exe, for the cancel scenario
DWORD g_slow = 1;
/* --next-version: what Wine reports to the programs started after this run
   (the next scenario of run_e2e.sh's set), set as it ends, crashed or not. */
std::wstring g_nextVersion;
int g_failures = 0;
int g_checks = 0;
/* Held while a check's line is written; the watch of a crashed program
   keeps it until the driver has ended. */
CRITICAL_SECTION g_reporting;
char g_lastCheck[1024] = "";

// ---- reporting ----

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) {
        if (c == L'\t')
            s += "\\t";
        else if (c >= 32 && c < 127)
            s += static_cast<char>(c);
        else
            s += '?';
    }
    return s;
}

void Check(bool ok, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    EnterCriticalSection(&g_reporting);
    g_checks++;
    if (!ok) g_failures++;
    printf("%s: %s\n", ok ? "ok" : "FAIL", text);
    fflush(stdout);
    snprintf(g_lastCheck, sizeof g_lastCheck, "%s: %s", ok ? "ok" : "FAIL", text);
    LeaveCriticalSection(&g_reporting);
}

void Note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printf("# ");
    vprintf(format, args);
    printf("\n");
    va_end(args);
    fflush(stdout);
}

// ---- waiting ----

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs * g_slow) return false;
        Sleep(stepMs);
    }
}

// ---- windows of the program ----

std::wstring TextOf(HWND hwnd) {
    if (!hwnd) return L"";
    wchar_t buffer[1024] = L"";
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK, 5000,
                        &result);
    buffer[1023] = 0;
    return buffer;
}

struct Search {
    DWORD pid;
    int childId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (search->pid && pid != search->pid) return TRUE;
    if (search->childId && !GetDlgItem(hwnd, search->childId)) return TRUE;
    search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid, int childId) {
    Search search = {pid, childId, {}};
    EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

/* Top-level windows anywhere whose title is exactly the program's caption. */
int WindowsTitled(const wchar_t* title) {
    int n = 0;
    for (HWND hwnd : TopLevelWindows(0, 0))
        if (TextOf(hwnd) == title) n++;
    return n;
}

/* The question dialog of process `pid` (the window holding the text 1086). */
HWND FindQuestion(DWORD pid) {
    for (HWND hwnd : TopLevelWindows(pid, IDC_ASK_TEXT))
        if (IsWindowVisible(hwnd)) return hwnd;
    return nullptr;
}

/* The name of an exception whose code a program's exit code is, or nullptr.
   A program whose exception no handler takes is ended by Windows with the
   exception's code as its exit code (an NTSTATUS of error or warning
   severity, the high bit set); the program's own codes are small. */
const char* ExceptionName(DWORD code) {
    static const struct {
        DWORD code;
        const char* name;
    } kKnown[] = {{0xC0000005, "access violation"},         {0xC000001D, "illegal instruction"},
                  {0xC0000096, "privileged instruction"},   {0xC00000FD, "stack overflow"},
                  {0xC0000094, "integer division by zero"}, {0xC0000409, "stack buffer overrun"},
                  {0xC0000374, "heap corruption"},          {0x80000003, "breakpoint"},
                  {0x80000002, "misaligned data"}};
    for (const auto& known : kKnown)
        if (known.code == code) return known.name;
    return code & 0x80000000 ? "an exception" : nullptr;
}

/* A program that crashed ends the scenario there, with the exception's
   code, rather than leaving every later wait to run to its limit (the
   prefix starts no debugger to hold it). Else returns. */
void EndIfCrashed(HANDLE process) {
    DWORD code = 0;
    const char* name = GetExitCodeProcess(process, &code) ? ExceptionName(code) : nullptr;
    if (!name) return;
    EnterCriticalSection(&g_reporting); // for good: no line of the driver follows
    Check(false,
          "the program runs without crashing: it ended by exception 0x%08lX (%s) after \"%s\"",
          code, name, g_lastCheck);
    if (!g_nextVersion.empty()) SetWineVersion(g_nextVersion.c_str());
    printf("%d passed, %d failed\n", g_checks - g_failures, g_failures);
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
}

/* Whatever the driver waits for at the time. */
DWORD WINAPI WatchProgram(void* process) {
    WaitForSingleObject(process, INFINITE);
    EndIfCrashed(process);
    CloseHandle(process);
    return 0;
}

bool Launch(App& app) {
    std::wstring command = L"\"" + g_exe + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    // The program inherits the variable that tells the log tap where to write.
    if (!g_tapDll.empty()) SetEnvironmentVariableW(L"E2E_LOG_TAP", g_tapFile.c_str());
    // Its working folder is the root of C: (what a relative path means to it).
    if (!CreateProcessW(g_exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\",
                        &si, &app.pi)) {
        Check(false, "start %s (error %lu)", Narrow(g_exe).c_str(), GetLastError());
        return false;
    }
    app.running = true;
    HANDLE watched = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), app.pi.hProcess, GetCurrentProcess(), &watched,
                        SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, 0)) {
        HANDLE watch = CreateThread(nullptr, 0, &WatchProgram, watched, 0, nullptr);
        if (watch)
            CloseHandle(watch);
        else
            CloseHandle(watched);
    }
    if (!g_tapDll.empty()) {
        // The hook runs in the program's own thread: Wine loads the DLL there.
        HMODULE dll = LoadLibraryW(g_tapDll.c_str());
        HOOKPROC proc = dll ? reinterpret_cast<HOOKPROC>(
                                  reinterpret_cast<void*>(GetProcAddress(dll, "TapCallWndProc")))
                            : nullptr;
        app.tap = proc ? SetWindowsHookExW(WH_CALLWNDPROC, proc, dll, app.pi.dwThreadId) : nullptr;
        Check(app.tap != nullptr, "the log tap is on the program's thread");
    }
    return true;
}

bool HasExited(const App& app, DWORD waitMs, DWORD* code) {
    if (WaitForSingleObject(app.pi.hProcess, waitMs * g_slow) != WAIT_OBJECT_0) return false;
    EndIfCrashed(app.pi.hProcess);
    if (code) GetExitCodeProcess(app.pi.hProcess, code);
    return true;
}

/* Starts the program and waits for its main window to show. */
bool Start(App& app) {
    if (!Launch(app)) return false;
    bool shown = WaitFor(
        [&] {
            for (HWND hwnd : TopLevelWindows(app.pi.dwProcessId, IDC_SCAN))
                if (IsWindowVisible(hwnd)) app.main = hwnd;
            return app.main != nullptr || HasExited(app, 0);
        },
        30000);
    Check(shown && app.main, "the main window shows");
    if (!app.main) return false;
    Sleep(700); // let it paint
    return true;
}

void Finish(App& app) {
    if (!app.running) return;
    if (!HasExited(app, 10000)) {
        Check(false, "the program ends");
        TerminateProcess(app.pi.hProcess, 1);
        WaitForSingleObject(app.pi.hProcess, 5000);
    }
    if (app.tap) UnhookWindowsHookEx(app.tap);
    app.tap = nullptr;
    CloseHandle(app.pi.hThread);
    CloseHandle(app.pi.hProcess);
    app.running = false;
}

HANDLE StartProgram(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &si,
                        &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

std::vector<std::wstring> TappedLines(const std::wstring& file) {
    std::vector<std::wstring> lines;
    FILE* in = _wfopen(file.c_str(), L"rb");
    if (!in) return lines;
    std::wstring line;
    for (int c; (c = fgetc(in)) != EOF;) {
        if (c != '\n') {
            line += static_cast<wchar_t>(static_cast<unsigned char>(c));
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    fclose(in);
    return lines;
}

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
bool Visible(HWND dialog, int id) { return IsWindowVisible(Item(dialog, id)) != FALSE; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Item(dialog, id)) != FALSE; }

/* The control's own WS_VISIBLE bit, whatever its parent shows. */
bool WindowVisibleBit(HWND dialog, int id) {
    return (GetWindowLongW(Item(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

void Click(HWND dialog, int id) { PostMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
void Key(HWND window, WPARAM key) { PostMessageW(window, WM_KEYDOWN, key, 0); }

/* Timer messages of no timer the program set, as any program on the desktop
   may post them: ExitProcess as the timer procedure (to the window and to its
   thread; Windows calls that address on dispatch), then no procedure, with
   the scan timer's id and another. */
void PostForeignTimers(const App& app) {
    const LPARAM exitProcess =
        reinterpret_cast<LPARAM>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ExitProcess"));
    PostMessageW(app.main, WM_TIMER, 7, exitProcess);
    PostThreadMessageW(app.pi.dwThreadId, WM_TIMER, 7, exitProcess);
    PostMessageW(app.main, WM_TIMER, 100, 0);
    PostMessageW(app.main, WM_TIMER, 7, 0);
    // And the messages that open and end a dialog or a control, sent as
    // another program may: an object address of its choice, a window cut
    // off from the program while it stays on screen.
    // And the dialog's own field written, as any program may write it.
    SetWindowLongPtrW(app.main, DWLP_USER, static_cast<LONG_PTR>(0x41414140));
    DWORD_PTR ignored;
    for (HWND window : {app.main, Item(app.main, IDC_MAIN_CANCEL)}) {
        SendMessageTimeoutW(window, WM_INITDIALOG, 0, 0x1234560, SMTO_ABORTIFHUNG, 5000, &ignored);
        SendMessageTimeoutW(window, WM_NCDESTROY, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    }
}

/* A click's command for control `id` of `dialog`, posted as another program would. */
void PostCommand(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(dialog, id)));
}

/* Shows, enables and clicks a control the program hid or disabled, as
   another program may; hides and disables it again a while later. */
void ClickForced(HWND dialog, int id) {
    for (BOOL on : {TRUE, FALSE}) {
        ShowWindow(Item(dialog, id), on ? SW_SHOW : SW_HIDE);
        EnableWindow(Item(dialog, id), on);
        if (on) Click(dialog, id), Sleep(1000);
    }
}

/* A line of the driver's own for the log list. */
const wchar_t kForeignLine[] = L"C:\\WINDOWS\\rootkit.sys     W32/Phantaxis.Backdoor removed";

/* Another program's sends, unwaited sends and posts of a line, an emptying, WM_SETREDRAW,
   the notifications and a status text. True when the list's lines changed meanwhile. */
bool SendForeignWrites(const App& app) {
    HWND list = Item(app.main, IDC_LOG_LIST), main = app.main;
    const std::tuple<HWND, UINT, const wchar_t*> writes[] = {
        {list, LB_ADDSTRING, kForeignLine},
        {list, LB_RESETCONTENT, nullptr},
        {list, WM_SETREDRAW, nullptr},
        {main, 0x0B, nullptr},
        {main, 0x0A, nullptr},
        {Item(main, IDC_STATUS_LINE), WM_SETTEXT, L"Scanning completed"}};
    const std::vector<std::wstring> before = LogLines(main);
    for (const auto& [window, message, text] : writes) {
        DWORD_PTR ignored;
        LPARAM l = reinterpret_cast<LPARAM>(text);
        SendMessageTimeoutW(window, message, 0, l, SMTO_ABORTIFHUNG, 5000, &ignored);
        SendNotifyMessageW(window, message, 0, l);
        PostMessageW(window, message, 0, l); // refused for a text: no pointer is posted
    }
    Sleep(500);
    return LogLines(main) != before;
}

std::vector<std::wstring> LogLines(HWND main) {
    std::vector<std::wstring> lines;
    HWND list = Item(main, IDC_LOG_LIST);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        wchar_t buffer[1100] = L"";
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length < 0 || length >= 1024) {
            lines.push_back(L"<unreadable>");
            continue;
        }
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer));
        buffer[1099] = 0;
        lines.push_back(buffer);
    }
    return lines;
}

/* Client-relative rectangle of a control of `dialog`. */
RECT ClientRectOf(HWND dialog, int id) {
    RECT r = {0, 0, 0, 0};
    HWND item = Item(dialog, id);
    if (!item) return r;
    GetWindowRect(item, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// ---- pixels ----

/* 32-bit top-down pixels of a screen rectangle. */
std::vector<uint32_t> CaptureScreen(const RECT& r) {
    int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<uint32_t> pixels;
    if (w <= 0 || h <= 0) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section && bits) {
        HGDIOBJ old = SelectObject(memory, section);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const uint32_t* p = static_cast<const uint32_t*>(bits);
        pixels.assign(p, p + static_cast<size_t>(w) * h);
        for (auto& px : pixels)
            px &= 0xFFFFFF;
        SelectObject(memory, old);
    }
    if (section) DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

/* 32-bit top-down pixels of a bitmap resource of the program, cut to w by h. */
std::vector<uint32_t> ResourcePixels(LPCWSTR name, int w, int h, int* fullW, int* fullH) {
    std::vector<uint32_t> pixels;
    HMODULE module = LoadLibraryExW(g_exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return pixels;
    HBITMAP bitmap =
        static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap) {
        BITMAP b;
        GetObjectW(bitmap, sizeof b, &b);
        *fullW = b.bmWidth;
        *fullH = b.bmHeight;
        HDC screen = GetDC(nullptr);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = b.bmWidth;
        info.bmiHeader.biHeight = -b.bmHeight;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<uint32_t> all(static_cast<size_t>(b.bmWidth) * b.bmHeight);
        GetDIBits(screen, bitmap, 0, b.bmHeight, all.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        for (int y = 0; y < h && y < b.bmHeight; y++)
            for (int x = 0; x < w && x < b.bmWidth; x++)
                pixels.push_back(all[static_cast<size_t>(y) * b.bmWidth + x] & 0xFFFFFF);
        DeleteObject(bitmap);
    }
    FreeLibrary(module);
    return pixels;
}

/* The control shows the top-left part of bitmap `name` (a few tries while it paints). */
bool ShowsBitmap(HWND control, LPCWSTR name, int* mismatched) {
    RECT r;
    GetWindowRect(control, &r);
    RECT inner;
    GetClientRect(control, &inner);
    MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&inner), 2);
    int fullW = 0, fullH = 0;
    int w = inner.right - inner.left, h = inner.bottom - inner.top;
    std::vector<uint32_t> want = ResourcePixels(name, w, h, &fullW, &fullH);
    if (want.empty()) {
        *mismatched = -1;
        return false;
    }
    int cw = w < fullW ? w : fullW, ch = h < fullH ? h : fullH;
    RECT area = {inner.left, inner.top, inner.left + cw, inner.top + ch};
    for (int attempt = 0; attempt < 20; attempt++) {
        std::vector<uint32_t> got = CaptureScreen(area);
        int bad = 0;
        for (size_t i = 0; i < got.size() && i < want.size(); i++)
            if (got[i] != want[i]) bad++;
        if (got.size() != want.size()) bad = static_cast<int>(want.size());
        *mismatched = bad;
        if (bad == 0) return true;
        Sleep(100);
    }
    return false;
}

void CheckPicture(HWND dialog, int id, LPCWSTR name, const char* what) {
    int bad = 0;
    bool ok = ShowsBitmap(Item(dialog, id), name, &bad);
    Check(ok, "%s (%d pixels differ)", what, bad);
}

void Screenshot(const char* name) {
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    RECT all = {0, 0, w, h};
    std::vector<uint32_t> pixels = CaptureScreen(all);
    if (pixels.empty()) return;
    std::wstring path = g_shots + L"\\" + std::wstring(name, name + strlen(name)) + L".bmp";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Note("cannot write %s", Narrow(path).c_str());
        return;
    }
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    DWORD bytes = static_cast<DWORD>(pixels.size() * 4);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + bytes;
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = -h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    DWORD written;
    WriteFile(file, &fh, sizeof fh, &written, nullptr);
    WriteFile(file, &ih, sizeof ih, &written, nullptr);
    WriteFile(file, pixels.data(), bytes, &written, nullptr);
    CloseHandle(file);
    Note("screenshot %s", name);
}

// ---- the main window's layouts ----

struct Expect {
    int id;
    bool visible;
    int enabled; // 1 enabled, 0 disabled, -1 either
    const char* name;
};

void CheckStates(HWND main, const char* layout, const std::vector<Expect>& expect) {
    for (const Expect& e : expect) {
        bool v = Visible(main, e.id);
        Check(v == e.visible, "%s: %s %s", layout, e.name, e.visible ? "shown" : "hidden");
        if (e.enabled >= 0) {
            bool en = Enabled(main, e.id);
            Check(en == (e.enabled == 1), "%s: %s %s", layout, e.name,
                  e.enabled ? "enabled" : "disabled");
        }
    }
}

void CheckText(HWND dialog, int id, const std::wstring& want, const char* what) {
    std::wstring got = TextOf(Item(dialog, id));
    Check(got == want, "%s reads \"%s\" (got \"%s\")", what, Narrow(want).c_str(),
          Narrow(got).c_str());
}

/* Where a control of template 141 must sit after scaling: its dialog-unit
   corner stretched so that the template's 349 by 209 units fill 600 by 337
   pixels (truncations on the way allow a pixel or two). */
void CheckPlace(HWND main, int id, int dluX, int dluY, const char* what) {
    RECT r = ClientRectOf(main, id);
    int x = dluX * 600 / 349, y = dluY * 337 / 209;
    bool ok = r.left >= x - 2 && r.left <= x + 2 && r.top >= y - 2 && r.top <= y + 2;
    Check(ok, "%s sits at about (%d,%d) (at %ld,%ld)", what, x, y, r.left, r.top);
}

void CheckSize(HWND main, int id, int w, int h, const char* what) {
    RECT r = ClientRectOf(main, id);
    Check(r.right - r.left == w && r.bottom - r.top == h, "%s is %dx%d like its bitmap (%ldx%ld)",
          what, w, h, r.right - r.left, r.bottom - r.top);
}

/* A string of the program's version resource, read the way Explorer reads
   it: in the language and code page its translation table names first. */
std::wstring VersionText(const wchar_t* name) {
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(g_exe.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (!size || !GetFileVersionInfoW(g_exe.c_str(), 0, size, block.data())) return L"";
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4)
        return L"";
    wchar_t path[128];
    swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
    wchar_t* text = nullptr;
    if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&text), &length) || !text)
        return L"";
    return text;
}

void CheckIdleLayout(HWND main, bool product) {
    const char* layout = product ? "idle with product" : "idle";
    CheckStates(main, layout,
                {{IDC_BANNER, true, -1, "banner"},
                 {IDC_TITLE_LINE, true, -1, "title line"},
                 {IDC_NOTICE_LINE, true, -1, "notice line"},
                 {IDC_SCAN, true, 1, "SCAN"},
                 {IDC_CLOSE_BOX, true, 1, "X"},
                 {IDC_UTILITY_LINK, true, 1, "ULINK"},
                 {IDC_MAKER_LOGO, true, 1, "logo"},
                 {IDC_DOWNLOAD, true, product ? 0 : 1, "DOWNLOAD"},
                 {IDC_DOWNLOAD_LINK, !product, product ? 0 : 1, "DLINK"},
                 {IDC_PRODUCT_LINE, product, -1, "product line"},
                 {IDC_HEADING, false, -1, "heading"},
                 {IDC_STATUS_LINE, false, -1, "status line"},
                 {IDC_STATUS_GROUP, false, -1, "status group"},
                 {IDC_LOG_LIST, false, -1, "log list"},
                 {IDC_LOG_GROUP, false, -1, "log group"},
                 {IDC_MAIN_CANCEL, false, -1, "CANCEL"},
                 {IDC_MAIN_OK, false, 0, "OK"}});
    Check(TextOf(main) == kTitle, "window caption is the program's name");
    CheckText(main, IDC_TITLE_LINE,
              L"CleanPhantaxis Ver 1.0 - Tool to detect and remove all the variants of "
              L"W32/Phantaxis Backdoor",
              "title line");
    CheckText(main, IDC_BANNER, L"for W32/Phantaxis Backdoor", "banner");
    CheckText(main, IDC_PRODUCT_LINE, L"This program is a part of Sentravix antivirus software.",
              "product line");
    // The notice line and the file's properties in Explorer agree: the
    // version resource, as the system reads it, carries the same line.
    std::wstring notice = TextOf(Item(main, IDC_NOTICE_LINE));
    std::wstring maker = VersionText(L"CompanyName"), copyright = VersionText(L"LegalCopyright");
    Check(!maker.empty() && notice.find(maker) != std::wstring::npos &&
              notice.find(L"20") != std::wstring::npos && notice == copyright,
          "notice line names the maker and the year, as the file's LegalCopyright does (\"%s\", "
          "\"%s\", \"%s\")",
          Narrow(notice).c_str(), Narrow(maker).c_str(), Narrow(copyright).c_str());
}

void CheckGeometry(HWND main) {
    RECT w;
    GetWindowRect(main, &w);
    Check(w.right - w.left == 600 && w.bottom - w.top == 462, "window is 600x462 (%ldx%ld)",
          w.right - w.left, w.bottom - w.top);
    int sx = GetSystemMetrics(SM_CXSCREEN), sy = GetSystemMetrics(SM_CYSCREEN);
    Check(w.left == (sx - 600) / 2 && w.top == (sy - 462) / 2, "window opens centred (%ld,%ld)",
          w.left, w.top);

    // The skin's region: the skin's outline, one pixel in (the client origin).
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    int kind = GetWindowRgn(main, region);
    RECT box = {0, 0, 0, 0};
    GetRgnBox(region, &box);
    Check(kind == COMPLEXREGION, "window has a shaped region (%d)", kind);
    Check(box.left == 1 && box.top == 1 && box.right == 528 && box.bottom == 339,
          "region spans the 527x338 skin (%ld,%ld)-(%ld,%ld)", box.left, box.top, box.right,
          box.bottom);
    Check(!PtInRegion(region, 2, 2) && !PtInRegion(region, 526, 337) && PtInRegion(region, 20, 2) &&
              PtInRegion(region, 300, 200),
          "rounded corners are cut out, the body is not");
    DeleteObject(region);

    CheckPlace(main, IDC_SCAN, 11, 40, "SCAN");
    CheckPlace(main, IDC_DOWNLOAD, 189, 40, "DOWNLOAD");
    CheckPlace(main, IDC_CLOSE_BOX, 290, 3, "X");
    CheckPlace(main, IDC_TITLE_LINE, 9, 71, "title line");
    CheckPlace(main, IDC_LOG_LIST, 17, 117, "log list");
    CheckPlace(main, IDC_MAKER_LOGO, 277, 174, "logo");
    CheckSize(main, IDC_SCAN, 180, 33, "SCAN");
    CheckSize(main, IDC_DOWNLOAD, 180, 33, "DOWNLOAD");
    CheckSize(main, IDC_CLOSE_BOX, 21, 21, "X");
    CheckSize(main, IDC_DOWNLOAD_LINK, 313, 43, "DLINK");
    CheckSize(main, IDC_UTILITY_LINK, 244, 28, "ULINK");
    CheckSize(main, IDC_MAKER_LOGO, 38, 36, "logo");
    CheckSize(main, IDC_MAIN_OK, 92, 24, "OK");
}

bool IsFinished(HWND main) {
    std::wstring status = TextOf(Item(main, IDC_STATUS_LINE));
    return !Visible(main, IDC_HEADING) && Visible(main, IDC_MAIN_OK) &&
           (status == L"Scanning completed" || status == L"Scanning terminated");
}

void CheckFinishedLayout(HWND main, const wchar_t* status) {
    CheckStates(main, "finished",
                {{IDC_MAIN_CANCEL, false, -1, "CANCEL"},
                 {IDC_MAIN_OK, true, 1, "OK"},
                 {IDC_HEADING, false, -1, "heading"},
                 {IDC_STATUS_GROUP, true, -1, "status group"},
                 {IDC_STATUS_LINE, true, -1, "status line"},
                 {IDC_LOG_LIST, true, -1, "log list"},
                 {IDC_LOG_GROUP, true, -1, "log group"},
                 {IDC_SCAN, true, 0, "SCAN"},
                 {IDC_DOWNLOAD_LINK, false, 0, "DLINK"},
                 {IDC_UTILITY_LINK, false, 0, "ULINK"},
                 {IDC_TITLE_LINE, false, -1, "title line"},
                 {IDC_NOTICE_LINE, false, -1, "notice line"},
                 {IDC_PRODUCT_LINE, false, -1, "product line"},
                 {IDC_DOWNLOAD, true, 1, "DOWNLOAD"},
                 {IDC_CLOSE_BOX, true, 1, "X"},
                 {IDC_MAKER_LOGO, true, -1, "logo"}});
    CheckText(main, IDC_STATUS_GROUP, L"", "status group caption");
    CheckText(main, IDC_STATUS_LINE, status, "status line");
    CheckPicture(main, IDC_SCAN, L"SCAN_DISABLE", "SCAN shows its disabled picture");
}

void CheckScanningLayout(HWND main) {
    CheckStates(main, "scanning",
                {{IDC_MAIN_CANCEL, true, 1, "CANCEL"},
                 {IDC_MAIN_OK, false, 1, "OK"},
                 {IDC_SCAN, true, 0, "SCAN"},
                 {IDC_HEADING, true, -1, "heading"},
                 {IDC_STATUS_GROUP, true, -1, "status group"},
                 {IDC_STATUS_LINE, true, -1, "status line"},
                 {IDC_LOG_LIST, true, -1, "log list"},
                 {IDC_LOG_GROUP, true, -1, "log group"},
                 {IDC_DOWNLOAD_LINK, false, 0, "DLINK"},
                 {IDC_UTILITY_LINK, false, 0, "ULINK"},
                 {IDC_TITLE_LINE, false, -1, "title line"},
                 {IDC_NOTICE_LINE, false, -1, "notice line"},
                 {IDC_PRODUCT_LINE, false, -1, "product line"},
                 {IDC_DOWNLOAD, true, 1, "DOWNLOAD"},
                 {IDC_CLOSE_BOX, true, 1, "X"}});
    CheckText(main, IDC_HEADING, L"Searching for W32/Phantaxis Backdoor and its variants",
              "heading");
    CheckText(main, IDC_STATUS_GROUP, L"Scanning", "status group caption");
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

/* Template 142 as the platform lays it out before the program grows it: its
   outer size and the places of its YES button and picture, relative to the
   outer corner (made here, from the program's own resources, hidden). */
struct QuestionTemplate {
    int width = 0, height = 0;
    RECT yes = {}, picture = {};
};

QuestionTemplate MeasureQuestionTemplate() {
    QuestionTemplate t;
    HMODULE module = LoadLibraryExW(g_exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HWND d = module ? CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_MESSAGE), nullptr,
                                         &NoDialogProc, 0)
                    : nullptr;
    if (d) {
        RECT r;
        GetWindowRect(d, &r);
        t.width = r.right - r.left;
        t.height = r.bottom - r.top;
        GetWindowRect(GetDlgItem(d, IDC_ASK_YES), &t.yes);
        OffsetRect(&t.yes, -r.left, -r.top);
        t.picture = ClientRectOf(d, IDC_ASK_PICTURE);
        DestroyWindow(d);
    }
    if (module) FreeLibrary(module);
    return t;
}

/* The stop question (23 bytes) grows the dialog by 12 by 7 pixels, puts the
   buttons 65 pixels above its outer bottom and b / 2 = 6 pixels to the
   right, leaves the picture, and sits centred over the main window. */
void CheckQuestionGeometry(HWND main, HWND question, const char* how) {
    static QuestionTemplate t = MeasureQuestionTemplate();
    Check(t.width > 0, "template 142 can be laid out");
    RECT q;
    GetWindowRect(question, &q);
    int w = q.right - q.left, h = q.bottom - q.top;
    Check(w == t.width + 12 && h == t.height + 7,
          "%s: the question grew by 12x7 (%dx%d from %dx%d)", how, w, h, t.width, t.height);
    RECT yes = ClientRectOf(question, IDC_ASK_YES);
    Check(yes.top == h - 65 && yes.left == t.yes.left + 6, "%s: YES sits at (%ld,%d) (at %ld,%ld)",
          how, t.yes.left + 6, h - 65, yes.left, yes.top);
    RECT picture = ClientRectOf(question, IDC_ASK_PICTURE);
    Check(EqualRect(&picture, &t.picture) != FALSE, "%s: the picture stays where it was", how);
    RECT m;
    GetWindowRect(main, &m);
    int dx = (q.left + q.right) / 2 - (m.left + m.right) / 2;
    int dy = (q.top + q.bottom) / 2 - (m.top + m.bottom) / 2;
    Check(dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1, "%s: centred over the main window (%d,%d)",
          how, dx, dy);
}

/* Waits for the question dialog and checks it is the stop question. */
HWND ExpectStopQuestion(const App& app, const wchar_t* title, const char* how) {
    HWND question = nullptr;
    WaitFor([&] { return (question = FindQuestion(app.pi.dwProcessId)) != nullptr; }, 10000);
    Check(question != nullptr, "%s asks a question", how);
    if (!question) return nullptr;
    Sleep(400);
    Check(TextOf(question) == title, "%s: question titled \"%s\" (got \"%s\")", how,
          Narrow(title).c_str(), Narrow(TextOf(question)).c_str());
    CheckText(question, IDC_ASK_TEXT, kStopQuestion, "question text");
    bool buttons = Visible(question, IDC_ASK_YES) && Visible(question, IDC_ASK_NO) &&
                   !Visible(question, IDC_ASK_OK) && !Visible(question, IDC_ASK_CANCEL) &&
                   !Visible(question, IDC_ASK_SINGLE_OK);
    Check(buttons, "%s: the question offers YES and NO only", how);
    CheckPicture(question, IDC_ASK_PICTURE, MAKEINTRESOURCEW(IDB_PICTURE_QUESTION),
                 "the question shows picture 153");
    Check(!IsWindowEnabled(app.main), "%s: the main window is disabled while asking", how);
    CheckQuestionGeometry(app.main, question, how);
    return question;
}

void Answer(const App& app, HWND question, int button) {
    Click(question, button);
    bool gone = WaitFor([&] { return !IsWindow(question) || !IsWindowVisible(question); }, 10000);
    Check(gone, "the question closes after %s", button == IDC_ASK_YES ? "YES" : "NO");
    WaitFor([&] { return IsWindowEnabled(app.main) != FALSE; }, 5000);
}

// ---- files on C: ----

/* Files below `folder`, leaving out the driver's own screenshot folder and
   what lies behind directory links. */
int CountFiles(const std::wstring& folder) {
    if (!g_shots.empty() && lstrcmpiW(folder.c_str(), g_shots.c_str()) == 0) return 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue; // a directory link
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            n += CountFiles(folder + L"\\" + name);
        else
            n++;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

std::wstring Widen(const char* s) { return std::wstring(s, s + strlen(s)); }

std::wstring Statistic(const wchar_t* label, int value) {
    return std::wstring(label) + L"\t\t:  " + std::to_wstring(value);
}

std::vector<std::wstring> StatisticsLines(int scanned, int infected, int removed) {
    return {L"Scanning statistics", L"------------------------------",
            Statistic(L"Total files scanned", scanned),
            Statistic(L"Total files infected", infected),
            Statistic(L"Total files removed", removed)};
}

/* The scanned count that a statistics line shows, or -1. */
int ScannedFrom(const std::vector<std::wstring>& lines) {
    const std::wstring prefix = L"Total files scanned\t\t:  ";
    for (const auto& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0) return _wtoi(l.c_str() + prefix.size());
    return -1;
}

void PrintLines(const std::vector<std::wstring>& lines) {
    for (const auto& l : lines)
        Note("log: %s", Narrow(l).c_str());
}

// ---- scenarios ----

void PointAt(HWND control, int dx = 0) {
    RECT r;
    GetWindowRect(control, &r);
    SetCursorPos((r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2);
    Sleep(150);
    SetCursorPos((r.left + r.right) / 2 + dx + 1, (r.top + r.bottom) / 2);
    Sleep(350);
}

HWND FocusOf(const App& app) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(app.pi.dwThreadId, &info)) return nullptr;
    return info.hwndFocus;
}

HCURSOR CurrentCursor() {
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

/* The mouse over a button: focus picture, keyboard focus, and the hand
   cursor (taken from the system's winhlp32.exe when it has one, else the
   arrow); leaving it: the normal picture, the focus stays. Cursor handles
   are compared with the one the program shows over a label (its arrow). */
void CheckHover(const App& app, int target, const wchar_t* name, int other,
                const wchar_t* otherName) {
    HWND main = app.main;
    HMODULE help = LoadLibraryExW(L"C:\\windows\\winhlp32.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    bool hand = help && FindResourceW(help, MAKEINTRESOURCEW(106), MAKEINTRESOURCEW(12)) != nullptr;
    if (help) FreeLibrary(help);
    Note("the system's help program %s", hand ? "has a hand cursor" : "has no hand cursor");
    std::string n = Narrow(name);

    PointAt(Item(main, IDC_NOTICE_LINE));
    HCURSOR arrow = CurrentCursor();

    PointAt(Item(main, target));
    CheckPicture(main, target, (std::wstring(name) + L"_FOCUS").c_str(),
                 ("hovering " + n + " shows its focus picture").c_str());
    if (other)
        CheckPicture(main, other, (std::wstring(otherName) + L"_NOTFOCUS").c_str(),
                     (Narrow(otherName) + " goes back to its normal picture").c_str());
    Check(FocusOf(app) == Item(main, target), "hovering %s gives it the keyboard focus", n.c_str());
    HCURSOR over = CurrentCursor();
    Check(hand ? over != arrow : over == arrow, "%s shows the %s cursor", n.c_str(),
          hand ? "hand" : "arrow");

    PointAt(Item(main, IDC_NOTICE_LINE));
    CheckPicture(main, target, (std::wstring(name) + L"_NOTFOCUS").c_str(),
                 ("leaving " + n + " shows its normal picture").c_str());
    Check(FocusOf(app) == Item(main, target), "%s keeps the keyboard focus", n.c_str());

    PointAt(Item(main, IDC_MAKER_LOGO));
    CheckPicture(main, IDC_MAKER_LOGO, L"KELVORALOGO_FOCUS",
                 "hovering the logo shows its focus picture");
    Check(CurrentCursor() == arrow, "the logo keeps the arrow");
    PointAt(Item(main, IDC_NOTICE_LINE));
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 4, GetSystemMetrics(SM_CYSCREEN) - 4);
    Sleep(200);
}

void MouseButton(bool down) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    SendInput(1, &input, sizeof input);
}

/* Pressing the left button on the window's body (here on a label, which lets
   the press through) and moving the mouse drags the whole window. The move
   loop the press starts takes the mouse's place as it starts: the mouse
   moves once the program's thread is in it, and lets go once the window
   has followed (or a while has passed), however slowly the program runs. */
void CheckDrag(HWND main) {
    RECT before, after, label;
    GetWindowRect(main, &before);
    GetWindowRect(Item(main, IDC_NOTICE_LINE), &label);
    int x = label.left + 20, y = (label.top + label.bottom) / 2;
    SetCursorPos(x, y);
    Sleep(200);
    MouseButton(true);
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    WaitFor(
        [&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(thread, &info) && (info.flags & GUI_INMOVESIZE);
        },
        2000);
    for (int step = 1; step <= 10; step++) {
        SetCursorPos(x + 4 * step, y + 3 * step);
        Sleep(40);
    }
    WaitFor(
        [&] {
            GetWindowRect(main, &after);
            return after.left - before.left == 40 && after.top - before.top == 30;
        },
        2000);
    MouseButton(false);
    Sleep(400);
    GetWindowRect(main, &after);
    Check(after.left - before.left == 40 && after.top - before.top == 30,
          "dragging the body moves the window by the mouse's way (%ld,%ld)",
          after.left - before.left, after.top - before.top);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 4, GetSystemMetrics(SM_CYSCREEN) - 4);
    Sleep(200);
}

// ---- web pages ----

std::wstring PagesFile() { return g_shots + L"\\pages.txt"; }

/* Makes this driver the prefix's handler of http addresses (the shell runs
   "e2e_driver url <file> <address>"), so that each address the program
   hands to the shell lands in PagesFile(). */
void CatchPages() {
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" url \"" + PagesFile() + L"\" \"%1\"";
    HKEY key;
    bool made = RegCreateKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (made) {
        made = RegSetValueExW(
                   key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\ddeexec");
    Check(made, "the driver receives the addresses the shell opens");
}

/* Clicks a button and waits for the shell to be handed the maker's page. */
void CheckOpensPage(HWND main, int id, const wchar_t* path, const char* what) {
    size_t before = TappedLines(PagesFile()).size();
    Click(main, id);
    std::vector<std::wstring> pages;
    WaitFor([&] { return (pages = TappedLines(PagesFile())).size() > before; }, 15000, 100);
    std::wstring got = pages.size() > before ? pages.back() : L"";
    size_t n = wcslen(path);
    bool ok = got.compare(0, 7, L"http://") == 0 && got.size() > 7 + n &&
              got.compare(got.size() - n, n, path) == 0 && got.find(L'/', 7) == got.size() - n;
    Check(ok && pages.size() == before + 1, "%s opens the web page %s (\"%s\")", what,
          Narrow(path).c_str(), Narrow(got).c_str());
}

void ScenarioIdle() {
    App app;
    if (!Start(app)) return;
    CheckIdleLayout(app.main, false);
    CheckGeometry(app.main);
    CheckPicture(app.main, IDC_SCAN, L"SCAN_FOCUS", "SCAN has the focus and shows it");
    CheckPicture(app.main, IDC_DOWNLOAD, L"DOWNLOAD_NOTFOCUS", "DOWNLOAD shows its normal picture");
    Screenshot("idle");
    CheckHover(app, IDC_DOWNLOAD, L"DOWNLOAD", IDC_SCAN, L"SCAN");
    CatchPages();
    CheckOpensPage(app.main, IDC_DOWNLOAD, L"/download/downloadnow.htm", "DOWNLOAD");
    CheckOpensPage(app.main, IDC_DOWNLOAD_LINK, L"/download/downloadnow.htm", "DLINK");
    CheckOpensPage(app.main, IDC_UTILITY_LINK, L"/download/utility.htm", "ULINK");

    CheckDrag(app.main);

    // A second copy ends by itself, showing nothing.
    App second;
    if (Launch(second)) {
        DWORD code = 1;
        Check(HasExited(second, 15000, &code), "a second copy ends by itself");
        Check(code == 0, "the second copy's exit code is 0 (%lu)", code);
        Check(WindowsTitled(kTitle) == 1, "only one window carries the title");
        Finish(second);
    }

    // Enter does nothing; nor do timers the program did not set, nor the
    // command of the hidden OK, nor a click of it once another program has
    // shown and enabled it.
    PostForeignTimers(app);
    PostCommand(app.main, IDC_MAIN_OK);
    Key(app.main, VK_RETURN);
    ClickForced(app.main, IDC_MAIN_OK);
    Sleep(800);
    Check(!HasExited(app, 0) && IsWindowVisible(app.main),
          "Enter, foreign timers, the hidden OK's command and a click of it shown by another "
          "program leave the window open");
    Check(Visible(app.main, IDC_SCAN) && !Visible(app.main, IDC_LOG_LIST),
          "Enter and foreign timers start nothing");

    // Escape closes when no scan runs.
    Key(app.main, VK_ESCAPE);
    DWORD code = 1;
    Check(HasExited(app, 10000, &code), "Escape closes the idle window");
    Check(code == 0, "exit code 0 (%lu)", code);
    Finish(app);

    // Only the program's own copy stops a start: windows of another program
    // with exactly the title, a plain one and many dialogs, neither stop nor stall it.
    const int kDialogs = 40;
    HWND plain = CreateWindowExW(0, L"STATIC", kTitle, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    std::vector<HWND> dialogs;
    for (int i = 0; i < kDialogs; i++)
        dialogs.push_back(CreateWindowExW(0, L"#32770", kTitle, WS_POPUP, 0, 0, 10, 10, nullptr,
                                          nullptr, GetModuleHandleW(nullptr), nullptr));
    Check(plain && WindowsTitled(kTitle) == kDialogs + 1,
          "%d windows of the driver carry the title", kDialogs + 1);
    App allowed;
    DWORD started = GetTickCount();
    if (Start(allowed)) {
        DWORD took = GetTickCount() - started;
        Check(took < 15000,
              "windows of another program with the title do not stop a start (%lu ms)", took);
        Click(allowed.main, IDC_CLOSE_BOX);
        Check(HasExited(allowed, 10000), "X closes the idle window");
    }
    Finish(allowed);
    DestroyWindow(plain);
    for (HWND dialog : dialogs)
        DestroyWindow(dialog);
}

void ScenarioProduct() {
    HKEY key;
    LONG made = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                &key, nullptr);
    Check(made == ERROR_SUCCESS, "product key written");
    if (made != ERROR_SUCCESS) return;
    // Longer than the program's 300-byte buffer: still counts as present.
    std::wstring folder = L"C:\\Program Files\\Kelvora\\Sentravix 2000";
    while (folder.size() < 240)
        folder += L"\\Sentravix";
    RegSetValueExW(key, L"Installed Folder", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    App app;
    if (Start(app)) {
        CheckIdleLayout(app.main, true);
        CheckPicture(app.main, IDC_DOWNLOAD, L"DOWNLOAD_DISABLE",
                     "DOWNLOAD shows its disabled picture");
        Screenshot("product");
        CheckHover(app, IDC_SCAN, L"SCAN", 0, nullptr);
        Click(app.main, IDC_CLOSE_BOX);
        DWORD code = 1;
        Check(HasExited(app, 10000, &code), "X closes the idle window");
    }
    Finish(app);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
}

/* The widest of `lines` as the log list draws them: in the list's own font
   (made here from the program's template 141, hidden) with tabs at the
   list's default stops. Its width in pixels, or -1. */
int WidestListLine(const std::vector<std::wstring>& lines, std::wstring* widest) {
    int width = -1;
    HMODULE module = LoadLibraryExW(g_exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HWND d = module
                 ? CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_MAIN), nullptr, &NoDialogProc, 0)
                 : nullptr;
    if (d) {
        HWND list = GetDlgItem(d, IDC_LOG_LIST);
        HDC dc = GetDC(list);
        HGDIOBJ old =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
        for (const auto& l : lines) {
            int w =
                LOWORD(GetTabbedTextExtentW(dc, l.c_str(), static_cast<int>(l.size()), 0, nullptr));
            if (w > width) {
                width = w;
                *widest = l;
            }
        }
        SelectObject(dc, old);
        ReleaseDC(list, dc);
        DestroyWindow(d);
    }
    if (module) FreeLibrary(module);
    return width;
}

void ScenarioScan() {
    int total = CountFiles(L"C:");
    Note("%d files on C: before the scan", total);
    int planted = 0;
    for (const auto& s : g_specimens)
        if (GetFileAttributesW(s.second.c_str()) != INVALID_FILE_ATTRIBUTES) planted++;
    Check(planted == static_cast<int>(g_specimens.size()), "%d of %zu specimens are planted",
          planted, g_specimens.size());

    g_tapFile = g_shots + L"\\scan.log";
    DeleteFileW(g_tapFile.c_str());
    App app;
    if (!Start(app)) return;
    Click(app.main, IDC_SCAN);
    // Timers the program did not set, while the run pumps: they run nothing
    // (the program would end with its window's handle as exit code), start
    // no second run (no second statistics block) and the scan completes.
    // (The scanning layout shows at SCAN, the run 100 ms later.)
    bool running =
        WaitFor([&] { return Visible(app.main, IDC_MAIN_CANCEL) || HasExited(app, 0); }, 30000, 5);
    Sleep(1000);
    Check(running && !IsFinished(app.main) && !HasExited(app, 0),
          "the foreign timers are posted while the run goes on");
    PostForeignTimers(app);
    SendForeignWrites(app);
    bool finished = WaitFor([&] { return IsFinished(app.main) || HasExited(app, 0); }, 180000, 100);
    Check(finished && !HasExited(app, 0), "the scan finishes");
    HWND question = FindQuestion(app.pi.dwProcessId);
    Check(!question, "no question was asked (%s)",
          Narrow(TextOf(Item(question, IDC_ASK_TEXT))).c_str());
    if (!finished) return;
    Sleep(500);
    Check(!SendForeignWrites(app), "another program's line, emptying and notifications leave the "
                                   "finished log as it was");
    Screenshot("finished");
    CheckFinishedLayout(app.main, L"Scanning completed");

    // Every line the window received, in order; the list itself keeps what
    // followed its last emptying.
    std::vector<std::wstring> tapped = TappedLines(g_tapFile), received;
    std::vector<size_t> emptied; // lines received before each emptying
    for (const auto& l : tapped) {
        if (l == L"\x01")
            emptied.push_back(received.size());
        else
            received.push_back(l);
    }
    std::vector<std::wstring> lines = LogLines(app.main);
    std::multimap<std::wstring, int> expected;
    for (const auto& s : g_specimens) {
        std::wstring name = Widen(kVariantTable[s.first - 1].name);
        expected.insert({s.second + L"     " + name + L" removed", 0});
    }
    const int k = static_cast<int>(g_specimens.size());
    const size_t head = static_cast<size_t>(k) + (k > 0 ? 1 : 0);
    Check(received.size() == head + 5,
          "%d lines: one per specimen, a space line, the statistics (%zu)",
          static_cast<int>(head + 5), received.size());
    Check(std::count_if(received.begin(), received.end(),
                        [](const std::wstring& l) {
                            return l.compare(0, 19, L"Total files scanned") == 0;
                        }) == 1,
          "one statistics block: the foreign timers started no second run");
    std::multimap<std::wstring, int> seen;
    for (size_t i = 0; i < received.size() && i < static_cast<size_t>(k); i++)
        seen.insert({received[i], 0});
    Check(seen == expected, "every specimen has its exact \"removed\" line");
    if (k > 0 && received.size() > static_cast<size_t>(k))
        Check(received[k] == L" ", "a single-space line before the statistics");
    std::vector<std::wstring> stats = StatisticsLines(total, k, k);
    bool statsOk = lines.size() >= 5;
    for (size_t i = 0; statsOk && i < 5; i++)
        statsOk = lines[lines.size() - 5 + i] == stats[i];
    Check(statsOk, "statistics read %d scanned, %d infected, %d removed", total, k, k);

    // 150 lines at most during the walk: the 151st empties the list first;
    // the statistics then come with the list full and never empty it.
    std::vector<size_t> want;
    for (size_t n = 150; n < static_cast<size_t>(k); n += 150)
        want.push_back(n);
    Check(emptied == want, "the list emptied %zu time(s), each time after 150 lines (%zu)",
          want.size(), emptied.size());
    size_t kept = emptied.empty() ? 0 : emptied.back();
    Check(kept <= received.size() &&
              lines == std::vector<std::wstring>(received.begin() + kept, received.end()),
          "the list holds every line since it was last emptied (%zu of %zu)", lines.size(),
          received.size());
    LRESULT selected = SendMessageW(Item(app.main, IDC_LOG_LIST), LB_GETCURSEL, 0, 0);
    Check(selected == static_cast<LRESULT>(lines.size()) - 1, "the newest line is selected (%ld)",
          static_cast<long>(selected));

    // The widest line can be scrolled into view to its last character (the
    // list draws its lines a pixel in).
    std::wstring widestLine;
    int widest = WidestListLine(received, &widestLine);
    HWND list = Item(app.main, IDC_LOG_LIST);
    RECT client;
    GetClientRect(list, &client);
    int extent = static_cast<int>(SendMessageW(list, LB_GETHORIZONTALEXTENT, 0, 0));
    Note("widest line %d px in the list's font, list %ld px wide: %s", widest, client.right,
         Narrow(widestLine).c_str());
    Check(widest > client.right, "a line is wider than the list (%d > %ld)", widest, client.right);
    Check(extent > widest && extent <= widest + 24,
          "the horizontal extent %d shows the widest line, %d px, to its end", extent, widest);
    SendMessageW(list, WM_HSCROLL, SB_RIGHT, 0);
    Sleep(300);
    Screenshot("scrolled-right");

    int left = 0;
    for (const auto& s : g_specimens)
        if (GetFileAttributesW(s.second.c_str()) != INVALID_FILE_ATTRIBUTES) {
            left++;
            Note("specimen %s is still on disk", Narrow(s.second).c_str());
        }
    Check(left == 0, "every specimen is gone from disk (%d left)", left);
    Check(CountFiles(L"C:") == total - k, "nothing else was removed");

    Click(app.main, IDC_MAIN_OK);
    DWORD code = 1;
    Check(HasExited(app, 10000, &code), "OK closes the window after the scan");
    Check(code == 0, "exit code 0 (%lu)", code);
    Finish(app);
}

/* Starts the program and presses SCAN; true once the drive walk is in the
   bulk tree. The memory scan shows the running programs' paths, which are on
   C: as well; the drive walk has begun (and counted a file) once one of the
   bulk text files shows. Stopping earlier could end the scan before any file
   was counted. The two files in the root are behind the walk by then; the
   plain message box that the held one brings ("Could not kill process": its
   holder does not run it) is answered on the way. */
bool StartWalk(App& app) {
    if (!Start(app)) return false;
    HWND main = app.main;
    Click(main, IDC_SCAN);
    bool scanning = WaitFor(
        [&] {
            for (HWND box : TopLevelWindows(app.pi.dwProcessId, IDOK))
                if (IsWindowVisible(box) && !GetDlgItem(box, IDC_ASK_TEXT) &&
                    !GetDlgItem(box, IDC_SCAN))
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
            std::wstring s = TextOf(Item(main, IDC_STATUS_LINE));
            return Visible(main, IDC_MAIN_CANCEL) && s.compare(0, 3, L"C:\\") == 0 &&
                   s.size() > 4 && _wcsicmp(s.c_str() + s.size() - 4, L".txt") == 0;
        },
        60000, 5);
    Check(scanning, "the scan runs and shows its entries (status \"%s\")",
          Narrow(TextOf(Item(main, IDC_STATUS_LINE))).c_str());
    return scanning;
}

/* After YES to a stop question: waits for the restart question that ends
   each run of this scenario (the held file waits for the restart). While it
   is open the run has not returned: OK must already have replaced CANCEL
   when `swapped`, else CANCEL must still show. */
HWND ExpectRestart(const App& app, HWND stopQuestion, bool swapped, const char* how) {
    HWND q = nullptr;
    WaitFor(
        [&] {
            q = FindQuestion(app.pi.dwProcessId);
            return (q && q != stopQuestion) || HasExited(app, 0);
        },
        30000);
    bool restart =
        q && q != stopQuestion &&
        TextOf(Item(q, IDC_ASK_TEXT)).compare(0, 30, L"The system has to be restarted") == 0;
    Check(restart, "%s: the stopped run still offers the restart", how);
    if (!restart) return nullptr;
    Sleep(400);
    Check(TextOf(Item(app.main, IDC_STATUS_LINE)) == L"Scanning terminated" &&
              WindowVisibleBit(app.main, IDC_HEADING),
          "%s: the run is still unwinding (terminated, heading not yet hidden)", how);
    Check(WindowVisibleBit(app.main, IDC_MAIN_OK) == swapped &&
              WindowVisibleBit(app.main, IDC_MAIN_CANCEL) == !swapped,
          "%s: %s before the run returns", how,
          swapped ? "OK has replaced CANCEL" : "CANCEL stays");
    return q;
}

void ScenarioCancel() {
    int total = CountFiles(L"C:");
    Note("%d files on C: before the scan", total);
    if (g_specimens.size() != 2 || g_holder.empty()) {
        Check(false, "two specimens in the root and the holder are given");
        return;
    }
    // The first is held open: deleting it fails, its deletion waits for the
    // restart, and every run ends with the restart question.
    const std::wstring held = g_specimens[0].second, early = g_specimens[1].second;
    HANDLE holder = StartProgram(g_holder, L"\"" + held + L"\"");
    Check(holder != nullptr, "the holder holds %s", Narrow(held).c_str());
    Sleep(500);
    const std::wstring heldLine = held + L"     " +
                                  Widen(kVariantTable[g_specimens[0].first - 1].name) +
                                  L" Unable to remove";
    const std::wstring earlyLine =
        early + L"     " + Widen(kVariantTable[g_specimens[1].first - 1].name) + L" removed";

    // First run: every way to ask, answered No (by button and by keyboard),
    // then CANCEL and YES.
    App app;
    if (StartWalk(app)) {
        HWND main = app.main;
        CheckScanningLayout(main);
        Screenshot("scanning");
        std::vector<std::wstring> root = LogLines(main);
        Check(root.size() == 2 && std::multiset<std::wstring>(root.begin(), root.end()) ==
                                      std::multiset<std::wstring>{heldLine, earlyLine},
              "the root's two specimens have their lines (%zu lines)", root.size());
        LRESULT selected = SendMessageW(Item(main, IDC_LOG_LIST), LB_GETCURSEL, 0, 0);
        Check(selected == LB_ERR, "a fresh list's first two lines are not selected (%ld)",
              static_cast<long>(selected));

        // The window keeps painting during the walk: the status line's pixels change.
        RECT statusRect;
        GetWindowRect(Item(main, IDC_STATUS_LINE), &statusRect);
        std::vector<uint32_t> before = CaptureScreen(statusRect);
        bool repainted = WaitFor([&] { return CaptureScreen(statusRect) != before; }, 5000, 100);
        Check(repainted, "the status line repaints during the walk");
        CatchPages();
        CheckOpensPage(main, IDC_DOWNLOAD, L"/download/downloadnow.htm",
                       "DOWNLOAD during the scan");

        // Commands for controls a click cannot reach change nothing: OK
        // (enabled but hidden), pressed by command and by BM_CLICK, and the
        // disabled SCAN.
        PostCommand(main, IDC_MAIN_OK);
        PostMessageW(Item(main, IDC_MAIN_OK), BM_CLICK, 0, 0);
        PostCommand(main, IDC_SCAN);
        {
            std::wstring shown = TextOf(Item(main, IDC_STATUS_LINE));
            bool moved =
                WaitFor([&] { return TextOf(Item(main, IDC_STATUS_LINE)) != shown; }, 5000);
            Sleep(300);
            Check(
                moved && IsWindowVisible(main) && Visible(main, IDC_MAIN_CANCEL) &&
                    !Visible(main, IDC_MAIN_OK) && !IsFinished(main),
                "a posted OK during the scan changes nothing: the window shows, the walk goes on");
        }
        {
            // The maker's link that SCAN hid, shown and clicked by another
            // program: the shell, which runs as the administrator, opens no page.
            size_t before = TappedLines(PagesFile()).size();
            ClickForced(main, IDC_UTILITY_LINK);
            // Nor its command once another program gave its id to DOWNLOAD,
            // which shows, and DOWNLOAD's to it.
            HWND download = Item(main, IDC_DOWNLOAD), link = Item(main, IDC_UTILITY_LINK);
            SetWindowLongPtrW(download, GWLP_ID, IDC_UTILITY_LINK);
            SetWindowLongPtrW(link, GWLP_ID, IDC_DOWNLOAD);
            PostCommand(main, IDC_UTILITY_LINK);
            Sleep(1000);
            SetWindowLongPtrW(download, GWLP_ID, IDC_DOWNLOAD);
            SetWindowLongPtrW(link, GWLP_ID, IDC_UTILITY_LINK);
            Check(TappedLines(PagesFile()).size() == before,
                  "a hidden link shown and clicked by another program, or its command given to "
                  "a shown control's id, opens no page");
        }

        // The question closes and the walk goes on.
        auto goesOn = [&](HWND q, const char* how) {
            Check(WaitFor([&] { return !IsWindow(q) || !IsWindowVisible(q); }, 10000),
                  "%s closes the question", how);
            std::wstring shown = TextOf(Item(main, IDC_STATUS_LINE));
            bool moved =
                WaitFor([&] { return TextOf(Item(main, IDC_STATUS_LINE)) != shown; }, 5000);
            Check(moved && Visible(main, IDC_MAIN_CANCEL), "after %s the scan goes on", how);
        };

        // X: its own title; NO goes on.
        Click(main, IDC_CLOSE_BOX);
        HWND q = ExpectStopQuestion(app, L"DialogBoxTitle", "X during the scan");
        if (q) {
            std::wstring shown = TextOf(Item(main, IDC_STATUS_LINE));
            Sleep(400);
            Check(TextOf(Item(main, IDC_STATUS_LINE)) == shown,
                  "the walk waits while the question is open");
            // Another close and X posted into its loop ask nothing more.
            PostMessageW(main, WM_CLOSE, 0, 0);
            PostCommand(main, IDC_CLOSE_BOX);
            Sleep(800);
            int open = 0;
            for (HWND w : TopLevelWindows(app.pi.dwProcessId, IDC_ASK_TEXT))
                if (IsWindowVisible(w)) open++;
            Check(open == 1, "one question at a time (%d open)", open);
            Screenshot("question");
            Click(q, IDC_ASK_NO);
            goesOn(q, "NO");
        }

        // Escape during the walk: the walk's own question, which stops on
        // every answer but No. The Escape key on the question answers No.
        Key(main, VK_ESCAPE);
        q = ExpectStopQuestion(app, kTitle, "Escape during the scan");
        if (q) {
            // Its hidden single OK would answer "not No": a command for it does nothing.
            PostCommand(q, IDC_ASK_SINGLE_OK);
            PostForeignTimers(app);
            Sleep(500);
            Check(IsWindow(q) && IsWindowVisible(q) && !HasExited(app, 0),
                  "the hidden OK's command and foreign timers leave the question open");
            Key(q, VK_ESCAPE);
            goesOn(q, "Escape");
        }

        // The window's close command (system menu, Alt+F4): the program's
        // title. Enter gives the dialog's OK command, which is not Yes.
        PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        q = ExpectStopQuestion(app, kTitle, "closing the window during the scan");
        if (q) {
            Key(q, VK_RETURN);
            goesOn(q, "Enter");
        }

        // CANCEL and YES: OK replaces CANCEL at once, before the run returns.
        Check(!IsFinished(main), "still scanning before CANCEL");
        Click(main, IDC_MAIN_CANCEL);
        q = ExpectStopQuestion(app, kTitle, "CANCEL during the scan");
        if (q) Click(q, IDC_ASK_YES);
        HWND restart = q ? ExpectRestart(app, q, true, "CANCEL and YES") : nullptr;
        if (restart) {
            Screenshot("stopping");
            Answer(app, restart, IDC_ASK_NO);
        }
        bool finished = WaitFor([&] { return IsFinished(main); }, 30000, 100);
        Check(finished, "the scan ends after YES");
        if (finished) {
            Sleep(400);
            Screenshot("terminated");
            CheckFinishedLayout(main, L"Scanning terminated");
            std::vector<std::wstring> lines = LogLines(main);
            PrintLines(lines);
            int scanned = ScannedFrom(lines);
            Check(scanned > 0 && scanned < total, "the walk stopped part way (%d of %d files)",
                  scanned, total);
            std::vector<std::wstring> want = root;
            want.push_back(L" ");
            for (const auto& l : StatisticsLines(scanned, 2, 1))
                want.push_back(l);
            Check(lines == want, "the log holds the root's lines and the statistics");
            Key(main, VK_ESCAPE);
            Check(HasExited(app, 10000), "Escape closes the finished window");
        }
    }
    Finish(app);

    // Second run: X and YES, then OK at once, while the run unwinds: it does
    // nothing until the run has returned, statistics and question done.
    App second;
    g_tapFile = g_shots + L"\\cancel-ok.log";
    DeleteFileW(g_tapFile.c_str());
    if (StartWalk(second)) {
        Click(second.main, IDC_CLOSE_BOX);
        HWND q = ExpectStopQuestion(second, L"DialogBoxTitle", "X during the second scan");
        if (q) {
            Click(q, IDC_ASK_YES);
            Click(second.main, IDC_MAIN_OK);
            HWND restart = ExpectRestart(second, q, true, "X, YES and OK");
            Check(!HasExited(second, 0), "OK pressed while the run unwinds waits for it");
            if (restart) Click(restart, IDC_ASK_NO);
            bool finished = WaitFor([&] { return IsFinished(second.main); }, 30000, 100);
            Sleep(400);
            Check(finished && !HasExited(second, 0) && IsWindowVisible(second.main),
                  "OK pressed while the run unwinds does nothing: the finished layout shows");
            Click(second.main, IDC_MAIN_OK);
            DWORD code = 1;
            bool closed = HasExited(second, 15000, &code);
            Check(closed && code == 0, "OK closes the finished window (exit code %lu)", code);
            std::vector<std::wstring> tapped = TappedLines(g_tapFile);
            Check(tapped.size() >= 5 && tapped.back().compare(0, 19, L"Total files removed") == 0,
                  "the run posted its statistics before the window closed (%zu lines)",
                  tapped.size());
        }
    }
    Finish(second);
    g_tapFile.clear();

    // Third run: Escape and YES stop the walk, but CANCEL stays until the
    // run returns.
    App third;
    if (StartWalk(third)) {
        HWND main = third.main;
        Key(main, VK_ESCAPE);
        HWND q = ExpectStopQuestion(third, kTitle, "Escape during the third scan");
        if (q) Click(q, IDC_ASK_YES);
        HWND restart = q ? ExpectRestart(third, q, false, "Escape and YES") : nullptr;
        if (restart) {
            Answer(third, restart, IDC_ASK_NO);
            bool finished = WaitFor([&] { return IsFinished(main); }, 30000, 100);
            Check(finished && !Visible(main, IDC_MAIN_CANCEL) && Visible(main, IDC_MAIN_OK),
                  "Escape and YES: OK replaces CANCEL when the run returns");
        }
        Click(main, IDC_MAIN_OK);
        Check(HasExited(third, 10000), "OK closes the finished window");
    }
    Finish(third);
    TerminateProcess(holder, 0);
    WaitForSingleObject(holder, 5000);
    CloseHandle(holder);
}

bool SetWineVersion(const wchar_t* version) {
    HKEY key = nullptr;
    LONG set = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, nullptr, 0, KEY_WRITE,
                               nullptr, &key, nullptr);
    if (set == ERROR_SUCCESS) {
        set = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                             static_cast<DWORD>((lstrlenW(version) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    Check(set == ERROR_SUCCESS, "Wine reports %s to the programs started from now on",
          Narrow(version).c_str());
    return set == ERROR_SUCCESS;
}

/* No checks: one scan for a person to look at afterwards. Screenshots of the
   idle and finished window, and the log lines in log.txt beside them. */
void ScenarioDemo() {
    App app;
    if (!Start(app)) return;
    Screenshot("demo-idle");
    Click(app.main, IDC_SCAN);
    bool finished = WaitFor([&] { return IsFinished(app.main) || HasExited(app, 0); }, 600000, 200);
    Check(finished && !HasExited(app, 0), "the scan finishes");
    if (!finished) return;
    Sleep(500);
    Screenshot("demo-finished");
    std::wstring path = g_shots + L"\\log.txt";
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out) {
        for (const auto& line : LogLines(app.main)) {
            for (wchar_t c : line)
                fputc(c < 256 ? static_cast<int>(c) : '?', out);
            fputc('\n', out);
        }
        fprintf(out, "[status] %s\n", Narrow(TextOf(Item(app.main, IDC_STATUS_LINE))).c_str());
        fclose(out);
    }
    Click(app.main, IDC_MAIN_OK);
    Finish(app);
}

/* The Wine benchmark's measured run (bench_wine.sh): from pressing SCAN to
   the finished window, memory scan, status line and all. Prints
   "bench: files <scanned> ms <elapsed>". While it waits, the driver sends the
   program nothing: it watches OK's visibility, which needs no message. */
void ScenarioBench() {
    App app;
    if (!Start(app)) return;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Click(app.main, IDC_SCAN);
    bool shown =
        WaitFor([&] { return Visible(app.main, IDC_MAIN_OK) || HasExited(app, 0); }, 1800000, 20);
    QueryPerformanceCounter(&end);
    bool finished = shown && IsFinished(app.main);
    Check(finished, "the scan finishes");
    if (!finished) return;
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                static_cast<double>(frequency.QuadPart);
    int scanned = ScannedFrom(LogLines(app.main));
    printf("bench: files %d ms %.0f\n", scanned, ms);
    Screenshot("bench-finished");
    Click(app.main, IDC_MAIN_OK);
    Finish(app);
}

} // namespace e2e

using namespace e2e;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fprintf(stderr,
                "usage: e2e_driver "
                "idle|product|scan|cancel|demo|bench|win98|nt40|winxp|win10|xp10 --exe <path>"
                " --shots <dir> [options]\n");
        return 2;
    }
    InitializeCriticalSection(&g_reporting);
    std::wstring scenario = argv[1];
    if (scenario == L"url" && argc == 4) { // the shell's http handler (CatchPages)
        FILE* out = _wfopen(argv[2], L"ab");
        if (!out) return 1;
        fprintf(out, "%s\n", Narrow(argv[3]).c_str());
        fclose(out);
        return 0;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring option = argv[i], value = argv[i + 1];
        if (option == L"--exe")
            g_exe = value;
        else if (option == L"--shots")
            g_shots = value;
        else if (option == L"--specimen") {
            size_t eq = value.find(L'=');
            int row = _wtoi(value.substr(0, eq).c_str());
            if (eq != std::wstring::npos && row > 0)
                g_specimens.push_back({row, value.substr(eq + 1)});
        } else if (option == L"--tap") {
            g_tapDll = value;
        } else if (option == L"--next-version") {
            g_nextVersion = value;
        } else if (!SystemOption(option, value)) {
            fprintf(stderr, "unknown option %ls\n", option.c_str());
            return 2;
        }
        if (option == L"--holder") g_holder = value; // the system scenarios take it too
    }
    // Rows must exist in this build's table.
    int rows = 0;
    while (kVariantTable[rows].name[0])
        rows++;
    for (const auto& s : g_specimens)
        if (s.first > rows) {
            fprintf(stderr, "no table row %d\n", s.first);
            return 2;
        }
    if (const wchar_t* slow = _wgetenv(L"E2E_SLOW")) g_slow = std::max(1, _wtoi(slow));
    CreateDirectoryW(g_shots.c_str(), nullptr);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 4, GetSystemMetrics(SM_CYSCREEN) - 4);

    if (scenario == L"idle")
        ScenarioIdle();
    else if (scenario == L"product")
        ScenarioProduct();
    else if (scenario == L"scan")
        ScenarioScan();
    else if (scenario == L"cancel")
        ScenarioCancel();
    else if (scenario == L"demo")
        ScenarioDemo();
    else if (scenario == L"bench")
        ScenarioBench();
    else if (!RunSystemScenario(scenario)) {
        fprintf(stderr, "unknown scenario\n");
        return 2;
    }
    if (!g_nextVersion.empty()) SetWineVersion(g_nextVersion.c_str());
    printf("%d passed, %d failed\n", g_checks - g_failures, g_failures);
    return g_failures ? 1 : 0;
}
