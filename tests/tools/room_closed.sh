#!/bin/bash
# The room stays closed: outside actions/, no code of the program names an
# operation that changes the system. Prints each use found and fails.
# The code is read by code_text.py (shared with proofs_closed.sh): comments
# set aside, raw strings and character literals read whole before any
# token, adjacent string literals joined (so a function resolved by a name
# written in pieces is seen too); it is read as tokens across lines, so a
# call split over lines counts. Any mention of a listed name counts, not
# only a call: its address taken, a function pointer set to it, the name in
# parentheses, a macro that turns it into a string (A, W or none; a member
# of the same name, as in style.remove, is not the run-time's). A few plain
# words (system, permissions, rename...) may name the program's own
# parameters and variables in a file that declares them so; called, or
# with :: or & before them, they are refused. A function is found by name
# only through platform/resolve.h, as Resolve<Type>(module, "Name") with
# one of the reading functions listed below; resolve.h itself holds its
# one GetProcAddress. The run-time's opens (fopen, _open and kin) are
# named only in a direct call with a reading mode or flags, its own second
# argument; the library's file buffer and a stream mode cast from a number
# are refused. Calls that read in one form alone (DeviceIoControl by a
# reading code, DuplicateHandle not closing its owner's handle,
# SystemParametersInfo reading, _lopen for reading) are checked in it; a
# CreateFile's access is names joined by |. The C run-time's remove is
# refused, the algorithm std::remove(first, last, value) is told from it by
# its three arguments (none holding a <). C++ streams that write (ofstream,
# fstream, ios::out/app/trunc) and std::filesystem are refused.
# Messages: a send or post outside the room carries one of the messages the
# program sends its own windows today (listed below), by name, never a
# number or a variable (its own constants are numbers that are no closing
# message's, however initialised); the window code's wrapper (Window::Send)
# is checked at each caller. WM_CLOSE, WM_QUIT, WM_ENDSESSION,
# WM_QUERYENDSESSION, WM_SYSCOMMAND, SC_CLOSE, WM_DESTROY and WM_NCDESTROY
# appear only as a case or in a comparison. PostThreadMessage,
# BroadcastSystemMessage and EndTask are refused whatever they carry. A
# file's disposition read as a value (compared, or a case) is no open. An
# #undef undoes only the file's own macro, never a message or a checked
# name. The one shell start is pinned by its whole argument list.
# What the checks read is what the compiler reads: each #include names a
# header (.h, .hpp) of the program's folders (resources/ only for its two
# headers, read here too), and nothing reaches the linker by a symbol's
# own name (asm labels, __imp_ slots, aliases, weak references).
# What a look at tokens cannot see, so the build's import check and the
# review must: a name built by the preprocessor's token pasting
# (Delete ## FileA) and called directly, a call through memory the program
# writes itself, a CreateFile pointer copied into a name of another type,
# an access mask held in a variable set from a number, a listed message
# sent to another program's window, a plain word used through a pointer
# set in a file that also declares a variable of that name, code or
# headers generated at build time, and link-time tricks made outside the
# sources (linker options, .def files, objects or libraries added to the
# build). A developer set on getting past a check on tokens can; these
# checks keep the next honest change from doing it unawares.
root=${1:-$(dirname "$0")/../..}
exec python3 - "$root" "$(dirname "$0")" <<'PY'
import os, re, sys

