/*
** Files and folders: the find functions, the run-time's low-level file
** access, and deleting, moving and copying files, as the file check, the
** drive walk and the delete at restart rely on them.
*/
#include "check.h"
#include "stage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

using stage::Dir;

namespace {

/* "name,attributes" of every entry a search yields, sorted: the order is the
   file system's own. */
std::vector<std::string> List(const std::string& pattern, DWORD* error = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (error) *error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        DWORD kind = fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
        names.push_back(std::string(fd.cFileName) + "," + std::to_string(kind));
    } while (FindNextFileA(h, &fd));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
    CHECK(FindClose(h));
    std::sort(names.begin(), names.end());
    return names;
}

std::string Joined(const std::vector<std::string>& v) {
    std::string s;
    for (auto& e : v)
        s += (s.empty() ? "" : " ") + e;
    return s;
}

} // namespace

CASE(FindListsDotsFilesAndFoldersWithTheirAttributes) {
    std::string d = Dir() + "List\\";
    CHECK(CreateDirectoryA(d.c_str(), nullptr));
    CHECK(CreateDirectoryA((d + "sub").c_str(), nullptr));
    stage::Put(d + "Alpha.exe", "x");
    stage::Put(d + "zeta", "x");
    CHECK(SetFileAttributesA((d + "zeta").c_str(), FILE_ATTRIBUTE_READONLY));
    // "*.*" also matches names without a dot; "." and ".." are folders.
    CHECK_EQ(Joined(List(d + "*.*")), ".,16 ..,16 Alpha.exe,0 sub,16 zeta,1");
    CHECK_EQ(Joined(List(d + "*.EXE")), "Alpha.exe,0");
    // A drive's root folder has no "." or ".." entries.
    std::string root = Joined(List(Dir().substr(0, 3) + "*.*"));
    CHECK_EQ(root.find(".,16"), std::string::npos);
    DWORD error = 0;
    CHECK(List(d + "*.zzz", &error).empty());
    CHECK_EQ(error, (DWORD)ERROR_FILE_NOT_FOUND);
    // A folder that is gone, or never was.
    CHECK(RemoveDirectoryA((d + "sub").c_str()));
    CHECK(List(d + "sub\\*.*", &error).empty());
    CHECK_EQ(error, (DWORD)ERROR_PATH_NOT_FOUND);
    SetFileAttributesA((d + "zeta").c_str(), FILE_ATTRIBUTE_NORMAL);
}

CASE(RunTimeReadsAtAndPastTheEnd) {
    std::string f = Dir() + "hundred.bin";
    stage::Put(f, std::string(100, 'a'));
    int fd = _open(f.c_str(), _O_RDONLY | _O_BINARY);
    CHECK(fd >= 0);
    char b[8];
    CHECK_EQ(_filelength(fd), 100L);
    CHECK_EQ(_lseek(fd, -4, SEEK_END), 96L);
    CHECK_EQ(_read(fd, b, sizeof b), 4); // what is left
    CHECK_EQ(_read(fd, b, sizeof b), 0);
    CHECK_EQ(_lseek(fd, 200, SEEK_SET), 200L); // beyond the end is allowed
    CHECK_EQ(_read(fd, b, sizeof b), 0);
    CHECK_EQ(_lseek(fd, -1, SEEK_SET), -1L); // before the start is not
    CHECK_EQ(errno, EINVAL);
    // `long` has 32 bits: an offset beyond 2 GB arrives negative.
    CHECK_EQ(_lseek(fd, (long)0x80000010u, SEEK_SET), -1L);
    CHECK_EQ(_close(fd), 0);
    CHECK_EQ(_close(fd), -1);
    CHECK_EQ(errno, EBADF);
    // A file another program holds without sharing cannot be opened.
    void* holder = stage::HoldWithoutSharing(f);
    CHECK_EQ(_open(f.c_str(), _O_RDONLY | _O_BINARY), -1);
    CHECK_EQ(errno, EACCES);
    stage::Release(holder);
    fd = _open(f.c_str(), _O_RDONLY | _O_BINARY);
    CHECK(fd >= 0);
    _close(fd);
}

