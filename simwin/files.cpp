/*
** simwin: drives, path resolution, directory searches and file operations.
**
** What Windows does and this model keeps:
**  - a drive root lists no "." and ".."; every other folder lists them first;
**  - entries come in NTFS order (upper-cased names, ordinal);
**  - "*.*" matches names with and without a dot; matching ignores case;
**  - a read-only file, a running program's image and a file some process
**    (this one included, through a run-time descriptor) holds open cannot be
**    deleted; SetFileAttributesA(FILE_ATTRIBUTE_ARCHIVE) clears read-only;
**  - CopyFileA of a file onto itself fails and leaves it alone; it reads the
**    source sharing everything and writes the target sharing reading and
**    writing (nothing on 9x); a read-only source gives a read-only copy;
**  - a rename that changes only the letter case stores the new spelling;
**  - GetShortPathNameA gives a long name its generated 8.3 form: the first
**    six usable characters upper-cased, "~N", and up to three characters of
**    the extension ("Program Files" -> "PROGRA~1"); N counts up among the
**    folder's names that would share that form, in listing order. A name
**    that is already 8.3 is returned as written. Listings give the same
**    form in cAlternateFileName (empty for a name that is already 8.3), a
**    path may name an entry by it, and a pattern matches it too; with 8.3
**    names turned off (SetShortNames) there are none;
**  - host names are UTF-8 and the ANSI code page is Latin-1: a listing
**    gives a character outside it by the code page's best fit, as
**    WideCharToMultiByte does without WC_NO_BEST_FIT_CHARS (a fullwidth
**    letter U+FF01 to U+FF5E as its ASCII letter, Unicode's
**    WindowsBestFit/bestfit1252.txt), and one without a best fit as "?";
**    either way a name the ANSI functions cannot reach by its long form. A
**    host name that is not UTF-8 is taken byte for byte;
**  - a path's last part loses its trailing dots and blanks, a folder's part
**    one trailing dot ("c:/test." and "c:/test     " are c:\test, "c:/test./
**    file" is c:\test\file: RtlGetFullPathName_U in Wine's
**    dlls/ntdll/tests/path.c), so an entry named so is reached only by its
**    8.3 name;
**  - attributes belong to the file, not to its name: hard links share them;
**  - a host symbolic link to a folder is a directory link (a junction): on
**    NT it carries FILE_ATTRIBUTE_REPARSE_POINT, and paths through it reach
**    its target;
**  - on NT a listed reparse point gives its tag in dwReserved0: a junction
**    and a volume mount point IO_REPARSE_TAG_MOUNT_POINT, a symbolic link
**    IO_REPARSE_TAG_SYMLINK; a host symbolic link to a file is a file
**    symbolic link, listed with length 0 (the link's own record) and opened
**    as its target;
**  - a file's directory entry may list a length the file no longer has
**    (SetListedLength); GetFileAttributesExA reads the file's own record,
**    of a link the link's.
*/
#include "simwin/files.h"
#include "simwin/modules.h"
#include "simwin/processes.h"
#include "simwin/registry.h"
#include "simwin/security.h"
#include "simwin/system.h"
#include "simwin/text.h"
#include "simwin/wow64.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "simwin/stdio.h"

namespace simwin {
// The file handles' block below: remembers the security a folder was made with.
void NoteFolderSecurity(const std::string& host, const SECURITY_ATTRIBUTES* security);
// Marks a file that handles hold open to go with the last of them; false
// when none is open.
bool MarkDeletedOnClose(const std::string& host);
} // namespace simwin

namespace {

struct Drive {
    std::string root;
    UINT type;
    bool fat = false; // see SetFatVolume
};

std::map<char, Drive> drives;
std::vector<std::string> driveQueries;
std::map<std::string, DWORD> attributes; // AttrKey -> stored attribute bits
const char* const kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
std::vector<std::string> pendingDeletions;
std::vector<simwin::MoveFileExCall> moveFileExCalls;
std::vector<std::pair<std::string, std::string>> pendingRenames;
bool delayedMovesAllowed = true;
bool shortNamesEnabled = true;
std::map<std::string, DWORD> reparseTags;      // host path -> tag set apart
std::map<std::string, std::string> mounts;     // mount point's host path -> volume root
std::map<std::string, uint64_t> listedLengths; // host path -> stale listed length

simwin::ResetHook resetFiles([] {
    shortNamesEnabled = true;
    reparseTags.clear();
    mounts.clear();
    listedLengths.clear();
    drives.clear();
    driveQueries.clear();
    attributes.clear();
    pendingDeletions.clear();
    moveFileExCalls.clear();
    pendingRenames.clear();
    delayedMovesAllowed = true;
});

/* Where a host entry's attributes are kept: by its file (device and inode),
   which all of a file's hard links share; by the path when nothing is there. */
std::string AttrKey(const std::string& host) {
    struct stat st;
    if (host.empty() || lstat(host.c_str(), &st) != 0) return host;
    return "#" + std::to_string((uint64_t)st.st_dev) + ":" + std::to_string((uint64_t)st.st_ino);
}

/* Unlinks a host file; its attributes go with its last name. */
bool Unlink(const std::string& host) {
    struct stat st;
    const bool last = lstat(host.c_str(), &st) == 0 && st.st_nlink <= 1;
    const std::string key = AttrKey(host);
    if (unlink(host.c_str()) != 0) return false;
    if (last) attributes.erase(key);
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

bool SameNoCase(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

bool IsDir(const std::string& host) {
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& host) {
    struct stat st;
    return !host.empty() && stat(host.c_str(), &st) == 0;
}

/* A directory link: a host symbolic link to a folder. */
bool IsDirLink(const std::string& host) {
    struct stat st;
    return IsDir(host) && lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

/* The ANSI form of a host name. *lossy tells whether a character outside
   the code page became its best fit or "?"; a name that is not UTF-8 is
   kept as it is. */
std::string AnsiName(const std::string& name, bool* lossy) {
    *lossy = false;
    std::string out;
    bool replaced = false;
    for (size_t i = 0; i < name.size();) {
        unsigned char c = (unsigned char)name[i];
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || i + (size_t)extra >= name.size()) return name;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; k++) {
            unsigned char t = (unsigned char)name[i + (size_t)k];
            if ((t & 0xC0) != 0x80) return name;
            cp = cp << 6 | (t & 0x3F);
        }
        i += (size_t)extra + 1;
        if (cp < 0x100) {
            out += (char)cp;
        } else {
            // The fullwidth forms of ASCII best-fit to it; nothing else does here.
            out += cp >= 0xFF01 && cp <= 0xFF5E ? (char)(cp - 0xFEE0) : '?';
            replaced = true;
        }
    }
    *lossy = replaced;
    return out;
}

/* One directory entry as a listing sees it. The entry's type and size are
   taken when the folder is listed, as Windows takes them from the directory
   when a search reads it: an entry that vanishes afterwards is still
   reported as it was. */
struct Entry {
    std::string name;
    std::string key; // upper-cased name: the listing order
    bool dir;        // also for an entry that cannot be looked at
    uint64_t size;
    bool link = false;     // a directory link or a file symbolic link
    std::string ansi = ""; // the name as the ANSI functions give it
    bool lossy = false;    // ansi holds a best fit or "?" for a character it cannot show
    std::string alt = "";  // the 8.3 name, empty when the name is one
};

bool Is83(const std::string& name);
std::string ShortForm(const std::string& name, int n);

/* Fills each entry's ANSI form and, in listing order, its 8.3 name: a long
   name gets the lowest tail number that no earlier entry took. */
void NameEntries(std::vector<Entry>& entries) {
    std::set<std::string> taken;
    for (auto& e : entries) {
        e.ansi = AnsiName(e.name, &e.lossy);
        if (!e.lossy && Is83(e.ansi)) taken.insert(Upper(e.ansi));
    }
    if (!shortNamesEnabled) return;
    for (auto& e : entries) {
        if (!e.lossy && Is83(e.ansi)) continue;
        // As NTFS does: tails ~1 to ~4, then two characters, four hex digits
        // of a hash of the name and ~1, so that many similar names stay cheap.
        uint32_t hash = 2166136261u;
        for (unsigned char c : e.name)
            hash = (hash ^ c) * 16777619u;
        for (int n = 1;; n++) {
            std::string form = ShortForm(e.ansi, n);
            if (n > 4) {
                std::string first = ShortForm(e.ansi, 1);
                size_t tilde = first.find('~'), dot = first.find('.');
                char hex[8];
                snprintf(hex, sizeof hex, "%04X", (unsigned)((hash + (uint32_t)n) & 0xFFFF));
                form = first.substr(0, std::min<size_t>(2, tilde)) + hex + "~1" +
                       (dot == std::string::npos ? "" : first.substr(dot));
            }
            if (taken.insert(form).second) {
                e.alt = form;
                break;
            }
        }
    }
}

/* The folder's entries without "." and "..", in NTFS order. Each entry is
   looked at relative to the open folder, which spares the path walk. */
std::vector<Entry> ListEntries(const std::string& host) {
    std::vector<Entry> entries;
    DIR* d = opendir(host.c_str());
    if (!d) return entries;
    const int dfd = dirfd(d);
    while (dirent* e = readdir(d)) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        // A host name "x:evil.exe" holds the named stream evil.exe of the
        // file x: no listing shows a stream (FindFirstStreamW lists them;
        // Microsoft's "File Streams (Local File Systems)": "C:\x:evil.exe"
        // opens it by name).
        if (strchr(e->d_name, ':')) continue;
        struct stat st;
        bool known = fstatat(dfd, e->d_name, &st, 0) == 0;
        entries.push_back(Entry{e->d_name, Upper(e->d_name), !known || S_ISDIR(st.st_mode),
                                known && !S_ISDIR(st.st_mode) ? (uint64_t)st.st_size : 0});
        struct stat lst;
        if (known && (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) &&
            fstatat(dfd, e->d_name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode)) {
            entries.back().link = true;
            entries.back().size = 0; // a link's own record holds no data
        }
    }
    closedir(d);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    NameEntries(entries);
    return entries;
}

/* The entry of host folder `host` that the Windows name `name` names: by
   its ANSI form or its 8.3 name, without regard to case; null when none. */
const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& name) {
    for (auto& e : entries)
        if ((!e.lossy && SameNoCase(e.ansi, name)) || (!e.alt.empty() && SameNoCase(e.alt, name)))
            return &e;
    return nullptr;
}

/* Windows wildcard match, ignoring case: '*' any run, '?' one character.
   A pattern ending in ".*" also matches names without a dot. */
bool Match(const char* p, const char* s) {
    for (; *p; p++, s++) {
        if (*p == '*') {
            for (const char* t = s;; t++) {
                if (Match(p + 1, t)) return true;
                if (!*t) return false;
            }
        }
        if (!*s) return strcmp(p, ".*") == 0;
        if (*p != '?' && toupper((unsigned char)*p) != toupper((unsigned char)*s)) return false;
    }
    return *s == 0;
}

/* Splits "C:\dir\spec" into the folder's Windows path and the last part. */
void SplitLast(const std::string& win, std::string* dir, std::string* last) {
    size_t cut = win.find_last_of("\\/");
    if (cut == std::string::npos) {
        *dir = "";
        *last = win;
    } else {
        *dir = win.substr(0, cut + 1);
        *last = win.substr(cut + 1);
    }
}

struct Search : simwin::Object {
    std::string hostDir;
    std::vector<Entry> entries; // matching entries, "." and ".." included
    size_t next = 0;
    bool device = false; // the one entry of a device's name
};

DWORD StoredAttributes(const std::string& host);

DWORD ReparseTag(const std::string& host, bool link, bool dir);