root = sys.argv[1]
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, sys.argv[2])
from code_text import code_of
# The program's code: every folder but the room, the model of Windows, the
# tests, the tools and what is not code.
outside = {"actions", "simwin", "tests", "tools", "resources", "scripts", "docs", "cmake", "build", "dist"}
names = r"""TerminateProcess ControlService ControlServiceEx DeleteService ChangeServiceConfig
ChangeServiceConfig2 DeleteFile MoveFile MoveFileEx MoveFileWithProgress MoveFileTransacted CopyFile
CopyFileEx CopyFile2 ReplaceFile SetFileAttributes CreateDirectory CreateDirectoryEx RemoveDirectory
RegDeleteKey RegDeleteKeyEx RegDeleteValue RegDeleteTree SHDeleteKey SHDeleteValue RegSetValue
RegSetValueEx RegSetKeyValue RegCreateKey RegCreateKeyEx RegRestoreKey RegReplaceKey RegSaveKey
SetFileInformationByHandle NtSetInformationFile ZwSetInformationFile SetKernelObjectSecurity
SetFileSecurity SetNamedSecurityInfo SetSecurityInfo ExitWindowsEx InitiateSystemShutdown
InitiateSystemShutdownEx InitiateShutdown NtShutdownSystem WritePrivateProfileString
WritePrivateProfileSection WriteProfileString WriteFile WriteFileEx SetEndOfFile
SHFileOperation DebugActiveProcess CreateRemoteThread WriteProcessMemory NtTerminateProcess
_write _unlink unlink _rmdir _mkdir _chmod rename ExitWindows system _system _wsystem
_popen _wpopen WinExec ShellExecute ShellExecuteEx CreateProcess CreateProcessAsUser
CreateProcessWithLogon CreateProcessWithToken _wremove _wrename _wunlink _wrmdir _wmkdir _wchmod
NtDeleteFile ZwDeleteFile NtDeleteKey ZwDeleteKey NtDeleteValueKey ZwDeleteValueKey NtSetValueKey
ZwSetValueKey NtRenameKey RegRenameKey NtSetInformationKey ZwSetInformationKey ZwShutdownSystem
ZwTerminateProcess MoveFileExW SetFileShortName CreateHardLink CreateSymbolicLink StartService
CreateService RegDeleteKeyValue TerminateThread NtTerminateThread ZwTerminateThread TerminateJobObject
EndTask SuspendThread NtSuspendProcess ZwSuspendProcess SetFileTime SetFileValidData EncryptFile
DecryptFile DefineDosDevice SetVolumeMountPoint DeleteVolumeMountPoint SetVolumeLabel RegLoadKey
RegUnLoadKey RegSetKeySecurity RegCopyTree SHSetValue SHRegSetUSValue SHCopyKey SHDeleteEmptyKey
WriteProfileSection SetServiceObjectSecurity NtSetSecurityObject ZwSetSecurityObject OpenFile
_lcreat _lwrite _hwrite CreateFile2 NtCreateFile ZwCreateFile NtOpenFile ZwOpenFile rmdir mkdir creat
_creat _wcreat chmod popen _chsize _chsize_s truncate ftruncate _wfopen _wfopen_s freopen freopen_s _wfreopen
_wfreopen_s _fsopen _wfsopen fdopen _fdopen _wfdopen LZCopy CopyLZFile LZOpenFile WritePrivateProfileStruct
PostThreadMessage BroadcastSystemMessage BroadcastSystemMessageEx remove_all copy_file copy_symlink
create_directory create_directories create_directory_symlink create_hard_link create_symlink resize_file
permissions LoadModule DebugBreakProcess AssignProcessToJobObject VirtualFreeEx SetThreadContext
QueueUserAPC keybd_event mouse_event SendInput IFileOperation IPersistFile CLSID_FileOperation
DUPLICATE_CLOSE_SOURCE SPIF_UPDATEINIFILE SPIF_SENDCHANGE SPIF_SENDWININICHANGE
JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE LdrGetProcedureAddress LdrLoadDll""".split()
# Plain lower-case words the program may use as its own names (a parameter
# or a variable called system): refused where called, their address taken
# or named by ::, or where the file declares no name of its own so spelled.
words = set("system permissions rename truncate mkdir rmdir creat chmod unlink popen".split())
word_own = r"\b(?!(?:return|case|throw|else|do|new|delete|sizeof|goto|typedef|using|operator)\b)\w+[\s*&]+%s\s*[,;=)\[{]"
alternatives = "|".join(re.escape(n) for n in names if n not in words)
# Families named by their stems: whatever follows (Ex, A, W, a variant).
families = r"SHEmptyRecycleBin|SHCreateDirectory|GetTempFileName|RegSaveKey|SHRegDelete|CreateRemoteThread"
# Any mention, or named whole by a string (a function resolved at run
# time); the _spawn and _exec families by their prefixes. A member of the
# same name (style.remove) is not the run-time's.
use = re.compile(r"(?<![\w.>])(?:(?:%s)(?:A|W)?|_w?(?:spawn|exec)\w*|_?w?(?:spawn|exec)[lv]p?e?)\b|"
                 r"\"(?:%s)(?:A|W)?\"|\b\w*Transacted\w*\b|\b(?:%s)\w*" %
                 (alternatives, "|".join(re.escape(n) for n in names if not n[0].islower()), families))