CASE(DeleteRefusesReadOnlyRunningAndHeldFiles) {
    std::string ro = Dir() + "ro.exe", held = Dir() + "held.exe";
    stage::Put(ro, "x");
    stage::Put(held, "x");
    CHECK(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK(!DeleteFileA(ro.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    CHECK(SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_NORMAL));
    CHECK(DeleteFileA(ro.c_str()));
    CHECK(!DeleteFileA(ro.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);

    std::string image = stage::RunningImage();
    CHECK(!DeleteFileA(image.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    int fd = _open(image.c_str(), _O_RDONLY | _O_BINARY); // a running image can be read
    CHECK(fd >= 0);
    _close(fd);

    void* holder = stage::HoldWithoutSharing(held);
    CHECK(!DeleteFileA(held.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    // The run-time's access test looks at existence and attributes only.
    CHECK_EQ(_access(held.c_str(), 0), 0);
    CHECK_EQ(_access(held.c_str(), 4), 0);
    stage::Release(holder);
    CHECK_EQ(_access(ro.c_str(), 0), -1);
    CHECK_EQ(errno, ENOENT);
    CHECK(DeleteFileA(held.c_str()));
}

CASE(AttributesAreSetAndReadBack) {
    std::string f = Dir() + "a.txt";
    stage::Put(f, "x");
    CHECK(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const DWORD kSet = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    CHECK_EQ(GetFileAttributesA(f.c_str()) & kSet,
             (DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // The reset the file check does before deleting.
    CHECK(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL));
    CHECK_EQ(GetFileAttributesA(f.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    CHECK(!SetFileAttributesA((Dir() + "none.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

CASE(MoveAndCopyOntoExistingNames) {
    std::string a = Dir() + "a.ini", b = Dir() + "b.ini";
    stage::Put(a, "aaa");
    stage::Put(b, "bb");
    CHECK(!MoveFileA(a.c_str(), b.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    CHECK_EQ(stage::Get(b), "bb");

    // A copy onto itself is refused and leaves the file whole.
    CHECK(!CopyFileA(a.c_str(), a.c_str(), FALSE));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    CHECK_EQ(stage::Get(a), "aaa");
    CHECK(!CopyFileA(a.c_str(), b.c_str(), TRUE));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    CHECK_EQ(stage::Get(b), "bb");
    CHECK(CopyFileA(a.c_str(), b.c_str(), FALSE));
    CHECK_EQ(stage::Get(b), "aaa");
    CHECK_EQ(stage::Get(a), "aaa");
}

CASE(MoveFileExDelaysOnlyWhatItMay) {
    std::string a = Dir() + "in use.exe", b = Dir() + "b.exe";
    stage::Put(a, "x");
    stage::Put(b, "y");
    CHECK(MoveFileExA(a.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK(MoveFileExA(("\\\\?\\" + b).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK_EQ(stage::Get(a), "x"); // nothing happens before the restart
    // The session manager's list holds the NT path, then an empty new name;
    // a \\?\ name's NT path is the name as written.
    HKEY key;
    CHECK_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                           "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                           &key),
             (LONG)ERROR_SUCCESS);
    std::vector<char> list(4096);
    DWORD size = (DWORD)list.size(), type = 0;
    CHECK_EQ(RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                              (LPBYTE)list.data(), &size),
             (LONG)ERROR_SUCCESS);
    RegCloseKey(key);
    CHECK_EQ(type, (DWORD)REG_MULTI_SZ);
    std::string entry = "\\??\\" + a + std::string(2, '\0');
    CHECK(std::string(list.data(), size).find(entry) != std::string::npos);
    entry = std::string(1, '\0') + "\\??\\" + b + std::string(2, '\0');
    CHECK(std::string(list.data(), size).find(entry) != std::string::npos);
    // A delayed move cannot also be a copy (Windows refuses the pair; Wine
    // records it).
    if (!stage::UnderWine()) {
        CHECK(
            !MoveFileExA(a.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
        CHECK_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    CHECK(!MoveFileExA(a.c_str(), b.c_str(), 0));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    CHECK(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    CHECK_EQ(stage::Get(b), "x");
    CHECK_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);
}

/* Windows 95, 98 and ME have no MoveFileExA (it fails with
   ERROR_CALL_NOT_IMPLEMENTED); a delete at restart goes through wininit.ini. */
MODEL(MoveFileExIsMissingOnWindows9x, stage::kWindows98) {
    std::string a = Dir() + "a.exe";
    stage::Put(a, "x");
    CHECK(!MoveFileExA(a.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_CALL_NOT_IMPLEMENTED);
}

CASE(ShortNamesAreEightDotThreeAndNameTheSameFile) {
    std::string d = Dir() + "Long Folder Name\\";
    CHECK(CreateDirectoryA(d.c_str(), nullptr));
    std::string f = d + "a very long name.text";
    stage::Put(f, "long");
    char s[MAX_PATH];
    DWORD n = GetShortPathNameA(f.c_str(), s, sizeof s);
    CHECK_EQ(n, (DWORD)strlen(s));
    CHECK(strchr(s, ' ') == nullptr);
    const char* name = strrchr(s, '\\');
    CHECK(name && strlen(name + 1) <= 12);
    CHECK_EQ(stage::Get(s), "long");
    // Too small a buffer: the size needed, terminator included.
    char small[4];
    CHECK_EQ(GetShortPathNameA(f.c_str(), small, sizeof small), n + 1);
    CHECK_EQ(GetShortPathNameA((d + "gone.txt").c_str(), s, sizeof s), 0u);
    CHECK_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

CASE(AFolderLinkIsListedAsADirectoryReparsePointWithItsTag) {
    const std::string link = stage::FolderLink();
    if (link.empty()) return;
    WIN32_FIND_DATAA fd;
    memset(&fd, 0xA5, sizeof fd);
    HANDLE h = FindFirstFileA(link.c_str(), &fd);
    CHECK(h != INVALID_HANDLE_VALUE);
    if (h == INVALID_HANDLE_VALUE) return;
    FindClose(h);
    CHECK_EQ(fd.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
             (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    // The tag the walk reads: a junction's on Windows, a name surrogate the
    // walk does not enter. Wine writes neither reserved field (32-bit and
    // 64-bit alike; seen as stack leftovers until this row filled them
    // first), so the walk zeroes the entry before a search: no tag, which
    // it does not enter either.
    CHECK_EQ(fd.dwReserved0, stage::UnderWine() ? 0xA5A5A5A5u : (DWORD)IO_REPARSE_TAG_MOUNT_POINT);
}

namespace {

/* The delete disposition (or, with `basic`, the attributes) set through a
   handle: SetFileInformationByHandle where kernel32 has it, else
   NtSetInformationFile, both found at run time as the program finds them. */
bool SetThroughHandle(HANDLE file, bool basic, DWORD attributes = 0) {
    typedef BOOL(WINAPI * ByHandle)(HANDLE, int, LPVOID, DWORD);
    typedef LONG(WINAPI * Nt)(HANDLE, void*, LPVOID, ULONG, int);
    struct {
        LONGLONG times[4];
        DWORD attributes;
    } info = {{0, 0, 0, 0}, attributes};
    BYTE disposition = 1;
    void* record = basic ? (void*)&info : (void*)&disposition;
    const DWORD size = basic ? (DWORD)sizeof info : 1;
    if (auto set = Resolve<ByHandle>("kernel32.dll", "SetFileInformationByHandle"))
        return set(file, basic ? 0 : 4, record, size) != 0;
    auto set = Resolve<Nt>("ntdll.dll", "NtSetInformationFile");
    void* status[2] = {nullptr, nullptr};
    return set && set(file, status, record, size, basic ? 4 : 13) == 0;
}

bool SameFile(const std::string& a, HANDLE b) {
    HANDLE h = CreateFileA(a.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION x, y;
    bool same = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &x) &&
                GetFileInformationByHandle(b, &y) &&
                x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
                x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return same;
}

} // namespace

CASE(AHandleOpenForDeletingIsTheFileUntilItsLastCloseDeletesIt) {
    const std::string d = Dir() + "Handles\\", a = d + "a.exe", b = d + "b.exe";
    CHECK(CreateDirectoryA(d.c_str(), nullptr));
    stage::Put(a, "abc");
    stage::Put(b, "xyz");
    // An open for attributes alone takes no part in sharing: sharing nothing,
    // it keeps no one from opening the file for deleting (Wine's kernel32
    // tests, file.c, is_sharing_compatible for test_file_sharing).
    HANDLE attributes =
        CreateFileA(a.c_str(), FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(attributes != INVALID_HANDLE_VALUE);
    HANDLE h = CreateFileA(a.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    CloseHandle(attributes);
    CHECK(h != INVALID_HANDLE_VALUE);
    // GENERIC_ALL: FILE_ALL_ACCESS, DELETE with it (File Security and Access Rights)
    HANDLE all = CreateFileA(b.c_str(), GENERIC_ALL, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(!DeleteFileA(b.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION);
    CloseHandle(all);
    // The file index tells the file from another, under any later open.
    CHECK(SameFile(a, h));
    CHECK(!SameFile(b, h));
    // Without delete sharing nobody else may delete it, nor open it as the
    // run-time does (it shares reading and writing, not deleting).
    CHECK(!DeleteFileA(a.c_str()));
    CHECK_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    CHECK_EQ(_open(a.c_str(), _O_RDONLY | _O_BINARY), -1);
    // The run-time reads through it, and closing the descriptor closes it.
    int fd = _open_osfhandle((intptr_t)h, _O_RDONLY);
    CHECK(fd >= 0);
    CHECK_EQ(_get_osfhandle(fd), (intptr_t)h);
    char bytes[4] = {0};
    CHECK_EQ(_read(fd, bytes, 3), 3);
    CHECK_EQ(std::string(bytes), std::string("abc"));
    // Marked for deletion, the name stays until the last handle closes.
    // (Windows also refuses every new open meanwhile, as DeleteFileA's
    // documentation says; the Wine these checks run under opens it.)
    CHECK(SetThroughHandle(h, false));
    CHECK(GetFileAttributesA(a.c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(_close(fd), 0);
    CHECK_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(stage::Get(b), std::string("xyz"));

    // A read-only file refuses the mark until its attributes are reset
    // through the same handle.
    CHECK(SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_READONLY));
    h = CreateFileA(b.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(h != INVALID_HANDLE_VALUE);
    CHECK(!SetThroughHandle(h, false));
    CHECK(SetThroughHandle(h, true, FILE_ATTRIBUTE_ARCHIVE));
    CHECK(SetThroughHandle(h, false));
    CHECK(CloseHandle(h));
    CHECK_EQ(GetFileAttributesA(b.c_str()), INVALID_FILE_ATTRIBUTES);
    CHECK(RemoveDirectoryA(d.c_str()));
}

/* Names the ANSI functions cannot give as they are. A character outside the
   code page is listed by its best fit (WideCharToMultiByte's: a fullwidth
   "e" as "e"), a name that ends in a blank or a dot as it is; a path drops
   the trailing blanks and dots of its last part, and a folder's trailing
   dot. None of these long names reaches its entry; the 8.3 name does. */
CASE(NamesTheAnsiPathsCannotReachAreReachedByTheirShortNames) {
    const std::string d = Dir() + "Names\\";
    CHECK(CreateDirectoryA(d.c_str(), nullptr));
    for (const char* name : {"\xEF\xBD\x85vil.exe", "blank.exe ", "sub.", "sub.\\inner.exe"})
        CHECK(stage::PutNamed(d, name, !strcmp(name, "sub."))); // U+FF45 first
    CHECK_EQ(Joined(List(d + "*")), ".,16 ..,16 blank.exe ,0 evil.exe,0 sub.,16");
    CHECK(List(d + "sub.\\*.exe").empty());
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((d + "*").c_str(), &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &fd)) {
        const std::string name = fd.cFileName, alias = fd.cAlternateFileName;
        if (name == "." || name == "..") continue;
        CHECK_EQ(GetFileAttributesA((d + name).c_str()), INVALID_FILE_ATTRIBUTES);
        const std::string inner = name == "sub." ? "\\inner.exe" : "";
        CHECK(alias.empty() ||
              GetFileAttributesA((d + alias + inner).c_str()) != INVALID_FILE_ATTRIBUTES);
    }
    FindClose(h);
}

/* Attributes belong to the file: every name of a hard link shows them. */
CASE(AHardLinkSharesItsFilesAttributes) {
    const std::string a = Dir() + "a.exe", b = Dir() + "b.exe";
    stage::Put(a, "x");
    if (!stage::HardLink(a, b)) return; // a volume without hard links
    CHECK(SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_READONLY));
    CHECK_EQ(Joined(List(Dir() + "?.exe")), "a.exe,1 b.exe,1");
    CHECK(SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_NORMAL));
    CHECK_EQ(GetFileAttributesA(b.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

/* DeleteFileA of a file open elsewhere, sharing the delete, succeeds but only
   marks it: the name stays until its last handle closes (Microsoft's
   DeleteFile remarks; test_DeleteFileA in Wine's dlls/kernel32/tests/file.c).
   Windows refuses every open meanwhile; the Wine these checks run under
   opens it. */
CASE(ADeleteOfAFileOpenElsewhereWaitsForItsLastHandle) {
    const std::string f = Dir() + "held.exe";
    stage::Put(f, "x");
    HANDLE h =
        CreateFileA(f.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(h != INVALID_HANDLE_VALUE);
    CHECK(DeleteFileA(f.c_str()));
    CHECK_EQ(Joined(List(f)), "held.exe,0");
    if (!stage::UnderWine()) {
        CHECK_EQ(_open(f.c_str(), _O_RDONLY | _O_BINARY), -1);
        CHECK(!DeleteFileA(f.c_str()));
        CHECK_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    }
    CHECK(CloseHandle(h));
    CHECK(List(f).empty());
}
