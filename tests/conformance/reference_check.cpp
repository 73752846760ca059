/*
** The reference suite: one row per fact Windows recorded for a call the
** program makes, in a situation the program meets. A row names the call, the
** situation it is made in, the answer Windows gives (return value, last error,
** out-parameters) and where that answer is recorded: a test function of
** Wine's API tests (wine-mirror/wine, dlls/<dll>/tests/<file>.c), whose ok()
** lines hold on Windows, or a Microsoft documentation page ("doc: <page>").
**
** Each row runs on its own fresh stage, as the NT the build runs on and, where
** the row gives one and the stage can model it, again as Windows 98 and as
** Windows NT 4.0 with their answers beside the NT one. A row Wine answers
** otherwise names Wine's answer in `wine`: under Wine the row is then a known
** divergence (reported, not failed) and fails only if Wine starts to hold the
** Windows answer. A row
** simwin cannot model yet names why in `simwin`, and is skipped on the host.
*/
#include "check.h"
#include "stage.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <vector>

using stage::Dir;
using stage::kKey;

namespace {

constexpr long long kUnset = -0x7eadbeefLL; // no answer given for this family
constexpr DWORD kAny = 0xFFFFFFFFu;         // the last error is not part of the fact
constexpr DWORD kMark = 0xdeadbeefu;        // the last error before each call

/* What a call answered: its return value, its last error and, for calls with
   out-parameters, those as text. */
struct Got {
    long long ret;
    DWORD error;
    std::string out;
};
/* What Windows answers; `out` null when no out-parameter is part of it. */
struct Want {
    long long ret = kUnset;
    DWORD error = kAny;
    const char* out = nullptr;
};

typedef std::string (*Situation)();
typedef Got (*Call)(const std::string& subject);

struct Fact {
    const char* call;
    const char* situation;
    Situation stage;
    Call run;
    Want nt, w9x;
    const char* source;
    const char* wine = nullptr;   // Wine's own answer where it differs from Windows
    const char* simwin = nullptr; // why simwin does not model it (host skips the row)
    Want nt4 = {};                // where NT 4.0 answers otherwise (or alone has the fact)
};

// ---- the situations: each stages its subject and names it ----

std::vector<HANDLE> held; // handles a situation keeps open for its row
HANDLE process = nullptr;
DWORD child = 0; // a process a situation started, ended after its row

/* What a situation names when this Windows cannot stage it: the row is not run. */
const char kSkip[] = "\x01";

std::string Nothing() { return ""; }
/* Only where nothing really restarts: simwin. */
std::string HostOnly() { return stage::CanModel(stage::kWindows98) ? "" : kSkip; }
std::string Missing() { return Dir() + "missing.exe"; }
std::string NoFolder() { return Dir() + "no folder\\missing.exe"; }
std::string Plain() {
    stage::Put(Dir() + "plain.exe", "MZ plain");
    return Dir() + "plain.exe";
}
/* A file whose path is longer than MAX_PATH characters. */
std::string LongPath() {
    const std::string folder(200, 'l'), name = std::string(76, 'n') + ".exe";
    if (!stage::PutNamed(Dir(), folder.c_str(), true) ||
        !stage::PutNamed(Dir() + folder + "\\", name.c_str()))
        return kSkip;
    return Dir() + folder + "\\" + name;
}
std::string WithAttributes(DWORD bits) {
    std::string f = Plain();
    SetFileAttributesA(f.c_str(), bits);
    return f;
}
std::string ReadOnly() { return WithAttributes(FILE_ATTRIBUTE_READONLY); }
std::string Hidden() { return WithAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM); }
std::string Folder() {
    CreateDirectoryA((Dir() + "folder").c_str(), nullptr);
    return Dir() + "folder";
}
std::string FullFolder() {
    stage::Put(Folder() + "\\inside.txt", "x");
    return Dir() + "folder";
}
std::vector<void*> holders; // other processes a situation keeps holding files
/* A folder with a file below it that another process holds open. */
std::string HeldBelow() {
    holders.push_back(stage::HoldWithoutSharing(FullFolder() + "\\inside.txt"));
    return Dir() + "folder";
}
std::string Shut(const std::string& path) { return stage::DenyAdministrators(path) ? path : kSkip; }
std::string Denied() { return Shut(Plain()); }
std::string DeniedFolder() { return Shut(FullFolder()); }
std::string Encrypted() {
    const std::string f = Plain();
    return stage::EncryptForAnotherUser(f) ? f : kSkip;
}
std::string Running() { return stage::RunningImage(); }
std::string Held(DWORD access, DWORD share) {
    std::string f = Plain();
    held.push_back(CreateFileA(f.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
    return f;
}
std::string HeldNone() { return Held(GENERIC_READ, 0); }
std::string HeldRead() { return Held(GENERIC_READ, FILE_SHARE_READ); }
std::string HeldReadWrite() {
    return Held(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
}
std::string HeldAll() {
    return Held(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}
std::string HeldWriterSharingRead() { return Held(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ); }
std::string HeldWriterSharingWrite() {
    return Held(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE);
}
std::string HeldWriteOnly() { return Held(GENERIC_WRITE, FILE_SHARE_READ); }
std::string HeldReadSharingReadWrite() {
    return Held(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
}
std::string HeldForDelete() { return Held(DELETE, FILE_SHARE_READ); }
std::string HeldForDeleteSharingAll() { return Held(DELETE, 7); }
/* Marked for deletion through a handle still open. */
std::string Pending() {
    std::string f = Held(DELETE | GENERIC_READ, 7);
    typedef BOOL(WINAPI * ByHandle)(HANDLE, int, LPVOID, DWORD);
    typedef LONG(WINAPI * Nt)(HANDLE, void*, LPVOID, ULONG, int);
    BYTE on = 1;
    void* status[2] = {nullptr, nullptr};
    if (auto set = Resolve<ByHandle>("kernel32.dll", "SetFileInformationByHandle"))
        set(held.back(), 4, &on, 1);
    else if (auto nt = Resolve<Nt>("ntdll.dll", "NtSetInformationFile"))
        nt(held.back(), status, &on, 1, 13);
    return f;
}
std::string Other() {
    stage::Put(Dir() + "other.exe", "MZ other");
    return Dir() + "other.exe";
}
std::string Question() { return Dir() + "a?b.exe"; }
std::string Star() { return Dir() + "a*.exe"; }
std::string TrailingDot() { return Plain() + "."; }
std::string TrailingBlank() { return Plain() + " "; }

/* The test key with a string, an empty string (a value without data), a
   string stored without its terminator, a number and a subkey with one of its
   own. */
std::string Key() {
    HKEY k;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kKey) + "\\Sub\\Deeper").c_str(), 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    RegCloseKey(k);
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    DWORD seven = 7;
    RegSetValueExA(k, "Text", 0, REG_SZ, (const BYTE*)"abcdef", 7);
    RegSetValueExA(k, "Empty", 0, REG_SZ, nullptr, 0);
    RegSetValueExA(k, "Bare", 0, REG_SZ, (const BYTE*)"xyz!", 3); // no terminator after it either
    RegSetValueExA(k, "Number", 0, REG_DWORD, (const BYTE*)&seven, 4);
    RegCloseKey(k);
    return kKey;
}
std::string Leaf() { return Key() + "\\Sub\\Deeper"; }
/* A key below the test key with the strings `values` names, in this order
   (Windows lists values in the order they were made, Wine by name: the
   names given are in both orders at once). */
std::string Subkey(const char* name, const std::vector<std::pair<const char*, DWORD>>& values,
                   const char* text) {
    const std::string path = Key() + "\\Sub\\" + name;
    HKEY k;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    for (const auto& v : values)
        RegSetValueExA(k, v.first, 0, REG_SZ, (const BYTE*)text, v.second);
    RegCloseKey(k);
    return path;
}
/* Two strings handed without their terminators: "Cut" with another
   character after it, "Full" with a terminator following it in memory. */
std::string Strings() { return Subkey("Strings", {{"Cut", 9}, {"Full", 10}}, "FullString"); }
/* The one value "Test", "foobar" with its terminator. */
std::string Single() { return Subkey("Single", {{"Test", 7}}, "foobar"); }

/* The test key with a subkey made in the 32-bit view. */
const char kViewed[] = "Software\\CleanPhantaxis Conformance\\Viewed";
std::string Views() {
    if (!stage::RegistryViews()) return kSkip;
    HKEY k;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kViewed, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                    nullptr, &k, nullptr);
    RegCloseKey(k);
    return kViewed;
}
/* A 32-bit program on 64-bit Windows, as simwin models one. */
std::string Wow64() {
    const bool thirtyTwo = sizeof(void*) == 4 || stage::CanModel(stage::kWindows98);
    return thirtyTwo && stage::RegistryViews() ? "" : kSkip;
}
long long OpenIn(const char* p, REGSAM view) {
    HKEY k = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, p, 0, KEY_READ | view, &k);
    if (k) RegCloseKey(k);
    return rc;
}

std::string NoService() { return "CpNoSuchService"; }
std::string StoppedService() { return stage::StoppedService(); }
std::string RunningService() {
    std::string s = stage::RunningService();
    return s.empty() ? kSkip : s;
}

/* A process that has ended, no handle of it left open. */
std::string Gone() {
    DWORD pid = stage::StartChild();
    stage::EndChild(pid);
    return std::to_string(pid);
}
/* A process that runs: `process` is a handle of it with `rights`. */
std::string ChildWith(DWORD rights) {
    child = stage::StartChild();
    process = OpenProcess(rights, FALSE, child);
    return std::to_string(child);
}
std::string Child() { return ChildWith(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ); }
std::string ChildQueryOnly() { return ChildWith(PROCESS_QUERY_INFORMATION); }
std::string ChildReadOnly() { return ChildWith(PROCESS_VM_READ); }
std::string VistaChild() {
    return stage::AsVista() ? ChildWith(PROCESS_QUERY_LIMITED_INFORMATION) : kSkip;
}
std::string Idle() { return std::to_string(child = stage::StartChild()); }
/* A process that has ended: `process` is a handle opened while it ran. */
std::string Ended() {
    DWORD pid = stage::StartChild();
    process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    stage::EndChild(pid);
    return std::to_string(pid);
}

// ---- the calls, each as the program makes it ----

Got Answer(long long ret, std::string out = "") { return Got{ret, GetLastError(), out}; }
#define CALL(expr)                                                                                 \
    [](const std::string& s) -> Got {                                                              \
        const char* p = s.c_str();                                                                 \
        (void)p;                                                                                   \
        SetLastError(kMark);                                                                       \
        return Answer((long long)(expr));                                                          \
    }
#define S(x) #x, x

/* Opens `p` as the program does, closing what it got: 1 when it opened. */
long long Open(const char* p, DWORD access, DWORD share, DWORD flags = 0) {
    HANDLE h = CreateFileA(p, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    DWORD e = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetLastError(e);
    return h != INVALID_HANDLE_VALUE;
}
long long CrtOpen(const char* p, int flags) {
    errno = 0;
    int fd = _open(p, flags | _O_BINARY);
    int e = errno;
    if (fd >= 0) _close(fd);
    SetLastError(0);
    return fd >= 0 ? 0 : -e; // the C error, negated
}
Got Find(const std::string& pattern) {
    WIN32_FIND_DATAA fd;
    SetLastError(kMark);
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    Got g = Answer(h != INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE) return g;
    DWORD n = 1;
    while (FindNextFileA(h, &fd))
        n++;
    g.error = GetLastError();
    g.out = "entries=" + std::to_string(n);
    FindClose(h);
    return g;
}
/* A buffer of `size` bytes, "-" in it before the call; out is what it holds. */
template <class F> Got Sized(DWORD size, F fill) {
    std::vector<char> buf(size + 1, '-');
    SetLastError(kMark);
    long long r = (long long)fill(size ? buf.data() : nullptr, size);
    DWORD e = GetLastError();
    buf[size] = 0;
    return Got{r, e, size ? std::string(buf.data()) : ""};
}
DWORD Length(const char* s) { return (DWORD)strlen(s); }

HKEY OpenKey(const char* p, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY k = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, p, 0, sam, &k);
    return k;
}
/* RegQueryValueExA of `name` with a data buffer of `size` bytes (none for
   kAny); out: type, the size it reports and the bytes it wrote. */
Got Query(const char* p, const char* name, DWORD size) {
    HKEY k = OpenKey(p, KEY_READ);
    BYTE data[64];
    memset(data, '-', sizeof data);
    DWORD type = 99, n = size == kAny ? 0 : size;
    LONG rc = RegQueryValueExA(k, name, nullptr, &type, size == kAny ? nullptr : data, &n);
    RegCloseKey(k);
    std::string bytes;
    for (DWORD i = 0; size != kAny && i < size && i < sizeof data; i++)
        bytes += data[i] >= ' ' ? (char)data[i] : (char)('0' + data[i] % 10);
    return Got{rc, (DWORD)rc,
               "type=" + std::to_string(type) + " size=" + std::to_string(n) + " " + bytes};
}
/* RegEnumValueA of the first value with a name buffer of `chars`. */
Got EnumFirst(const char* p, DWORD chars, DWORD index = 0) {
    HKEY k = OpenKey(p, KEY_READ);
    char name[64];
    LONG rc = RegEnumValueA(k, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(k);
    return Got{rc, (DWORD)rc, "chars=" + std::to_string(chars)};
}
/* RegEnumValueA of value `index` with room for `chars` name characters and
   `size` data bytes; out: both counts and, with `shown`, the name buffer and
   the data buffer as they were left ("-" untouched, a terminator "0"). */
Got EnumWith(const char* p, DWORD index, DWORD chars, DWORD size, bool shown = false) {
    HKEY k = OpenKey(p, KEY_READ);
    char name[16];
    BYTE data[16];
    memset(name, '-', sizeof name);
    memset(data, '-', sizeof data);
    DWORD type = 99;
    LONG rc = RegEnumValueA(k, index, name, &chars, nullptr, &type, data, &size);
    RegCloseKey(k);
    std::string out = "chars=" + std::to_string(chars) + " size=" + std::to_string(size);
    if (shown) {
        out += " ";
        for (int i = 0; i < 6; i++)
            out += name[i] ? name[i] : '0';
        out += " ";
        for (int i = 0; i < 11; i++)
            out += data[i] ? (char)data[i] : '0';
    }
    return Got{rc, (DWORD)rc, out};
}
/* RegDeleteKeyA(`p` opened, `sub`); out: whether `p` is still there. */
Got DeleteItself(const char* p, const char* sub) {
    HKEY k = OpenKey(p);
    LONG rc = RegDeleteKeyA(k, sub);
    RegCloseKey(k);
    HKEY again = nullptr;
    const bool kept = RegOpenKeyExA(HKEY_LOCAL_MACHINE, p, 0, KEY_READ, &again) == ERROR_SUCCESS;
    if (kept) RegCloseKey(again);
    return Got{rc, (DWORD)rc, kept ? "kept" : "gone"};
}
long long DeleteKey(const char* parent, const char* sub) {
    HKEY k = OpenKey(parent);
    LONG rc = RegDeleteKeyA(k, sub);
    RegCloseKey(k);
    return rc;
}

/* The services: OpenServiceA with `access`; a control or a query on it. */
SC_HANDLE manager = nullptr, service = nullptr;
long long OpenService(const char* p, DWORD access) {
    manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    service = OpenServiceA(manager, p, access);
    return service != nullptr;
}
void CloseServices() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    service = manager = nullptr;
}
Got Control(const char* p, DWORD control) {
    SERVICE_STATUS st;
    memset(&st, 0, sizeof st);
    OpenService(p, SERVICE_STOP | SERVICE_QUERY_STATUS);
    SetLastError(kMark);
    BOOL ok = ControlService(service, control, &st);
    return Answer(ok, "state=" + std::to_string(st.dwCurrentState));
}
Got Config(const char* p, DWORD size) {
    typedef BOOL(WINAPI * Fn)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD);
    OpenService(p, SERVICE_QUERY_CONFIG);
    auto query = Resolve<Fn>("advapi32.dll", "QueryServiceConfigA");
    std::vector<BYTE> buf(size + 1);
    DWORD needed = 0;
    SetLastError(kMark);
    BOOL ok = query(service, (LPQUERY_SERVICE_CONFIGA)buf.data(), size, &needed);
    return Answer(ok, needed > sizeof(QUERY_SERVICE_CONFIGA) ? "needed>record" : "needed small");
}