# A file opened so that it may be written or made.
opens = re.compile(r"\b(?:CREATE_ALWAYS|CREATE_NEW|OPEN_ALWAYS|TRUNCATE_EXISTING|(?:FILE_)?GENERIC_WRITE|"
                   r"GENERIC_ALL|FILE_ALL_ACCESS|FILE_WRITE_DATA|FILE_APPEND_DATA|FILE_WRITE_EA|"
                   r"FILE_DELETE_CHILD|FILE_ADD_FILE|FILE_ADD_SUBDIRECTORY|WRITE_DAC|WRITE_OWNER|"
                   r"STANDARD_RIGHTS_(?:WRITE|ALL|REQUIRED)|SPECIFIC_RIGHTS_ALL|MAXIMUM_ACCESS|MAXIMUM_ALLOWED|"
                   r"FILE_MAP_WRITE|FILE_MAP_ALL_ACCESS|"
                   r"FILE_FLAG_DELETE_ON_CLOSE|FILE_FLAG_POSIX_SEMANTICS|KEY_WRITE|KEY_ALL_ACCESS|"
                   r"KEY_SET_VALUE|KEY_CREATE_SUB_KEY|KEY_CREATE_LINK|OF_(?:DELETE|CREATE|WRITE|"
                   r"READWRITE)|_O_(?:WRONLY|RDWR|CREAT|APPEND|TRUNC|TEMPORARY))\b")
# A file opened by CreateFile, by name or through a pointer of a CreateFile
# type (each such pointer comes from Resolve): the disposition and the
# flags are the reading ones, spelled by name, and the access holds no
# number but 0 (a number may say FILE_FLAG_DELETE_ON_CLOSE, CREATE_ALWAYS or
# GENERIC_WRITE where no name does).
createfile = r"(?<![\w.>\"])CreateFile(?:A|W)?"
# Its name as a string only where Resolve gives it a CreateFile type.
createfile_name = re.compile(r"\"CreateFile\w*\"")
resolved_as_createfile = re.compile(r"Resolve\s*<\s*CreateFile\w*Fn\s*>\s*\([^()]*$")
createfile_pointer = re.compile(r"\bCreateFile\w*Fn\s+(\w+)\s*[;,=)]")
read_disposition = re.compile(r"\s*OPEN_EXISTING\s*")
read_open_flags = re.compile(r"\s*(?:0|NULL|(?:FILE_FLAG_(?:BACKUP_SEMANTICS|OPEN_REPARSE_POINT|"
                             r"SEQUENTIAL_SCAN|RANDOM_ACCESS)|FILE_ATTRIBUTE_NORMAL)"
                             r"(?:\s*\|\s*(?:FILE_FLAG_(?:BACKUP_SEMANTICS|OPEN_REPARSE_POINT|"
                             r"SEQUENTIAL_SCAN|RANDOM_ACCESS)|FILE_ATTRIBUTE_NORMAL))*)\s*")
numeral = re.compile(r"(?<![\w.])(?:0[xX][0-9a-fA-F]*[1-9a-fA-F][0-9a-fA-F]*|0*[1-9]\d*)\w*")
# A descriptor opened by the run-time: its flags are read-only ones, spelled
# by name (a number may say anything).
read_flags = re.compile(r"\s*_?O_(?:RDONLY|BINARY|TEXT|SEQUENTIAL|RANDOM|NOINHERIT)"
                        r"(?:\s*\|\s*_?O_(?:RDONLY|BINARY|TEXT|SEQUENTIAL|RANDOM|NOINHERIT))*\s*")
# The C run-time's remove deletes a file; the algorithm of the same name
# (first, last, value) takes three arguments, the file's one: a remove
# with three arguments at its own level is the algorithm, any other mention
# of the name is refused.
remove = re.compile(r"(?<![\w.>\"])remove\b(?!\")")
# Files opened for writing through the C++ library, and std::filesystem
# (whose changing operations share names with reading ones) anywhere.
streams = re.compile(r"\b(?:basic_)?w?o?fstream\b|\bios(?:_base)?\s*::\s*(?:out|app|trunc)\b|"
                     r"\bfilesystem\b")
