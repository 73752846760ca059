/*
** The whole system under Wine: one scenario per Windows version that the
** program tells apart (win98, nt40, winxp, win10), each in its own prefix
** whose HKCU\Software\Wine value Version names it (run_e2e.sh sets it); xp10
** runs winxp and then win10 in one prefix, setting the value itself.
**
** The driver plants the scenario's world itself: specimens copied from the
** build's specimen folder into nested folders of C:, autostart values under
** HKEY_LOCAL_MACHINE that name some of them beside values that must stay, a
** hosts file carrying the legacy signature in both places a hosts file can
** live, runnable specimens started before the scan, and files held open by
** e2e_holder. Then it presses SCAN, answers the questions and message boxes
** as they come, and compares what the program did with what it must do:
** the log lines (read back from the window, and through the log tap for
** a run that ends before anyone could read its window), the statistics, the
** files, the registry values, the processes, wininit.ini and the pending
** renames.
**
** The expected lines are computed from the planted world: the driver lists
** C: in the walk's order (files of a folder first, then its subfolders, in
** the file system's listing order) and, for every planted specimen met,
** adds the lines its detection posts: the hosts file's line at the first
** detection of a run, one registry line per autostart value naming the file,
** then the disposal lines.
**
** What Wine does differently from Windows, and what the scenarios make of it:
** - TerminateProcess succeeds again on a process that is still ending, so
**   the NT process scan's second attempt on a variant it has just terminated
**   succeeds and the image is simply re-checked. The service fallback and the
**   memory scan's restart question are reached with a "guarded" specimen
**   whose process denies termination to everyone (Wine enforces a process's
**   access list even with SeDebugPrivilege enabled); after the first run the
**   driver ends it itself, as the restart the question offers would.
** - The tool-help snapshot names each process's image by its file name only
**   (Windows 9x gives the full path), so on win98 the memory scan finds no
**   running variant (a bare name is no path: it may be any file of that
**   name); each is found by the drive walk, whose tool-help search cannot
**   prove that the process runs that file (a bare name may be any file of
**   that name): it is not terminated, and the file waits for the restart.
** - Wine has psapi.dll whatever version it reports, so on nt40 the
**   termination reads each process's image as on 2000: a file that another
**   program holds (not its image) ends nothing and shows no box.
** - ExitWindowsEx would end every process of the prefix, driver included, so
**   restart questions are answered No or Cancel.
*/
#include "tests/e2e/driver.h"

#include "engine/ask_user.h"
#include "engine/signatures.h"
#include "resources/resource_ids.h"
#include "tools/legacy_hosts.h"

#include <aclapi.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace e2e {
namespace {

std::wstring g_specimenDir; // the build's specimens (a \\?\unix\ path)
std::wstring g_holderExe;   // e2e_holder.exe

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunServicesKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const wchar_t kNtHosts[] = L"C:\\windows\\system32\\drivers\\etc\\hosts";
const wchar_t k9xHosts[] = L"C:\\windows\\hosts";
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

const wchar_t kRegistryLine[] = L"System Registry     W32/Phantaxis.Backdoor removed";
const wchar_t kMemoryLine[] = L"System Memory    W32/Phantaxis.Backdoor removed";
const wchar_t kMemoryKillName[] = L"W32/Phantaxis.Trojan";
const wchar_t kLegacyName[] = L"W32/Dravok.Worm";
const wchar_t kCouldNotKill[] = L"Could not kill process";
const wchar_t kRestartQuestion[] = L"The system has to be restarted to remove the virus completely "
                                   L"from your system. \n\n Restart now?";
const wchar_t kMemoryQuestion[] =
    L"W32/Phantaxis.Backdoor found in memory! registry entries created by the worm are removed. "
    L"You must restart the computer and run this program to continue scanning.\n\nRestart the "
    L"computer now?";

// ---- the planted world ----

enum class Kind {
    Plain,     // a data-only specimen (rec-NNN.exe)
    ReadOnly,  // the same, with the read-only attribute
    Running,   // a runnable specimen (run-NNN.exe, run32-NNN.exe), started before the scan
    Guarded,   // the same, whose process denies termination to everyone
    Held,      // a data-only specimen that e2e_holder keeps open
    Running32, // a 32-bit runnable specimen (run32-NNN.exe) on 64-bit Windows
};

struct Plant {
    int row; // the table row the specimen was made from
    std::wstring path;
    Kind kind;
};

struct Value {
    bool services; // under RunServices, else under Run
    std::wstring name;
    DWORD type;
    std::wstring data;
    int target; // index of the plant whose detection removes it; -1: it stays
    // Written by a 32-bit program on 64-bit Windows: in the registry's 32-bit
    // view (Software\Wow6432Node), else in the driver's own 64-bit view.
    bool view32 = false;
};

struct World {
    bool nt = true;
    std::vector<Plant> plants;
    std::vector<Value> values;
    // The autostart values the prefix had before: they must all stay.
    std::map<std::wstring, std::pair<DWORD, std::wstring>> ownValues;
    // What the program has not removed yet, as the model sees it.
    std::vector<bool> filePresent, valuePresent;
    bool ntHostsSigned = true, x9HostsSigned = true;
    // Processes the driver started: one per running, guarded or held plant.
    std::vector<HANDLE> process;
};

/* The runnable specimens of the driver's own bitness, which is the
   program's: run32-NNN.exe in the 32-bit build, run-NNN.exe in the 64-bit one. */
const wchar_t* const kRunnableSpecimen =
    sizeof(void*) == 4 ? L"\\run32-%03d.exe" : L"\\run-%03d.exe";

bool IsRunnable(Kind k) { return k == Kind::Running || k == Kind::Guarded || k == Kind::Running32; }

std::wstring NameOf(int row) { return Widen(kVariantTable[row - 1].name); }

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

/* Whether the last part of `path` is named as a DOS device (aux.exe, CON):
   by its DOS path such a name opens the device, the file only by its
   "\\?\" form. */
bool NamedAsDevice(const std::wstring& path) {
    std::wstring base = path.substr(path.rfind(L'\\') + 1);
    base = base.substr(0, base.find_first_of(L".:"));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"COM1", L"LPT1", L"CONIN$"})
        if (lstrcmpiW(base.c_str(), device) == 0) return true;
    return false;
}