void Fill(const Search& s, const Entry& e, WIN32_FIND_DATAA* fd) {
    memset(fd, 0, sizeof *fd);
    if (s.device) {
        fd->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        snprintf(fd->cFileName, sizeof fd->cFileName, "%s", e.name.c_str());
        return;
    }
    uint64_t size = e.size;
    if (!listedLengths.empty() && !e.dir) {
        auto it = listedLengths.find(s.hostDir + "/" + e.name);
        if (it != listedLengths.end()) size = it->second;
    }
    if (!e.dir) fd->nFileSizeLow = (DWORD)size, fd->nFileSizeHigh = (DWORD)(size >> 32);
    if (e.dir) {
        fd->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        if (!attributes.empty()) {
            auto it = attributes.find(AttrKey(s.hostDir + "/" + e.name));
            if (it != attributes.end()) fd->dwFileAttributes |= it->second;
        }
    } else {
        // A file's stored attributes, else the archive bit of a plain file.
        fd->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        if (!attributes.empty()) {
            auto it = attributes.find(AttrKey(s.hostDir + "/" + e.name));
            if (it != attributes.end()) fd->dwFileAttributes = it->second;
        }
    }
    if (e.link || !reparseTags.empty()) {
        if (DWORD tag = ReparseTag(s.hostDir + "/" + e.name, e.link, e.dir)) {
            fd->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            fd->dwReserved0 = tag;
        }
    }
    snprintf(fd->cFileName, sizeof fd->cFileName, "%s",
             e.ansi.empty() ? e.name.c_str() : e.ansi.c_str());
    snprintf(fd->cAlternateFileName, sizeof fd->cAlternateFileName, "%s", e.alt.c_str());
}

/* The host path of a name the program hands to a file operation. */
std::string Resolve(const char* path) {
    return path ? simwin::HostPath(simwin::Redirected(path)) : "";
}

/* Why a path names nothing: ERROR_FILE_NOT_FOUND when its folder is there,
   ERROR_PATH_NOT_FOUND when that is missing too. */