std::string Upper(const char* s, bool up) {
    std::string t = s;
    return up ? _strupr(&t[0]) : _strlwr(&t[0]);
}

/* The file staged beside another it may be renamed onto. */
std::string BesideOther() {
    Other();
    return Plain();
}
/* Where the handle call exists: Vista and later. */
std::string PlainByHandle() { return stage::AsVista() ? Plain() : kSkip; }
std::string BesideOtherByHandle() { return PlainByHandle() == kSkip ? kSkip : BesideOther(); }

/* Renames `p` to `to` in its folder through a handle opened with `access`
   (sharing all), by handle or through ntdll (its status then the answer);
   out: whether the old name is gone. */
Got Rename(const char* p, DWORD access, const char* to, bool nt) {
    typedef BOOL(WINAPI * ByHandle)(HANDLE, int, LPVOID, DWORD);
    typedef LONG(WINAPI * Nt)(HANDLE, void*, LPVOID, ULONG, int);
    struct {
        BYTE replace;
        HANDLE root;
        DWORD length;
        WCHAR name[MAX_PATH];
    } info = {};
    const std::string target = "\\??\\" + Dir() + to;
    info.length = (MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, info.name, MAX_PATH) - 1) * 2;
    HANDLE h = CreateFileA(p, access, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    void* status[2] = {nullptr, nullptr};
    SetLastError(kMark);
    long long r =
        nt ? Resolve<Nt>("ntdll.dll", "NtSetInformationFile")(h, status, &info, sizeof info, 10)
           : Resolve<ByHandle>("kernel32.dll", "SetFileInformationByHandle")(h, 3, &info,
                                                                             sizeof info);
    Got g = Answer(r);
    CloseHandle(h);
    g.out = GetFileAttributesA(p) == INVALID_FILE_ATTRIBUTES ? "moved" : "stayed";
    return g;
}
/* QueryServiceStatusEx of `p` at `level` into `size` bytes; out: the process
   id on success, else the size it asks for. */