bool Exists(const std::wstring& path) {
    const std::wstring full =
        path.size() < MAX_PATH && !NamedAsDevice(path) ? path : L"\\\\?\\" + path;
    return GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Same(const std::wstring& a, const std::wstring& b) {
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

/* `path` as the wide functions take it beyond MAX_PATH ("\\?\C:\..."). */
std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

/* Creates every missing folder of `folder` ("C:\a\b"), of any length. */
void MakeFolders(const std::wstring& folder) {
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1))
        CreateDirectoryW(Extended(folder.substr(0, at)).c_str(), nullptr);
    CreateDirectoryW(Extended(folder).c_str(), nullptr);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    MakeFolders(FolderOf(path));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

/* The whole file, or "<missing>". */
std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

/* A printable form of file content for the report. */
std::string Shown(const std::string& bytes) {
    std::string s;
    for (char c : bytes) {
        if (c == '\r')
            s += "\\r";
        else if (c == '\n')
            s += "\\n";
        else
            s += c;
    }
    return s;
}

// ---- processes ----

bool Alive(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

/* Leaves the process its query rights only: no one may terminate it. */
bool Guard(HANDLE process) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE |
                                  PROCESS_QUERY_LIMITED_INFORMATION;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    DWORD made = SetEntriesInAclW(1, &access, nullptr, &acl);
    DWORD set =
        made == ERROR_SUCCESS
            ? SetSecurityInfo(process, SE_KERNEL_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, acl, nullptr)
            : made;
    if (acl) LocalFree(acl);
    FreeSid(everyone);
    return set == ERROR_SUCCESS;
}

/* Whether another process could open `process` to terminate it. */
bool Terminable(HANDLE process) {
    HANDLE h =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, GetProcessId(process));
    if (h) CloseHandle(h);
    return h != nullptr;
}

/* A file that DeleteFileA cannot remove because someone holds it open. */
bool HeldOpen(const std::wstring& path) {
    HANDLE h =
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return h == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION;
}

/* Process identifiers in the order EnumProcesses gives them (the order the
   NT process scan checks them). */
std::vector<DWORD> ProcessOrder() {
    std::vector<DWORD> ids(1024);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes))
        bytes = 0;
    ids.resize(bytes / sizeof(DWORD));
    return ids;
}

/* The image path the process scans read for `process`. */
std::wstring ImagePath(HANDLE process) {
    wchar_t path[MAX_PATH] = L"";
    if (!GetModuleFileNameExW(process, nullptr, path, MAX_PATH)) return L"";
    return path;
}

// ---- the registry ----

HKEY OpenKey(const wchar_t* path, REGSAM access, bool view32 = false) {
    HKEY key = nullptr;
    if (view32) access |= KEY_WOW64_32KEY;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, access, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return nullptr;
    return key;
}

/* The name a value goes by in the checks: "Run\name" or "RunServices\name",
   with "Wow6432Node\" in front for the registry's 32-bit view. */
std::wstring ValueKey(bool view32, bool services, const std::wstring& name) {
    return std::wstring(view32 ? L"Wow6432Node\\" : L"") +
           (services ? L"RunServices\\" : L"Run\\") + name;
}

/* Every value of both autostart keys, by ValueKey, to its type and data: in
   both registry views where the driver runs on 64-bit Windows (the 64-bit
   driver), in the one there is on 32-bit Windows. */
std::map<std::wstring, std::pair<DWORD, std::wstring>> AutostartValues() {
    std::map<std::wstring, std::pair<DWORD, std::wstring>> all;
    const int keys = sizeof(void*) == 8 ? 4 : 2;
    for (int services = 0; services < keys; services++) {
        const bool view32 = services >= 2;
        HKEY key = OpenKey(services % 2 ? kRunServicesKey : kRunKey, KEY_READ, view32);
        if (!key) continue;
        for (DWORD i = 0;; i++) {
            wchar_t name[256];
            BYTE data[2048];
            DWORD nameLength = 256, dataSize = sizeof data - 2, type = 0;
            if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &dataSize) !=
                ERROR_SUCCESS)
                break;
            data[dataSize] = data[dataSize + 1] = 0;
            all[ValueKey(view32, services % 2, name)] = {type,
                                                         reinterpret_cast<const wchar_t*>(data)};
        }
        RegCloseKey(key);
    }
    return all;
}

std::wstring ValueKey(const Value& v) { return ValueKey(v.view32, v.services, v.name); }

/* The values still there are exactly those the model keeps, with their data. */
void CheckValues(const World& w, const char* when) {
    auto now = AutostartValues();
    for (size_t i = 0; i < w.values.size(); i++) {
        const Value& v = w.values[i];
        auto it = now.find(ValueKey(v));
        if (w.valuePresent[i])
            Check(it != now.end() && it->second.first == v.type && it->second.second == v.data,
                  "%s: autostart value %s stays as it was", when, Narrow(ValueKey(v)).c_str());
        else
            Check(it == now.end(), "%s: autostart value %s is gone", when,
                  Narrow(ValueKey(v)).c_str());
        if (it != now.end()) now.erase(it);
    }
    for (const auto& own : w.ownValues) {
        auto it = now.find(own.first);
        Check(it != now.end() && it->second == own.second,
              "%s: the prefix's own autostart value %s stays as it was", when,
              Narrow(own.first).c_str());
        if (it != now.end()) now.erase(it);
    }
    for (const auto& extra : now)
        Check(false, "%s: unexpected autostart value %s", when, Narrow(extra.first).c_str());
}

// ---- the walk's order ----

/* The long path of each file the walk shows by a short form. */
std::map<std::wstring, std::wstring> g_longOf;

std::wstring LongOf(const std::wstring& shown) {
    auto it = g_longOf.find(shown);
    return it == g_longOf.end() ? shown : it->second;
}

/* The path the walk gives an entry of `folder`: its long name, else its 8.3
   name where the path (with `suffix`) would not fit 259 characters with the
   long one, else the folder's own 8.3 form with the entry's 8.3 name (its
   name without one); empty when none fits. */
std::wstring WalkPath(const std::wstring& folder, const WIN32_FIND_DATAW& fd,
                      const std::wstring& suffix) {
    for (const wchar_t* name : {fd.cFileName, fd.cAlternateFileName})
        if (name[0] && (folder + L"\\" + name + suffix).size() <= 259) return folder + L"\\" + name;
    wchar_t shortFolder[MAX_PATH] = L"";
    DWORD n = GetShortPathNameW(folder.c_str(), shortFolder, MAX_PATH);
    std::wstring path = std::wstring(n > 0 && n < MAX_PATH ? shortFolder : folder.c_str()) + L"\\" +
                        (fd.cAlternateFileName[0] ? fd.cAlternateFileName : fd.cFileName);
    return (path + suffix).size() <= 259 ? path : L"";
}

/* Files below `folder` (shown so, `longFolder` in full) in the walk's order,
   with its limits: an entry whose path would not fit 259 characters takes
   its 8.3 name, then the folder's 8.3 form, and is skipped when none fits;
   a directory link is not entered. */
void ListWalk(const std::wstring& folder, const std::wstring& longFolder,
              std::vector<std::wstring>* files, bool* programFiles) {
    WIN32_FIND_DATAW fd;
    std::wstring pattern = folder + L"\\*.*";
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring path = WalkPath(folder, fd, L"");
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !path.empty()) {
            files->push_back(path);
            g_longOf[path] = longFolder + L"\\" + fd.cFileName;
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || name == L"." || name == L"..")
            continue;
        std::wstring sub = WalkPath(folder, fd, L"\\*.*");
        if (sub.empty()) continue;
        if ((sub + L"\\*.*").find(L"\\Program Files\\") != std::wstring::npos) *programFiles = true;
        ListWalk(sub, longFolder + L"\\" + name, files, programFiles);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