include_line = re.compile(r"^[ \t]*#[ \t]*include\b[^\n]*", re.M)
# A file's disposition read as a value (compared, or a case) opens nothing:
# a CreateFile's disposition must be OPEN_EXISTING spelled so.
disposition_read = re.compile(r"(?:[=!]=\s*|\bcase\s+)(?:CREATE_ALWAYS|CREATE_NEW|OPEN_ALWAYS|"
                              r"TRUNCATE_EXISTING)\b|\b(?:CREATE_ALWAYS|CREATE_NEW|OPEN_ALWAYS|"
                              r"TRUNCATE_EXISTING)\s*[=!]=")
# Messages that end or shut a program appear only as a case or in a
# comparison. A message sent or posted is one sent today, by name; one the
# program defines is a number that is no closing one, or WM_USER or WM_APP
# plus one. The window's own wrapper (Window::Send in ui/framework.h)
# passes its caller's message on; each caller of .Send/->Send is checked
# in its place the same way. What these see not: the window a message goes
# to (a harmless message to another program's window passes).
closing = r"WM_(?:CLOSE|QUIT|ENDSESSION|QUERYENDSESSION|SYSCOMMAND|DESTROY|NCDESTROY)|SC_CLOSE"
closing_numbers = {0x10, 0x12, 0x11, 0x16, 0x112, 0x02, 0x82, 0xF060}
closing_use = re.compile(r"\b(?:%s)\b" % closing)
closing_read = re.compile(r"(?:[=!]=\s*|\bcase\s+)(?:%s)\b|\b(?:%s)\s*[=!]=" % (closing, closing))
senders = re.compile(r"(?<![\w])(?:PostMessage|SendMessage|SendNotifyMessage|SendMessageTimeout|"
                     r"SendMessageCallback|(SendDlgItemMessage))(?:A|W)?\b|(?<=[.>:])Send\b")
constant = re.compile(r"\s*([A-Z][A-Z0-9]*_[A-Z0-9_]+)\s*")
defined_constant = re.compile(r"#[ \t]*define[ \t]+([A-Z][A-Z0-9]*_[A-Z0-9_]+)\b([^\n]*)|"
                              r"\b([A-Z][A-Z0-9]*_[A-Z0-9_]+)\s*(?:=(?!=)|\{)\s*([^,;}\n]*)|"
                              r"\b(?!(?:return|case|throw|else|do)\b)[\w:>*&]+\s+"
                              r"([A-Z][A-Z0-9]*_[A-Z0-9_]+)\s*\(\s*([^;)\n]*)")
# The messages sent or posted outside the room today, to the program's own
# windows: its two notifications, and its dialog's and list's settings.
sent_today = set("""WM_SCAN_LOGLINE WM_SCAN_STATUS WM_GETFONT WM_SETFONT WM_SETICON WM_NCLBUTTONDOWN
LB_ADDSTRING LB_GETCOUNT LB_GETHORIZONTALEXTENT LB_GETTEXT LB_GETTEXTLEN LB_RESETCONTENT
LB_SETCURSEL LB_SETHORIZONTALEXTENT""".split())
own_message = re.compile(r"\s*\(?\s*(?:(0[xX][0-9a-fA-F]+|\d+)[uUlL]*|WM_(?:USER|APP)\s*\+\s*\d+)\s*\)?\s*")
# Functions found at run time outside the room: these reading ones, by a
# literal name.
resolvable = set("""GetFileAttributesExA GetVolumeNameForVolumeMountPointA QueryFullProcessImageNameA
QueryFullProcessImageNameW GetProcessImageFileNameA GetProcessImageFileNameW QueryDosDeviceA
GetModuleFileNameExA VirtualQueryEx GetMappedFileNameA GetMappedFileNameW CreateFileW EnumProcesses
CreateToolhelp32Snapshot Process32First Process32Next QueryServiceConfigA IsWow64Process
Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection""".split())
getproc = re.compile(r"\bGetProcAddress\b")
# platform/resolve.h's own: its one GetProcAddress, its two definitions of
# Resolve and the one that loads the library first.
resolve_h_getproc = 1
resolve_h_own = re.compile(r"\bFn\s+Resolve\s*\(|Resolve<Fn>\(LoadLibraryA\(library\), name\)")
resolve_h_owns = 3
# A lookup: Resolve<Type>(module or "library", "Name"), nothing else.
resolve = re.compile(r"\bResolve\b")
resolve_call = re.compile(r"Resolve\s*<\s*\w+\s*>(?=\s*\()")
module_arg = re.compile(r"\s*(?:\"\w*\"|\w+)\s*")
# The run-time's opens: named only in a direct call; fopen's mode its own
# second argument, a reading literal; a descriptor's flags reading names.
# The library's file buffer and a stream's mode made of a number: never.
fopen = re.compile(r"(?<![\w.>\"])(?:_?[tw]?fopen(?:_s|64)?|_?[tw]?s?open(?:_s|64)?|w?filebuf|basic_filebuf|openmode|"
                   r"_S_(?:out|app|trunc|in|bin|ate))\b(?!\")")