DWORD MissingError(const std::string& host) {
    std::string dir, last;
    SplitLast(host, &dir, &last);
    return IsDir(dir) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

/* Whether a path holds a character no name may hold (wildcards among them),
   past a "\\?\" prefix: Windows refuses it with ERROR_INVALID_NAME. */
bool InvalidName(const char* path) {
    if (!path) return false;
    if (strncmp(path, "\\\\?\\", 4) == 0) path += 4;
    return strpbrk(path, "?*<>|\"") != nullptr;
}

/* Sets the last error of a path that names nothing or cannot name anything;
   9x answers such a name as one not found (`on9x`). */
BOOL Refuse(LPCSTR path, const std::string& host, DWORD on9x = ERROR_FILE_NOT_FOUND) {
    const bool nt = simwin::PlatformId() == VER_PLATFORM_WIN32_NT;
    SetLastError(!InvalidName(path) ? MissingError(host) : nt ? ERROR_INVALID_NAME : on9x);
    return FALSE;
}

/* The reparse tag an entry carries on NT, 0 for none (and on 9x): one set
   apart, else a junction's for a directory link, a symbolic link's for a
   file link. */
DWORD ReparseTag(const std::string& host, bool link, bool dir) {
    if (simwin::PlatformId() != VER_PLATFORM_WIN32_NT) return 0;
    auto it = reparseTags.find(host);
    if (it != reparseTags.end()) return it->second;
    if (!link) return 0;
    return dir ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
}

DWORD StoredAttributes(const std::string& host) {
    auto it = attributes.find(AttrKey(host));
    DWORD link = (IsDirLink(host) || reparseTags.count(host)) &&
                         simwin::PlatformId() == VER_PLATFORM_WIN32_NT
                     ? FILE_ATTRIBUTE_REPARSE_POINT
                     : 0;
    if (it != attributes.end()) return it->second | link;
    return IsDir(host) ? FILE_ATTRIBUTE_DIRECTORY | link : FILE_ATTRIBUTE_ARCHIVE;
}

/* Why a file may not be deleted or renamed now; 0 when it may. */
DWORD BusyError(const std::string& host, bool rename) {
    // Both open the file for DELETE, sharing everything.
    if (DWORD sharing = simwin::SharingError(host, DELETE, 7)) return sharing;
    switch (simwin::LockOf(host)) {
    case simwin::FileLock::HeldExclusive:
        return ERROR_SHARING_VIOLATION;
    case simwin::FileLock::RunningImage:
        if (!rename) return ERROR_ACCESS_DENIED; // a loaded image can be renamed
        break;
    case simwin::FileLock::None:
        break;
    }
    if (simwin::IsOpenByDescriptor(host) || simwin::IsOpenByStream(host))
        return ERROR_SHARING_VIOLATION;
    return 0;
}

bool OnFatVolume(const std::string& host);
/* Whether a handle is open on a file below the host folder `dir`. */
bool OpenBelow(const std::string& dir);
/* Whether Windows would refuse to rename the host folder `dir` for a file
   open below it. */
bool HeldBelow(const std::string& dir);

/* Renames `existing` to `newName`; an existing target is replaced only when
   `replace` is set and it is a file that may be deleted. */
BOOL Move(LPCSTR existing, LPCSTR newName, bool replace) {
    std::string from = Resolve(existing), to = Resolve(newName);
    if (InvalidName(existing) || !Exists(from)) return Refuse(existing, from);
    if (InvalidName(newName)) return Refuse(newName, to);
    if (to.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    bool replacing = Exists(to) && from != to;
    if (replacing && !replace) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (replacing &&
        (IsDir(to) || (StoredAttributes(to) & FILE_ATTRIBUTE_READONLY) || BusyError(to, false))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DWORD busy = BusyError(from, true)) {
        SetLastError(busy);
        return FALSE;
    }
    // A folder with a file below it open stays where it is (the reference
    // row of MoveFileA on a folder held below).
    if (IsDir(from) && HeldBelow(from)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    struct stat replaced;
    const bool lastName = replacing && lstat(to.c_str(), &replaced) == 0 && replaced.st_nlink <= 1;
    const std::string replacedKey = AttrKey(to);
    if (from == to) {
        // A new spelling of the same name: the entry takes the new letter case.
        std::string dir, last, given = newName;
        SplitLast(to, &dir, &last);
        given = given.substr(given.find_last_of("\\/") + 1);
        given.erase(given.find_last_not_of(". ") + 1);
        if (given != last && strcasecmp(given.c_str(), last.c_str()) == 0) to = dir + given;
    }
    if (rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (lastName) attributes.erase(replacedKey);
    return TRUE;
}

/* Characters an 8.3 name may hold besides letters and digits. */
bool Legal83(unsigned char c) { return isalnum(c) || c >= 0x80 || strchr("!#$%&'()-@^_`{}~", c); }

bool Is83(const std::string& name) {
    if (name == "." || name == "..") return true;
    if (name.empty()) return false;
    size_t dot = name.find('.');
    if (dot != name.rfind('.')) return false; // more than one dot
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (dot != std::string::npos && ext.empty()) return false;
    for (char c : base + ext)
        if (!Legal83((unsigned char)c)) return false;
    return true;
}

/* The generated short name of a long name with tail number `n`. */
std::string ShortForm(const std::string& name, int n) {
    std::string trimmed = name;
    trimmed.erase(0, trimmed.find_first_not_of('.'));
    size_t dot = trimmed.rfind('.');
    std::string base = trimmed.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : trimmed.substr(dot + 1);
    auto clean = [](const std::string& in, size_t keep) {
        std::string out;
        for (char c : in) {
            if (out.size() == keep) break;
            if (c == ' ' || c == '.') continue;
            unsigned char u = (unsigned char)toupper((unsigned char)c);
            out += Legal83(u) ? (char)u : '_';
        }
        return out;
    };
    std::string tail = "~" + std::to_string(n);
    std::string shortName = clean(base, 8 - tail.size()) + tail;
    std::string e = clean(ext, 3);
    if (!e.empty()) shortName += "." + e;
    return shortName;
}

} // namespace

namespace simwin {

void MapDrive(char letter, const std::string& hostRoot, UINT type) {
    std::error_code ec;
    std::filesystem::create_directories(hostRoot, ec);
    drives[(char)toupper((unsigned char)letter)] = Drive{hostRoot, type};
}

void SetFatVolume(char letter) { drives[(char)toupper((unsigned char)letter)].fat = true; }

const std::vector<std::string>& DriveQueries() { return driveQueries; }

std::string AnsiPathOf(const std::string& win) {
    bool lossy = false;
    return AnsiName(win, &lossy);
}

std::string WindowsPathOf(const std::string& host, bool exact) {
    for (const auto& [letter, drive] : drives) {
        std::error_code ec;
        std::string root = std::filesystem::weakly_canonical(drive.root, ec).string();
        if (ec) root = drive.root;
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        if (host.compare(0, root.size(), root) != 0) continue;
        const std::string rest = host.substr(root.size());
        if (!rest.empty() && rest[0] != '/') continue;
        // Each name as the ANSI functions give it (a best fit where it must).
        std::string win = std::string(1, letter) + ":";
        for (size_t at = 1; at <= rest.size();) {
            size_t end = rest.find('/', at);
            if (end == std::string::npos) end = rest.size();
            const std::string name = rest.substr(at, end - at);
            win += "\\" + (exact ? name : AnsiPathOf(name));
            at = end + 1;
        }
        return win.size() == 2 ? win + "\\" : win;
    }
    return "";
}

/* The components of a Windows path after the drive, "." and ".." applied. */
static void Components(const std::string& win, std::vector<std::string>* parts, bool* plain) {
    *plain = true;
    std::string part;
    for (size_t i = 2; i <= win.size(); i++) {
        if (i == win.size() || win[i] == '\\' || win[i] == '/') {
            if (part == "..") {
                *plain = false;
                if (!parts->empty()) parts->pop_back();
            } else if (part == ".") {
                *plain = false;
            } else if (!part.empty()) {
                // The last part loses its trailing dots and blanks, a
                // folder's part one trailing dot.
                // "a.exe::$DATA" is a.exe's unnamed data stream, the file
                // itself, and "a.exe:s:$DATA" its stream s (Microsoft's "File
                // Streams (Local File Systems)": "filename:stream
                // name:stream type").
                // "x::$INDEX_ALLOCATION" and "x:$I30:$INDEX_ALLOCATION" are
                // the folder x, its directory stream, in any place of the
                // path (the same page: "Dir C:\Users:$I30:$INDEX_ALLOCATION"
                // is "Dir C:\Users").
                for (const char* folder : {"::$INDEX_ALLOCATION", ":$I30:$INDEX_ALLOCATION"}) {
                    const size_t t = strlen(folder);
                    if (part.size() > t && Upper(part.substr(part.size() - t)) == folder)
                        part.erase(part.size() - t);
                }
                const size_t type = part.size() >= 7 ? part.size() - 6 : 0;
                if (i == win.size() && type > 0 && part.find(':') < type &&
                    Upper(part.substr(type)) == ":$DATA")
                    part.erase(part[type - 1] == ':' ? type - 1 : type);
                if (i == win.size())
                    part.erase(part.find_last_not_of(". ") + 1);
                else if (part.back() == '.')
                    part.pop_back();
                if (!part.empty()) parts->push_back(part);
            }
            part.clear();
        } else {
            part += win[i];
        }
    }
}

/* The drive's host folder joined with the path's components as written;
   empty when the drive is not mapped or the path holds "." or "..". When
   this path exists it is what HostPath gives. */
std::string DirectHostPath(const std::string& win) {
    if (win.size() < 2 || win[1] != ':') return "";
    auto d = drives.find((char)toupper((unsigned char)win[0]));
    if (d == drives.end()) return "";
    std::vector<std::string> parts;
    bool plain;
    Components(win, &parts, &plain);
    if (!plain) return "";
    std::string direct = d->second.root;
    for (auto& p : parts)
        direct += "/" + p;
    return direct;
}

/* Whether Win32 reads the last part of `win` as a DOS device rather than a
   file: its name up to the first dot or colon, trailing blanks dropped, is
   CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9, in any folder and with
   any extension. Facts of Wine's dlls/ntdll/tests/path.c,
   test_RtlIsDosDeviceName_U (c:\nul:, c:prn......., "c:NUL  ....  ",
   c:prn:aaa, c:aux:.txt... and a long folder's \nul.txt are devices;
   c:\nul\foo, c:nul0 and c:\lpt0.txt are not; CONIN$ and CONOUT$ are
   devices only as a bare name, from Windows 8 on) and
   test_RtlGetFullPathName_U (C:\nonexistent\nul is \\.\nul). A \\?\ path
   is no DOS path: "the \\?\ prefix ... turns off all string parsing and
   sends the string that follows it straight to the file system"
   (Microsoft's "Naming Files, Paths, and Namespaces", which lists the same
   device names). Besides, on both families CLOCK$, MS-DOS's clock device
   (Microsoft's former "Naming a File": "Windows NT: CLOCK$ is also a
   reserved device name"); on NT COM and LPT with the Western superscript
   digits 0xB9, 0xB2 and 0xB3 ("Naming Files": "Windows recognizes the 8-bit
   ISO/IEC 8859-1 superscript digits"); on 9x the name of any character
   driver CONFIG.SYS loaded (LoadDosDriver; KB Q71843: "MS-DOS character
   devices are defined as files in all directories"). The last part is
   found by the ANSI code page's characters (IsDBCSLeadByte). */
std::set<std::string> dosDrivers;
simwin::ResetHook resetDosDrivers([] { dosDrivers.clear(); });

void LoadDosDriver(const std::string& name) { dosDrivers.insert(Upper(name)); }

bool NamesDevice(const std::string& win) {
    if (win.compare(0, 4, "\\\\?\\") == 0) return false;
    size_t start = win.size() > 1 && win[1] == ':' ? 2 : 0;
    for (size_t i = 0; i < win.size(); i++) {
        if (IsDBCSLeadByte((BYTE)win[i]) && i + 1 < win.size())
            i++;
        else if (win[i] == '\\' || win[i] == '/')
            start = i + 1;
    }
    std::string base = win.substr(start, win.find_first_of(".:", start) - start);
    base.erase(base.find_last_not_of(' ') + 1);
    base = Upper(base);
    const bool nt = PlatformId() == VER_PLATFORM_WIN32_NT;
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CLOCK$" ||
        (!nt && dosDrivers.count(base)))
        return true;
    const unsigned char digit = base.size() == 4 ? (unsigned char)base[3] : 0;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           ((digit >= '1' && digit <= '9') ||
            (nt && (digit == 0xB9 || digit == 0xB2 || digit == 0xB3)));
}

std::string HostPath(const std::string& given) {
    // A \\?\ path names its file as written; a DOS device names no file.
    if (given.compare(0, 4, "\\\\?\\") == 0) return FolderHostPath(given.substr(4));
    if (NamesDevice(given)) return "";
    return FolderHostPath(given);
}

std::string FolderHostPath(const std::string& given) {
    if (given.compare(0, 4, "\\\\?\\") == 0) return FolderHostPath(given.substr(4));
    // A path with one leading backslash is rooted on the current drive, as
    // Windows reads it; the program's current directory is on C:.
    const bool rooted = given.size() > 1 && given[0] == '\\' && given[1] != '\\';
    const std::string win = rooted ? "C:" + given : given;
    if (win.size() < 2 || win[1] != ':') return "";
    auto d = drives.find((char)toupper((unsigned char)win[0]));
    if (d == drives.end()) return "";
    // Most paths name existing entries in the case the folders hold them
    // (the walk composes them from listings): then the joined path is the
    // answer, and no component needs a case-insensitive search.
    std::string direct = DirectHostPath(win);
    if (!direct.empty() && Exists(direct)) return direct;
    std::vector<std::string> parts;
    bool plain;
    Components(win, &parts, &plain);
    std::string host = d->second.root;
    for (auto& p : parts) {
        std::string exact = host + "/" + p;
        if (!Exists(exact) && IsDir(host)) {
            std::vector<Entry> entries = ListEntries(host);
            if (const Entry* e = FindEntry(entries, p)) exact = host + "/" + e->name;
        }
        host = exact;
    }
    return host;
}

const std::vector<std::string>& PendingDeletions() { return pendingDeletions; }
const std::vector<MoveFileExCall>& MoveFileExCalls() { return moveFileExCalls; }
const std::vector<std::pair<std::string, std::string>>& PendingRenames() { return pendingRenames; }
void AllowDelayedMoves(bool allow) { delayedMovesAllowed = allow; }
void SetShortNames(bool enabled) { shortNamesEnabled = enabled; }

std::string RunWininit() {
    const std::string ini = WindowsDirectory() + "\\wininit.ini";
    const std::string host = HostPath(ini);
    if (!Exists(host) || IsDir(host)) return "";
    const std::string text = ReadFile(ini);
    std::istringstream lines(text.substr(0, text.find('\x1A'))); // the reader stops at Ctrl+Z
    bool inRename = false;
    std::error_code ec;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            inRename = strncasecmp(line.c_str(), "[rename]", 8) == 0;
            continue;
        }
        const size_t eq = line.find('=');
        if (!inRename || eq == std::string::npos) continue;
        const std::string from = HostPath(line.substr(eq + 1));
        if (from.empty() || !Exists(from) || IsDir(from)) continue;
        if (strcasecmp(line.substr(0, eq).c_str(), "NUL") == 0) {
            Unlink(from);
        } else if (!HostPath(line.substr(0, eq)).empty()) {
            std::filesystem::rename(from, HostPath(line.substr(0, eq)), ec);
        }
    }
    std::filesystem::rename(host, HostPath(WindowsDirectory() + "\\wininit.bak"), ec);
    return text;
}

void MakeDirLink(const std::string& winPath, const std::string& target, bool symbolic) {
    std::string dir, last;
    SplitLast(winPath, &dir, &last);
    MakeDir(dir);
    std::error_code ec;
    std::filesystem::create_directory_symlink(HostPath(target), HostPath(winPath), ec);
    if (symbolic) reparseTags[HostPath(winPath)] = IO_REPARSE_TAG_SYMLINK;
}

void MakeDir(const std::string& winPath) {
    std::string host = HostPath(winPath);
    std::error_code ec;
    if (!host.empty()) std::filesystem::create_directories(host, ec);
}

void WriteFile(const std::string& winPath, const std::string& bytes) {
    std::string dir, last;
    SplitLast(winPath, &dir, &last);
    MakeDir(dir);
    std::ofstream(HostPath(winPath), std::ios::binary) << bytes;
}

void WriteFile(const std::string& winPath, const std::vector<uint8_t>& bytes) {
    WriteFile(winPath, std::string(bytes.begin(), bytes.end()));
}

bool FileExists(const std::string& winPath) {
    std::string host = HostPath(winPath);
    return Exists(host) && !IsDir(host);
}

std::string ReadFile(const std::string& winPath) {
    std::ifstream in(HostPath(winPath), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace simwin

UINT GetDriveTypeA(LPCSTR rootPath) {
    DWORD err;
    if (simwin::Enter("GetDriveTypeA", &err)) return DRIVE_UNKNOWN;
    driveQueries.push_back(rootPath ? rootPath : "");
    if (!rootPath || !rootPath[0] || rootPath[1] != ':' || (rootPath[2] && rootPath[2] != '\\') ||
        (rootPath[2] && rootPath[3]))
        return DRIVE_NO_ROOT_DIR;
    auto d = drives.find((char)toupper((unsigned char)rootPath[0]));
    return d == drives.end() ? DRIVE_NO_ROOT_DIR : d->second.type;
}

BOOL GetVolumeInformationA(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial,
                           LPDWORD maxComponent, LPDWORD flags, LPSTR fsName, DWORD fsNameSize) {
    DWORD err;
    if (simwin::Enter("GetVolumeInformationA", &err)) {
        SetLastError(err);
        return FALSE;
    }
    auto d = root && root[0] && root[1] == ':' && root[2] == '\\' && !root[3]
                 ? drives.find((char)toupper((unsigned char)root[0]))
                 : drives.end();
    if (d == drives.end()) {
        SetLastError(root && root[0] && root[1] == ':' ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
        return FALSE;
    }
    const bool acls = simwin::PlatformId() == VER_PLATFORM_WIN32_NT && !d->second.fat;
    if (name && nameSize) name[0] = 0;
    if (serial) *serial = 0;
    if (maxComponent) *maxComponent = 255;
    if (flags) *flags = acls ? FILE_PERSISTENT_ACLS | 0x7 : 0x6;
    if (fsName && fsNameSize) snprintf(fsName, fsNameSize, "%s", acls ? "NTFS" : "FAT32");
    return TRUE;
}

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    DWORD err;
    if (simwin::Enter("FindFirstFileA", &err, pattern)) {
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    std::string dir, spec;
    SplitLast(pattern ? simwin::Redirected(pattern) : "", &dir, &spec);
    if (spec.find_first_of("*?") == std::string::npos) spec.erase(spec.find_last_not_of(". ") + 1);
    std::string hostDir = simwin::FolderHostPath(dir);
    // A device's name lists the device, whatever file the folder holds by
    // that name: one entry, the device's name without extension, archive
    // (Wine's FindFirstFileExW, dlls/kernelbase/file.c, on
    // RtlIsDosDeviceName_U's answer).
    const bool device = pattern && simwin::NamesDevice(pattern);
    if (!IsDir(hostDir)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD refused = simwin::SecurityError(hostDir, GENERIC_READ, FILE_FLAG_BACKUP_SEMANTICS)) {
        SetLastError(refused);
        return INVALID_HANDLE_VALUE;
    }
    auto s = std::make_shared<Search>();
    s->hostDir = hostDir;
    bool root = dir.size() == 3; // "C:\"
    if (!root)
        for (const char* dot : {".", ".."})
            if (Match(spec.c_str(), dot)) s->entries.push_back(Entry{dot, dot, true, 0});
    // A pattern is matched against the names themselves: a listed best fit
    // or "?" is not the name.
    if (device) {
        std::string name = spec.substr(0, spec.find_first_of(".:"));
        name.erase(name.find_last_not_of(' ') + 1);
        s->entries.push_back(Entry{name, name, false, 0});
        s->device = true;
    }
    for (auto& e : device ? std::vector<Entry>() : ListEntries(hostDir))
        if (Match(spec.c_str(), (e.lossy ? e.name : e.ansi).c_str()) ||
            (!e.alt.empty() && Match(spec.c_str(), e.alt.c_str())))
            s->entries.push_back(std::move(e));
    if (s->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Fill(*s, s->entries[0], data);
    s->next = 1;
    return simwin::NewHandle(s);
}

BOOL FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    DWORD err;
    if (simwin::Enter("FindNextFileA", &err)) {
        SetLastError(err);
        return FALSE;
    }
    auto s = simwin::HandleAs<Search>(search);
    if (!s) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (s->next >= s->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    Fill(*s, s->entries[s->next++], data);
    return TRUE;
}

BOOL FindClose(HANDLE search) {
    DWORD err;
    if (simwin::Enter("FindClose", &err)) return FALSE;
    if (!simwin::HandleAs<Search>(search) || !simwin::ReleaseHandle(search)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    DWORD err;
    if (simwin::Enter("GetFileAttributesA", &err, path)) {
        SetLastError(err);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string host = Resolve(path);
    if (InvalidName(path) || !Exists(host)) {
        Refuse(path, host);
        return INVALID_FILE_ATTRIBUTES;
    }
    return StoredAttributes(host);
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attrs) {
    DWORD err;
    if (simwin::Enter("SetFileAttributesA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    std::string host = Resolve(path);
    if (InvalidName(path) || !Exists(host)) return Refuse(path, host);
    DWORD keep = IsDir(host) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    attrs &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
             FILE_ATTRIBUTE_ARCHIVE;
    attributes[AttrKey(host)] = (attrs | keep) ? (attrs | keep) : FILE_ATTRIBUTE_NORMAL;
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
    DWORD err;
    if (simwin::Enter("DeleteFileA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    std::string host = Resolve(path);
    if (InvalidName(path) || !Exists(host)) return Refuse(path, host);
    if (IsDir(host) || (StoredAttributes(host) & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (DWORD busy = BusyError(host, false)) {
        SetLastError(busy);
        return FALSE;
    }
    // Open elsewhere (sharing the delete), the file is only marked: its name
    // stays until its last handle closes, and no one may open it meanwhile.
    if (simwin::MarkDeletedOnClose(host)) return TRUE;
    if (!Unlink(host)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileA(LPCSTR existing, LPCSTR newName) {
    DWORD err;
    if (simwin::Enter("MoveFileA", &err, existing)) {
        SetLastError(err);
        return FALSE;
    }
    return Move(existing, newName, false);
}

/* The NT path the session manager's list gets for a drive path, as
   RtlDosPathNameToNtPathName_U makes it (Wine's dlls/ntdll/tests/path.c,
   test_RtlDosPathNameToNtPathName_U: "\\?\foo\bar" is "\??\foo\bar",
   "AUX" and "COM1" are "\??\AUX" and "\??\COM1"; test_RtlGetFullPathName_U:
   C:\nonexistent\nul is \\.\nul): a device's name names the device. */
static std::string NtPathOf(const std::string& path) {
    if (path.compare(0, 4, "\\\\?\\") == 0) return "\\??\\" + path.substr(4);
    if (!simwin::NamesDevice(path)) return "\\??\\" + path;
    const size_t start = path.find_last_of('\\') + 1;
    std::string device = path.substr(start, path.find_first_of(".:", start) - start);
    return "\\??\\" + device.erase(device.find_last_not_of(' ') + 1);
}

BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
    moveFileExCalls.push_back({existing ? existing : "", newName ? newName : "", flags});
    DWORD err;
    if (simwin::Enter("MoveFileExA", &err, existing)) {
        SetLastError(err);
        return FALSE;
    }
    if (simwin::PlatformId() != VER_PLATFORM_WIN32_NT) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (!existing || !existing[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        // Registered for the session manager; the file is not looked at now.
        if (flags & MOVEFILE_COPY_ALLOWED) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!delayedMovesAllowed) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (newName)
            pendingRenames.push_back({existing, newName});
        else
            pendingDeletions.push_back(existing);
        // Where the session manager finds it at the restart: pairs of NT
        // paths, an empty second one for a deletion, "!" before a new name
        // that may replace an existing file.
        std::vector<uint8_t> list = simwin::RegValueData(HKEY_LOCAL_MACHINE, kSessionManager,
                                                         "PendingFileRenameOperations");
        if (!list.empty()) list.pop_back(); // the list's closing terminator
        auto add = [&list](const std::string& s) {
            list.insert(list.end(), s.begin(), s.end());
            list.push_back(0);
        };
        add(NtPathOf(existing));
        add(newName ? std::string(flags & MOVEFILE_REPLACE_EXISTING ? "!" : "") + NtPathOf(newName)
                    : "");
        list.push_back(0);
        simwin::RegSetValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations",
                            REG_MULTI_SZ, list);
        return TRUE;
    }
    if (!newName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Move(existing, newName, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
}

/* The 8.3 form of an existing absolute path, component by component. Returns
   the length without the terminator, or the size needed with it when the
   buffer is too small; 0 with the last error when a component is missing. */
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    DWORD err;
    if (simwin::Enter("GetShortPathNameA", &err, longPath)) {
        SetLastError(err);
        return 0;
    }
    if (!longPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string in = longPath;
    std::string root = in.substr(0, 3);
    if (in.size() < 3 || in[1] != ':' || (in[2] != '\\' && in[2] != '/') ||
        simwin::HostPath(root).empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string out = root, hostDir = simwin::HostPath(root);
    size_t i = 3;
    while (i < in.size()) {
        size_t end = in.find_first_of("\\/", i);
        std::string part = in.substr(i, end == std::string::npos ? std::string::npos : end - i);
        if (part == "." || part == "..") {
            out += part;
            if (part == ".." && hostDir != simwin::HostPath(root))
                hostDir = hostDir.substr(0, hostDir.rfind('/'));
        } else if (!part.empty()) {
            // A wildcard names no one file: ERROR_INVALID_NAME on NT
            // (test_GetShortPathNameW in Wine's dlls/kernel32/tests/path.c,
            // a folder's path ending in "*"; test_FunnyChars allows it for
            // either character); 9x looks the name up and misses it.
            if (part.find_first_of("*?") != std::string::npos &&
                simwin::PlatformId() == VER_PLATFORM_WIN32_NT) {
                SetLastError(ERROR_INVALID_NAME);
                return 0;
            }
            std::vector<Entry> entries = ListEntries(hostDir);
            const Entry* e = FindEntry(entries, part);
            if (!e) {
                // Looked up in its folder, which is there: a missing file.
                SetLastError(ERROR_FILE_NOT_FOUND);
                return 0;
            }
            // Without an 8.3 name (none needed, or none kept) the long one.
            out += e->alt.empty() ? part : e->alt;
            hostDir += "/" + e->name;
        }
        if (end == std::string::npos) break;
        out += in[end];
        i = end + 1;
    }
    if (!shortPath || size < out.size() + 1) return (DWORD)out.size() + 1;
    memcpy(shortPath, out.c_str(), out.size() + 1);
    return (DWORD)out.size();
}

BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) {
    DWORD err;
    if (simwin::Enter("CopyFileA", &err, existing)) {
        SetLastError(err);
        return FALSE;
    }
    std::string from = Resolve(existing), to = Resolve(newName);
    if (InvalidName(existing) || !Exists(from) || IsDir(from)) return Refuse(existing, from);
    // The copy reads the source sharing reading, writing and deletion.
    if (DWORD sharing = simwin::SharingError(from, GENERIC_READ, 7)) {
        SetLastError(sharing);
        return FALSE;
    }
    if (from == to) {
        // Onto itself, under any spelling: the source is open while the
        // target is created, so NT refuses with a sharing violation and 9x
        // with "file exists"; the file is left as it was.
        SetLastError(simwin::PlatformId() == VER_PLATFORM_WIN32_NT ? ERROR_SHARING_VIOLATION
                                                                   : ERROR_FILE_EXISTS);
        return FALSE;
    }
    if (Exists(to)) {
        if (failIfExists) {
            SetLastError(ERROR_FILE_EXISTS);
            return FALSE;
        }
        // "This function fails with ERROR_ACCESS_DENIED if the destination
        // file already exists and has the FILE_ATTRIBUTE_HIDDEN or
        // FILE_ATTRIBUTE_READONLY attribute set" (Microsoft's CopyFile page).
        if (StoredAttributes(to) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN) ||
            simwin::LockOf(to) == simwin::FileLock::RunningImage) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        // The target is opened for writing, sharing reading and writing on
        // NT and nothing on 9x.
        const DWORD share = simwin::PlatformId() == VER_PLATFORM_WIN32_NT ? 3 : 0;
        if (DWORD sharing = simwin::SharingError(to, GENERIC_WRITE, share)) {
            SetLastError(sharing);
            return FALSE;
        }
        if (!share && simwin::IsOpenByStream(to)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
    }
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    out << in.rdbuf();
    out.close();
    // The copy takes the source's attributes, read-only among them.
    auto stored = attributes.find(AttrKey(from));
    if (stored != attributes.end())
        attributes[AttrKey(to)] = stored->second;
    else
        attributes.erase(AttrKey(to));
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
    DWORD err;
    if (simwin::Enter("CreateDirectoryA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    std::string host = Resolve(path);
    if (host.empty() || InvalidName(path)) return Refuse(path, host, ERROR_PATH_NOT_FOUND);
    if (Exists(host)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (mkdir(host.c_str(), 0755) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    simwin::NoteFolderSecurity(host, security);
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    DWORD err;
    if (simwin::Enter("RemoveDirectoryA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    std::string host = Resolve(path);
    if (InvalidName(path) || !Exists(host)) return Refuse(path, host, ERROR_PATH_NOT_FOUND);
    if (!IsDir(host)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    if (rmdir(host.c_str()) != 0) {
        SetLastError(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY
                                                           : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

// ---- reparse points, volume mount points and a file's own record ----

namespace {

/* A volume's name, "\\?\Volume{...}\", made from its root's real host path. */
std::string VolumeName(const std::string& hostRoot) {
    std::error_code ec;
    std::string real = std::filesystem::weakly_canonical(hostRoot, ec).string();
    uint32_t hash = 2166136261u;
    for (unsigned char c : real)
        hash = (hash ^ c) * 16777619u;
    char name[64];
    snprintf(name, sizeof name, "\\\\?\\Volume{%08x-0000-0000-0000-000000000000}\\",
             (unsigned)hash);
    return name;
}

/* The file's own record, not its directory entry; a link's own for a link. */
BOOL SimGetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
    DWORD err;
    if (simwin::Enter("GetFileAttributesExA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    if (level != GetFileExInfoStandard || !info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string host = Resolve(path);
    struct stat st;
    if (host.empty() || lstat(host.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = StoredAttributes(host);
    if (S_ISLNK(st.st_mode) && simwin::PlatformId() == VER_PLATFORM_WIN32_NT)
        data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (S_ISREG(st.st_mode)) {
        data->nFileSizeLow = (DWORD)st.st_size;
        data->nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    }
    return TRUE;
}

/* The volume mounted at `mountPoint` (a drive root or a mount point folder,
   with its trailing backslash). */
BOOL SimGetVolumeNameForVolumeMountPointA(LPCSTR mountPoint, LPSTR name, DWORD size) {
    DWORD err;
    if (simwin::Enter("GetVolumeNameForVolumeMountPointA", &err)) {
        SetLastError(err);
        return FALSE;
    }
    if (!mountPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Without its final backslash a name is no mount point at all; a drive
    // letter nothing defines is not found (test_GetVolumeNameForVolumeMountPointA
    // in Wine's dlls/kernel32/tests/volume.c: ERROR_INVALID_NAME for "Q:",
    // ERROR_FILE_NOT_FOUND for "Q:\\").
    std::string in = mountPoint;
    if (in.size() < 3 || in.back() != '\\') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    std::string root;
    if (in.size() == 3 && in[1] == ':') {
        auto d = drives.find((char)toupper((unsigned char)in[0]));
        if (d == drives.end()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        root = d->second.root;
    } else {
        auto m = mounts.find(Resolve(in.substr(0, in.size() - 1).c_str()));
        if (m != mounts.end()) root = m->second;
    }
    if (root.empty()) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return FALSE;
    }
    std::string volume = VolumeName(root);
    if (!name || size < volume.size() + 1) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    memcpy(name, volume.c_str(), volume.size() + 1);
    return TRUE;
}

} // namespace

/* ---- File handles ----
**
** CreateFileA opens an existing file (OPEN_EXISTING, the one disposition the
** program uses) with rights and sharing, as NTFS checks them:
**  - a new open conflicts with each open of the same file (hard links are
**    one file) whose sharing does not allow the new rights, or whose rights
**    the new sharing does not allow; only read, write and delete rights take
**    part, an open for attributes alone never conflicts. The run-time's
**    descriptors read with sharing read and write; a running program's image
**    section refuses only an open that writes its data; a file a process
**    holds without sharing allows nothing. ERROR_SHARING_VIOLATION;
**  - a file whose deletion is pending cannot be opened (ERROR_ACCESS_DENIED);
**  - a folder cannot be opened as a file, nor a read-only file for writing
**    (ERROR_ACCESS_DENIED);
**  - on NT a file or folder whose DACL denies Administrators
**    (DenyAdministrators; its owner may always set one) refuses every open
**    with ERROR_ACCESS_DENIED, the run-time's too, unless CreateFileA is
**    given FILE_FLAG_BACKUP_SEMANTICS and the token has SeBackupPrivilege
**    enabled for the reading rights asked and SeRestorePrivilege for the
**    writing ones (write, delete, attributes, owner, DACL): "the system
**    ensures that the calling process overrides file security checks when
**    the process has SE_BACKUP_NAME and SE_RESTORE_NAME privileges"
**    (Microsoft's CreateFile page, FILE_FLAG_BACKUP_SEMANTICS; "Privilege
**    Constants": SE_BACKUP_NAME grants all read access, SE_RESTORE_NAME all
**    write access, whatever the ACL). FindFirstFileA opens the folder it
**    lists for backup intent (Wine's FindFirstFileExW, dlls/kernel32/file.c,
**    passes FILE_OPEN_FOR_BACKUP_INTENT as Windows does), so such a folder
**    is listed only with SeBackupPrivilege enabled. A path through it still
**    reaches what lies below: Administrators and Everyone bypass traverse
**    checking (Microsoft's "Bypass traverse checking" policy page).
**  - on 2000 and later a file another user encrypted (EncryptForAnotherUser)
**    refuses every open that asks for its data, backup intent and privileges
**    or not, with ERROR_ACCESS_DENIED: "the application that opened the file
**    gets access to the unencrypted information, provided of course it has
**    the proper credentials to access the file and get the key necessary to
**    decrypt the file"; a backup program reads it raw (OpenEncryptedFileRaw:
**    SeBackupPrivilege suffices) (Microsoft's "Backup and Restore of
**    Encrypted Files" page). Opens for its attributes or to delete it pass.
** GetFileInformationByHandle gives the volume serial (the host device) and
** the file index (the host inode, shared by hard links) of the file itself,
** wherever its folder has been moved or whatever its path now names.
** The delete disposition (SetFileInformationByHandle with FileDispositionInfo,
** NtSetInformationFile with FileDispositionInformation) needs DELETE in the
** handle and is refused for a read-only file and a running image
** (STATUS_CANNOT_DELETE, ERROR_ACCESS_DENIED); the file keeps its name until
** its last handle closes, and then that name goes, wherever it now is.
** FileBasicInfo / FileBasicInformation needs FILE_WRITE_ATTRIBUTES and sets
** the attributes (0 leaves them).
** FileRenameInfo / FileRenameInformation (FILE_RENAME_INFO on Microsoft's
** page of that name, FILE_RENAME_INFORMATION in ntifs.h) needs DELETE in the
** handle (STATUS_ACCESS_DENIED: MS-FSA 2.1.5.15.11) and moves the open file
** itself, wherever its old name now leads: to an NT path "\??\X:\...",
** or, for a name alone without RootDirectory, to that name in the file's
** own folder. An existing target without ReplaceIfExists fails with
** STATUS_OBJECT_NAME_COLLISION and nothing moves; the handle names the file
** at its new path (test_file_rename_information in Wine's
** dlls/ntdll/tests/file.c). A missing folder is STATUS_OBJECT_PATH_NOT_FOUND,
** another volume STATUS_NOT_SAME_DEVICE; RootDirectory is not modelled. DeleteFileA and MoveFileA
*open the file for
** DELETE sharing everything (see BusyError); DeleteFileA of a file that other
** handles hold open (all sharing the delete) only marks it, as the
** disposition does (Microsoft's DeleteFile remarks; test_DeleteFileA in
** Wine's dlls/kernel32/tests/file.c).
** ConvertStringSecurityDescriptorToSecurityDescriptorA refuses a text of
** another revision (ERROR_UNKNOWN_REVISION), of parts other than O:, G:, D:
** and S: (ERROR_INVALID_PARAMETER) or with rights it cannot read
** (ERROR_INVALID_ACL); else it gives a descriptor that holds its text, LocalFree releases it, and
*CreateDirectoryA remembers
** the text for the folder it created with it.
** SetKernelObjectSecurity sets a file's owner and DACL through a handle
** that was opened with WRITE_OWNER and WRITE_DAC for them, else fails with
** ERROR_ACCESS_DENIED (Microsoft's SetKernelObjectSecurity and "Standard
** access rights" pages); the file keeps it wherever it moves.
** GetFileSecurityA gives a folder's security (SetFolderSecurity, or what
** CreateDirectoryA was given; else Everyone's full control, a drive root's on
** Windows 2000: Microsoft's KB Q148437) into the caller's buffer, or fails
** with ERROR_INSUFFICIENT_BUFFER and the length it needs ("Privilege
** Constants": reading a DACL needs READ_CONTROL, which Administrators hold on
** a root); ConvertSecurityDescriptorToStringSecurityDescriptorA gives its
** text, which LocalFree releases (revision 1 only: ERROR_UNKNOWN_REVISION).
** UuidCreate (rpcrt4, 2000 and later) gives a random UUID: "For security
** reasons, UuidCreate was modified so that it no longer uses a machine's MAC
** address to generate UUIDs" (Microsoft's UuidCreate page); RPC_S_OK.
*/

namespace {

constexpr DWORD kReadRights = GENERIC_READ | FILE_READ_DATA | 0x0020; // FILE_EXECUTE
constexpr DWORD kWriteRights = GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kAttributesOnly = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | 0x00100000;
constexpr DWORD kFileAllAccess = 0x001F01FF;
constexpr LONG kStatusInvalidInfoClass = (LONG)0xC0000003;
constexpr LONG kStatusLengthMismatch = (LONG)0xC0000004;
constexpr LONG kStatusInvalidHandle = (LONG)0xC0000008;
constexpr LONG kStatusAccessDenied = (LONG)0xC0000022;
constexpr LONG kStatusCannotDelete = (LONG)0xC0000121;
constexpr LONG kStatusCancelled = (LONG)0xC0000120;
constexpr LONG kStatusInvalidParameter = (LONG)0xC000000D;
constexpr LONG kStatusNameInvalid = (LONG)0xC0000033;
constexpr LONG kStatusNameCollision = (LONG)0xC0000035;
constexpr LONG kStatusPathNotFound = (LONG)0xC000003A;
constexpr LONG kStatusNameNotFound = (LONG)0xC0000034;
constexpr LONG kStatusSharingViolation = (LONG)0xC0000043;
constexpr LONG kStatusNotSameDevice = (LONG)0xC00000D4;

typedef std::pair<uint64_t, uint64_t> FileKey; // device, inode

bool KeyOf(const std::string& host, FileKey* key) {
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0) return false;
    *key = {(uint64_t)st.st_dev, (uint64_t)st.st_ino};
    return true;
}

/* The name an open host descriptor's file has now; empty once it is gone. */
std::string CurrentName(int hostFd) {
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", hostFd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return "";
    std::string name(target, (size_t)n);
    const std::string gone = " (deleted)";
    if (name.size() > gone.size() &&
        name.compare(name.size() - gone.size(), gone.size(), gone) == 0)
        return "";
    return name;
}

struct OpenFile;
std::vector<OpenFile*> openFiles;
/* Handles a started thread's change is pending on (blocked, not cancelled):
   closing one waits for that change, for the I/O manager runs a synchronous
   handle's calls, its close among them, one at a time. */
std::set<const void*> changePending;
int oplockWaits = 0;           // see oplocked below
std::vector<DWORD> waitLimits; // of each WaitForSingleObject
std::set<FileKey> deletePending;
/* FAT's directory entries, per folder (by its host inode): the names that
   took each entry, in order. A name keeps its entry while it is there; a
   new one takes the first entry whose name is gone. */
std::map<uint64_t, std::vector<std::string>> fatEntries;
std::set<std::string*> descriptorsAllocated; // security descriptors not yet freed
std::map<std::string, std::string> folderSecurity;
std::map<FileKey, std::string> fileSecurity;
std::set<FileKey> deniedToAdministrators;
std::set<FileKey> encryptedByOthers;
std::map<void*, std::string*> textsAllocated; // descriptor texts not yet freed

struct OpenFile : simwin::Object {
    int hostFd;
    FileKey key;
    DWORD access, share;
    bool device = false;           // a DOS device, no file
    bool noReadAttributes = false; // NtCreateFile asked for no FILE_READ_ATTRIBUTES
    OpenFile(int fd, FileKey k, DWORD a, DWORD s) : hostFd(fd), key(k), access(a), share(s) {
        openFiles.push_back(this);
    }
    ~OpenFile() override {
        if (changePending.erase(this)) oplockWaits++;
        openFiles.erase(std::find(openFiles.begin(), openFiles.end(), this));
        bool last = std::none_of(openFiles.begin(), openFiles.end(),
                                 [this](const OpenFile* f) { return f->key == key; });
        if (last && deletePending.erase(key)) {
            std::string name = CurrentName(hostFd);
            if (!name.empty()) Unlink(name);
        }
        close(hostFd);
    }
};

/* Files another program holds an oplock on (HoldOplock), and the calls that
   waited for its owner to acknowledge the break. The owner never does: a
   broken oplock stays in its break, and every later call that breaks it
   waits again. */
std::map<FileKey, simwin::Oplock> oplocked;

/* What breaks each kind, as Microsoft's file system documentation tabulates
   it ("Checking the Oplock State of an IRP_MJ_CREATE Operation", "... of an
   IRP_MJ_SET_INFORMATION Operation"); every call here is another program's
   (another oplock key), and each break named waits for the acknowledgment:
   - an open whose access holds nothing but FILE_READ_ATTRIBUTES,
     FILE_WRITE_ATTRIBUTES and SYNCHRONIZE breaks no kind;
   - any other open breaks a batch oplock;
   - a filter oplock only an open asking a "writable" access (anything but
     FILE_READ_ATTRIBUTES, FILE_WRITE_ATTRIBUTES, FILE_READ_DATA, FILE_READ_EA,
     FILE_EXECUTE, SYNCHRONIZE, READ_CONTROL) or not sharing the read (the
     page's sentence may also be read as asking both; ReactOS's
     FsRtlCheckOplock reads it as either, and so does this model);
   - a Read-Handle lease only an open that meets a sharing conflict (the
     owner's own handle is not modelled: it shares everything, so no open
     here breaks one);
   - a rename (FileRenameInformation) breaks all three;
   - the delete disposition (FileDispositionInformation, DeleteFile TRUE)
     only a Read-Handle lease;
   - a change of the file's security (SetKernelObjectSecurity) is taken to
     break a Read-Handle lease too: the tables list no such row, and the
     program must not count on one never holding it up. */
enum class Breaking { Open, Rename, Disposition, Security };
// FILE_READ_EA 0x8, FILE_EXECUTE 0x20, READ_CONTROL 0x20000, SYNCHRONIZE
constexpr DWORD kReadOnlyKinds = FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_READ_DATA |
                                 0x8 | 0x20 | 0x20000 | 0x00100000;
/* `access` with each generic right replaced by the file's own rights it
   stands for: FILE_GENERIC_READ 0x120089, FILE_GENERIC_WRITE 0x120116,
   FILE_GENERIC_EXECUTE 0x1200A0 and FILE_ALL_ACCESS ("File Security and
   Access Rights", learn.microsoft.com/windows/win32/fileio/file-security-
   and-access-rights). */
DWORD FileRights(DWORD access) {
    constexpr DWORD kGenericExecute = 0x20000000u;
    if (access & GENERIC_READ) access |= 0x00120089;
    if (access & GENERIC_WRITE) access |= 0x00120116;
    if (access & kGenericExecute) access |= 0x001200A0;
    if (access & GENERIC_ALL) access |= kFileAllAccess;
    return access & ~(DWORD)(GENERIC_READ | GENERIC_WRITE | kGenericExecute | GENERIC_ALL);
}

bool Breaks(simwin::Oplock kind, Breaking call, DWORD access, DWORD share) {
    access = FileRights(access);
    switch (call) {
    case Breaking::Open:
        if (!(access & ~kAttributesOnly)) return false;
        if (kind == simwin::Oplock::Batch) return true;
        if (kind == simwin::Oplock::Filter)
            return (access & ~kReadOnlyKinds) || !(share & FILE_SHARE_READ);
        return false;
    case Breaking::Rename:
        return true;
    default:
        return kind == simwin::Oplock::ReadHandle;
    }
}
/* A thread the program started: see simwin::OplockWaits. */
struct Thread : simwin::Object {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    bool ran = false, blocked = false, cancelled = false;
    const void* pendingOn = nullptr; // the handle's object its blocked change is on
    void Unblock() {
        cancelled = true;
        changePending.erase(pendingOn);
    }
};
Thread* running = nullptr; // the started thread whose code runs now

/* Whether `call` breaks another program's oplock on the file. The program's
   first thread waits (counted) and goes on; a started thread blocks there:
   true, and the call then changes nothing. An open never blocks here: the
   program opens on its first thread only. */
bool WaitIfBroken(const FileKey& key, Breaking call, DWORD access = 0, DWORD share = 0,
                  const void* object = nullptr) {
    auto held = oplocked.find(key);
    if (held == oplocked.end() || !Breaks(held->second, call, access, share)) return false;
    if (running && call != Breaking::Open) {
        changePending.insert(running->pendingOn = object);
        return running->blocked = true;
    }
    oplockWaits++;
    return false;
}

simwin::ResetHook resetHandles([] {
    oplocked.clear();
    oplockWaits = 0;
    waitLimits.clear();
    simwin::threadStartDelay = 0;
    changePending.clear();
    deniedToAdministrators.clear();
    encryptedByOthers.clear();
    deletePending.clear();
    fatEntries.clear();
    folderSecurity.clear();
    fileSecurity.clear();
    for (std::string* text : descriptorsAllocated)
        delete text;
    descriptorsAllocated.clear();
    for (auto& given : textsAllocated)
        delete given.second;
    textsAllocated.clear();
});

/* Whether the rights of one open are refused by the sharing of another. */
bool Refuses(DWORD access, DWORD share) {
    return ((access & kReadRights) && !(share & FILE_SHARE_READ)) ||
           ((access & kWriteRights) && !(share & FILE_SHARE_WRITE)) ||
           ((access & DELETE) && !(share & FILE_SHARE_DELETE));
}

bool Conflict(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare) {
    // An open without data access (attributes only) is not checked at all,
    // and holds no one else off, whatever its sharing (Wine's kernel32 tests,
    // file.c, is_sharing_compatible for test_file_sharing: no such access
    // counts as sharing everything).
    const DWORD data = kReadRights | kWriteRights | DELETE;
    if (!(access & data) || !(otherAccess & data)) return false;
    return Refuses(access, otherShare) || Refuses(otherAccess, share);
}

std::shared_ptr<OpenFile> FileOf(HANDLE file) { return simwin::HandleAs<OpenFile>(file); }

/* Whether a host file's current name lies on a drive SetFatVolume marked. */
bool OnFatVolume(const std::string& host) {
    std::error_code ec;
    for (auto& [letter, d] : drives) {
        if (!d.fat) continue;
        const std::string root = std::filesystem::weakly_canonical(d.root, ec).string() + "/";
        if (!ec && host.compare(0, root.size(), root) == 0) return true;
    }
    return false;
}

bool OpenBelow(const std::string& dir) {
    const std::string prefix = dir + "/";
    return std::any_of(openFiles.begin(), openFiles.end(), [&](const OpenFile* f) {
        return CurrentName(f->hostFd).compare(0, prefix.size(), prefix) == 0;
    });
}

/* Windows refuses to rename a folder while any file below it is open. Modelled
   for what a running process holds (its image, its held files) on every
   volume, and for handles of this program only on FAT: the hostile tables
   still move a folder above a file the program holds open elsewhere. */
bool HeldBelow(const std::string& dir) {
    return simwin::HoldsBelow(dir) || (OnFatVolume(dir) && OpenBelow(dir));
}

DWORD FatEntry(uint64_t folder, const std::string& dir, const std::string& name) {
    std::vector<std::string>& taken = fatEntries[folder];
    for (size_t i = 0; i < taken.size(); i++)
        if (taken[i] == name) return (DWORD)i;
    for (size_t i = 0; i < taken.size(); i++)
        if (!Exists(dir + "/" + taken[i])) {
            taken[i] = name;
            return (DWORD)i;
        }
    taken.push_back(name);
    return (DWORD)(taken.size() - 1);
}

struct RenameRecord { // FILE_RENAME_INFO, FILE_RENAME_INFORMATION
    BYTE replaceIfExists;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};

/* The rename through a handle; an NTSTATUS. */
LONG RenameOpen(const std::shared_ptr<OpenFile>& f, const void* info, ULONG size) {
    if (size < offsetof(RenameRecord, fileName) || !info) return kStatusLengthMismatch;
    if (!(f->access & DELETE)) return kStatusAccessDenied;
    const RenameRecord* r = static_cast<const RenameRecord*>(info);
    const size_t units = r->fileNameLength / sizeof(WCHAR);
    if (r->rootDirectory || units == 0 || offsetof(RenameRecord, fileName) + units * 2 > size)
        return kStatusInvalidParameter;
    std::string given;
    for (size_t i = 0; i < units; i++) {
        if (r->fileName[i] >= 0x100 || r->fileName[i] == 0) return kStatusNameInvalid;
        given += (char)r->fileName[i];
    }
    const std::string from = CurrentName(f->hostFd);
    if (from.empty()) return kStatusAccessDenied;
    std::string to;
    if (given.find('\\') == std::string::npos) {
        std::string dir, last;
        SplitLast(from, &dir, &last);
        to = dir + given;
    } else if (given.compare(0, 4, "\\??\\") == 0) {
        // An NT path takes no DOS parsing: a device's name stays the file's.
        to = simwin::FolderHostPath(simwin::Redirected(given.substr(4)));
    } else {
        return kStatusNameInvalid;
    }
    if (IsDir(from) && HeldBelow(from)) return kStatusAccessDenied;
    std::string dir, last;
    SplitLast(to, &dir, &last);
    if (to.empty() || !IsDir(dir)) return kStatusPathNotFound;
    if (Exists(to) && to != from) {
        if (!r->replaceIfExists) return kStatusNameCollision;
        return kStatusAccessDenied; // the program never asks for a replace
    }
    struct stat a, b;
    if (stat(from.c_str(), &a) != 0 || stat(dir.c_str(), &b) != 0) return kStatusPathNotFound;
    if (a.st_dev != b.st_dev) return kStatusNotSameDevice;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : kStatusAccessDenied;
}

enum class Info { Basic, Rename, Disposition };

/* What both ways of setting information do; an NTSTATUS. */
LONG SetInformation(HANDLE file, Info kind, const void* info, ULONG size) {
    auto f = FileOf(file);
    if (!f) return kStatusInvalidHandle;
    if (kind == Info::Rename && (f->access & DELETE) &&
        WaitIfBroken(f->key, Breaking::Rename, 0, 0, f.get()))
        return kStatusCancelled;
    if (kind == Info::Disposition && (f->access & DELETE) && info && size &&
        *static_cast<const uint8_t*>(info) &&
        WaitIfBroken(f->key, Breaking::Disposition, 0, 0, f.get()))
        return kStatusCancelled;
    if (kind == Info::Rename) return RenameOpen(f, info, size);
    const std::string name = CurrentName(f->hostFd);
    if (kind == Info::Basic) {
        if (size < 40 || !info) return kStatusLengthMismatch;
        if (!(f->access & FILE_WRITE_ATTRIBUTES)) return kStatusAccessDenied;
        DWORD bits;
        memcpy(&bits, static_cast<const char*>(info) + 32, sizeof bits);
        bits &= FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
        if (bits && !name.empty()) attributes[AttrKey(name)] = bits;
        return 0;
    }
    if (size < 1 || !info) return kStatusLengthMismatch;
    if (!(f->access & DELETE)) return kStatusAccessDenied;
    if (*static_cast<const uint8_t*>(info) == 0) {
        deletePending.erase(f->key);
        return 0;
    }
    if (!name.empty() && ((StoredAttributes(name) & FILE_ATTRIBUTE_READONLY) ||
                          simwin::LockOf(name) == simwin::FileLock::RunningImage))
        return kStatusCannotDelete;
    deletePending.insert(f->key);
    return 0;
}

BOOL WINAPI SimSetFileInformationByHandle(HANDLE file, int infoClass, LPVOID info, DWORD size) {
    DWORD err;
    if (simwin::Enter("SetFileInformationByHandle", &err)) {
        SetLastError(err);
        return FALSE;
    }
    // FileBasicInfo, FileRenameInfo, FileDispositionInfo
    if (infoClass != 0 && infoClass != 3 && infoClass != 4) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Info kind = infoClass == 0   ? Info::Basic
                      : infoClass == 3 ? Info::Rename
                                       : Info::Disposition;
    switch (SetInformation(file, kind, info, size)) {
    case 0:
        return TRUE;
    case kStatusNameCollision:
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    case kStatusPathNotFound:
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    case kStatusNotSameDevice:
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return FALSE;
    case kStatusInvalidHandle:
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    case kStatusLengthMismatch:
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    case kStatusCancelled:
        SetLastError(995); // ERROR_OPERATION_ABORTED
        return FALSE;
    default:
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
}

struct IoStatus {
    LONG status;
    ULONG_PTR information;
};

LONG WINAPI SimNtSetInformationFile(HANDLE file, void* ioStatus, LPVOID info, ULONG size,
                                    int infoClass) {
    DWORD err;
    if (simwin::Enter("NtSetInformationFile", &err)) return kStatusAccessDenied;
    // FileBasic-, FileRename-, FileDispositionInformation
    LONG status = infoClass == 4    ? SetInformation(file, Info::Basic, info, size)
                  : infoClass == 10 ? SetInformation(file, Info::Rename, info, size)
                  : infoClass == 13 ? SetInformation(file, Info::Disposition, info, size)
                                    : kStatusInvalidInfoClass;
    if (ioStatus && status == 0) *static_cast<IoStatus*>(ioStatus) = IoStatus{0, 0};
    return status;
}

/* Whether `text` reads as a descriptor string: parts "O:", "G:", "D:" and
   "S:" in turn; in an ACL each entry "(type;flags;rights;object;inherited;
   account)" gives its rights as a number or as two-letter names. 0 when it
   does, else the error Windows gives (test_ConvertStringSecurityDescriptor,
   dlls/advapi32/tests/security.c). */
DWORD DescriptorTextError(const std::string& text) {
    auto partAt = [&](size_t i) {
        return i + 1 < text.size() && text[i + 1] == ':' && strchr("OGDS", text[i]);
    };
    static const std::set<std::string> kRights = {
        "GA", "GR", "GW", "GX", "RC", "SD", "WD", "WO", "RP", "WP", "CC", "DC", "LC",
        "SW", "LO", "DT", "CR", "FA", "FR", "FW", "FX", "KA", "KR", "KW", "KX"};
    size_t i = 0;
    while (i < text.size()) {
        if (!partAt(i)) return ERROR_INVALID_PARAMETER;
        const bool acl = text[i] == 'D' || text[i] == 'S';
        i += 2;
        while (i < text.size() && !partAt(i)) {
            if (!acl || text[i] != '(') {
                i++;
                continue;
            }
            size_t end = text.find(')', i);
            if (end == std::string::npos) return ERROR_INVALID_ACL;
            std::vector<std::string> fields(1);
            for (size_t k = i + 1; k < end; k++)
                if (text[k] == ';')
                    fields.emplace_back();
                else
                    fields.back().push_back(text[k]);
            if (fields.size() != 6) return ERROR_INVALID_ACL;
            const std::string& rights = fields[2];
            bool named = rights.size() % 2 == 0 && rights.compare(0, 2, "0x") != 0;
            for (size_t k = 0; named && k < rights.size(); k += 2)
                named = kRights.count(rights.substr(k, 2)) != 0;
            bool number =
                rights.size() > 2 && rights.compare(0, 2, "0x") == 0 &&
                rights.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
            if (!named && !number) return ERROR_INVALID_ACL;
            i = end + 1;
        }
    }
    return 0;
}

BOOL WINAPI SimConvertStringSecurityDescriptor(LPCSTR text, DWORD revision, void** descriptor,
                                               ULONG* size) {
    DWORD err;
    if (simwin::Enter("ConvertStringSecurityDescriptorToSecurityDescriptorA", &err)) {
        SetLastError(err);
        return FALSE;
    }
    const DWORD refused = !text || !descriptor ? ERROR_INVALID_PARAMETER
                          : revision != 1      ? ERROR_UNKNOWN_REVISION
                                               : DescriptorTextError(text);
    if (refused) {
        SetLastError(refused);
        return FALSE;
    }
    std::string* held = new std::string(text);
    descriptorsAllocated.insert(held);
    *descriptor = held;
    if (size) *size = (ULONG)held->size();
    return TRUE;
}

std::string TrimmedHost(std::string host) {
    while (host.size() > 1 && host.back() == '/')
        host.pop_back();
    return host;
}

BOOL WINAPI SimGetFileSecurityA(LPCSTR path, DWORD, void* descriptor, DWORD length, DWORD* needed) {
    DWORD err;
    if (simwin::Enter("GetFileSecurityA", &err, path)) {
        SetLastError(err);
        return FALSE;
    }
    const std::string host = Resolve(path);
    if (InvalidName(path) || !Exists(host)) return Refuse(path, host);
    auto it = folderSecurity.find(TrimmedHost(host));
    const std::string text = it != folderSecurity.end() ? it->second : "O:BAD:(A;OICI;FA;;;WD)";
    const DWORD need = (DWORD)text.size() + 1;
    if (needed) *needed = need;
    if (!descriptor || length < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(descriptor, text.c_str(), need);
    return TRUE;
}

BOOL WINAPI SimSecurityDescriptorToString(void* descriptor, DWORD revision, DWORD, LPSTR* text,
                                          ULONG* length) {
    DWORD err;
    if (simwin::Enter("ConvertSecurityDescriptorToStringSecurityDescriptorA", &err)) {
        SetLastError(err);
        return FALSE;
    }
    if (!descriptor || !text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (revision != 1) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto* held = new std::string(static_cast<const char*>(descriptor));
    *text = &(*held)[0];
    textsAllocated[*text] = held;
    if (length) *length = (ULONG)held->size() + 1;
    return TRUE;
}

BOOL WINAPI SimSetKernelObjectSecurity(HANDLE object, DWORD info, void* descriptor) {
    DWORD err;
    if (simwin::Enter("SetKernelObjectSecurity", &err)) {
        SetLastError(err);
        return FALSE;
    }
    auto f = FileOf(object);
    auto* text = static_cast<std::string*>(descriptor);
    if (!f || !descriptorsAllocated.count(text)) {
        SetLastError(f ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (((info & OWNER_SECURITY_INFORMATION) && !(f->access & WRITE_OWNER)) ||
        ((info & DACL_SECURITY_INFORMATION) && !(f->access & WRITE_DAC))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // FAT keeps no security (see GetVolumeInformationA): the call succeeds
    // and nothing is kept.
    if (WaitIfBroken(f->key, Breaking::Security, 0, 0, f.get())) {
        SetLastError(995); // ERROR_OPERATION_ABORTED
        return FALSE;
    }
    if (!OnFatVolume(CurrentName(f->hostFd))) fileSecurity[f->key] = *text;
    return TRUE;
}

long WINAPI SimUuidCreate(void* uuid) {
    DWORD err;
    if (simwin::Enter("UuidCreate", &err)) return (long)err;
    static std::mt19937 random{std::random_device{}()};
    for (int i = 0; i < 16; i++)
        static_cast<unsigned char*>(uuid)[i] = (unsigned char)random();
    return 0;
}

template <class F> FARPROC AsExport(F* fn) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

} // namespace

namespace simwin {

FARPROC FilesExport(const std::string& function) {
    const bool nt = PlatformId() == VER_PLATFORM_WIN32_NT;
    const OSVERSIONINFOA v = Version();
    if (function == "GetFileAttributesExA")
        return nt || v.dwMinorVersion >= 10 ? AsExport(SimGetFileAttributesExA) : nullptr;
    if (function == "GetVolumeNameForVolumeMountPointA")
        return nt && v.dwMajorVersion >= 5 ? AsExport(SimGetVolumeNameForVolumeMountPointA)
                                           : nullptr;
    return nullptr;
}

void MountVolume(const std::string& winPath, const std::string& volumeRoot) {
    std::string dir, last;
    SplitLast(winPath, &dir, &last);
    MakeDir(dir);
    std::error_code ec;
    std::filesystem::create_directories(volumeRoot, ec);
    std::filesystem::create_directory_symlink(volumeRoot, HostPath(winPath), ec);
    mounts[HostPath(winPath)] = volumeRoot;
}

void TagReparsePoint(const std::string& winPath, DWORD tag) {
    reparseTags[HostPath(winPath)] = tag;
}

void MakeFileLink(const std::string& winPath, const std::string& target) {
    std::string dir, last;
    SplitLast(winPath, &dir, &last);
    MakeDir(dir);
    std::error_code ec;
    std::filesystem::create_symlink(HostPath(target), HostPath(winPath), ec);
}

void SetListedLength(const std::string& winPath, uint64_t length) {
    listedLengths[HostPath(winPath)] = length;
}

void AddAttributes(const std::string& winPath, DWORD bits) {
    std::string host = HostPath(winPath);
    attributes[AttrKey(host)] = StoredAttributes(host) | bits;
}

} // namespace simwin

LONG WINAPI SimNtCreateFile(HANDLE* file, DWORD access, void* attributes, void* status, void*,
                            ULONG, ULONG share, ULONG disposition, ULONG options, void*, ULONG);
ULONG WINAPI SimRtlNtStatusToDosError(LONG status);
BOOL WINAPI SimCancelSynchronousIo(HANDLE thread);

namespace simwin {

FARPROC FileExport(const std::string& library, const std::string& function) {
    if (library == "ntdll.dll" && function == "NtCreateFile") return AsExport(SimNtCreateFile);
    if (library == "ntdll.dll" && function == "RtlNtStatusToDosError")
        return AsExport(SimRtlNtStatusToDosError);
    if (library == "kernel32.dll" && function == "SetFileInformationByHandle")
        return AsExport(SimSetFileInformationByHandle);
    if (library == "kernel32.dll" && function == "CancelSynchronousIo")
        return AsExport(SimCancelSynchronousIo);
    if (library == "ntdll.dll" && function == "NtSetInformationFile")
        return AsExport(SimNtSetInformationFile);
    if (library == "advapi32.dll" &&
        function == "ConvertStringSecurityDescriptorToSecurityDescriptorA")
        return AsExport(SimConvertStringSecurityDescriptor);
    if (library == "advapi32.dll" && function == "SetKernelObjectSecurity")
        return AsExport(SimSetKernelObjectSecurity);
    if (library == "advapi32.dll" && function == "GetFileSecurityA")
        return AsExport(SimGetFileSecurityA);
    if (library == "advapi32.dll" &&
        function == "ConvertSecurityDescriptorToStringSecurityDescriptorA")
        return AsExport(SimSecurityDescriptorToString);
    if (library == "rpcrt4.dll" && function == "UuidCreate") return AsExport(SimUuidCreate);
    return nullptr;
}

bool MarkDeletedOnClose(const std::string& host) {
    FileKey key;
    if (!KeyOf(host, &key) || std::none_of(openFiles.begin(), openFiles.end(),
                                           [&](const OpenFile* f) { return f->key == key; }))
        return false;
    deletePending.insert(key);
    return true;
}

void NoteFolderSecurity(const std::string& host, const SECURITY_ATTRIBUTES* security) {
    if (!security || !security->lpSecurityDescriptor) return;
    auto* text = static_cast<std::string*>(security->lpSecurityDescriptor);
    if (descriptorsAllocated.count(text)) folderSecurity[TrimmedHost(host)] = *text;
}

void SetFolderSecurity(const std::string& winPath, const std::string& sddl) {
    folderSecurity[TrimmedHost(HostPath(winPath))] = sddl;
}

std::string FolderSecurity(const std::string& winPath) {
    auto it = folderSecurity.find(TrimmedHost(HostPath(winPath)));
    return it == folderSecurity.end() ? "" : it->second;
}

std::string FileSecurity(const std::string& winPath) {
    FileKey key;
    if (!KeyOf(HostPath(winPath), &key)) return "";
    auto it = fileSecurity.find(key);
    return it == fileSecurity.end() ? "" : it->second;
}

std::string CurrentHostName(int hostFd) { return CurrentName(hostFd); }

std::string HandleHostPath(HANDLE file) {
    auto f = FileOf(file);
    return f ? CurrentName(f->hostFd) : "";
}

HANDLE DescriptorHandle(int hostFd, bool device) {
    const int fd = dup(hostFd);
    if (fd < 0) return nullptr;
    // No key: the descriptor's own sharing stands for it (IsOpenByDescriptor).
    auto file = std::make_shared<OpenFile>(fd, FileKey{0, 0}, GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE);
    file->device = device;
    return simwin::NewHandle(file);
}

int HandleHostFd(HANDLE file) {
    auto f = FileOf(file);
    return f ? f->hostFd : -1;
}

void DenyAdministrators(const std::string& winPath) {
    FileKey key;
    if (KeyOf(HostPath(winPath), &key)) deniedToAdministrators.insert(key);
}

void EncryptForAnotherUser(const std::string& winPath) {
    FileKey key;
    if (!KeyOf(HostPath(winPath), &key)) return;
    encryptedByOthers.insert(key);
    AddAttributes(winPath, FILE_ATTRIBUTE_ENCRYPTED);
}

DWORD SecurityError(const std::string& host, DWORD access, DWORD flags) {
    FileKey key;
    if (PlatformId() != VER_PLATFORM_WIN32_NT ||
        (deniedToAdministrators.empty() && encryptedByOthers.empty()) || !KeyOf(host, &key))
        return 0;
    // EFS gives a file's data only to an opener who holds its key; backup
    // programs read another user's through the raw functions instead.
    if (encryptedByOthers.count(key) && (access & (kReadRights | kWriteRights)))
        return ERROR_ACCESS_DENIED;
    if (!deniedToAdministrators.count(key)) return 0;
    const DWORD writing = kWriteRights | DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_ATTRIBUTES;
    const bool backup = (flags & FILE_FLAG_BACKUP_SEMANTICS) &&
                        (!(access & ~writing) || PrivilegeEnabled(SE_BACKUP_NAME)) &&
                        (!(access & writing) || PrivilegeEnabled(SE_RESTORE_NAME));
    return backup ? 0 : ERROR_ACCESS_DENIED;
}

DWORD SharingError(const std::string& host, DWORD access, DWORD share) {
    if (!openFiles.empty()) {
        FileKey key;
        if (KeyOf(host, &key)) {
            if (deletePending.count(key)) return ERROR_ACCESS_DENIED;
            for (const OpenFile* f : openFiles)
                if (f->key == key && Conflict(access, share, f->access, f->share))
                    return ERROR_SHARING_VIOLATION;
        }
    }
    if (IsOpenByDescriptor(host) &&
        Conflict(access, share, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return ERROR_SHARING_VIOLATION;
    switch (LockOf(host)) {
    case FileLock::HeldExclusive:
        if (Conflict(access, share, kReadRights | kWriteRights, 0)) return ERROR_SHARING_VIOLATION;
        break;
    case FileLock::RunningImage:
        // The loader keeps no open of the file, only its image section,
        // which refuses a writer of the data and nothing else, whatever the
        // sharing asked (test_file_sharing in Wine's dlls/kernel32/tests/
        // file.c, is_sharing_map_compatible: SEC_IMAGE against FILE_WRITE_DATA).
        if (access & (GENERIC_WRITE | FILE_WRITE_DATA)) return ERROR_SHARING_VIOLATION;
        break;
    case FileLock::None:
        break;
    }
    return 0;
}

/* A handle of FILE_TYPE_CHAR on the host descriptor `fd`, or `error` where
   there is none. */
static HANDLE OpenDevice(int fd, DWORD error, DWORD access, DWORD share) {
    if (fd < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto device = std::make_shared<OpenFile>(fd, FileKey{0, 0}, access, share);
    device->device = true;
    return simwin::NewHandle(device);
}

} // namespace simwin

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
    DWORD err;
    if (simwin::Enter("CreateFileA", &err, path)) {
        SetLastError(err);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // A generic right stands for the file's specific ones in every check
    // that follows: GENERIC_ALL for FILE_ALL_ACCESS, DELETE and data access
    // with it ("File Security and Access Rights", learn.microsoft.com/
    // windows/win32/fileio/file-security-and-access-rights).
    if (access & GENERIC_ALL) access = (access & ~GENERIC_ALL) | kFileAllAccess;
    // A DOS device's name opens the device: a handle of FILE_TYPE_CHAR that
    // reads nothing (NUL's answer), whatever file of that name there is.
    if (path && simwin::NamesDevice(path)) {
        return simwin::OpenDevice(open("/dev/null", O_RDWR), ERROR_FILE_NOT_FOUND, access, share);
    }
    const std::string host = Resolve(path);
    FileKey key;
    if (InvalidName(path) || !KeyOf(host, &key)) {
        Refuse(path, host);
        return INVALID_HANDLE_VALUE;
    }
    // A name that leads to a character device (a file symbolic link to one;
    // here a host entry that is one or links to one) opens the device, as
    // Wine opens a Unix character device its drive holds (get_device_info in
    // dlls/ntdll/unix/file.c: S_ISCHR, FILE_DEVICE_NULL for /dev/null), of
    // FILE_TYPE_CHAR.
    struct stat target;
    if (stat(host.c_str(), &target) == 0 && S_ISCHR(target.st_mode)) {
        return simwin::OpenDevice(open(host.c_str(), O_RDONLY), ERROR_ACCESS_DENIED, access, share);
    }
    if (IsDir(host) ||
        ((access & kWriteRights) && (StoredAttributes(host) & FILE_ATTRIBUTE_READONLY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD refused = simwin::SecurityError(host, access, flags)) {
        SetLastError(refused);
        return INVALID_HANDLE_VALUE;
    }
    if (DWORD sharing = simwin::SharingError(host, access, share)) {
        SetLastError(sharing);
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(host.c_str(), (access & kWriteRights) ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // An open that breaks another program's oplock (see Breaks) waits until
    // its owner acknowledges the break or closes the file (Microsoft's
    // "Breaking Opportunistic Locks"). The model's owner never answers: the
    // wait is counted, then the open goes on.
    WaitIfBroken(key, Breaking::Open, access, share);
    return simwin::NewHandle(std::make_shared<OpenFile>(fd, key, access, share));
}

namespace {

struct SimUnicodeString {
    uint16_t length, maximumLength;
    WCHAR* buffer;
};
struct SimObjectAttributes {
    ULONG length;
    HANDLE rootDirectory;
    SimUnicodeString* objectName;
    ULONG attributes;
    void* securityDescriptor;
    void* securityQualityOfService;
};
struct SimIoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

} // namespace

/* NtCreateFile opening an existing file (FILE_OPEN) by its NT path
   "\??\X:\...", with no DOS parsing of its name, as CreateFileA does. With
   FILE_COMPLETE_IF_OPLOCKED an open that breaks another program's oplock does
   not wait: "Complete this operation immediately with an alternate success
   code of STATUS_OPLOCK_BREAK_IN_PROGRESS if the target file is oplocked,
   rather than blocking the caller's thread" (Microsoft's ZwCreateFile page),
   the handle open (FSCTL_OPLOCK_BREAK_NOTIFY waits on such a handle). A
   failed open answers STATUS_OBJECT_NAME_NOT_FOUND, STATUS_SHARING_VIOLATION
   or STATUS_ACCESS_DENIED. */
LONG WINAPI SimNtCreateFile(HANDLE* file, DWORD access, void* attributesIn, void* statusIn, void*,
                            ULONG, ULONG share, ULONG disposition, ULONG options, void*, ULONG) {
    DWORD err;
    if (simwin::Enter("NtCreateFile", &err)) return kStatusAccessDenied;
    auto* attributes = (SimObjectAttributes*)attributesIn;
    auto* status = (SimIoStatus*)statusIn;
    if (!file || !attributes || !attributes->objectName || !status || disposition != 1)
        return kStatusInvalidParameter;
    // An ANSI name comes back as its bytes, as the drives keep such names;
    // one beyond them (a kernel's name) as CreateFileW reads it.
    const LPCWSTR units = (LPCWSTR)attributes->objectName->buffer;
    const size_t count = attributes->objectName->length / 2;
    bool ansi = true;
    for (size_t i = 0; i < count; i++)
        ansi = ansi && units[i] < 0x100;
    std::string name = ansi ? "" : simwin::Utf8Of(units, count);
    for (size_t i = 0; ansi && i < count; i++)
        name += (char)units[i];
    if (name.compare(0, 4, "\\??\\") != 0) return kStatusNameInvalid;
    // An NT path takes no DOS parsing: a device's name stays the file's.
    const std::string rest = name.substr(4);
    const std::string path = simwin::NamesDevice(rest) ? "\\\\?\\" + rest : rest;
    const DWORD flags = (options & 0x00004000) ? FILE_FLAG_BACKUP_SEMANTICS : 0;
    const int waitsBefore = oplockWaits;
    HANDLE opened = CreateFileA(path.c_str(), access & ~(DWORD)0x00100000, share, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_SHARING_VIOLATION:
            return kStatusSharingViolation;
        case ERROR_ACCESS_DENIED:
            return kStatusAccessDenied;
        case ERROR_PATH_NOT_FOUND:
            return kStatusPathNotFound;
        case ERROR_INVALID_NAME:
            return kStatusNameInvalid;
        default:
            return kStatusNameNotFound;
        }
    }
    *file = opened;
    // NtCreateFile grants only what it is asked, where CreateFileW adds
    // SYNCHRONIZE | FILE_READ_ATTRIBUTES itself (Wine's kernelbase/file.c).
    if (!(FileRights(access) & (FILE_READ_ATTRIBUTES | 0x02000000u))) // or MAXIMUM_ALLOWED
        if (auto f = FileOf(opened)) f->noReadAttributes = true;
    status->information = 1; // FILE_OPENED
    if (oplockWaits > waitsBefore && (options & 0x00000100)) {
        oplockWaits = waitsBefore;          // no wait: the break goes on without this open
        return status->status = 0x00000108; // STATUS_OPLOCK_BREAK_IN_PROGRESS
    }
    return status->status = 0;
}

/* RtlNtStatusToDosError for the statuses NtCreateFile answers here, as
   ntdll's table maps them (Wine's dlls/ntdll/tests/error.c); any other
   ERROR_MR_MID_NOT_FOUND. */
ULONG WINAPI SimRtlNtStatusToDosError(LONG status) {
    switch (status) {
    case 0:
        return ERROR_SUCCESS;
    case kStatusSharingViolation:
        return ERROR_SHARING_VIOLATION;
    case kStatusAccessDenied:
        return ERROR_ACCESS_DENIED;
    case kStatusPathNotFound:
        return ERROR_PATH_NOT_FOUND;
    case kStatusNameInvalid:
        return ERROR_INVALID_NAME;
    case kStatusNameNotFound:
        return ERROR_FILE_NOT_FOUND;
    default:
        return 317; // ERROR_MR_MID_NOT_FOUND
    }
}

namespace simwin {

/* Batch and filter oplocks are exclusive: granted only while no other
   handle to the file is open ("Types of Opportunistic Locks": the server
   refuses one when another client has opened the file; FsRtlOplockFsctrl
   takes the count of user handles for an exclusive request, and ReactOS's
   grants one only at a count of 1, the requester's own). A Read-Handle lease
   is shareable, granted with other handles open, from Windows 7 on. */
bool HoldOplock(const std::string& winPath, Oplock kind) {
    FileKey key;
    if (!KeyOf(HostPath(winPath), &key)) return false;
    const DWORD version = MajorVersion() * 100 + MinorVersion();
    const bool exists =
        PlatformId() == VER_PLATFORM_WIN32_NT && version >= (kind == Oplock::ReadHandle ? 601u
                                                             : kind == Oplock::Filter   ? 500u
                                                                                        : 0u);
    const bool opened = std::any_of(openFiles.begin(), openFiles.end(),
                                    [&](const OpenFile* f) { return f->key == key; });
    if (!exists || (kind != Oplock::ReadHandle && opened)) return false;
    oplocked[key] = kind;
    return true;
}

int OplockWaits() { return oplockWaits; }
DWORD threadStartDelay = 0;
const std::vector<DWORD>& WaitLimits() { return waitLimits; }

} // namespace simwin

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD id) {
    if (simwin::Fails("CreateThread")) return nullptr;
    auto thread = std::make_shared<Thread>();
    thread->start = start, thread->parameter = parameter;
    if (id) *id = 1;
    return simwin::NewHandle(thread);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    if (simwin::Fails("WaitForSingleObject")) return 0xFFFFFFFFu; // WAIT_FAILED
    waitLimits.push_back(milliseconds);
    auto thread = simwin::HandleAs<Thread>(object);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0xFFFFFFFFu;
    }
    // A thread the busy machine has not run yet stays unstarted through a
    // shorter wait.
    if (!thread->ran && milliseconds < simwin::threadStartDelay) return WAIT_TIMEOUT;
    if (!thread->ran) {
        thread->ran = true;
        Thread* outer = running;
        running = thread.get();
        thread->start(thread->parameter);
        running = outer;
    }
    if (thread->blocked && !thread->cancelled) {
        if (milliseconds != INFINITE) return WAIT_TIMEOUT;
        oplockWaits++; // the owner never answers: counted, then the call fails as cancelled
        thread->Unblock();
    }
    return WAIT_OBJECT_0;
}

/* Marks the blocked call of a started thread cancelled: it completes with
   STATUS_CANCELLED (Microsoft's CancelSynchronousIo page: the caller then
   waits for it; ERROR_NOT_FOUND when nothing is pending). */
BOOL WINAPI SimCancelSynchronousIo(HANDLE object) {
    if (simwin::Fails("CancelSynchronousIo")) return FALSE;
    auto thread = simwin::HandleAs<Thread>(object);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!thread->blocked || thread->cancelled) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    thread->Unblock();
    return TRUE;
}

DWORD GetFileType(HANDLE file) {
    DWORD err;
    if (simwin::Enter("GetFileType", &err)) {
        SetLastError(err);
        return FILE_TYPE_UNKNOWN;
    }
    auto f = FileOf(file);
    if (!f) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    return f->device ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    DWORD err;
    if (simwin::Enter("GetFileInformationByHandle", &err)) {
        SetLastError(err);
        return FALSE;
    }
    auto f = FileOf(file);
    struct stat st;
    // FileBasicInformation needs FILE_READ_ATTRIBUTES (NtQueryInformationFile).
    if (f && f->noReadAttributes) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!f || !info || f->device || fstat(f->hostFd, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    memset(info, 0, sizeof *info);
    const std::string name = CurrentName(f->hostFd);
    // A named stream (the host entry "x:s") is part of its file's record:
    // the file's serial, index, links and attributes, the stream's own size
    // ("File Streams (Local File Systems)": each stream has its own sizes;
    // MS-FSA 2.1.1: a Stream belongs to a File, whose FileId it reports).
    struct stat record = st;
    const size_t slash = name.rfind('/'), colon = name.find(':', slash + 1);
    const std::string owner =
        slash != std::string::npos && colon != std::string::npos ? name.substr(0, colon) : name;
    if (owner != name && stat(owner.c_str(), &record) != 0) record = st;
    info->dwFileAttributes = name.empty() ? FILE_ATTRIBUTE_ARCHIVE : StoredAttributes(owner);
    info->dwVolumeSerialNumber = (DWORD)((uint64_t)record.st_dev ^ ((uint64_t)record.st_dev >> 32));
    info->nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    info->nFileSizeLow = (DWORD)st.st_size;
    info->nNumberOfLinks = (DWORD)record.st_nlink;
    info->nFileIndexHigh = (DWORD)((uint64_t)record.st_ino >> 32);
    info->nFileIndexLow = (DWORD)record.st_ino;
    // FAT: the folder's first cluster and the entry's place in it.
    struct stat parent;
    const std::filesystem::path where(name);
    if (OnFatVolume(name) && stat(where.parent_path().c_str(), &parent) == 0) {
        info->nFileIndexHigh = (DWORD)parent.st_ino;
        info->nFileIndexLow = FatEntry((uint64_t)parent.st_ino, where.parent_path().string(),
                                       where.filename().string());
    }
    return TRUE;
}

void* LocalFree(void* memory) {
    auto given = textsAllocated.find(memory);
    if (given != textsAllocated.end()) {
        delete given->second;
        textsAllocated.erase(given);
        return nullptr;
    }
    auto* text = static_cast<std::string*>(memory);
    if (memory && descriptorsAllocated.erase(text)) {
        delete text;
        return nullptr;
    }
    return memory;
}
