/*
** Shared pieces of the end-to-end driver (driver.cpp): reporting, waiting,
** starting the program and finding its windows, reading its controls, and
** screenshots. The scenarios of the whole system (system_scenarios.cpp) use
** them as the window scenarios of driver.cpp do.
*/
#ifndef TESTS_E2E_DRIVER_H
#define TESTS_E2E_DRIVER_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

extern const wchar_t kTitle[]; // the program's caption, "CleanPhantaxis Ver 1.0"

extern std::wstring g_exe;   // the program
extern std::wstring g_shots; // folder of screenshots and other output
/* When set, every started program gets the log tap (log_tap.cpp) and writes
   its log lines to g_tapFile. */
extern std::wstring g_tapDll;
extern std::wstring g_tapFile;

// ---- reporting ----
std::string Narrow(const std::wstring& w);
std::wstring Widen(const char* s);
void Check(bool ok, const char* format, ...);
void Note(const char* format, ...);

/* How many times longer than natively the waits for the programs may take:
   1, or E2E_SLOW from the environment (run_e2e.sh sets it under emulation).
   WaitFor and HasExited apply it to their timeouts. */
extern DWORD g_slow;
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs = 50);

// ---- the program ----
struct App {
    PROCESS_INFORMATION pi = {};
    HWND main = nullptr;
    HHOOK tap = nullptr;
    bool running = false;
};

bool Launch(App& app);
bool HasExited(const App& app, DWORD waitMs, DWORD* code = nullptr);
bool Start(App& app); // launches and waits for the main window
void Finish(App& app);
/* Starts another program with C:\ as its working folder; its process handle. */
HANDLE StartProgram(const std::wstring& exe, const std::wstring& arguments);
/* The log tap's lines of a run, in order ("\x01" where the list was emptied). */
std::vector<std::wstring> TappedLines(const std::wstring& file);

std::wstring TextOf(HWND hwnd);
std::vector<HWND> TopLevelWindows(DWORD pid, int childId);
HWND FindQuestion(DWORD pid); // the program's own question dialog (template 142)
HWND Item(HWND dialog, int id);
bool Visible(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
void Click(HWND dialog, int id);
std::vector<std::wstring> LogLines(HWND main);
void PrintLines(const std::vector<std::wstring>& lines);
void CheckText(HWND dialog, int id, const std::wstring& want, const char* what);
void CheckPicture(HWND dialog, int id, LPCWSTR name, const char* what);
bool IsFinished(HWND main);
void CheckFinishedLayout(HWND main, const wchar_t* status);
void Screenshot(const char* name);

/* Makes Wine report `version` ("winxp", "nt40", ...) to the programs
   started from now on: it reads HKCU\Software\Wine's Version as a process
   starts. One check line says whether it was set. */
bool SetWineVersion(const wchar_t* version);

/* Files below `folder`, recursively. */
int CountFiles(const std::wstring& folder);
std::vector<std::wstring> StatisticsLines(int scanned, int infected, int removed);

// ---- the whole-system scenarios (system_scenarios.cpp) ----
/* Options they take: --specimens <folder of rec-NNN.exe, run-NNN.exe, run32-NNN.exe>,
   --holder <e2e_holder.exe>. */
bool SystemOption(const std::wstring& option, const std::wstring& value);
/* win98, nt40, winxp, win10, wow64 or xp10 (winxp then win10 in one session); false
   for any other name. */
bool RunSystemScenario(const std::wstring& name);

} // namespace e2e

#endif