fopen_mode = re.compile(r"\s*\"r[bt]?\"\s*")
# Other calls allowed in one reading form: a device's control by a code
# that reads, a handle duplicated without closing its owner's, the system's
# settings read, an old-style open for reading.
io_reads = re.compile(r"\s*(?:FSCTL_GET_REPARSE_POINT|IOCTL_STORAGE_GET_DEVICE_NUMBER|"
                      r"IOCTL_DISK_GET_DRIVE_GEOMETRY|IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS)\s*")
reading_call = {"DeviceIoControl": (8, 1, io_reads),
                "DuplicateHandle": (7, 6, re.compile(r"\s*(?:0|DUPLICATE_SAME_ACCESS)\s*")),
                "_lopen": (2, 1, re.compile(r"\s*(?:OF_READ|OF_SHARE_\w+)(?:\s*\|\s*(?:OF_READ|OF_SHARE_\w+))*\s*"))}
reading_callee = re.compile(r"(?<![\w.>])(DeviceIoControl|DuplicateHandle|_lopen|SystemParametersInfo(?:A|W)?)\b")
# What no code outside the room needs: code in assembly, a symbol named
# for the linker (an import's slot, __imp_/_imp__, under another name),
# an alias or weak reference to another symbol.
linker = re.compile(r"\b(?:asm|_asm|__asm|__asm__|redefine_extname)\b|#[ \t]*pragma[ \t]+weak\b|"
                    r"\b_*(?:alias|weakref|ifunc)_*\s*\(")
# Includes: of a header (.h, .hpp) in the program's own folders, named by a
# literal; the model of Windows only through platform/win32.h, and of
# resources/ only the two headers the window's code reads (read here as
# the program's code).
resource_headers = [os.path.join("resources", h) for h in ("resource_ids.h", "version.h")]
include_any = re.compile(r"^[ \t]*#[ \t]*(?:include|include_next|import)\b[ \t]*([^\n]*)", re.M)
include_named = re.compile(r"\"([^\"\n]+)\"|<([^>\n]+)>")
# An #undef: only of the file's own macro, never of a message or a name
# the room's checks read.
undef = re.compile(r"^[ \t]*#[ \t]*undef[ \t]+(\w+)", re.M)
own_macro = r"^[ \t]*#[ \t]*define[ \t]+%s\b"
# The one shell start: the maker's page, by its address.
maker_page = 'ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL)'