/* Every file the drive walk will meet, in order. The prefix's only fixed
   drive is C:; its "\Program Files" is walked again only when the tree walk
   did not enter it under exactly that spelling. */
std::vector<std::wstring> WalkOrder() {
    std::vector<std::wstring> files;
    bool visited = false;
    ListWalk(L"C:", L"C:", &files, &visited);
    if (!visited && Exists(L"C:\\Program Files"))
        ListWalk(L"C:\\Program Files", L"C:\\Program Files", &files, &visited);
    return files;
}

// ---- what the program must post ----

struct Expected {
    std::vector<std::wstring> lines;
    int infected = 0, removed = 0;
};

/* A detection of plant `p`, whose path the program shows as `shown`: the
   hosts file (at the first detection of a run only it is still there), then
   the autostart values that name the file. The walk of the values needs a
   full path: a name without a backslash ends it at once. */
void Detect(World& w, Expected& e, int p, const std::wstring& shown) {
    e.infected++;
    bool& signedHosts = w.nt ? w.ntHostsSigned : w.x9HostsSigned;
    if (signedHosts) {
        e.lines.push_back(std::wstring(w.nt ? kNtHosts : k9xHosts) + L"     " + kLegacyName +
                          L" removed");
        e.infected++;
        e.removed++;
        signedHosts = false;
    }
    if (shown.find(L'\\') == std::wstring::npos) return;
    for (size_t i = 0; i < w.values.size(); i++)
        if (w.valuePresent[i] && w.values[i].target == p) {
            e.lines.push_back(kRegistryLine);
            w.valuePresent[i] = false;
        }
}

void Removed(World& w, Expected& e, int p, const std::wstring& shown) {
    e.lines.push_back(shown + L"     " + NameOf(w.plants[p].row) + L" removed");
    e.removed++;
    w.filePresent[p] = false;
}

/* The memory scan's disposal of a variant it terminated. */
void MemoryKilled(World& w, Expected& e, int p, const std::wstring& shown) {
    e.lines.push_back(kMemoryLine);
    e.lines.push_back(shown + L"     " + kMemoryKillName + L" removed");
    e.removed++;
    w.filePresent[p] = false;
}

void Unremovable(World& w, Expected& e, int p) {
    e.lines.push_back(w.plants[p].path + L"     " + NameOf(w.plants[p].row) + L" Unable to remove");
}

/* The drive walk over `order` (the files on C: before the run): a file the
   run has already deleted when the walk gets there (a variant removed by the
   memory scan, the hosts file removed at the first detection) is not met;
   every planted file still there is detected and disposed of, a held one
   cannot be removed. Returns how many files the walk meets. */
int ExpectWalk(World& w, Expected& e, const std::vector<std::wstring>& order) {
    int scanned = 0;
    for (const std::wstring& path : order) {
        if ((Same(path, kNtHosts) && !w.ntHostsSigned && w.nt) ||
            (Same(path, k9xHosts) && !w.x9HostsSigned && !w.nt))
            continue;
        int plant = -1;
        for (size_t p = 0; p < w.plants.size(); p++)
            if (Same(LongOf(path), w.plants[p].path)) plant = static_cast<int>(p);
        if (plant >= 0 && !w.filePresent[plant]) continue;
        scanned++;
        if (plant < 0) continue;
        Detect(w, e, plant, path);
        // On win98 a running variant the memory scan did not find cannot be
        // ended by the walk under Wine (see above).
        if (w.plants[plant].kind == Kind::Held || (!w.nt && w.plants[plant].kind == Kind::Running))
            Unremovable(w, e, plant);
        else
            Removed(w, e, plant, path);
    }
    return scanned;
}

void ExpectStatistics(Expected& e, int scanned) {
    if (e.infected > 0) e.lines.push_back(L" ");
    for (const std::wstring& line : StatisticsLines(scanned, e.infected, e.removed))
        e.lines.push_back(line);
}

// ---- running the program ----

struct Dialog {
    bool messageBox; // the platform's MessageBoxA, else the program's question
    std::wstring title, text;
    std::vector<std::wstring> lines; // the log list while it was open
};

/* A plain message box of process `pid`: a dialog that is neither the main
   window nor the program's question dialog. */
HWND FindMessageBox(DWORD pid) {
    for (HWND hwnd : TopLevelWindows(pid, 0)) {
        wchar_t cls[64] = L"";
        GetClassNameW(hwnd, cls, 64);
        if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd) && !GetDlgItem(hwnd, IDC_SCAN) &&
            !GetDlgItem(hwnd, IDC_ASK_TEXT))
            return hwnd;
    }
    return nullptr;
}

/* The texts of a message box's static controls, joined by line breaks. */
std::wstring MessageBoxText(HWND box) {
    std::wstring text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[64] = L"";
        GetClassNameW(child, cls, 64);
        std::wstring t = TextOf(child);
        if (lstrcmpiW(cls, L"Static") == 0 && !t.empty()) text += (text.empty() ? L"" : L"\n") + t;
    }
    return text;
}

/* How a scenario answers: the button to press for a question with this text. */
int AnswerFor(const std::wstring& text) {
    if (text == kMemoryQuestion) return IDC_ASK_CANCEL;
    return IDC_ASK_NO; // the restart question, and anything unexpected
}

struct Run {
    App app;
    bool finished = false, exited = false;
    DWORD exitCode = 0;
    std::vector<Dialog> dialogs;
    std::vector<std::wstring> lines; // the log list at the end
    std::vector<std::wstring> tapped;
};

/* Starts the program, presses SCAN and follows the run to its end: the
   finished window, or the end of the process. Questions and message boxes
   are recorded (with a screenshot each) and answered. */
void Drive(Run& run, const std::string& shot) {
    g_tapFile = g_shots + L"\\" + Widen(shot.c_str()) + L".log";
    DeleteFileW(g_tapFile.c_str());
    App& app = run.app;
    if (!Start(app)) return;
    Click(app.main, IDC_SCAN);
    DWORD start = GetTickCount();
    int boxes = 0, questions = 0;
    while (GetTickCount() - start < 200000 * g_slow) {
        if (HasExited(app, 0, &run.exitCode)) {
            run.exited = true;
            break;
        }
        if (HWND box = FindMessageBox(app.pi.dwProcessId)) {
            Sleep(300);
            Dialog d = {true, TextOf(box), MessageBoxText(box), LogLines(app.main)};
            run.dialogs.push_back(d);
            Note("message box \"%s\": %s", Narrow(d.title).c_str(), Narrow(d.text).c_str());
            Screenshot((shot + "-box" + std::to_string(++boxes)).c_str());
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
            continue;
        }
        if (HWND q = FindQuestion(app.pi.dwProcessId)) {
            Sleep(400);
            Dialog d = {false, TextOf(q), TextOf(Item(q, IDC_ASK_TEXT)), LogLines(app.main)};
            run.dialogs.push_back(d);
            Note("question \"%s\": %s", Narrow(d.title).c_str(), Narrow(d.text).c_str());
            bool okCancel = d.text == kMemoryQuestion;
            bool buttons = Visible(q, IDC_ASK_YES) == !okCancel &&
                           Visible(q, IDC_ASK_NO) == !okCancel &&
                           Visible(q, IDC_ASK_OK) == okCancel &&
                           Visible(q, IDC_ASK_CANCEL) == okCancel && !Visible(q, IDC_ASK_SINGLE_OK);
            Check(buttons, "the question offers %s only",
                  okCancel ? "OK and CANCEL" : "YES and NO");
            CheckPicture(
                q, IDC_ASK_PICTURE,
                MAKEINTRESOURCEW(okCancel ? IDB_PICTURE_INFORMATION : IDB_PICTURE_QUESTION),
                okCancel ? "the question shows the information picture 152"
                         : "the question shows the question picture 153");
            Screenshot((shot + "-question" + std::to_string(++questions)).c_str());
            // Cancel by the Escape key, which must answer as the button does.
            if (AnswerFor(d.text) == IDC_ASK_CANCEL)
                PostMessageW(q, WM_KEYDOWN, VK_ESCAPE, 0);
            else
                Click(q, AnswerFor(d.text));
            WaitFor([&] { return !IsWindow(q) || !IsWindowVisible(q) || HasExited(app, 0); },
                    10000);
            continue;
        }
        if (IsFinished(app.main)) {
            Sleep(500);
            run.finished = true;
            run.lines = LogLines(app.main);
            break;
        }
        Sleep(50);
    }
    if (!run.finished && !run.exited) Check(false, "the run ends within %lu s", 200 * g_slow);
    run.tapped = TappedLines(g_tapFile);
}