typedef BOOL(WINAPI* StatusExFn)(SC_HANDLE, SC_STATUS_TYPE, LPBYTE, DWORD, LPDWORD);
Got StatusEx(const char* p, int level, DWORD size) {
    OpenService(p, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS st;
    memset(&st, 0x55, sizeof st);
    DWORD needed = 0;
    SetLastError(kMark);
    BOOL ok = Resolve<StatusExFn>("advapi32.dll", "QueryServiceStatusEx")(
        service, (SC_STATUS_TYPE)level, (LPBYTE)&st, size, &needed);
    return Answer(ok, ok ? "pid=" + std::to_string(st.dwProcessId)
                         : "needed=" + std::to_string(needed));
}
/* The same of a running service; out: whether its pid names a process. */
Got RunningStatusEx(const std::string& s) {
    Got g = StatusEx(s.c_str(), SC_STATUS_PROCESS_INFO, sizeof(SERVICE_STATUS_PROCESS));
    HANDLE h = g.out == "pid=0"
                   ? nullptr
                   : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, (DWORD)atol(g.out.c_str() + 4));
    g.out = h ? "a process" : g.out;
    if (h) CloseHandle(h);
    return g;
}
/* CreateFileW of `p` widened, as the program opens a mapped file's name. */
long long OpenWide(const char* p) {
    typedef HANDLE(WINAPI * Fn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    std::vector<WCHAR> wide(strlen(p) + 1);
    MultiByteToWideChar(CP_ACP, 0, p, -1, wide.data(), (int)wide.size());
    SetLastError(kMark);
    HANDLE h = Resolve<Fn>("kernel32.dll", "CreateFileW")(wide.data(), GENERIC_READ, 7, nullptr,
                                                          OPEN_EXISTING, 0, nullptr);
    DWORD e = GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    SetLastError(e);
    return h != INVALID_HANDLE_VALUE;
}

/* Whether `dll` exports `name` on this Windows. */
long long Exports(const char* dll, const char* name) {
    return Resolve<FARPROC>(dll, name) != nullptr;
}
/* A folder's owner and DACL read back as text (1 when read, the text
   freed), or GetFileSecurityA's answer alone for a buffer of `room` bytes. */
long long SecurityText(const char* path, DWORD room) {
    typedef BOOL(WINAPI * GetFn)(LPCSTR, DWORD, void*, DWORD, DWORD*);
    typedef BOOL(WINAPI * TextFn)(void*, DWORD, DWORD, LPSTR*, ULONG*);
    auto get = Resolve<GetFn>("advapi32.dll", "GetFileSecurityA");
    auto toText =
        Resolve<TextFn>("advapi32.dll", "ConvertSecurityDescriptorToStringSecurityDescriptorA");
    const DWORD parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    static char descriptor[4096];
    DWORD needed = 0;
    if (!get || !toText) return -1;
    if (!get(path, parts, descriptor, room, &needed)) return 0;
    LPSTR text = nullptr;
    const BOOL ok = toText(descriptor, 1, parts, &text, nullptr);
    const DWORD e = GetLastError();
    const bool read = ok && text && strncmp(text, "O:", 2) == 0 && strstr(text, "D:");
    if (text) LocalFree(text);
    SetLastError(e);
    return read;
}
/* A security descriptor from `text`, freed again: 1 when made, -1 when this
   Windows has no such call. */
long long FromText(const char* text, DWORD revision, void** kept = nullptr) {
    typedef BOOL(WINAPI * Fn)(LPCSTR, DWORD, void**, ULONG*);
    auto convert =
        Resolve<Fn>("advapi32.dll", "ConvertStringSecurityDescriptorToSecurityDescriptorA");
    void* d = nullptr;
    BOOL ok = convert ? convert(text, revision, &d, nullptr) : -1;
    DWORD e = GetLastError();
    if (d && !kept) LocalFree(d);
    if (kept) *kept = d;
    SetLastError(e);
    return ok;
}
/* The first line fopen's `mode` gives of a file with Ctrl+Z inside it. */
Got FirstLine(const char* mode) {
    stage::Put(Dir() + "eot.ini", "a\032b\r\n");
    FILE* f = fopen((Dir() + "eot.ini").c_str(), mode);
    char b[16] = {0};
    fgets(b, sizeof b, f);
    fclose(f);
    return Got{0, 0, "length=" + std::to_string(strlen(b))};
}
/* GetModuleFileNameExA into `size` bytes; Windows counts a cut path either
   with or without its terminator. */
Got ModuleName(DWORD size) {
    typedef DWORD(WINAPI * Fn)(HANDLE, HMODULE, LPSTR, DWORD);
    char b[MAX_PATH];
    memset(b, '-', sizeof b);
    SetLastError(kMark);
    Got g = Answer(Resolve<Fn>("psapi.dll", "GetModuleFileNameExA")(process, nullptr, b, size));
    if (g.ret == size) g.ret--;
    g.out = "length=" + std::to_string(strnlen(b, sizeof b));
    return g;
}
/* QueryDosDeviceA of a drive `letter`: whether it names a hard disk. */
Got DosDevice(const char* letter) {
    typedef DWORD(WINAPI * Fn)(LPCSTR, LPSTR, DWORD);
    char b[MAX_PATH] = {0};
    SetLastError(kMark);
    Got g = Answer(Resolve<Fn>("kernel32.dll", "QueryDosDeviceA")(letter, b, sizeof b) > 0);
    g.out = strstr(Upper(b, true).c_str(), "HARDDISK") ? "a hard disk" : "";
    return g;
}

// ---- the facts ----

#define W(fn) "kernel32/tests/" fn
/* Wine's answer as the user it runs as, root here: the read-only bit is a mode
   bit root's writes pass. */
const char kRoot[] = "opens it for writing when run by root";

// clang-format off
const Fact kFacts[] = {
// Files: attributes.
{"GetFileAttributesA", S(Missing), CALL(GetFileAttributesA(p)), {-1 & 0xFFFFFFFFLL, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_GetFileAttributesExA")},
{"GetFileAttributesA", S(NoFolder), CALL(GetFileAttributesA(p)), {0xFFFFFFFFLL, ERROR_PATH_NOT_FOUND}, {}, W("file.c test_GetFileAttributesExA")},
{"GetFileAttributesA", S(Hidden), CALL(GetFileAttributesA(p) & 7), {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}, {}, W("file.c test_SetFileAttributesA")},
{"GetFileAttributesA", S(HeldNone), CALL(GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES), {1}, {}, "doc: GetFileAttributesA (reads the entry, opens nothing)"},
{"GetFileAttributesA", S(Folder), CALL(GetFileAttributesA(p) & FILE_ATTRIBUTE_DIRECTORY), {FILE_ATTRIBUTE_DIRECTORY}, {}, W("file.c test_GetFileAttributesExA")},
{"GetFileAttributesA", S(Question), CALL(GetFileAttributesA(p)), {0xFFFFFFFFLL, ERROR_INVALID_NAME}, {}, W("file.c test_GetFileAttributesExA")},
{"GetFileAttributesA", S(TrailingDot), CALL(GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES), {1}, {}, "ntdll/tests/path.c test_RtlDosPathNameToNtPathName_U (a Win32 path drops trailing dots)"},
{"SetFileAttributesA", S(ReadOnly), CALL(SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL)), {1}, {}, W("file.c test_SetFileAttributesA")},
{"SetFileAttributesA", S(Missing), CALL(SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL)), {0, ERROR_FILE_NOT_FOUND}, {}, "doc: SetFileAttributesA"},
{"SetFileAttributesA", S(HeldNone), CALL(SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL)), {1}, {}, W("file.c test_file_sharing (attribute access shares with every mode)")},
{"SetFileAttributesA", S(Folder), CALL(SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL) && (GetFileAttributesA(p) & FILE_ATTRIBUTE_DIRECTORY)), {1}, {}, "doc: SetFileAttributesA (the directory bit is not settable)"},
{"GetFileAttributesExA", S(Missing), [](const std::string& s) { typedef BOOL(WINAPI * Fn)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID); WIN32_FILE_ATTRIBUTE_DATA d; SetLastError(kMark); BOOL ok = Resolve<Fn>("kernel32.dll", "GetFileAttributesExA")(s.c_str(), GetFileExInfoStandard, &d); return Answer(ok); }, {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_GetFileAttributesExA")},
{"GetFileAttributesExA", S(HeldNone), [](const std::string& s) { typedef BOOL(WINAPI * Fn)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID); WIN32_FILE_ATTRIBUTE_DATA d; SetLastError(kMark); BOOL ok = Resolve<Fn>("kernel32.dll", "GetFileAttributesExA")(s.c_str(), GetFileExInfoStandard, &d); return Answer(ok, "size=" + std::to_string(d.nFileSizeLow)); }, {1, kAny, "size=8"}, {}, "doc: GetFileAttributesExA"},
// Files: deleting.
{"DeleteFileA", S(Missing), CALL(DeleteFileA(p)), {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_DeleteFileA")},
{"DeleteFileA", S(NoFolder), CALL(DeleteFileA(p)), {0, ERROR_PATH_NOT_FOUND}, {}, W("file.c test_DeleteFileA")},
{"DeleteFileA", S(Folder), CALL(DeleteFileA(p)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_DeleteFileA")},
{"DeleteFileA", S(ReadOnly), CALL(DeleteFileA(p)), {0, ERROR_ACCESS_DENIED}, {}, "doc: DeleteFileA"},
{"DeleteFileA", S(Hidden), CALL(DeleteFileA(p)), {1}, {}, "doc: DeleteFileA (only read-only refuses)"},
{"DeleteFileA", S(HeldNone), CALL(DeleteFileA(p)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing")},
{"DeleteFileA", S(HeldReadWrite), CALL(DeleteFileA(p)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing")},
{"DeleteFileA", S(HeldAll), CALL(DeleteFileA(p)), {1}, {}, W("file.c test_DeleteFileA (FILE_SHARE_DELETE)")},
{"DeleteFileA", S(HeldRead), CALL(DeleteFileA(p)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing (no FILE_SHARE_DELETE)")},
{"DeleteFileA", S(Pending), CALL(DeleteFileA(p)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_file_disposition"), "succeeds"},
{"DeleteFileA", S(Running), CALL(DeleteFileA(p)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_DeleteFileA (an image section refuses deletion)")},
{"DeleteFileA", S(Question), CALL(DeleteFileA(p)), {0, ERROR_INVALID_NAME}, {}, W("file.c test_DeleteFileA")},
{"DeleteFileA", S(Star), CALL(DeleteFileA(p)), {0, ERROR_INVALID_NAME}, {}, W("file.c test_DeleteFileA")},
{"DeleteFileA", S(TrailingBlank), CALL(DeleteFileA(p)), {1}, {}, "ntdll/tests/path.c test_RtlDosPathNameToNtPathName_U (a Win32 path drops trailing blanks)"},
// Files: opening.
{"CreateFileA", S(Missing), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_CreateFileA")},
{"CreateFileA", S(NoFolder), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_PATH_NOT_FOUND}, {}, W("file.c test_CreateFileA")},
{"CreateFileA", S(Folder), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_CreateFileA (a folder without backup semantics)")},
{"CreateFileA", S(ReadOnly), CALL(Open(p, GENERIC_WRITE, 7)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_CreateFileA"), kRoot},
{"CreateFileA", S(ReadOnly), CALL(Open(p, GENERIC_READ, 7)), {1}, {}, W("file.c test_CreateFileA")},
{"CreateFileA", S(Denied), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_ACCESS_DENIED}, {1}, "doc: CreateFile (the DACL is checked; 9x keeps none)"},
{"CreateFileA", S(Denied), CALL(Open(p, GENERIC_READ | DELETE, 7, FILE_FLAG_BACKUP_SEMANTICS)), {0, ERROR_ACCESS_DENIED}, {}, "doc: CreateFile (FILE_FLAG_BACKUP_SEMANTICS overrides the DACL only with the privileges enabled)"},
{"CreateFileA", S(Denied), [](const std::string& s) { EnableBackupPrivileges(); SetLastError(kMark); return Answer(Open(s.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, 7, FILE_FLAG_BACKUP_SEMANTICS)); }, {1}, {}, "doc: CreateFile (FILE_FLAG_BACKUP_SEMANTICS); doc: Privilege Constants (SE_BACKUP_NAME reads, SE_RESTORE_NAME writes, whatever the ACL)"},
{"CreateFileA", S(Encrypted), [](const std::string& s) { EnableBackupPrivileges(); SetLastError(kMark); return Answer(Open(s.c_str(), GENERIC_READ, 7, FILE_FLAG_BACKUP_SEMANTICS)); }, {0, ERROR_ACCESS_DENIED}, {}, "doc: Backup and Restore of Encrypted Files (the data only to an opener with the key; backup programs read it raw)"},
{"CreateFileA", S(Encrypted), CALL(Open(p, DELETE | FILE_READ_ATTRIBUTES, 7, FILE_FLAG_BACKUP_SEMANTICS)), {1}, {}, "doc: Backup and Restore of Encrypted Files (EFS filters the opens that reach the data)"},
{"CreateFileA", S(Question), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_INVALID_NAME}, {}, W("file.c test_CreateFileA (wildcards)")},
{"CreateFileA", S(HeldNone), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(HeldNone), CALL(Open(p, FILE_READ_ATTRIBUTES, 0)), {1}, {}, W("file.c test_file_sharing (no data access shares with any mode)")},
{"CreateFileA", S(HeldRead), CALL(Open(p, GENERIC_READ, FILE_SHARE_READ)), {1}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(HeldRead), CALL(Open(p, GENERIC_READ, 0)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing (the new mode must admit the held access)")},
{"CreateFileA", S(HeldRead), CALL(Open(p, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE)), {1}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(HeldRead), CALL(Open(p, GENERIC_WRITE, 7)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(HeldReadWrite), CALL(Open(p, GENERIC_READ, FILE_SHARE_READ)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing (the held writer is not admitted)")},
{"CreateFileA", S(HeldAll), CALL(Open(p, DELETE, 7)), {1}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(HeldRead), CALL(Open(p, DELETE, 7)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing")},
{"CreateFileA", S(Pending), CALL(Open(p, GENERIC_READ, 7)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_file_disposition"), "opens it"},
{"CreateFileA", S(Running), CALL(Open(p, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)), {1}, {}, W("loader.c test_section_access (an image can be read)")},
{"CreateFileA", S(Running), CALL(Open(p, GENERIC_READ, 0)), {1}, {}, W("file.c test_file_sharing (an image section refuses FILE_WRITE_DATA alone, whatever the sharing)")},
{"CreateFileA", S(Running), CALL(Open(p, GENERIC_WRITE, 7)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_file_sharing (is_sharing_map_compatible: SEC_IMAGE and FILE_WRITE_DATA)")},
{"GetFileInformationByHandle", S(Nothing), CALL(GetFileInformationByHandle(INVALID_HANDLE_VALUE, nullptr)), {0, ERROR_INVALID_HANDLE}, {}, "doc: GetFileInformationByHandle"},
// Files: moving and copying.
{"MoveFileA", S(Missing), CALL(MoveFileA(p, (Dir() + "new.exe").c_str())), {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(ReadOnly), CALL(MoveFileA(p, (Dir() + "new.exe").c_str())), {1}, {}, W("file.c test_MoveFileA (attributes travel with the file)")},
{"MoveFileA", S(Hidden), CALL(MoveFileA(p, (Dir() + "new.exe").c_str())), {1}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(Plain), CALL(MoveFileA(p, Folder().c_str())), {0, ERROR_ALREADY_EXISTS}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(Plain), CALL(MoveFileA(p, (Dir() + "no folder\\new.exe").c_str())), {0, ERROR_PATH_NOT_FOUND}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(Plain), CALL(MoveFileA(p, (Dir() + "a?b.exe").c_str())), {0, ERROR_INVALID_NAME}, {0, ERROR_FILE_NOT_FOUND}, W("file.c test_MoveFileA (wildcards in the new name; 9x: not found)")},
{"MoveFileA", S(HeldNone), CALL(MoveFileA(p, (Dir() + "new.exe").c_str())), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(HeldAll), CALL(MoveFileA(p, (Dir() + "new.exe").c_str())), {1}, {}, W("file.c test_MoveFileA")},
{"MoveFileA", S(Folder), CALL(MoveFileA(p, (Dir() + "renamed").c_str())), {1}, {}, W("file.c test_MoveFileA (a folder moves)")},
{"MoveFileA", S(HeldBelow), CALL(MoveFileA(p, (Dir() + "renamed").c_str())), {0, ERROR_ACCESS_DENIED}, {}, "ntdll/tests/file.c test_file_rename_information (a folder with a child object open stays: STATUS_ACCESS_DENIED)", "moves the folder"},
{"MoveFileA", S(Nothing), [](const std::string&) { std::string a = Dir() + "Remove Me"; stage::Put(a, "x"); SetLastError(kMark); BOOL ok = MoveFileA(a.c_str(), (Dir() + "Remove me").c_str()); WIN32_FIND_DATAA fd; HANDLE h = FindFirstFileA(a.c_str(), &fd); Got g = Answer(ok, h != INVALID_HANDLE_VALUE ? fd.cFileName : "none"); FindClose(h); return g; }, {1, kAny, "Remove me"}, {}, W("file.c test_MoveFileA (only the letter case changes)"), "keeps the old spelling"},
{"MoveFileA", S(Running), CALL((MoveFileA(p, (Dir() + "moved.exe").c_str()) && MoveFileA((Dir() + "moved.exe").c_str(), p)) || GetLastError() == ERROR_NOT_SAME_DEVICE), {1}, {}, "doc: MoveFileEx (a loaded image may be renamed)"},
{"MoveFileExA", S(ReadOnly), CALL(MoveFileExA(Other().c_str(), p, MOVEFILE_REPLACE_EXISTING)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_MoveFileA (a read-only target)"), kRoot},
{"MoveFileExA", S(Folder), CALL(MoveFileExA(Other().c_str(), p, MOVEFILE_REPLACE_EXISTING)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_MoveFileA (a folder target)")},
{"MoveFileExA", S(Missing), CALL(MoveFileExA(p, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)), {1}, {0, ERROR_CALL_NOT_IMPLEMENTED}, "doc: MoveFileExA (the file is not looked at before the restart)"},
{"CopyFileA", S(Missing), CALL(CopyFileA(p, (Dir() + "copy.exe").c_str(), FALSE)), {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_CopyFileA")},
{"CopyFileA", S(ReadOnly), CALL(CopyFileA(Other().c_str(), p, FALSE)), {0, ERROR_ACCESS_DENIED}, {}, W("file.c test_CopyFileA (onto a read-only file)"), kRoot},
{"CopyFileA", S(Hidden), CALL(CopyFileA(Other().c_str(), p, FALSE)), {0, ERROR_ACCESS_DENIED}, {}, "doc: CopyFile (fails with ERROR_ACCESS_DENIED onto an existing file with FILE_ATTRIBUTE_HIDDEN or FILE_ATTRIBUTE_READONLY)", "copies onto a hidden file"},
{"CopyFileA", S(Plain), CALL(CopyFileA(p, p, FALSE)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_CopyFileA (onto itself)")},
{"CopyFileA", S(HeldNone), CALL(CopyFileA(p, (Dir() + "copy.exe").c_str(), FALSE)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_CopyFileA")},
{"CopyFileA", S(HeldRead), CALL(CopyFileA(p, (Dir() + "copy.exe").c_str(), FALSE)), {1}, {}, W("file.c test_CopyFileA (the source is opened for reading, sharing reading)")},
{"CopyFileA", S(HeldWriterSharingRead), CALL(CopyFileA(p, (Dir() + "copy.exe").c_str(), FALSE)), {1}, {}, W("file.c test_CopyFileA (the source is opened sharing writing)")},
{"CopyFileA", S(HeldForDelete), CALL(CopyFileA(p, (Dir() + "copy.exe").c_str(), FALSE)), {1}, {}, W("file.c test_CopyFileA (the source is opened sharing deletion; NT 4 to XP: a sharing violation)")},
{"CopyFileA", S(HeldWriteOnly), CALL(CopyFileA(Other().c_str(), p, FALSE)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_CopyFileA (the target is opened for writing)")},
{"CopyFileA", S(HeldWriterSharingWrite), CALL(CopyFileA(Other().c_str(), p, FALSE)), {1}, {0, ERROR_SHARING_VIOLATION}, W("file.c test_CopyFileA (the target is opened sharing reading and writing; 9x: nothing)")},
{"CopyFileA", S(HeldReadSharingReadWrite), CALL(CopyFileA(Other().c_str(), p, FALSE)), {1}, {0, ERROR_SHARING_VIOLATION}, W("file.c test_CopyFileA (9x: the target shares nothing)")},
{"CopyFileA", S(HeldForDeleteSharingAll), CALL(CopyFileA(Other().c_str(), p, FALSE)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_CopyFileA (the target is not opened sharing deletion)")},
{"CopyFileA", S(HeldRead), CALL(CopyFileA(Other().c_str(), p, FALSE)), {0, ERROR_SHARING_VIOLATION}, {}, W("file.c test_CopyFileA (a target held sharing only reading)")},
{"CopyFileA", S(ReadOnly), [](const std::string& s) { std::string c = Dir() + "copy.exe"; SetLastError(kMark); Got g = Answer(CopyFileA(s.c_str(), c.c_str(), TRUE), GetFileAttributesA(c.c_str()) & FILE_ATTRIBUTE_READONLY ? "read-only" : "writable"); SetFileAttributesA(c.c_str(), FILE_ATTRIBUTE_NORMAL); return g; }, {1, kAny, "read-only"}, {}, W("file.c test_CopyFileA (the copy is read-only too)")},
// Files: folders and listings.
{"CreateDirectoryA", S(Folder), CALL(CreateDirectoryA(p, nullptr)), {0, ERROR_ALREADY_EXISTS}, {}, W("directory.c test_CreateDirectoryA")},
{"CreateDirectoryA", S(Plain), CALL(CreateDirectoryA(p, nullptr)), {0, ERROR_ALREADY_EXISTS}, {}, W("directory.c test_CreateDirectoryA")},
{"CreateDirectoryA", S(NoFolder), CALL(CreateDirectoryA(p, nullptr)), {0, ERROR_PATH_NOT_FOUND}, {}, W("directory.c test_CreateDirectoryA")},
{"CreateDirectoryA", S(Question), CALL(CreateDirectoryA(p, nullptr)), {0, ERROR_INVALID_NAME}, {0, ERROR_PATH_NOT_FOUND}, W("directory.c test_CreateDirectoryA and W (9x: not found)")},
{"CreateDirectoryA", S(Star), CALL(CreateDirectoryA(p, nullptr)), {0, ERROR_INVALID_NAME}, {}, W("directory.c test_CreateDirectoryW")},
{"CreateDirectoryA", S(Nothing), CALL(CreateDirectoryA("C:\\", nullptr)), {0, ERROR_ALREADY_EXISTS}, {}, W("directory.c test_CreateDirectory_root")},
{"RemoveDirectoryA", S(FullFolder), CALL(RemoveDirectoryA(p)), {0, ERROR_DIR_NOT_EMPTY}, {}, "doc: RemoveDirectoryA"},
{"RemoveDirectoryA", S(Plain), CALL(RemoveDirectoryA(p)), {0, ERROR_DIRECTORY}, {}, "doc: RemoveDirectoryA (a file is not a folder)"},
{"RemoveDirectoryA", S(Question), CALL(RemoveDirectoryA(p)), {0, ERROR_INVALID_NAME}, {}, W("directory.c test_RemoveDirectoryW")},
{"RemoveDirectoryA", S(Folder), CALL(RemoveDirectoryA(p)), {1}, {}, W("directory.c test_RemoveDirectoryA")},
{"FindFirstFileA", S(Missing), Find, {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_FindFirstFileA")},
{"FindFirstFileA", S(NoFolder), Find, {0, ERROR_PATH_NOT_FOUND}, {}, W("file.c test_FindFirstFileA")},
{"FindFirstFileA", S(Hidden), Find, {1, ERROR_NO_MORE_FILES, "entries=1"}, {}, W("file.c test_FindNextFileA (hidden entries are listed)")},
{"FindFirstFileA", S(FullFolder), [](const std::string& s) { return Find(s + "\\*"); }, {1, ERROR_NO_MORE_FILES, "entries=3"}, {}, W("file.c test_FindFirstFileA (. and .. first)")},
{"FindFirstFileA", S(DeniedFolder), [](const std::string& s) { return Find(s + "\\*"); }, {0, ERROR_ACCESS_DENIED}, {1, ERROR_NO_MORE_FILES, "entries=3"}, "doc: FindFirstFile (the folder's DACL is checked; 9x keeps none)"},
{"FindFirstFileA", S(DeniedFolder), [](const std::string& s) { EnableBackupPrivileges(); return Find(s + "\\*"); }, {1, ERROR_NO_MORE_FILES, "entries=3"}, {}, "doc: Privilege Constants (SE_BACKUP_NAME); Wine's FindFirstFileExW opens the folder with FILE_OPEN_FOR_BACKUP_INTENT, as Windows does"},
{"FindFirstFileA", S(FullFolder), [](const std::string& s) { return Find(s + "\\"); }, {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_FindFirstFileA (a trailing backslash)")},
{"FindClose", S(Nothing), CALL(FindClose(INVALID_HANDLE_VALUE)), {0, ERROR_INVALID_HANDLE}, {}, W("file.c test_FindFirstFileA")},
{"GetShortPathNameA", S(Missing), [](const std::string& s) { return Sized(260, [&](char* b, DWORD n) { return GetShortPathNameA(s.c_str(), b, n); }); }, {0, ERROR_FILE_NOT_FOUND}, {}, W("path.c test_GetShortPathNameA")},
{"GetShortPathNameA", S(NoFolder), [](const std::string& s) { return Sized(260, [&](char* b, DWORD n) { return GetShortPathNameA(s.c_str(), b, n); }); }, {0, ERROR_FILE_NOT_FOUND}, {}, W("path.c test_GetShortPathNameA (each name is looked up in its folder: the first missing one is a missing file)")},
{"GetShortPathNameA", S(Nothing), [](const std::string&) { return Sized(3, [](char* b, DWORD n) { return GetShortPathNameA("C:\\", b, n); }); }, {4, kAny, "---"}, {}, W("path.c test_GetShortPathNameA (too small: the size with the terminator)")},
{"GetShortPathNameA", S(Nothing), [](const std::string&) { return Sized(4, [](char* b, DWORD n) { return GetShortPathNameA("C:\\", b, n); }); }, {3, kAny, "C:\\"}, {}, W("path.c test_GetShortPathNameA (enough: the length without it)")},
{"GetShortPathNameA", S(Folder), [](const std::string& s) { return Sized(260, [&](char* b, DWORD n) { return GetShortPathNameA((s + "\\*").c_str(), b, n); }); }, {0, ERROR_INVALID_NAME}, {}, W("path.c test_GetShortPathNameW (a folder's path ending in a wildcard; the ANSI call is made through it)")},
{"GetDriveTypeA", S(Nothing), CALL(GetDriveTypeA("C:\\")), {DRIVE_FIXED}, {}, W("volume.c test_GetDriveTypeA")},
{"GetDriveTypeA", S(Nothing), CALL(GetDriveTypeA("@:\\")), {DRIVE_NO_ROOT_DIR}, {}, "doc: GetDriveTypeA (an invalid root)"},
// The run-time: its answers are errno values (negated) with the descriptor closed.
{"_open", S(Missing), CALL(CrtOpen(p, _O_RDONLY)), {-ENOENT}, {}, "msvcrt/tests/file.c test_file_inherit"},
{"_open", S(Folder), CALL(CrtOpen(p, _O_RDONLY)), {-EACCES}, {}, "doc: _open (EACCES: a folder)"},
{"_open", S(Denied), CALL(CrtOpen(p, _O_RDONLY)), {-EACCES}, {0}, "doc: _open (EACCES: access denied by the file's security)"},
{"_open", S(ReadOnly), CALL(CrtOpen(p, _O_WRONLY)), {-EACCES}, {}, "msvcrt/tests/file.c test_chmod", kRoot},
{"_open", S(ReadOnly), CALL(CrtOpen(p, _O_RDONLY)), {0}, {}, "msvcrt/tests/file.c test_chmod"},
{"_open", S(HeldNone), CALL(CrtOpen(p, _O_RDONLY)), {-EACCES}, {}, "doc: _open (EACCES: a sharing violation)"},
{"_open", S(HeldRead), CALL(CrtOpen(p, _O_RDONLY)), {0}, {}, "doc: _open (it reads sharing reading and writing, which a held reader admits)"},
{"_open", S(HeldReadWrite), CALL(CrtOpen(p, _O_RDONLY)), {0}, {}, "doc: _open"},
{"_open", S(Running), CALL(CrtOpen(p, _O_RDONLY)), {0}, {}, "doc: _open"},
{"_access", S(Missing), CALL(_access(p, 0) == 0 ? 0 : -errno), {-ENOENT}, {}, "msvcrt/tests/file.c test_access"},
{"_access", S(ReadOnly), CALL(_access(p, 2) == 0 ? 0 : -errno), {-EACCES}, {}, "doc: _access (write permission of a read-only file)"},
{"_access", S(HeldNone), CALL(_access(p, 4)), {0}, {}, "doc: _access (attributes only)"},
{"_lseek", S(Plain), [](const std::string& s) { int fd = _open(s.c_str(), _O_RDONLY | _O_BINARY); errno = 0; long r = _lseek(fd, -1, SEEK_SET); int e = errno; _close(fd); return Got{r, (DWORD)e, ""}; }, {-1, EINVAL}, {}, "doc: _lseek"},
{"_filelength", S(Nothing), [](const std::string&) { errno = 0; long r = _filelength(-1); return Got{r, (DWORD)errno, ""}; }, {-1, EBADF}, {}, "doc: _filelength"},
{"_read", S(Plain), [](const std::string& s) { int fd = _open(s.c_str(), _O_RDONLY | _O_BINARY); char b[64]; int r = _read(fd, b, sizeof b); _close(fd); return Got{r, 0, ""}; }, {8}, {}, "doc: _read (the bytes left)"},
{"_write", S(Plain), [](const std::string& s) { int fd = _open(s.c_str(), _O_RDONLY | _O_BINARY); errno = 0; int r = _write(fd, "x", 1); int e = errno; _close(fd); return Got{r, (DWORD)e, ""}; }, {-1, EBADF}, {}, "doc: _write (a descriptor opened for reading)"},
{"_close", S(Nothing), [](const std::string&) { errno = 0; int r = _close(-1); return Got{r, (DWORD)errno, ""}; }, {-1, EBADF}, {}, "msvcrt/tests/file.c test_fdopen"},
{"_get_osfhandle", S(Nothing), [](const std::string&) { errno = 0; intptr_t r = _get_osfhandle(-1); return Got{r == (intptr_t)INVALID_HANDLE_VALUE, (DWORD)errno, ""}; }, {1, EBADF}, {}, "doc: _get_osfhandle"},
{"_open_osfhandle", S(Nothing), [](const std::string&) { errno = 0; int fd = _open_osfhandle((intptr_t)INVALID_HANDLE_VALUE, _O_RDONLY); return Got{fd, (DWORD)errno, ""}; }, {-1, EBADF}, {}, "msvcrt/tests/file.c test__open_osfhandle"},
{"_open_osfhandle", S(Plain), [](const std::string& s) { HANDLE h = CreateFileA(s.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr); int fd = _open_osfhandle((intptr_t)h, _O_RDONLY); char b[64]; int n = _read(fd, b, sizeof b); _close(fd); SetLastError(kMark); return Answer(CloseHandle(h) ? -n : n); }, {8, ERROR_INVALID_HANDLE}, {}, "doc: _open_osfhandle (the descriptor owns the handle: _close closes it)"},
{"fgets", S(Nothing), [](const std::string&) { return FirstLine("rb"); }, {0, 0, "length=5"}, {}, "doc: fopen (binary mode reads Ctrl+Z as data)"},
{"fgets", S(Nothing), [](const std::string&) { return FirstLine("r"); }, {0, 0, "length=1"}, {}, "doc: fopen (text mode: Ctrl+Z ends the input)"},
{"_stricmp", S(Nothing), CALL(_stricmp("ABC_", "abc[") < 0), {0}, {}, "doc: _stricmp (compares lower case: '_' after '[')"},
{"_strnicmp", S(Nothing), CALL(_strnicmp("Windows\\x", "WINDOWS\\y", 8)), {0}, {}, "doc: _strnicmp"},
{"_strupr", S(Nothing), [](const std::string&) { return Got{0, 0, Upper("a:\\Progra~1\\x.exe", true)}; }, {0, 0, "A:\\PROGRA~1\\X.EXE"}, {}, "doc: _strupr"},
{"_strlwr", S(Nothing), [](const std::string&) { return Got{0, 0, Upper("C:\\WIN.INI", false)}; }, {0, 0, "c:\\win.ini"}, {}, "doc: _strlwr"},
{"fopen", S(Missing), [](const std::string& s) { errno = 0; FILE* f = fopen(s.c_str(), "r"); if (f) fclose(f); return Got{f != nullptr, (DWORD)errno, ""}; }, {0, ENOENT}, {}, "doc: fopen"},
{"fgets", S(Plain), [](const std::string& s) { FILE* f = fopen(s.c_str(), "r"); char b[4]; char* r = fgets(b, sizeof b, f); fclose(f); return Got{r == b, 0, r ? b : ""}; }, {1, 0, "MZ "}, {}, "msvcrt/tests/file.c test_fgets (size-1 bytes and the terminator)"},
// The registry.
{"RegOpenKeyExA", S(Key), [](const std::string& s) { HKEY k; LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (s + "\\missing").c_str(), 0, KEY_READ, &k); return Got{rc, 0, ""}; }, {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_reg_open_key"},
{"RegOpenKeyExA", S(Key), [](const std::string& s) { HKEY k; LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (s + "\\SUB").c_str(), 0, KEY_READ, &k); RegCloseKey(k); return Got{rc, 0, ""}; }, {ERROR_SUCCESS}, {}, "advapi32/tests/registry.c test_reg_open_key (names without regard to case)"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Text", 64); }, {ERROR_SUCCESS, kAny, nullptr}, {}, "advapi32/tests/registry.c test_hkey_main_Value_A"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Text", 3); }, {ERROR_MORE_DATA, kAny, "type=1 size=7 ---"}, {}, "advapi32/tests/registry.c test_reg_query_value (too small: the size needed, nothing written)"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Text", kAny); }, {ERROR_SUCCESS, kAny, "type=1 size=7 "}, {}, "advapi32/tests/registry.c test_hkey_main_Value_A and test_query_value_ex (no buffer: the size, terminator counted)"},
{"RegQueryValueExA", S(Strings), [](const std::string& s) { return Query(s.c_str(), "Cut", kAny); }, {ERROR_SUCCESS, kAny, "type=1 size=9 "}, {}, "advapi32/tests/registry.c test_string_termination (no buffer: the bytes stored, no terminator where none was)"},
{"RegQueryValueExA", S(Strings), [](const std::string& s) { return Query(s.c_str(), "Full", 10); }, {ERROR_MORE_DATA}, {}, "advapi32/tests/registry.c test_string_termination (Off-by-one RegSetValueExA adds a trailing '\\0': the bytes handed are too few)"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str(), KEY_READ); DWORD type = kMark, size = kMark; LONG rc = RegQueryValueExA(k, "missing", nullptr, &type, nullptr, &size); RegCloseKey(k); return Got{rc, (DWORD)rc, size == 0 ? "size cleared" : size == kMark ? "size kept" : "size set"}; }, {ERROR_FILE_NOT_FOUND, kAny, "size cleared"}, {ERROR_FILE_NOT_FOUND, kAny, "size kept"}, "advapi32/tests/registry.c test_query_value_ex (a missing value, no buffer: \"left untouched on Win9x but cleared on NT+\")"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Empty", 4); }, {ERROR_SUCCESS, kAny, "type=1 size=0 ----"}, {}, "advapi32/tests/registry.c test_SetValueExA (a value without data)"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Bare", 8); }, {ERROR_SUCCESS, kAny, "type=1 size=3 xyz0----"}, {}, "advapi32/tests/registry.c test_string_termination (one stored without its terminator gets one where there is room, not counted)"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "Number", 8); }, {ERROR_SUCCESS, kAny, "type=4 size=4 7000----"}, {}, "advapi32/tests/registry.c test_reg_query_value"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "missing", 8); }, {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_reg_query_value"},
{"RegQueryValueExA", S(Key), [](const std::string& s) { return Query(s.c_str(), "", 8); }, {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_reg_query_value (an unset default value)"},
{"RegEnumValueA", S(Key), [](const std::string& s) { return EnumFirst(s.c_str(), 64); }, {ERROR_SUCCESS, kAny, "chars=4"}, {}, "advapi32/tests/registry.c test_enum_value (the length without the terminator)"},
{"RegEnumValueA", S(Key), [](const std::string& s) { return EnumFirst(s.c_str(), 3); }, {ERROR_MORE_DATA, kAny, "chars=3"}, {ERROR_MORE_DATA, kAny, "chars=2"}, "advapi32/tests/registry.c test_enum_value (overflow name: NT keeps 3, 9x says 2)"},
{"RegEnumValueA", S(Key), [](const std::string& s) { return EnumFirst(s.c_str(), 4); }, {ERROR_MORE_DATA, kAny, nullptr}, {}, "advapi32/tests/registry.c test_enum_value (no room for the terminator)"},
{"RegEnumValueA", S(Key), [](const std::string& s) { return EnumFirst(s.c_str(), 64, 4); }, {ERROR_NO_MORE_ITEMS}, {}, "advapi32/tests/registry.c test_enum_value"},
{"RegEnumValueA", S(Single), [](const std::string& s) { return EnumWith(s.c_str(), 0, 3, 20); }, {ERROR_MORE_DATA, kAny, "chars=3 size=7"}, {}, "advapi32/tests/registry.c test_enum_value (overflow name: the data's size all the same; the name untouched as on XP and Windows 10 in UTF-8 locales, where others write \"Te\" and the data; a double-byte edition's wider size: AnEnumerationOverflowMayReportTheWideSize)"},
{"RegEnumValueA", S(Single), [](const std::string& s) { return EnumWith(s.c_str(), 0, 20, 2, true); }, {ERROR_MORE_DATA, kAny, "chars=20 size=7 ------ -----------"}, {}, "advapi32/tests/registry.c test_enum_value (overflow data: the name and its count untouched)"},
{"RegEnumValueA", S(Strings), [](const std::string& s) { return EnumWith(s.c_str(), 0, 20, 10, true); }, {ERROR_SUCCESS, kAny, "chars=3 size=9 Cut0-- FullStrin0-"}, {}, "advapi32/tests/registry.c test_string_termination (RegEnumValueA adds a trailing '\\0' if there is room)"},
{"RegQueryInfoKeyA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str(), KEY_READ); DWORD sub = 0, values = 0, name = 0, data = 0; LONG rc = RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &sub, nullptr, nullptr, &values, &name, &data, nullptr, nullptr); RegCloseKey(k); return Got{rc, 0, std::to_string(sub) + " " + std::to_string(values) + " " + std::to_string(name) + " " + std::to_string(data)}; }, {ERROR_SUCCESS, kAny, "1 4 6 14"}, {ERROR_SUCCESS, kAny, "1 4 6 7"}, "advapi32/tests/registry.c test_reg_query_info (the largest data as stored: NT keeps text wide, 9x keeps the 8-bit bytes)"},
{"RegDeleteValueA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str()); LONG rc = RegDeleteValueA(k, "missing"); RegCloseKey(k); return Got{rc, 0, ""}; }, {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_reg_delete_value"},
{"RegDeleteValueA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str()); LONG rc = RegDeleteValueA(k, "Empty"); RegCloseKey(k); return Got{rc, 0, ""}; }, {ERROR_SUCCESS}, {}, "advapi32/tests/registry.c test_reg_delete_value"},
{"RegDeleteKeyA", S(Key), [](const std::string& s) { return Got{DeleteKey(s.c_str(), "Sub"), 0, ""}; }, {ERROR_ACCESS_DENIED}, {ERROR_SUCCESS}, "advapi32/tests/registry.c test_reg_delete_key (NT refuses a key with subkeys; doc: RegDeleteKey, 9x deletes the tree)"},
{"RegDeleteKeyA", S(Leaf), [](const std::string&) { return Got{DeleteKey(kKey, "Sub\\Deeper"), 0, ""}; }, {ERROR_SUCCESS}, {}, "advapi32/tests/registry.c test_reg_delete_key"},
{"RegDeleteKeyA", S(Key), [](const std::string& s) { return Got{DeleteKey(s.c_str(), "missing"), 0, ""}; }, {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_reg_delete_key"},
{"RegDeleteKeyA", S(Leaf), [](const std::string& s) { return DeleteItself(s.c_str(), ""); }, {ERROR_SUCCESS, kAny, "gone"}, {ERROR_SUCCESS, kAny, "gone"}, "advapi32/tests/registry.c test_reg_delete_key (\"\" deletes the key handed)", nullptr, nullptr, {ERROR_SUCCESS, kAny, "gone"}},
{"RegDeleteKeyA", S(Leaf), [](const std::string& s) { return DeleteItself(s.c_str(), nullptr); }, {ERROR_INVALID_PARAMETER, kAny, "kept"}, {ERROR_BADKEY, kAny, "kept"}, "advapi32/tests/registry.c test_reg_delete_key (no name: ERROR_INVALID_PARAMETER; an older copy: ERROR_BADKEY on \"Win95\", and \"a bug in NT4 and W2K\" deletes the key itself)", nullptr, nullptr, {0, kAny, "gone"}},
{"RegOpenKeyExA", S(Key), [](const std::string& s) { HKEY k = (HKEY)(intptr_t)0x1234; LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (s + "\\missing").c_str(), 0, KEY_READ, &k); return Got{rc, (DWORD)rc, k ? "kept" : "null"}; }, {ERROR_FILE_NOT_FOUND, kAny, "null"}, {}, "advapi32/tests/registry.c test_reg_open_key (a missing key: \"check that hkResult is set to NULL\")"},
{"RegOpenKeyExA", S(Views), CALL(OpenIn(p, KEY_WOW64_64KEY)), {ERROR_FILE_NOT_FOUND}, {}, "advapi32/tests/registry.c test_redirection (a 32-bit key is not in the 64-bit view)"},
{"RegOpenKeyExA", S(Views), CALL(OpenIn(p, KEY_WOW64_32KEY)), {ERROR_SUCCESS}, {}, "advapi32/tests/registry.c test_redirection"},
{"RegOpenKeyExA", S(Views), CALL(OpenIn("Software\\Wow6432Node\\CleanPhantaxis Conformance\\Viewed", KEY_WOW64_64KEY)), {ERROR_SUCCESS}, {}, "advapi32/tests/registry.c test_redirection (the 32-bit view is Wow6432Node in the 64-bit one)"},
{"RegOpenKeyExA", S(Key), CALL(OpenIn(p, KEY_WOW64_64KEY)), {}, {ERROR_SUCCESS}, "doc: Registry Key Security and Access Rights (KEY_WOW64_64KEY from XP on; NT 4.0 refuses the bit as a right it does not grant; 9x reads no access mask)", nullptr, nullptr, {ERROR_ACCESS_DENIED}},
{"RegCloseKey", S(Nothing), CALL(RegCloseKey((HKEY)nullptr)), {ERROR_INVALID_HANDLE}, {}, "advapi32/tests/registry.c test_reg_close_key"},
// Services.
{"OpenSCManagerA", S(Nothing), CALL(OpenSCManagerA(nullptr, "DoesNotExist", SC_MANAGER_CONNECT) != nullptr), {0, ERROR_INVALID_NAME}, {}, "advapi32/tests/service.c test_open_scm (an unknown database)"},
{"OpenSCManagerA", S(Nothing), CALL(OpenSCManagerA(nullptr, "ServicesFailed", SC_MANAGER_CONNECT) != nullptr), {0, ERROR_DATABASE_DOES_NOT_EXIST}, {}, "advapi32/tests/service.c test_open_scm (the failed services' database)"},
{"OpenSCManagerA", S(Nothing), CALL(OpenSCManagerA("DOESNOTEXIST", "ServicesActive", SC_MANAGER_CONNECT) != nullptr), {0, RPC_S_SERVER_UNAVAILABLE}, {}, "advapi32/tests/service.c test_open_scm (an unknown machine)", "another error"},
{"OpenServiceA", S(NoService), CALL(OpenService(p, SERVICE_QUERY_STATUS)), {0, ERROR_SERVICE_DOES_NOT_EXIST}, {}, "advapi32/tests/service.c test_open_svc"},
{"OpenServiceA", S(Nothing), CALL(OpenService(nullptr, SERVICE_QUERY_STATUS)), {0, ERROR_INVALID_ADDRESS}, {}, "advapi32/tests/service.c test_open_svc (no name)"},
{"ControlService", S(StoppedService), [](const std::string& s) { return Control(s.c_str(), SERVICE_CONTROL_STOP); }, {0, ERROR_SERVICE_NOT_ACTIVE, "state=1"}, {}, "doc: ControlService (ERROR_SERVICE_NOT_ACTIVE fills the status)"},
{"QueryServiceStatus", S(StoppedService), [](const std::string& s) { OpenService(s.c_str(), SERVICE_QUERY_STATUS); SERVICE_STATUS st{}; SetLastError(kMark); BOOL ok = QueryServiceStatus(service, &st); return Answer(ok, "state=" + std::to_string(st.dwCurrentState)); }, {1, kAny, "state=1"}, {}, "advapi32/tests/service.c test_sequence"},
{"QueryServiceStatus", S(Nothing), CALL(QueryServiceStatus(nullptr, nullptr)), {0, ERROR_INVALID_HANDLE}, {}, "advapi32/tests/service.c test_query_svc"},
{"QueryServiceConfigA", S(StoppedService), [](const std::string& s) { return Config(s.c_str(), 0); }, {0, ERROR_INSUFFICIENT_BUFFER, "needed>record"}, {}, "advapi32/tests/service.c test_queryconfig"},
{"QueryServiceConfigA", S(StoppedService), [](const std::string& s) { return Config(s.c_str(), sizeof(QUERY_SERVICE_CONFIGA)); }, {0, ERROR_INSUFFICIENT_BUFFER, "needed>record"}, {}, "doc: QueryServiceConfigA (too small a buffer: the bytes needed)"},
{"QueryServiceConfigA", S(StoppedService), [](const std::string& s) { typedef BOOL(WINAPI * Fn)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD); OpenService(s.c_str(), SERVICE_QUERY_CONFIG); auto query = Resolve<Fn>("advapi32.dll", "QueryServiceConfigA"); DWORD needed = 0; query(service, nullptr, 0, &needed); std::vector<BYTE> buf(needed); auto c = (LPQUERY_SERVICE_CONFIGA)buf.data(); SetLastError(kMark); BOOL ok = query(service, c, needed, &needed); return Answer(ok, ok && c->lpBinaryPathName && *c->lpBinaryPathName ? "a path" : "no path"); }, {1, kAny, "a path"}, {}, "advapi32/tests/service.c test_sequence (the size it asked for)"},
{"CloseServiceHandle", S(Nothing), CALL(CloseServiceHandle(nullptr)), {0, ERROR_INVALID_HANDLE}, {}, "advapi32/tests/service.c test_close"},
// Processes.
{"OpenProcess", S(Gone), CALL(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, (DWORD)atol(p)) != nullptr), {0, ERROR_INVALID_PARAMETER}, {}, "kernel32/tests/process.c test_OpenProcess (no such process)", "opens it"},
{"OpenProcess", S(Ended), [](const std::string& s) { SetLastError(kMark); HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, (DWORD)atol(s.c_str())); Got g = Answer(h != nullptr); if (h) CloseHandle(h); return g; }, {1}, {}, "doc: OpenProcess and Process Handles and Identifiers (the object and its identifier stay while a handle is open)"},
{"TerminateProcess", S(Ended), CALL(TerminateProcess(process, 0)), {0, ERROR_ACCESS_DENIED}, {}, "kernel32/tests/process.c test_TerminateProcess", "succeeds"},
{"GetProcessTimes", S(Ended), [](const std::string&) { typedef BOOL(WINAPI * Fn)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*); FILETIME t[4]; memset(t, 0, sizeof t); SetLastError(kMark); BOOL ok = Resolve<Fn>("kernel32.dll", "GetProcessTimes")(process, &t[0], &t[1], &t[2], &t[3]); return Answer(ok, t[1].dwLowDateTime || t[1].dwHighDateTime ? "exited" : "no exit time"); }, {1, kAny, "exited"}, {}, "doc: GetProcessTimes (an ended process has its exit time)"},
{"TerminateProcess", S(Nothing), CALL(TerminateProcess(nullptr, 0)), {0, ERROR_INVALID_HANDLE}, {}, "kernel32/tests/process.c test_TerminateProcess"},
{"OpenProcess", S(Idle), CALL(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)atol(p)) != nullptr), {}, {}, "doc: Process Security and Access Rights (no PROCESS_QUERY_LIMITED_INFORMATION before Vista)", nullptr, nullptr, {0, ERROR_ACCESS_DENIED}},
{"QueryFullProcessImageNameA", S(VistaChild), [](const std::string&) { typedef BOOL(WINAPI * Fn)(HANDLE, DWORD, LPSTR, DWORD*); char b[8] = "-"; DWORD n = 4; SetLastError(kMark); return Answer(Resolve<Fn>("kernel32.dll", "QueryFullProcessImageNameA")(process, 0, b, &n), "size=" + std::to_string(n) + " " + b); }, {0, ERROR_INSUFFICIENT_BUFFER, "size=4 -"}, {}, W("process.c test_QueryFullProcessImageNameA (too small: size and buffer untouched)")},
{"QueryFullProcessImageNameA", S(Nothing), CALL(Exports("kernel32.dll", "QueryFullProcessImageNameA")), {}, {0}, "doc: QueryFullProcessImageNameA (Vista and later)", nullptr, nullptr, {0}},
{"GetProcessImageFileNameA", S(Child), [](const std::string&) { typedef DWORD(WINAPI * Fn)(HANDLE, LPSTR, DWORD); char b[4]; SetLastError(kMark); return Answer(Resolve<Fn>("psapi.dll", "GetProcessImageFileNameA")(process, b, 0)); }, {0, ERROR_INSUFFICIENT_BUFFER}, {}, "psapi/tests/psapi_main.c test_GetProcessImageFileName (XP and later)"},
{"GetProcessImageFileNameA", S(ChildReadOnly), [](const std::string&) { typedef DWORD(WINAPI * Fn)(HANDLE, LPSTR, DWORD); char b[MAX_PATH]; SetLastError(kMark); return Answer(Resolve<Fn>("psapi.dll", "GetProcessImageFileNameA")(process, b, sizeof b)); }, {0, ERROR_ACCESS_DENIED}, {}, "psapi/tests/psapi_main.c test_GetProcessImageFileName (a handle without a query right)"},
{"GetModuleFileNameExA", S(ChildQueryOnly), [](const std::string&) { return ModuleName(MAX_PATH); }, {0, ERROR_ACCESS_DENIED, nullptr}, {}, "psapi/tests/psapi_main.c test_GetModuleFileNameEx (no PROCESS_VM_READ)"},
{"GetModuleFileNameExA", S(Child), [](const std::string&) { return ModuleName(4); }, {3, kMark, "length=3"}, {}, "psapi/tests/psapi_main.c test_GetModuleFileNameEx (a cut path, terminated, counted 4 or 3, no error)"},
{"QueryDosDeviceA", S(Nothing), [](const std::string&) { return DosDevice("C:"); }, {1, kAny, "a hard disk"}, {}, W("volume.c test_query_dos_deviceA"), nullptr, nullptr, {1, kAny, "a hard disk"}},
{"QueryDosDeviceA", S(Nothing), [](const std::string&) { return DosDevice("Q:"); }, {0, ERROR_FILE_NOT_FOUND, ""}, {}, W("volume.c test_dos_devices (a letter nothing defines)")},
{"CreateToolhelp32Snapshot", S(Nothing), CALL(Exports("kernel32.dll", "CreateToolhelp32Snapshot")), {1}, {1}, "doc: CreateToolhelp32Snapshot (not in NT 4.0's kernel32)", nullptr, nullptr, {0}},
{"OpenProcess", S(Nothing), CALL(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0) != nullptr), {0, ERROR_INVALID_PARAMETER}, {}, "kernel32/tests/process.c test_OpenProcess (the idle process)"},
{"EnumProcesses", S(Running), [](const std::string&) { typedef BOOL(WINAPI * Fn)(DWORD*, DWORD, DWORD*); DWORD got = 7; SetLastError(kMark); BOOL ok = Resolve<Fn>("psapi.dll", "EnumProcesses")(nullptr, 0, &got); return Answer(ok, "bytes=" + std::to_string(got)); }, {1, kAny, "bytes=0"}, {}, "psapi/tests/psapi_main.c test_EnumProcesses (no array: true, nothing returned)"},
{"EnumProcesses", S(Running), [](const std::string&) { typedef BOOL(WINAPI * Fn)(DWORD*, DWORD, DWORD*); DWORD ids[2], got = 0; SetLastError(kMark); BOOL ok = Resolve<Fn>("psapi.dll", "EnumProcesses")(ids, sizeof ids, &got); return Answer(ok, "bytes=" + std::to_string(got)); }, {1, kAny, "bytes=8"}, {}, "psapi/tests/psapi_main.c test_EnumProcesses (a small array is filled, no error)"},
{"LoadLibraryA", S(Nothing), CALL(LoadLibraryA("psapi.dll") != nullptr), {1}, {0}, "doc: PSAPI (part of Windows from 2000 on; NT 4.0: distributed separately)", nullptr, nullptr, {0}},
{"Process32First", S(Nothing), [](const std::string&) { typedef HANDLE(WINAPI * Snap)(DWORD, DWORD); typedef BOOL(WINAPI * Walk)(HANDLE, PROCESSENTRY32*); HANDLE h = Resolve<Snap>("kernel32.dll", "CreateToolhelp32Snapshot")(TH32CS_SNAPPROCESS, 0); PROCESSENTRY32 e; e.dwSize = 0; SetLastError(kMark); BOOL ok = Resolve<Walk>("kernel32.dll", "Process32First")(h, &e); Got g = Answer(ok); CloseHandle(h); return g; }, {0}, {}, "doc: Process32First (the caller sets dwSize)"},
{"RegEnumKeyExA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str(), KEY_READ); char name[64]; DWORD n = sizeof name; LONG rc = RegEnumKeyExA(k, 1, name, &n, nullptr, nullptr, nullptr, nullptr); RegCloseKey(k); return Got{rc, (DWORD)rc, ""}; }, {ERROR_NO_MORE_ITEMS, kAny}, {}, "doc: RegEnumKeyExA (ERROR_NO_MORE_ITEMS past the last subkey)"},
{"RegEnumKeyExA", S(Key), [](const std::string& s) { HKEY k = OpenKey(s.c_str(), KEY_READ); char name[64]; DWORD n = 2; LONG rc = RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr); RegCloseKey(k); return Got{rc, (DWORD)rc, ""}; }, {ERROR_MORE_DATA, kAny}, {}, "doc: RegEnumKeyExA (ERROR_MORE_DATA when the name does not fit)"},
{"Process32Next", S(Nothing), [](const std::string&) { typedef HANDLE(WINAPI * Snap)(DWORD, DWORD); typedef BOOL(WINAPI * Walk)(HANDLE, PROCESSENTRY32*); HANDLE h = Resolve<Snap>("kernel32.dll", "CreateToolhelp32Snapshot")(TH32CS_SNAPPROCESS, 0); PROCESSENTRY32 e; e.dwSize = sizeof e; auto next = Resolve<Walk>("kernel32.dll", "Process32Next"); BOOL ok = Resolve<Walk>("kernel32.dll", "Process32First")(h, &e); while (ok) ok = next(h, &e); Got g = Answer(ok); CloseHandle(h); return g; }, {0, ERROR_NO_MORE_FILES}, {}, "doc: Process32Next (ERROR_NO_MORE_FILES after the last process)"},
{"IsWow64Process", S(Nothing), CALL(Exports("kernel32.dll", "IsWow64Process") || Exports("kernel32.dll", "Wow64DisableWow64FsRedirection")), {}, {0}, "doc: IsWow64Process and Wow64DisableWow64FsRedirection (XP SP2 and Vista on)", nullptr, nullptr, {0}},
{"Wow64DisableWow64FsRedirection", S(Wow64), [](const std::string&) { typedef BOOL(WINAPI * Off)(void**); typedef BOOL(WINAPI * On)(void*); void* old = nullptr; SetLastError(kMark); BOOL off = Resolve<Off>("kernel32.dll", "Wow64DisableWow64FsRedirection")(&old); return Answer(off && Resolve<On>("kernel32.dll", "Wow64RevertWow64FsRedirection")(old)); }, {1}, {}, "doc: Wow64DisableWow64FsRedirection (under WoW64, each disable undone by a revert of its value)"},
{"GetMappedFileNameA", S(Nothing), [](const std::string&) { typedef DWORD(WINAPI * Fn)(HANDLE, LPVOID, LPSTR, DWORD); HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()); char name[MAX_PATH]; SetLastError(kMark); DWORD n = Resolve<Fn>("psapi.dll", "GetMappedFileNameA")(self, nullptr, name, sizeof name); Got g = Answer(n); CloseHandle(self); return g; }, {0, ERROR_UNEXP_NET_ERR}, {}, "psapi/tests/psapi_main.c test_GetMappedFileName (nothing mapped at the address)"},
{"VirtualQueryEx", S(Nothing), [](const std::string&) { typedef SIZE_T(WINAPI * Fn)(HANDLE, LPCVOID, MEMORY_BASIC_INFORMATION*, SIZE_T); HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId()); MEMORY_BASIC_INFORMATION info; SetLastError(kMark); SIZE_T n = Resolve<Fn>("kernel32.dll", "VirtualQueryEx")(self, (LPCVOID)~(uintptr_t)0xFFFF, &info, sizeof info); Got g = Answer((long long)n); CloseHandle(self); return g; }, {0, ERROR_INVALID_PARAMETER}, {}, "doc: VirtualQueryEx (an address above the highest one a process may use)"},
{"IsWow64Process", S(Nothing), [](const std::string&) { typedef BOOL(WINAPI * Fn)(HANDLE, BOOL*); BOOL wow = 7; SetLastError(kMark); BOOL ok = Resolve<Fn>("kernel32.dll", "IsWow64Process")(GetCurrentProcess(), &wow); return Answer(ok, wow == 7 ? "unset" : "set"); }, {1, kAny, "set"}, {}, "kernel32/tests/process.c test_IsWow64Process"},
{"GetCurrentProcess", S(Nothing), CALL((intptr_t)GetCurrentProcess()), {-1}, {}, "doc: GetCurrentProcess (the pseudo handle -1)"},
// Renaming an open file, by handle (Vista on) and through ntdll (NT 4.0 on).
{"SetFileInformationByHandle", S(PlainByHandle), [](const std::string& s) { return Rename(s.c_str(), DELETE, "renamed.exe", false); }, {1, kAny, "moved"}, {}, "doc: SetFileInformationByHandle and FILE_RENAME_INFO (a rename through a handle opened with DELETE)"},
{"SetFileInformationByHandle", S(BesideOtherByHandle), [](const std::string& s) { return Rename(s.c_str(), DELETE, "other.exe", false); }, {0, ERROR_ALREADY_EXISTS, "stayed"}, {}, "doc: FILE_RENAME_INFO (ReplaceIfExists FALSE: an existing name is not replaced)"},
{"SetFileInformationByHandle", S(PlainByHandle), [](const std::string& s) { return Rename(s.c_str(), GENERIC_READ | GENERIC_WRITE, "renamed.exe", false); }, {0, ERROR_ACCESS_DENIED, "stayed"}, {}, "doc: ZwSetInformationFile (FileRenameInformation needs DELETE in the handle)", "renames through a handle opened without DELETE"},
{"SetFileInformationByHandle", S(Nothing), CALL(Exports("kernel32.dll", "SetFileInformationByHandle")), {}, {0}, "doc: SetFileInformationByHandle (Vista and later)", nullptr, nullptr, {0}},
{"NtSetInformationFile", S(Plain), [](const std::string& s) { return Rename(s.c_str(), DELETE, "renamed.exe", true); }, {0, kAny, "moved"}, {}, "ntdll/tests/file.c test_file_rename_information", nullptr, nullptr, {0, kAny, "moved"}},
{"NtSetInformationFile", S(BesideOther), [](const std::string& s) { return Rename(s.c_str(), DELETE, "other.exe", true); }, {(LONG)0xC0000035, kAny, "stayed"}, {}, "ntdll/tests/file.c test_file_rename_information (STATUS_OBJECT_NAME_COLLISION)", nullptr, nullptr, {(LONG)0xC0000035, kAny, "stayed"}},
{"NtSetInformationFile", S(Plain), [](const std::string& s) { return Rename(s.c_str(), GENERIC_READ | GENERIC_WRITE, "renamed.exe", true); }, {(LONG)0xC0000022, kAny, "stayed"}, {}, "doc: ZwSetInformationFile (FileRenameInformation needs DELETE: STATUS_ACCESS_DENIED)", "renames through a handle opened without DELETE"},
// Privileges and volumes.
{"OpenProcessToken", S(Nothing), [](const std::string&) { HANDLE t = nullptr; SetLastError(kMark); Got g = Answer(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &t)); if (t) CloseHandle(t); return g; }, {1}, {0, ERROR_CALL_NOT_IMPLEMENTED}, "advapi32/tests/security.c test_AdjustTokenPrivileges (doc: no access tokens on 9x)"},
{"GetVolumeNameForVolumeMountPointA", S(Folder), [](const std::string& s) { typedef BOOL(WINAPI * Fn)(LPCSTR, LPSTR, DWORD); char v[100]; SetLastError(kMark); return Answer(Resolve<Fn>("kernel32.dll", "GetVolumeNameForVolumeMountPointA")((s + "\\").c_str(), v, sizeof v)); }, {0, ERROR_NOT_A_REPARSE_POINT}, {}, W("volume.c test_GetVolumeNameForVolumeMountPointA (a folder that is no mount point)")},
{"GetVolumeNameForVolumeMountPointA", S(Nothing), [](const std::string&) { typedef BOOL(WINAPI * Fn)(LPCSTR, LPSTR, DWORD); char v[100]; SetLastError(kMark); return Answer(Resolve<Fn>("kernel32.dll", "GetVolumeNameForVolumeMountPointA")("C:\\", v, 0)); }, {0, ERROR_FILENAME_EXCED_RANGE}, {}, W("volume.c test_GetVolumeNameForVolumeMountPointA (no room)")},
{"GetVolumeNameForVolumeMountPointA", S(Nothing), [](const std::string&) { typedef BOOL(WINAPI * Fn)(LPCSTR, LPSTR, DWORD); char v[100]; SetLastError(kMark); return Answer(Resolve<Fn>("kernel32.dll", "GetVolumeNameForVolumeMountPointA")("Q:\\", v, sizeof v)); }, {0, ERROR_FILE_NOT_FOUND}, {}, W("volume.c test_GetVolumeNameForVolumeMountPointA (a drive letter nothing defines)")},
{"GetVolumeNameForVolumeMountPointA", S(Nothing), [](const std::string&) { typedef BOOL(WINAPI * Fn)(LPCSTR, LPSTR, DWORD); char v[100]; SetLastError(kMark); return Answer(Resolve<Fn>("kernel32.dll", "GetVolumeNameForVolumeMountPointA")("Q:", v, sizeof v)); }, {0, ERROR_INVALID_NAME}, {}, W("volume.c test_GetVolumeNameForVolumeMountPointA (the same without its backslash)")},
// Privileges.
{"AdjustTokenPrivileges", S(Nothing), [](const std::string&) { HANDLE t = nullptr; OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &t); TOKEN_PRIVILEGES tp; tp.PrivilegeCount = 1; LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &tp.Privileges[0].Luid); tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED; SetLastError(kMark); Got g = Answer(AdjustTokenPrivileges(t, FALSE, &tp, 0, nullptr, nullptr)); CloseHandle(t); return g; }, {1, ERROR_SUCCESS}, {}, "doc: AdjustTokenPrivileges (success sets ERROR_SUCCESS, or ERROR_NOT_ALL_ASSIGNED for a privilege not held)"},
{"LookupPrivilegeValueA", S(Nothing), [](const std::string&) { LUID l; SetLastError(kMark); return Answer(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &l)); }, {0, ERROR_NO_SUCH_PRIVILEGE}, {}, "advapi32/tests/security.c test_lookupPrivilegeValue"},
{"LookupPrivilegeValueA", S(Nothing), [](const std::string&) { LUID l; SetLastError(kMark); BOOL ok = LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &l); return Answer(ok, std::to_string(l.LowPart)); }, {1, kAny, "20"}, {}, "advapi32/tests/security.c test_lookupPrivilegeValue"},
{"LookupPrivilegeValueA", S(Nothing), [](const std::string&) { LUID l; SetLastError(kMark); BOOL ok = LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &l); return Answer(ok, std::to_string(l.LowPart)); }, {1, kAny, "19"}, {}, "advapi32/tests/security.c test_lookupPrivilegeValue"},
{"ExitWindowsEx", S(HostOnly), CALL(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)), {0, ERROR_PRIVILEGE_NOT_HELD}, {1}, "doc: ExitWindowsEx (a restart needs SE_SHUTDOWN_NAME enabled; 9x has no privileges)", nullptr, nullptr, {0, ERROR_PRIVILEGE_NOT_HELD}},
// Security descriptors, for the folder and file that wait for a restart.
{"ConvertStringSecurityDescriptorToSecurityDescriptorA", S(Nothing), CALL(FromText("O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", 1)), {1}, {-1}, "advapi32/tests/security.c test_ConvertStringSecurityDescriptor (2000 and later)", nullptr, nullptr, {-1}},
{"ConvertStringSecurityDescriptorToSecurityDescriptorA", S(Nothing), CALL(FromText("D:(A;;GA;;;WD)", 0xdeadbeef)), {0, ERROR_UNKNOWN_REVISION}, {}, "advapi32/tests/security.c test_ConvertStringSecurityDescriptor"},
{"ConvertStringSecurityDescriptorToSecurityDescriptorA", S(Nothing), CALL(FromText("ERROR:(D;;GA;;;WD)", 1)), {0, ERROR_INVALID_PARAMETER}, {}, "advapi32/tests/security.c test_ConvertStringSecurityDescriptor"},
{"ConvertStringSecurityDescriptorToSecurityDescriptorA", S(Nothing), CALL(FromText("D:(A;;ROB;;;WD)", 1)), {0, ERROR_INVALID_ACL}, {}, "advapi32/tests/security.c test_ConvertStringSecurityDescriptor (rights it cannot read)"},
{"SetKernelObjectSecurity", S(Plain), [](const std::string& s) { typedef BOOL(WINAPI * Fn)(HANDLE, DWORD, void*); void* d; FromText("D:(A;;FA;;;WD)", 1, &d); HANDLE h = CreateFileA(s.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr); SetLastError(kMark); Got g = Answer(Resolve<Fn>("advapi32.dll", "SetKernelObjectSecurity")(h, DACL_SECURITY_INFORMATION, d)); CloseHandle(h); LocalFree(d); return g; }, {0, ERROR_ACCESS_DENIED}, {}, "doc: SetKernelObjectSecurity and Standard Access Rights (a DACL needs WRITE_DAC)"},
// The system.
{"GetWindowsDirectoryA", S(Nothing), [](const std::string&) { UINT n = GetWindowsDirectoryA(nullptr, 0); return Sized(n - 1, [](char* b, DWORD k) { return GetWindowsDirectoryA(b, k) - k; }); }, {1, kAny, nullptr}, {}, W("directory.c test_GetWindowsDirectoryA (one short: the size with the terminator, buffer untouched)")},
{"GetSystemDirectoryA", S(Nothing), [](const std::string&) { UINT n = GetSystemDirectoryA(nullptr, 0); Got g = Sized(n, [](char* b, DWORD k) { return GetSystemDirectoryA(b, k); }); g.ret = g.ret == (long long)n - 1 && Length(g.out.c_str()) == n - 1; return g; }, {1}, {}, W("directory.c test_GetSystemDirectoryA (enough: the length without it)")},
{"GetSystemDirectoryA", S(Nothing), [](const std::string&) { return Sized(1, [](char* b, DWORD k) { return GetSystemDirectoryA(b, k) > 1; }); }, {1, kAny, "-"}, {}, W("directory.c test_GetSystemDirectoryA (should not touch the buffer)")},
{"GetTempPathA", S(Nothing), [](const std::string&) { char b[MAX_PATH]; DWORD n = GetTempPathA(sizeof b, b); Got g = Sized(1, [](char* c, DWORD k) { return GetTempPathA(k, c); }); g.ret -= n; g.out = b[n - 1] == '\\' ? "ends in \\" : "no backslash"; return g; }, {1, kAny, "ends in \\"}, {}, W("path.c test_GetTempPathA (too small: the size with the terminator)")},
{"ExpandEnvironmentStringsA", S(Nothing), [](const std::string&) { return Sized(64, [](char* b, DWORD k) { return ExpandEnvironmentStringsA("%CpNoSuchVariable%\\x", b, k); }); }, {21, kAny, "%CpNoSuchVariable%\\x"}, {}, W("environ.c test_ExpandEnvironmentStringsA (an unknown name stays, the count has the terminator)")},
{"ExpandEnvironmentStringsA", S(Nothing), [](const std::string&) { return Sized(4, [](char* b, DWORD k) { return ExpandEnvironmentStringsA("abcdefgh", b, k); }); }, {9, kAny, nullptr}, {}, W("environ.c test_ExpandEnvironmentStringsA (too small: the size needed)")},
{"GetVersionExA", S(Nothing), [](const std::string&) { OSVERSIONINFOA v; v.dwOSVersionInfoSize = sizeof v / 2; SetLastError(kMark); return Answer(GetVersionExA(&v)); }, {0, ERROR_INSUFFICIENT_BUFFER}, {0, kMark}, W("version.c test_GetVersionEx (9x leaves the error)")},
{"WideCharToMultiByte", S(Nothing), CALL(WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)u"abc", -1, nullptr, 0, nullptr, nullptr)), {4}, {}, W("codepage.c test_negative_source_length (-1 counts the terminator)")},
{"WideCharToMultiByte", S(Nothing), [](const std::string&) { return Sized(2, [](char* b, DWORD k) { return WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)u"abc", -1, b, (int)k, nullptr, nullptr); }); }, {0, ERROR_INSUFFICIENT_BUFFER}, {}, W("codepage.c test_overlapped_buffers")},
{"WideCharToMultiByte", S(Nothing), [](const std::string&) { BOOL used = FALSE; char b[8] = {0}; SetLastError(kMark); int n = WideCharToMultiByte(CP_ACP, 0, (LPCWSTR)u"\x4e00", 1, b, sizeof b, "?", &used); return Answer(n, std::string(b) + (used ? " used" : " unused")); }, {1, kAny, "? used"}, {}, W("codepage.c test_string_conversion (a character without a mapping)")},
{"QueryServiceStatusEx", S(StoppedService), [](const std::string& s) { return StatusEx(s.c_str(), SC_STATUS_PROCESS_INFO, sizeof(SERVICE_STATUS_PROCESS)); }, {1, kAny, "pid=0"}, {}, "advapi32/tests/service.c test_query_svc (a stopped service has no process)"},
{"QueryServiceStatusEx", S(RunningService), RunningStatusEx, {1, kAny, "a process"}, {}, "advapi32/tests/service.c test_query_svc (a running service has its process id)"},
{"QueryServiceStatusEx", S(StoppedService), [](const std::string& s) { return StatusEx(s.c_str(), SC_STATUS_PROCESS_INFO, 8); }, {0, ERROR_INSUFFICIENT_BUFFER, "needed=36"}, {}, "advapi32/tests/service.c test_query_svc (too small: the size of SERVICE_STATUS_PROCESS)"},
{"QueryServiceStatusEx", S(StoppedService), [](const std::string& s) { return StatusEx(s.c_str(), 1, sizeof(SERVICE_STATUS_PROCESS)); }, {0, ERROR_INVALID_LEVEL}, {}, "advapi32/tests/service.c test_query_svc (a level it does not know)"},
{"QueryServiceStatusEx", S(Nothing), [](const std::string&) { DWORD needed = 0; SetLastError(kMark); BOOL ok = Resolve<StatusExFn>("advapi32.dll", "QueryServiceStatusEx")(nullptr, (SC_STATUS_TYPE)1, nullptr, 0, nullptr); return Answer(ok, "needed=" + std::to_string(needed)); }, {0, ERROR_INVALID_LEVEL, "needed=0"}, {}, "advapi32/tests/service.c test_query_svc (the level is checked first: no handle)"},
{"QueryServiceStatusEx", S(Nothing), [](const std::string&) { DWORD needed = 0; SetLastError(kMark); BOOL ok = Resolve<StatusExFn>("advapi32.dll", "QueryServiceStatusEx")(nullptr, SC_STATUS_PROCESS_INFO, nullptr, 0, &needed); return Answer(ok, "needed=" + std::to_string(needed)); }, {0, ERROR_INSUFFICIENT_BUFFER, "needed=36"}, {}, "advapi32/tests/service.c test_query_svc (then the room: no handle, no buffer)"},
{"QueryServiceStatusEx", S(Nothing), CALL(Exports("advapi32.dll", "QueryServiceStatusEx")), {1}, {0}, "doc: QueryServiceStatusEx (2000 and later)", nullptr, nullptr, {0}},
{"GetFileSecurityA", S(Folder), CALL(SecurityText(p, 1)), {0, ERROR_INSUFFICIENT_BUFFER}, {}, "advapi32/tests/security.c test_FileSecurity (a buffer too small; the length needed is given)"},
{"GetFileSecurityA", S(Folder), CALL(SecurityText(p, 4096)), {1}, {}, "advapi32/tests/security.c test_FileSecurity; doc: ConvertSecurityDescriptorToStringSecurityDescriptor (O: and D: for the parts asked)"},
{"UuidCreate", S(Nothing), [](const std::string&) { typedef long(WINAPI * Fn)(void*); BYTE id[16]; SetLastError(kMark); return Answer(Resolve<Fn>("rpcrt4.dll", "UuidCreate")(id)); }, {0}, {}, "doc: UuidCreate (RPC_S_OK)"},
{"CreateFileW", S(Plain), CALL(OpenWide(p)), {1}, {}, W("file.c test_CreateFileW")},
{"CreateFileW", S(Missing), CALL(OpenWide(p)), {0, ERROR_FILE_NOT_FOUND}, {}, W("file.c test_CreateFileW")},
{"CreateFileW", S(LongPath), CALL(OpenWide(p)), {0}, {}, "doc: Naming Files, Paths, and Namespaces (Maximum Path Length Limitation; without the long-path opt-in of Windows 10 1607 and later)", "opens it"},
{"CreateFileW", S(LongPath), CALL(OpenWide(("\\\\?\\" + std::string(p)).c_str())), {1}, {}, "doc: Naming Files, Paths, and Namespaces (the \"\\\\?\\\" prefix)"},
{"GetMappedFileNameW", S(Nothing), [](const std::string&) { typedef DWORD(WINAPI * Fn)(HANDLE, LPVOID, LPWSTR, DWORD); HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()); WCHAR name[MAX_PATH]; SetLastError(kMark); DWORD n = Resolve<Fn>("psapi.dll", "GetMappedFileNameW")(self, nullptr, name, MAX_PATH); Got g = Answer(n); CloseHandle(self); return g; }, {0, ERROR_UNEXP_NET_ERR}, {}, "psapi/tests/psapi_main.c test_GetMappedFileName (nothing mapped at the address; recorded of the ANSI form)"},
{"MultiByteToWideChar", S(Nothing), CALL(MultiByteToWideChar(CP_ACP, 0, "foobar", -1, nullptr, 0)), {7}, {}, W("codepage.c test_negative_source_length (-1 counts the terminator)")},
{"MultiByteToWideChar", S(Nothing), [](const std::string&) { WCHAR w[8]; SetLastError(kMark); return Answer(MultiByteToWideChar(CP_ACP, 0, "foobar", -1, w, 3)); }, {0, ERROR_INSUFFICIENT_BUFFER}, {}, "doc: MultiByteToWideChar (ERROR_INSUFFICIENT_BUFFER)"},
{"LoadLibraryA", S(Nothing), CALL(LoadLibraryA("cpnosuchlibrary.dll") != nullptr), {0, ERROR_MOD_NOT_FOUND}, {}, W("module.c testLoadLibraryA")},
{"GetProcAddress", S(Nothing), CALL(GetProcAddress(LoadLibraryA("kernel32.dll"), "CpNoSuchFunction") != nullptr), {0, ERROR_PROC_NOT_FOUND}, {}, W("module.c testGetProcAddress_Wrong")},
{"CloseHandle", S(Nothing), CALL(CloseHandle((HANDLE)(intptr_t)0x7ff0)), {0, ERROR_INVALID_HANDLE}, {}, "doc: CloseHandle"},
{"LocalFree", S(Nothing), CALL(LocalFree(nullptr) != nullptr), {0}, {}, "doc: LocalFree (a null pointer is ignored)"},
};
// clang-format on

std::string Show(const Got& g) {
    return "ret " + std::to_string(g.ret) + ", error " + std::to_string(g.error) +
           (g.out.empty() ? "" : ", \"" + g.out + "\"");
}

bool Holds(const Got& g, const Want& w) {
    return g.ret == w.ret && (w.error == kAny || g.error == w.error) && (!w.out || g.out == w.out);
}

/* Runs one fact as one family; false when it does not hold. */
bool Run(const Fact& f, const Want& want, const char* family, Got* got) {
    stage::End();
    stage::Begin(family);
    const std::string subject = f.stage();
    if (subject == kSkip) return true; // this Windows cannot stage it
    *got = f.run(subject);
    for (HANDLE h : held)
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    held.clear();
    for (void* holder : holders)
        stage::Release(holder);
    holders.clear();
    if (process) CloseHandle(process);
    process = nullptr;
    if (child) stage::EndChild(child);
    child = 0;
    CloseServices();
    return Holds(*got, want);
}

} // namespace

CASE(EveryFactWindowsRecordedHolds) {
    int divergences = 0;
    const bool wine = stage::UnderWine();
    for (const Fact& f : kFacts) {
        // Only the host models every family: it skips what simwin does not model.
        if (f.simwin && stage::CanModel(stage::kWindows98)) continue;
        const struct {
            const Want& want;
            const char* family;
            const char* label;
        } columns[] = {{f.nt, nullptr, ""},
                       {f.w9x, stage::kWindows98, ", 9x"},
                       {f.nt4, stage::kWindowsNt4, ", NT 4.0"}};
        for (const auto& column : columns) {
            const Want& want = column.want;
            if (want.ret == kUnset || !stage::CanModel(column.family)) continue;
            Got got;
            bool ok = Run(f, want, column.family, &got);
            std::string what = std::string(f.call) + " (" + f.situation + column.label +
                               "): " + Show(got) + "; Windows: " + f.source;
            if (wine && f.wine && !column.family) {
                printf("  [wine] %s - Wine's own answer: %s\n", what.c_str(), f.wine);
                divergences++;
                CHECK(!ok || !"Wine now holds this fact: drop its divergence");
            } else {
                check::Record(ok, __FILE__, __LINE__, what);
            }
        }
    }
    printf("  %d facts, %d of them Wine's divergences here\n",
           (int)(sizeof kFacts / sizeof *kFacts), divergences);
}