def arguments(code, at):
    """The arguments of the call whose "(" follows `at` (blanks between), split
    at the commas of its own level; None when there is no such call."""
    m = re.compile(r"\s*\(").match(code, at)
    if not m:
        return None
    depth, parts, start = 0, [], m.end()
    for i in range(m.end() - 1, len(code)):
        c = code[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                parts.append(code[start:i])
                return parts
        elif c == "," and depth == 1:
            parts.append(code[start:i])
            start = i + 1
    return None

def program_files():
    for h in resource_headers:
        if os.path.isfile(os.path.join(root, h)):
            yield os.path.join(root, h)
    for top in sorted(os.listdir(root)):
        if top in outside or top.startswith(".") or not os.path.isdir(os.path.join(root, top)):
            continue
        for folder, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if re.search(r"\.(c|cc|cpp|cxx|h|hh|hpp|inl|ipp)$", f):
                    yield os.path.join(folder, f)

# The names that hold a CreateFile, and the message constants defined,
# wherever declared.
pointers, constants = set(), {}
for path in program_files():
    text = code_of(open(path, encoding="latin-1").read())
    pointers.update(createfile_pointer.findall(text))
    for m in defined_constant.finditer(text):
        constants.setdefault(m.group(1) or m.group(3) or m.group(5), []).append(
            m.group(2) or m.group(4) or m.group(6) or "")

def closes(message):
    """Whether a message argument may end or shut a program: any but those
    the program sends today."""
    m = constant.fullmatch(message)
    if not m or m.group(1) not in sent_today:
        return True
    for body in constants.get(m.group(1), []):
        own = own_message.fullmatch(body)
        if not own or (own.group(1) and int(own.group(1), 0) in closing_numbers):
            return True
    return False
opener = re.compile(r"%s\b|(?<![\w])(?:%s)\b(?=\s*\()" %
                    (createfile, "|".join(map(re.escape, sorted(pointers))) or "(?!)"))

def check(path, rel, raw, found):
    """Appends to found each use in the file at path (rel to the root)."""
    code = code_of(raw)
    line_of = lambda at: code.count("\n", 0, at) + 1
    bad = []
    # The program never includes the tests' own code (their worlds
    # make proofs for the tests).
    for m in re.finditer(r"#\s*include\s*[<\"](?:\.\./)*tests/", raw):
        found.append("%s:%d: %s" % (rel, raw.count("\n", 0, m.start()) + 1,
                                    raw[m.start():raw.find("\n", m.start())].strip()))
    includes = [m.span() for m in include_line.finditer(code)]
    reads = [m.span() for m in disposition_read.finditer(code)]
    for pattern in (use, opens):
        for m in pattern.finditer(code):
            if pattern is opens and any(a <= m.start() < b for a, b in reads):
                continue
            bad.append(m.start())
    for m in streams.finditer(code):
        if not any(a <= m.start() < b for a, b in includes) or m.group(0) == "filesystem":
            bad.append(m.start())
    for m in remove.finditer(code):
        args = arguments(code, m.end())
        # A < among them may open a template's arguments, whose
        # commas are not the call's.
        if args is None or len(args) != 3 or any("<" in x for x in args):
            bad.append(m.start())
    for m in closing_use.finditer(code):
        if not any(r.start() <= m.start() < r.end() for r in closing_read.finditer(code)):
            bad.append(m.start())
    for m in senders.finditer(code):
        args = arguments(code, m.end())
        at = 2 if m.group(1) else 0 if m.group(0) == "Send" else 1
        if (rel == os.path.join("ui", "framework.h") and
                code.startswith("SendMessageA(hwnd_, message, wParam, lParam)", m.start())):
            continue
        if args is None or len(args) <= at or closes(args[at]):
            bad.append(m.start())
    for m in opener.finditer(code):
        args = arguments(code, m.end())
        if (args is None or len(args) != 7 or numeral.search(args[1]) or
                re.search(r"<<|>>|[-+*~^&!?]|\b(?:true|false)\b", args[1]) or
                not read_disposition.fullmatch(args[4]) or
                not read_open_flags.fullmatch(args[5])):
            bad.append(m.start())
    for m in createfile_name.finditer(code):
        if not resolved_as_createfile.search(code, max(0, m.start() - 200), m.start()):
            bad.append(m.start())
    for m in fopen.finditer(code):
        args = arguments(code, m.end())
        name = m.group(0)
        if args is None:  # named, not called: its address taken
            bad.append(m.start())
        elif name == "fopen":
            if len(args) != 2 or not fopen_mode.fullmatch(args[1]):
                bad.append(m.start())
        elif not re.fullmatch(r"_?w?s?open(?:_s)?", name) or len(args) < 2 or \
                not read_flags.fullmatch(args[1]):
            bad.append(m.start())
    for m in reading_callee.finditer(code):
        args = arguments(code, m.end())
        if m.group(1).startswith("SystemParametersInfo"):
            # Read only: a SPI_GET code, and no update of the profile.
            ok = (args is not None and len(args) == 4 and re.fullmatch(r"\s*SPI_GET\w+\s*", args[0])
                  and re.fullmatch(r"\s*0\s*", args[3]))
        else:
            count, at, form = reading_call[m.group(1)]
            ok = args is not None and len(args) == count and form.fullmatch(args[at])
        if not ok:
            bad.append(m.start())
    for m in linker.finditer(code):
        bad.append(m.start())
    for m in re.finditer(r"_imp_", raw):
        found.append("%s:%d: a symbol named for the linker" % (rel, raw.count("\n", 0, m.start()) + 1))
    for word in words:
        own = re.search(word_own % re.escape(word), code)
        for m in re.finditer(r"(?<![\w.>\"])%s\b(?!\")" % re.escape(word), code):
            before, after = code[:m.start()].rstrip()[-1:], code[m.end():].lstrip()[:1]
            if not own or after == "(" or before in ("&", ":") or (before, after) == ("(", ")"):
                bad.append(m.start())
    # Each include names one of the program's headers by a literal.
    spliced = re.sub(r"\\[ \t]*\r?\n", "", raw)
    for m in include_any.finditer(spliced):
        target = include_named.match(m.group(1))
        where = [os.path.dirname(path)] if target and target.group(1) else []
        name = target and (target.group(1) or target.group(2))
        at = [os.path.join(d, name) for d in where + [root]] if name else []
        at = next((os.path.realpath(t) for t in at if os.path.isfile(t)), None)
        inside = at and os.path.relpath(at, os.path.realpath(root))
        if (not target or (target.group(1) and not at) or
                (inside and (inside.startswith("..") or not re.search(r"\.(h|hpp)$", inside) or
                              (inside.split(os.sep)[0] in outside - {"actions"} and
                              inside not in resource_headers and not
                              (inside == os.path.join("simwin", "simwin.h") and
                               rel == os.path.join("platform", "win32.h")))))):
            found.append("%s:%d: %s" % (rel, spliced.count("\n", 0, m.start()) + 1, m.group(0).strip()))
    for m in undef.finditer(code):
        name = m.group(1)
        if (not re.search(own_macro % name, code, re.M) or name in sent_today or
                use.fullmatch(name) or opens.fullmatch(name) or closing_use.fullmatch(name) or
                name in words or name in reading_call or
                re.fullmatch(r"(?:CreateFile|GetProcAddress|Resolve|fopen|SystemParametersInfo)\w*", name)):
            bad.append(m.start())
    if rel != os.path.join("platform", "resolve.h"):
        bad += [m.start() for m in getproc.finditer(code)]
    elif len(getproc.findall(code)) != resolve_h_getproc:
        bad += [m.start() for m in getproc.finditer(code)]
    own = [m.start() + m.group(0).index("Resolve") for m in resolve_h_own.finditer(code)] \
        if rel == os.path.join("platform", "resolve.h") else []
    if len(own) != resolve_h_owns:
        own = []
    # The name looked up is a literal, never one built at run time.
    for m in resolve.finditer(code):
        call = resolve_call.match(code, m.start())
        args = arguments(code, call.end()) if call else None
        name = re.fullmatch(r"\s*\"(\w+)\"\s*", args[-1]) if args and len(args) == 2 else None
        if m.start() in own:
            continue
        if not name or name.group(1) not in resolvable or not module_arg.fullmatch(args[0]):
            bad.append(m.start())
    # The program's maker's page, opened in the browser: the one
    # shell start the program makes, its arguments as they are.
    if rel == os.path.join("ui", "main_dialog.cpp"):
        shell = [at for at in bad if code.startswith(maker_page, at)]
        if len(shell) == 1:
            bad.remove(shell[0])
    lines = code.split("\n")
    for number in sorted({line_of(at) for at in bad}):
        found.append("%s:%d: %s" % (rel, number, lines[number - 1].strip()))

# The checks themselves, on forms that got past them once (refused: 1) and
# on the program's own reading forms (0).
for refused, rel, text in (
        (1, "engine/a.cpp", "void f() { DROP(0'\"') DeleteFileA(p); // \"\n}"),
        (1, "engine/a.cpp", "void f() { DeleteFi\\\r\nleA(p); DeleteFi\\  \nleA(p); }"),
        (0, "engine/a.cpp", "int n = 1'000 + 0x1'Fu; char c = '\"'; const char* s = \"DeleteFileA(p);\";"),
        (1, "engine/a.cpp", '#include "zz.def"'), (1, "engine/a.cpp", '#include "../resources/zz.h"'),
        (1, "engine/a.cpp", "#include BODY"), (0, "engine/a.cpp", '#include "platform/win32.h"'),
        (1, "engine/a.cpp", 'Fn f = Resolve<decltype(As<Fn>("GetFileAttributesExA"))>("k", n);'),
        (1, "engine/a.cpp", 'Fn f = Resolve<Fn>(k, n); auto& r = Resolve<Fn>;'),
        (1, "engine/a.cpp", 'Fn f = Resolve<Fn>(LoadLibraryA(n), "IsWow64Process");'),
        (0, "engine/a.cpp", 'Fn f = Resolve<Fn>(kernel, "IsWow64Process");'),
        (1, "platform/resolve.h", "FARPROC L(HMODULE m, const char* n) { return GetProcAddress(m, n); }\n"
            "FARPROC R(HMODULE m, const char* n) { return GetProcAddress(m, n); }"),
        (1, "engine/a.cpp", 'extern "C" int (*const r)(const char*) __asm__("x");'),
        (1, "engine/a.cpp", 'extern "C" void* __imp_DeleteFileA;'),
        (1, "engine/a.cpp", 'void g() __attribute__((alias("h")));'), (1, "engine/a.cpp", "#pragma weak g = h"),
        (1, "engine/a.cpp", 'f = fopen64(p, "w"); f = _tfopen(p, "w");'),
        (1, "engine/a.cpp", 'FILE* f = (fopen)(p, "w");'), (1, "engine/a.cpp", 'f = fopen(p, F("w", "r"));'),
        (1, "engine/a.cpp", 'f = fopen(p, "w") ? 0 : fopen(q, "r");'), (1, "engine/a.cpp", "int d = (_open)(p, 0x301);"),
        (1, "engine/a.cpp", "std::filebuf b;"), (1, "engine/a.cpp", "std::ifstream f(p, std::ios_base::openmode(48));"),
        (0, "engine/a.cpp", 'FILE* f = fopen(p, "rb"); int d = _open(p, _O_RDONLY | _O_BINARY);'),
        (1, "ui/a.cpp", "#undef PIN"), (1, "ui/a.cpp", "#define LB_GETCOUNT 2\n#undef LB_GETCOUNT"),
        (0, "ui/a.cpp", "#define PIN 1\n#undef PIN"),
        (1, "memory/a.cpp", "spawnlp(0, p, p, 0);"), (1, "memory/a.cpp", "LoadModule(p, 0);"), (1, "memory/a.cpp", "SHCreateDirectoryExA(0, p, 0);"),
        (1, "memory/a.cpp", "DuplicateHandle(a, h, b, &d, 0, FALSE, 1);"),
        (1, "memory/a.cpp", "SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, p, 0);"),
        (1, "memory/a.cpp", "SystemParametersInfoA(SPI_GETWORKAREA, 0, &w, 3);"),
        (1, "memory/a.cpp", "h = CreateFileA(p, GENERIC_READ | GENERIC_READ >> SH, 0, 0, OPEN_EXISTING, 0, 0);"),
        (1, "memory/a.cpp", "h = CreateFileA(p, MAXIMUM_ALLOWED, 0, 0, OPEN_EXISTING, 0, 0);"),
        (1, "memory/a.cpp", "_lopen(p, OF_SHARE_DENY_NONE | 2);"),
        (1, "memory/a.cpp", "DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, b, n, 0, 0, &g, 0);"),
        (0, "memory/a.cpp", "DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, 0, 0, t, n, &g, 0); DuplicateHandle(a, h, b, &d, 0, FALSE, 0);"),
        (0, "engine/a.cpp", 'const char* s[] = {"remove", "rename"}; int f(int permissions, bool system) { return system; }'),
        (1, "engine/a.cpp", "int f(bool system) { return system; } int g() { return system(p); }"),
        (1, "engine/a.cpp", "remove(Pick<0, 1, 2>(p));")):
    got = []
    check(os.path.join(root, rel), rel, text, got)
    if bool(got) != bool(refused):
        print("the check %s: %r" % ("misses" if refused else "refuses", text))
        sys.exit(1)

found = []
for path in program_files():
    check(path, os.path.relpath(path, root), open(path, encoding="latin-1").read(), found)
if found:
    print("uses of operations that change the system outside actions/:")
    print("\n".join(found))
    sys.exit(1)
print("the room is closed")
PY