/* The run's lines, as the window shows them and as the tap saw them. */
void CheckLines(const std::vector<std::wstring>& got, const std::vector<std::wstring>& want,
                const char* what) {
    bool same = got == want;
    Check(same, "%s: %zu lines as computed from the planted world (%zu)", what, want.size(),
          got.size());
    if (same) return;
    for (size_t i = 0; i < got.size() || i < want.size(); i++) {
        std::string g = i < got.size() ? Narrow(got[i]) : "<none>";
        std::string x = i < want.size() ? Narrow(want[i]) : "<none>";
        Note("%s line %zu: %s %s", what, i + 1, g == x ? "  " : "!=", g.c_str());
        if (g != x) Note("%s   expected: %s", what, x.c_str());
    }
}

/* A message box "Could not kill process" comes between a file's registry
   lines and its "Unable to remove" line: the lines shown while it is open
   are those before that line. */
void CheckLinesAtBox(const Run& run, const Expected& e, const std::wstring& path) {
    size_t at = 0;
    while (at < e.lines.size() && e.lines[at].compare(0, path.size() + 5, path + L"     ") != 0)
        at++;
    std::vector<std::wstring> before(e.lines.begin(), e.lines.begin() + at);
    for (const Dialog& d : run.dialogs)
        if (d.messageBox && d.title == path)
            CheckLines(d.lines, before, "window at the message box");
}

void CheckDialogs(const Run& run, const std::vector<Dialog>& want, const char* when) {
    Check(run.dialogs.size() == want.size(), "%s: %zu dialogs shown (%zu)", when, want.size(),
          run.dialogs.size());
    for (size_t i = 0; i < want.size() && i < run.dialogs.size(); i++) {
        const Dialog& got = run.dialogs[i];
        Check(got.messageBox == want[i].messageBox && got.title == want[i].title &&
                  got.text == want[i].text,
              "%s: dialog %zu is the %s \"%s\" titled \"%s\"", when, i + 1,
              want[i].messageBox ? "system message box" : "program's question",
              Narrow(want[i].text).c_str(), Narrow(want[i].title).c_str());
    }
}

// ---- setting the world up ----

bool CheckVersion(const std::wstring& scenario) {
    OSVERSIONINFOW v = {};
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExW(&v);
    DWORD platform = scenario == L"win98" ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT;
    // wow64 runs the 32-bit program in a prefix that reports Windows 10.
    bool ok = v.dwPlatformId == platform;
    if (scenario == L"win98" || scenario == L"nt40")
        ok = ok && v.dwMajorVersion == 4;
    else if (scenario == L"winxp")
        ok = ok && v.dwMajorVersion == 5;
    else
        ok = ok && v.dwMajorVersion >= 6;
    Check(ok, "the prefix reports %s (platform %lu, version %lu.%lu)", Narrow(scenario).c_str(),
          v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion);
    return ok;
}

bool PlantWorld(World& w) {
    bool ok = true;
    for (const Plant& p : w.plants) {
        wchar_t source[64];
        swprintf(source, 64,
                 p.kind == Kind::Running32 ? L"\\run32-%03d.exe"
                 : IsRunnable(p.kind)      ? kRunnableSpecimen
                                           : L"\\rec-%03d.exe",
                 p.row);
        MakeFolders(FolderOf(p.path));
        bool copied =
            CopyFileW((g_specimenDir + source).c_str(), Extended(p.path).c_str(), FALSE) != FALSE;
        if (copied && p.kind == Kind::ReadOnly)
            copied = SetFileAttributesW(p.path.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE;
        Check(copied, "specimen %s planted at %s%s", Narrow(source + 1).c_str(),
              Narrow(p.path).c_str(), p.kind == Kind::ReadOnly ? " (read-only)" : "");
        ok = ok && copied;
    }
    // A signed hosts file where each family keeps it: only the running
    // family's one may go.
    std::string hosts = LegacyHostsText();
    bool hostsOk = !hosts.empty() && WriteBytes(kNtHosts, hosts) && WriteBytes(k9xHosts, hosts);
    Check(hostsOk,
          "signed hosts files planted in C:\\windows\\system32\\drivers\\etc and C:\\windows");
    ok = ok && hostsOk;

    // A value the world plants replaces one of that name it finds (xp10's
    // second half finds the first half's): that one is no longer the prefix's.
    w.ownValues = AutostartValues();
    for (const Value& v : w.values) {
        w.ownValues.erase(ValueKey(v));
        HKEY key = OpenKey(v.services ? kRunServicesKey : kRunKey, KEY_WRITE, v.view32);
        LONG set = key ? RegSetValueExW(key, v.name.c_str(), 0, v.type,
                                        reinterpret_cast<const BYTE*>(v.data.c_str()),
                                        static_cast<DWORD>((v.data.size() + 1) * sizeof(wchar_t)))
                       : ERROR_FILE_NOT_FOUND;
        if (key) RegCloseKey(key);
        ok = ok && set == ERROR_SUCCESS;
    }
    Check(ok, "%zu autostart values planted", w.values.size());

    w.filePresent.assign(w.plants.size(), true);
    w.valuePresent.assign(w.values.size(), true);
    w.process.assign(w.plants.size(), nullptr);
    for (size_t i = 0; i < w.plants.size(); i++) {
        const Plant& p = w.plants[i];
        if (IsRunnable(p.kind)) {
            w.process[i] = StartProgram(NamedAsDevice(p.path) ? Extended(p.path) : p.path, L"");
            bool guarded = p.kind != Kind::Guarded || Guard(w.process[i]);
            // Started far enough to name its image, as the process scans read it.
            WaitFor([&] { return !ImagePath(w.process[i]).empty(); }, 30000);
            Sleep(1000);
            Check(Alive(w.process[i]), "%s runs (and keeps running)", Narrow(p.path).c_str());
            if (p.kind == Kind::Guarded)
                Check(guarded && !Terminable(w.process[i]),
                      "%s: its process refuses to be opened for termination",
                      Narrow(p.path).c_str());
        } else if (p.kind == Kind::Held) {
            const std::wstring name = NamedAsDevice(p.path) ? Extended(p.path) : p.path;
            w.process[i] = StartProgram(g_holderExe, L"\"" + name + L"\"");
            bool held = WaitFor([&] { return HeldOpen(name); }, 30000);
            Check(held, "%s is held open without delete sharing", Narrow(p.path).c_str());
        }
    }
    return ok;
}

void EndProcesses(World& w) {
    for (HANDLE& h : w.process) {
        if (!h) continue;
        if (Alive(h)) {
            TerminateProcess(h, 0);
            WaitForSingleObject(h, 5000);
        }
        CloseHandle(h);
        h = nullptr;
    }
}

/* What the restart a scenario declines would do, and its planting undone,
   so that the next scenario of a set (run_e2e.sh's "set": one Wine session
   for them all) finds the prefix as a fresh copy has it but for the
   keepers, which stay as values the prefix has: the processes ended, the
   specimens and the values naming them deleted, the signed hosts files, the
   pending renames and wininit.ini gone. */
void Tidy(World& w) {
    EndProcesses(w);
    for (const Plant& p : w.plants) {
        SetFileAttributesW(Extended(p.path).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(Extended(p.path).c_str());
    }
    for (const Value& v : w.values) {
        if (v.target < 0) continue;
        if (HKEY key = OpenKey(v.services ? kRunServicesKey : kRunKey, KEY_SET_VALUE, v.view32)) {
            RegDeleteValueW(key, v.name.c_str());
            RegCloseKey(key);
        }
    }
    const std::string hosts = LegacyHostsText();
    for (const wchar_t* file : {kNtHosts, k9xHosts})
        if (ReadBytes(file) == hosts) DeleteFileW(file);
    if (HKEY key = OpenKey(kSessionManager, KEY_SET_VALUE)) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
        RegCloseKey(key);
    }
    DeleteFileW(L"C:\\windows\\wininit.ini");
}

void CheckFiles(const World& w, const char* when) {
    for (size_t i = 0; i < w.plants.size(); i++)
        Check(Exists(w.plants[i].path) == w.filePresent[i], "%s: %s %s", when,
              Narrow(w.plants[i].path).c_str(), w.filePresent[i] ? "is still there" : "is gone");
    std::string hosts = LegacyHostsText();
    Check((ReadBytes(kNtHosts) == hosts) == w.ntHostsSigned, "%s: the NT hosts file %s", when,
          w.ntHostsSigned ? "is untouched" : "is gone");
    Check((ReadBytes(k9xHosts) == hosts) == w.x9HostsSigned, "%s: the 9x hosts file %s", when,
          w.x9HostsSigned ? "is untouched" : "is gone");
    if (!w.ntHostsSigned) Check(!Exists(kNtHosts), "%s: no NT hosts file", when);
    if (!w.x9HostsSigned) Check(!Exists(k9xHosts), "%s: no 9x hosts file", when);
}

/* The finished window of a run that walked the drives: its lines, layout
   and status, then OK closes it. */
void CheckFinishedRun(Run& run, const Expected& e, const std::string& shot) {
    Check(run.finished && !run.exited, "the scan finishes with the window open");
    if (!run.finished) return;
    Screenshot((shot + "-finished").c_str());
    // The list shows its newest line; a second picture shows it from the top.
    SendMessageW(Item(run.app.main, IDC_LOG_LIST), LB_SETTOPINDEX, 0, 0);
    Sleep(300);
    Screenshot((shot + "-finished-top").c_str());
    PrintLines(run.lines);
    CheckLines(run.lines, e.lines, "window");
    if (!g_tapDll.empty()) CheckLines(run.tapped, e.lines, "log tap");
    CheckFinishedLayout(run.app.main, L"Scanning completed");
    Click(run.app.main, IDC_MAIN_OK);
    DWORD code = 1;
    bool ended = HasExited(run.app, 10000, &code);
    Check(ended && code == 0, "OK closes the window, exit code 0 (%lu)", code);
}

// ---- the layouts ----

Value RunValue(const wchar_t* name, const std::wstring& data, int target, DWORD type = REG_SZ) {
    return {false, name, type, data, target};
}
Value ServicesValue(const wchar_t* name, const std::wstring& data, int target) {
    return {true, name, REG_SZ, data, target};
}

/* Values that name none of the specimens, or name them in a way the rules
   do not take: they must all stay. */
void AddKeepers(World& w) {
    w.values.push_back(RunValue(L"Keeper", L"C:\\windows\\notepad.exe", -1));
    // A bare name of a specimen outside a system folder.
    w.values.push_back(RunValue(L"SvchostBare", L"svchost.exe -k LocalService", -1));
    w.values.push_back(RunValue(L"Downloads", L"\"C:\\users\\Public\\Downloads\\setup.exe\"", -1));
    w.values.push_back(ServicesValue(L"UpdaterOld", L"C:\\Program Files\\Update\\update.exe", -1));
}

/* Six folders of 45 characters below C:. */
std::wstring SixFolders() {
    std::wstring chain = L"C:";
    for (wchar_t c = L'm'; c < L's'; c++)
        chain += L"\\" + std::wstring(45, c);
    return chain;
}

/* win10 and winxp: specimens in nested folders, a read-only one, one under
   "C:\Program Files", one in system32 named by a bare value, a running one
   and a guarded one. */
World TreeWorld() {
    World w;
    w.nt = true;
    w.plants = {
        {12, L"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe", Kind::Plain}, // 0
        {28, L"C:\\Program Files\\Common Files\\Updater\\update.exe", Kind::Plain},   // 1
        {45, L"C:\\windows\\temp\\~df3a1.exe", Kind::ReadOnly},                       // 2
        {54, L"C:\\deep\\a\\b\\c\\d\\e\\f\\g\\h\\svchost.exe", Kind::Plain},          // 3
        {127, L"C:\\windows\\system32\\wupdmgr32.exe", Kind::Plain},                  // 4
        {2, L"C:\\users\\Public\\Music\\spoolsv32.exe", Kind::Running},               // 5
        {1, L"C:\\ProgramData\\Microsoft\\msmon.exe", Kind::Guarded},                 // 6
        {45, L"C:\\loop\\inner\\evil.exe", Kind::Plain}, // 7: beside two links to C:\loop
        // 8 to 10: below folders whose long form leaves no room, reached in
        // their 8.3 form: names with no alias of their own, and the end of a
        // chain of six folders of 45 characters (a 298-character path).
        {12, L"C:\\" + std::wstring(250, L'l') + L"\\svchost.exe", Kind::Plain},
        {28, L"C:\\" + std::wstring(250, L'l') + L"\\sub\\evil.exe", Kind::Plain},
        {127, SixFolders() + L"\\specimen-rec-127.exe", Kind::Plain},
        // 11: a variant named as a device, started as \\?\C:\dev\aux.exe;
        // 12 to 21: files so named, which a user makes by the \\?\ form.
        {2, L"C:\\dev\\aux.exe", Kind::Running},
        {45, L"C:\\devices\\nul.exe", Kind::Plain},
        {45, L"C:\\devices\\aux.exe", Kind::Plain},
        {45, L"C:\\devices\\com1.exe", Kind::Plain},
        {45, L"C:\\devices\\con.exe", Kind::Plain},
        {45, L"C:\\devices\\prn.exe", Kind::Plain},
        {45, L"C:\\devices\\lpt1.exe", Kind::Plain},
        {45, L"C:\\devices\\conin$.exe", Kind::Plain},
        {45, L"C:\\devices\\CON", Kind::Plain},
        {45, L"C:\\devices\\com0.exe", Kind::Plain},
        {45, L"C:\\devices\\LPT0", Kind::Plain},
    };
    w.values = {
        RunValue(L"FreeAV", L"\"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe\" /silent",
                 0),
        ServicesValue(L"UpdaterSvc",
                      L"C:\\Program Files\\Common Files\\Updater\\update.exe -service", 1),
        RunValue(L"TempClean", L"%SystemRoot%\\Temp\\~df3a1.exe", 2, REG_EXPAND_SZ),
        RunValue(L"WinUpdate", L"wupdmgr32.exe /autorun", 4),
        ServicesValue(L"Spooler32", L"C:\\USERS\\PUBLIC\\MUSIC\\SPOOLSV32.EXE -k netsvcs", 5),
        RunValue(L"MsMon", L"\"C:\\ProgramData\\Microsoft\\msmon.exe\"", 6),
    };
    AddKeepers(w);
    return w;
}

std::vector<std::wstring> MultiString(HKEY root, const wchar_t* path, const wchar_t* name);

/* win10 and winxp. First run: the memory scan finds the running and the
   guarded variant, removes the running one and ends the program (XP asks
   first, because the guarded one's service could not be stopped). The
   driver then ends the guarded process as a restart would. Second run: no
   variant runs, the drives are walked and every remaining specimen goes. */
void ScenarioTree(const std::wstring& scenario) {
    const bool xp = scenario == L"winxp";
    const std::string tag = Narrow(scenario);
    World w = TreeWorld();
    if (!PlantWorld(w)) return;
    // A folder beside the running variant that its name without the
    // extension also matches: the memory scan must still find it.
    Check(CreateDirectoryW(L"C:\\users\\Public\\Music\\spoolsv32.d", nullptr) != FALSE ||
              GetLastError() == ERROR_ALREADY_EXISTS,
          "a folder spoolsv32.d beside the running variant");

    // ---- first run: the memory scan ----
    Expected e1;
    std::vector<DWORD> order = ProcessOrder();
    std::vector<std::pair<size_t, int>> inMemory; // position in the process list, plant
    for (size_t p = 0; p < w.plants.size(); p++)
        if (IsRunnable(w.plants[p].kind)) {
            auto at = std::find(order.begin(), order.end(), GetProcessId(w.process[p]));
            inMemory.push_back({static_cast<size_t>(at - order.begin()), static_cast<int>(p)});
        }
    std::sort(inMemory.begin(), inMemory.end());
    for (const auto& m : inMemory) {
        int p = m.second;
        // Started by its \\?\ form, a process may be named by it: the
        // program shows the drive path.
        std::wstring image = ImagePath(w.process[p]);
        if (image.compare(0, 4, L"\\\\?\\") == 0) image = image.substr(4);
        // Wine names a process started by the \\?\ form of a device's name
        // by that device ("aux"); the program shows the file it maps.
        if (NamedAsDevice(w.plants[p].path) && !Same(image, w.plants[p].path)) {
            Note("Wine names the process of %s \"%s\"", Narrow(w.plants[p].path).c_str(),
                 Narrow(image).c_str());
            image = w.plants[p].path;
        }
        Check(Same(image, w.plants[p].path), "the process list names %s (%s)",
              Narrow(w.plants[p].path).c_str(), Narrow(image).c_str());
        Detect(w, e1, p, image);
        if (w.plants[p].kind == Kind::Running) MemoryKilled(w, e1, p, image);
    }

    Run first;
    Drive(first, tag + "-memory");
    DWORD code = first.exitCode;
    Check(first.exited && code == 0, "the program ends after the memory scan, exit code 0 (%lu)",
          code);
    std::vector<Dialog> wantDialogs;
    if (xp) wantDialogs.push_back({false, kTitle, kMemoryQuestion, {}});
    CheckDialogs(first, wantDialogs, "first run");
    if (xp && !first.dialogs.empty())
        CheckLines(first.dialogs[0].lines, e1.lines, "window at the memory question");
    CheckLines(first.tapped, e1.lines, "log tap, first run");
    PrintLines(first.tapped);
    Finish(first.app);
    for (size_t p = 0; p < w.plants.size(); p++) {
        if (w.plants[p].kind == Kind::Running)
            Check(WaitForSingleObject(w.process[p], 5000) == WAIT_OBJECT_0,
                  "the running variant %s was terminated", Narrow(w.plants[p].path).c_str());
        if (w.plants[p].kind == Kind::Guarded)
            Check(Alive(w.process[p]), "the guarded variant %s still runs",
                  Narrow(w.plants[p].path).c_str());
    }
    CheckFiles(w, "after the first run");
    CheckValues(w, "after the first run");

    // The restart the question offers: the guarded variant does not come
    // back (its autostart value is gone).
    EndProcesses(w);

    // ---- second run: the drives ----
    Expected e2;
    const int before = CountFiles(L"C:");
    ExpectStatistics(e2, ExpectWalk(w, e2, WalkOrder()));
    Note("%d files on C: before the second run", before);

    Run second;
    Drive(second, tag);
    CheckDialogs(second, {}, "second run");
    CheckFinishedRun(second, e2, tag);
    Finish(second.app);
    CheckFiles(w, "after the second run");
    CheckValues(w, "after the second run");
    Check(CountFiles(L"C:") == before - e2.removed, "nothing but the specimens was removed");
    Check(
        MultiString(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations").empty() &&
            !Exists(L"C:\\windows\\wininit.ini"),
        "nothing waits for a restart: no pending rename, no wininit.ini");
    Tidy(w);
}

/* xp10: the tree scenario on XP, then again on 10, in one prefix and one
   Wine session (under emulation each process start costs a minute of CPU).
   Wine reads the version it reports from HKCU\Software\Wine when a process
   starts: the driver sets it before each half, and the program and the
   specimens started after it see that version; XP's memory question in the
   first half and none in the second show that they did. E2E_XP10_ONLY=winxp
   (or win10) runs that half alone, a cheaper look for one fault. */
void ScenarioXp10() {
    const wchar_t* only = _wgetenv(L"E2E_XP10_ONLY");
    for (const wchar_t* version : {L"winxp", L"win10"}) {
        if (only && *only && lstrcmpiW(only, version) != 0) continue;
        if (!SetWineVersion(version)) return;
        ScenarioTree(version);
    }
}

/* win98: the memory scan finds nothing (Wine names each image by its file
   name only), then the drives are walked: the running variants and a held
   one cannot be removed, and are scheduled through wininit.ini; the restart
   question is answered No. */
void Scenario98() {
    World w;
    w.nt = false;
    w.plants = {
        {12, L"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe", Kind::Plain},  // 0
        {45, L"C:\\windows\\temp\\~df3a1.exe", Kind::ReadOnly},                        // 1
        {1, L"C:\\winupd.exe", Kind::Running},                                         // 2
        {2, L"C:\\Program Files\\Updater\\upd.exe", Kind::Running},                    // 3
        {33, L"C:\\Program Files\\Long Folder Name\\program updater.exe", Kind::Held}, // 4
        {54, L"C:\\deep\\a\\b\\svchost.exe", Kind::Plain},                             // 5
    };
    w.values = {
        RunValue(L"FreeAV", L"\"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe\" /silent",
                 0),
        RunValue(L"TempClean", L"%SystemRoot%\\Temp\\~df3a1.exe", 1, REG_EXPAND_SZ),
        ServicesValue(L"Upd", L"\"C:\\Program Files\\Updater\\upd.exe\" /service", 3),
        RunValue(L"ProgUpd", L"C:\\Program Files\\Long Folder Name\\program updater.exe", 4),
    };
    AddKeepers(w);

    // wininit.ini with pending work of its own, and a stale copy of it in
    // the temporary folder from an earlier request.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ini = L"C:\\windows\\wininit.ini",
                       copy = std::wstring(temp) + L"wininit.ini";
    const std::string iniBefore = "[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\OLDSETUP.EXE\r\n"
                                  "[CombineVxDs]\r\naccess=1\r\n";
    Check(WriteBytes(ini, iniBefore) && WriteBytes(copy, "stale\r\n"),
          "wininit.ini and a stale temporary copy planted");
    if (!PlantWorld(w)) return;

    const int before = CountFiles(L"C:");
    const std::vector<std::wstring> walk = WalkOrder();
    Expected e;
    ExpectStatistics(e, ExpectWalk(w, e, walk));

    Run run;
    Drive(run, "win98");
    // The two files that wait for the restart, in the walk's order.
    std::vector<Dialog> dialogs;
    std::string scheduled, last; // every line scheduled, and the last request's
    for (const std::wstring& path : walk)
        for (int p : {2, 3, 4})
            if (Same(path, w.plants[p].path)) {
                dialogs.push_back({true, w.plants[p].path, kCouldNotKill, {}});
                wchar_t shortPath[MAX_PATH] = L"";
                GetShortPathNameW(w.plants[p].path.c_str(), shortPath, MAX_PATH);
                Note("short form: %s", Narrow(shortPath).c_str());
                if (p != 2) // C:\winupd.exe is its own short form
                    Check(std::wstring(shortPath) != w.plants[p].path,
                          "Wine gives it a short form");
                last = "NUL=" + Narrow(shortPath) + "\r\n";
                scheduled += last;
            }
    dialogs.push_back({false, kTitle, kRestartQuestion, {}});
    CheckDialogs(run, dialogs, "win98");
    CheckLinesAtBox(run, e, w.plants[3].path);
    CheckLinesAtBox(run, e, w.plants[4].path);
    CheckFinishedRun(run, e, "win98");
    Finish(run.app);
    Check(Alive(w.process[2]), "the variant running from C:\\ still runs");
    Check(Alive(w.process[3]), "the variant running from \"C:\\Program Files\" still runs");
    Check(Alive(w.process[4]), "the holder still holds its file");
    CheckFiles(w, "after the run");
    CheckValues(w, "after the run");

    const std::string iniAfter = "[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\OLDSETUP.EXE\r\n" + scheduled +
                                 "[CombineVxDs]\r\naccess=1\r\n";
    std::string got = ReadBytes(ini);
    Check(got == iniAfter, "wininit.ini schedules the short form in its [rename] section (%s)",
          Shown(got).c_str());
    // The last request copied wininit.ini as the requests before it left it.
    const std::string copied = "[rename]\r\nNUL=C:\\WINDOWS\\TEMP\\OLDSETUP.EXE\r\n" +
                               scheduled.substr(0, scheduled.size() - last.size()) +
                               "[CombineVxDs]\r\naccess=1\r\n";
    Check(ReadBytes(copy) == (scheduled == last ? iniBefore : copied),
          "the temporary copy holds wininit.ini as the last request found it");
    Check(!Exists(L"C:\\windows\\cphxini.new"), "no cphxini.new is left behind");
    Check(CountFiles(L"C:") == before - e.removed, "nothing but the specimens was removed");
    Tidy(w);
}

/* The strings of a REG_MULTI_SZ value. */
std::vector<std::wstring> MultiString(HKEY root, const wchar_t* path, const wchar_t* name) {
    std::vector<std::wstring> strings;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, 0);
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
        size_t count = size / sizeof(wchar_t);
        // Each string ends with a NUL; an empty string is a lone NUL.
        for (size_t at = 0; at < count;) {
            std::wstring s(&data[at]);
            strings.push_back(s);
            at += s.size() + 1;
        }
        while (!strings.empty() && strings.back().empty() && strings.size() % 2)
            strings.pop_back();
    }
    RegCloseKey(key);
    return strings;
}

/* nt40: no variant runs; the walk meets two held specimens, one named as a
   device, the termination finds no process that runs them (no box), and
   each is scheduled through MoveFileExA, by the name that reaches the file;
   the restart question is answered No. */
void ScenarioNt40() {
    World w;
    w.nt = true;
    w.plants = {
        {12, L"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe", Kind::Plain},  // 0
        {33, L"C:\\Program Files\\Long Folder Name\\program updater.exe", Kind::Held}, // 1
        {127, L"C:\\windows\\system32\\wupdmgr32.exe", Kind::Plain},                   // 2
        {45, L"C:\\windows\\temp\\~df3a1.exe", Kind::ReadOnly},                        // 3
        {33, L"C:\\devices\\aux.exe", Kind::Held},                                     // 4
    };
    w.values = {
        RunValue(L"FreeAV", L"\"C:\\users\\Public\\Downloads\\free-antivirus-setup.exe\" /silent",
                 0),
        ServicesValue(L"ProgUpd", L"C:\\Program Files\\Long Folder Name\\program updater.exe", 1),
        RunValue(L"WinUpdate", L"wupdmgr32.exe /autorun", 2),
        RunValue(L"TempClean", L"%SystemRoot%\\Temp\\~df3a1.exe", 3, REG_EXPAND_SZ),
    };
    AddKeepers(w);
    if (!PlantWorld(w)) return;
    Check(MultiString(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations").empty(),
          "no rename is pending before the scan");

    Expected e;
    const int before = CountFiles(L"C:");
    ExpectStatistics(e, ExpectWalk(w, e, WalkOrder()));

    Run run;
    Drive(run, "nt40");
    CheckDialogs(run, {{false, kTitle, kRestartQuestion, {}}}, "nt40");
    CheckFinishedRun(run, e, "nt40");
    Finish(run.app);
    Check(Alive(w.process[1]), "the holder still holds its file");
    CheckFiles(w, "after the run");
    CheckValues(w, "after the run");

    std::vector<std::wstring> pending =
        MultiString(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
    int scheduled = 0;
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        Note("pending: \"%s\" -> \"%s\"", Narrow(pending[i]).c_str(),
             Narrow(pending[i + 1]).c_str());
        std::wstring source = pending[i];
        if (source.compare(0, 4, L"\\??\\") == 0) source = source.substr(4);
        for (int held : {1, 4})
            if (Same(source, w.plants[held].path) && pending[i + 1].empty()) scheduled++;
    }
    Check(scheduled == 2 && pending.size() == 4,
          "PendingFileRenameOperations deletes both held files at the next start");
    Check(CountFiles(L"C:") == before - e.removed, "nothing but the specimens was removed");
    Tidy(w);
}

/* wow64: the 32-bit program on 64-bit Windows (a wine64 prefix reporting
   Windows 10, where the 32-bit program runs through WoW64). The family is
   wherever a 64-bit or a 32-bit program could have put it: a specimen in the
   real system32 (where this 64-bit driver puts it) started by a value of the
   64-bit view, and two in syswow64 (a 32-bit program's system32), one of
   them running as a 32-bit process, each started by a value of the 32-bit
   view that names it as a 32-bit program sees it, C:\windows\system32\....
   The same texts in the other view start files that do not exist: those
   values stay.

   First run: the memory scan finds the running 32-bit variant, ends it,
   removes its file and its value, and the program ends. (Its lines cannot
   be read: the program ends at once, and the 64-bit log tap cannot be
   loaded into a 32-bit program; what it did is checked instead.) Second
   run: the drives are walked, system32 and syswow64 each once under their
   real names, so the statistics count every file once. */
void ScenarioWow64() {
    World w;
    w.nt = true;
    w.plants = {
        {127, L"C:\\windows\\system32\\wupdmgr64.exe", Kind::Plain},   // 0
        {12, L"C:\\windows\\syswow64\\wupdmgr32.exe", Kind::Plain},    // 1
        {2, L"C:\\windows\\syswow64\\spoolsv32.exe", Kind::Running32}, // 2
    };
    auto In32 = [](Value v) {
        v.view32 = true;
        return v;
    };
    w.values = {
        RunValue(L"WinUpdate64", L"C:\\windows\\system32\\wupdmgr64.exe /autorun", 0),
        In32(RunValue(L"WinUpdate32", L"C:\\windows\\system32\\wupdmgr32.exe /autorun", 1)),
        In32(ServicesValue(L"Spooler32", L"\"C:\\windows\\system32\\spoolsv32.exe\" -k", 2)),
        RunValue(L"Keep64", L"C:\\windows\\system32\\wupdmgr32.exe", -1),
        In32(RunValue(L"Keep32", L"C:\\windows\\system32\\wupdmgr64.exe", -1)),
    };
    AddKeepers(w);
    DWORD binary = 0;
    Check(GetBinaryTypeW(g_exe.c_str(), &binary) && binary == SCS_32BIT_BINARY,
          "the program is a 32-bit Windows program");
    if (!PlantWorld(w)) return;
    BOOL child32 = FALSE;
    Check(IsWow64Process(w.process[2], &child32) && child32,
          "the running specimen is a 32-bit process");
    // A 64-bit hook cannot be loaded into the 32-bit program: no log tap.
    const std::wstring tap = g_tapDll;
    g_tapDll.clear();

    // ---- first run: the memory scan ----
    Expected e1;
    Detect(w, e1, 2, w.plants[2].path);
    MemoryKilled(w, e1, 2, w.plants[2].path);
    const int before = CountFiles(L"C:");
    Run first;
    Drive(first, "wow64-memory");
    BOOL wow64 = FALSE;
    Check(IsWow64Process(first.app.pi.hProcess, &wow64) && wow64,
          "the program runs as a 32-bit process under WoW64");
    DWORD code = first.exitCode;
    Check(first.exited && code == 0, "the program ends after the memory scan, exit code 0 (%lu)",
          code);
    CheckDialogs(first, {}, "first run");
    Finish(first.app);
    Check(WaitForSingleObject(w.process[2], 5000) == WAIT_OBJECT_0,
          "the running 32-bit variant was terminated");
    CheckFiles(w, "after the first run");
    CheckValues(w, "after the first run");
    Check(CountFiles(L"C:") == before - e1.removed, "nothing but the specimen was removed");
    EndProcesses(w);

    // ---- second run: the drives ----
    Expected e2;
    const int before2 = CountFiles(L"C:");
    const std::vector<std::wstring> order = WalkOrder();
    int inSystem32 = 0, inSyswow64 = 0;
    for (const std::wstring& path : order) {
        inSystem32 += Same(FolderOf(path), L"C:\\windows\\system32");
        inSyswow64 += Same(FolderOf(path), L"C:\\windows\\syswow64");
    }
    Check(inSystem32 > 0 && inSyswow64 > 0, "system32 holds %d files and syswow64 %d", inSystem32,
          inSyswow64);
    ExpectStatistics(e2, ExpectWalk(w, e2, order));
    Run second;
    Drive(second, "wow64");
    CheckDialogs(second, {}, "second run");
    CheckFinishedRun(second, e2, "wow64");
    Finish(second.app);
    CheckFiles(w, "after the second run");
    CheckValues(w, "after the second run");
    Check(CountFiles(L"C:") == before2 - e2.removed, "nothing but the specimens was removed");
    g_tapDll = tap;
}

} // namespace

} // namespace e2e

/* The driver links the engine for its data only (the variant table, the
   legacy pattern). Through the file check the linker also reaches the walk,
   which names the question dialog that the program's window provides; the
   driver never walks, so it never asks. */
int AskUser(const char*, const char*, UINT) { return IDNO; }

namespace e2e {

bool SystemOption(const std::wstring& option, const std::wstring& value) {
    if (option == L"--specimens")
        g_specimenDir = value;
    else if (option == L"--holder")
        g_holderExe = value;
    else
        return false;
    return true;
}

bool RunSystemScenario(const std::wstring& name) {
    if (name != L"win98" && name != L"nt40" && name != L"winxp" && name != L"win10" &&
        name != L"wow64" && name != L"xp10")
        return false;
    if (g_specimenDir.empty() || g_holderExe.empty() || g_tapDll.empty()) {
        Check(false, "--specimens, --holder and --tap are given");
        return true;
    }
    if (name == L"xp10") {
        ScenarioXp10();
        return true;
    }
    if (!CheckVersion(name)) return true;
    if (name == L"win98")
        Scenario98();
    else if (name == L"nt40")
        ScenarioNt40();
    else if (name == L"wow64")
        ScenarioWow64();
    else
        ScenarioTree(name);
    return true;
}

} // namespace e2e
