#!/bin/bash
# The room stays closed: outside actions/, no code of the program names an
# operation that changes the system. Prints each use found and fails.
# Comments are set aside first; adjacent string literals are joined (so a
# function resolved by a name written in pieces is seen too); the code is
# read as tokens across lines, so a call split over lines counts. Any
# mention of a listed name counts, not only a call: its address taken, a
# function pointer set to it, the name in parentheses, a macro that turns it
# into a string (A, W or none; a member of the same name, as in
# style.remove, is not the run-time's). A function is found by name only
# through platform/resolve.h, and only by a literal name there.
# What a look at tokens cannot see: a name built by the preprocessor's token
# pasting (Delete ## FileA) and called directly, a call through memory
# the program writes itself, a CreateFile pointer copied into a name of
# another type, or an access mask held in a variable set from a number; the
# build's import check and the review see those.
root=${1:-$(dirname "$0")/../..}
exec python3 - "$root" <<'PY'
import os, re, sys

root = sys.argv[1]
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
WritePrivateProfileSection WriteProfileString WriteFile WriteFileEx SetEndOfFile DeviceIoControl
SHFileOperation DebugActiveProcess CreateRemoteThread WriteProcessMemory NtTerminateProcess
_write _unlink unlink _rmdir _mkdir _chmod rename remove ExitWindows system _system _wsystem
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
_lcreat _lwrite _hwrite CreateFile2 NtCreateFile ZwCreateFile NtOpenFile ZwOpenFile""".split()
alternatives = "|".join(map(re.escape, names))
# Any mention, or named whole by a string (a function resolved at run
# time); the _spawn and _exec families by their prefixes. A member of the
# same name (style.remove) is not the run-time's.
use = re.compile(r"(?<![\w.>])(?:(?:%s)(?:A|W)?|_w?(?:spawn|exec)\w*)\b|\"(?:%s)(?:A|W)?\"|"
                 r"\b\w*Transacted\w*\b" % (alternatives, alternatives))
# A file opened so that it may be written or made.
opens = re.compile(r"\b(?:CREATE_ALWAYS|CREATE_NEW|OPEN_ALWAYS|TRUNCATE_EXISTING|(?:FILE_)?GENERIC_WRITE|"
                   r"GENERIC_ALL|FILE_ALL_ACCESS|FILE_WRITE_DATA|FILE_APPEND_DATA|FILE_WRITE_EA|"
                   r"FILE_DELETE_CHILD|FILE_ADD_FILE|FILE_ADD_SUBDIRECTORY|WRITE_DAC|WRITE_OWNER|"
                   r"STANDARD_RIGHTS_(?:WRITE|ALL|REQUIRED)|SPECIFIC_RIGHTS_ALL|MAXIMUM_ACCESS|"
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
descriptor = re.compile(r"(?<![\w.>])_?w?s?open(?:_s)?\s*\(")
read_flags = re.compile(r"\s*_?O_(?:RDONLY|BINARY|TEXT|SEQUENTIAL|RANDOM|NOINHERIT)"
                        r"(?:\s*\|\s*_?O_(?:RDONLY|BINARY|TEXT|SEQUENTIAL|RANDOM|NOINHERIT))*\s*")
getproc = re.compile(r"\bGetProcAddress\b")
resolve = re.compile(r"\bResolve\s*<")
fopen = re.compile(r"\b_?f(?:w)?open(?:_s)?\s*\(")
readonly_fopen = re.compile(r"\b_?fopen\s*\([^;]*?,\s*\"r[bt]?\"\s*\)")

def code_of(text):
    """The text with comments blanked (line breaks kept), adjacent string
    literals joined into one, and a literal's text blanked unless the whole
    literal is an identifier (a name resolved at run time)."""
    # A backslash at a line's end joins it to the next, as the preprocessor
    # does, before any token is read (a name split so is one name).
    text = text.replace("\\\n", "")
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    code = re.sub(r"\"\s*\"", "", "".join(out))  # "Nt" "SetInformationFile": one literal
    return re.sub(r"\"([^\"\\]|\\.)*\"",
                  lambda m: m.group(0) if re.fullmatch(r"\"\w+\"", m.group(0)) else '""', code)

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
    for top in sorted(os.listdir(root)):
        if top in outside or top.startswith(".") or not os.path.isdir(os.path.join(root, top)):
            continue
        for folder, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if re.search(r"\.(c|cc|cpp|cxx|h|hh|hpp|inl|ipp)$", f):
                    yield os.path.join(folder, f)

# The names that hold a CreateFile, wherever declared.
pointers = set()
for path in program_files():
    pointers.update(createfile_pointer.findall(code_of(open(path, encoding="latin-1").read())))
opener = re.compile(r"%s\b|(?<![\w])(?:%s)\b(?=\s*\()" %
                    (createfile, "|".join(map(re.escape, sorted(pointers))) or "(?!)"))

found = []
for top in sorted(os.listdir(root)):
    if top in outside or top.startswith(".") or not os.path.isdir(os.path.join(root, top)):
        continue
    for folder, _, files in os.walk(os.path.join(root, top)):
        for f in sorted(files):
            if not re.search(r"\.(c|cc|cpp|cxx|h|hh|hpp|inl|ipp)$", f):
                continue
            path = os.path.join(folder, f)
            rel = os.path.relpath(path, root)
            raw = open(path, encoding="latin-1").read()
            code = code_of(raw)
            line_of = lambda at: code.count("\n", 0, at) + 1
            bad = []
            # The program never includes the tests' own code (their worlds
            # make proofs for the tests).
            for m in re.finditer(r"#\s*include\s*[<\"](?:\.\./)*tests/", raw):
                found.append("%s:%d: %s" % (rel, raw.count("\n", 0, m.start()) + 1,
                                            raw[m.start():raw.find("\n", m.start())].strip()))
            for pattern in (use, opens):
                bad += [m.start() for m in pattern.finditer(code)]
            for m in opener.finditer(code):
                args = arguments(code, m.end())
                if (args is None or len(args) != 7 or numeral.search(args[1]) or
                        not read_disposition.fullmatch(args[4]) or
                        not read_open_flags.fullmatch(args[5])):
                    bad.append(m.start())
            for m in createfile_name.finditer(code):
                if not resolved_as_createfile.search(code, max(0, m.start() - 200), m.start()):
                    bad.append(m.start())
            for m in fopen.finditer(code):
                if not readonly_fopen.match(code, m.start()):
                    bad.append(m.start())
            for m in descriptor.finditer(code):
                flags = arguments(code, m.end() - 1)
                if flags is None or len(flags) < 2 or not read_flags.fullmatch(flags[1]):
                    bad.append(m.start())
            if rel != os.path.join("platform", "resolve.h"):
                bad += [m.start() for m in getproc.finditer(code)]
                # The name looked up is a literal, never one built at run time.
                for m in resolve.finditer(code):
                    close = code.find(">", m.end())
                    args = arguments(code, close + 1) if close >= 0 else None
                    if not args or not re.fullmatch(r"\s*\"\w+\"\s*", args[-1]):
                        bad.append(m.start())
            # The program's maker's page, opened in the browser by its
            # "http://" address: the one shell start the program makes.
            if rel == os.path.join("ui", "main_dialog.cpp"):
                shell = [at for at in bad if code.startswith("ShellExecuteA(nullptr, \"open\"", at)]
                if len(shell) == 1:
                    bad.remove(shell[0])
            lines = code.split("\n")
            for number in sorted({line_of(at) for at in bad}):
                found.append("%s:%d: %s" % (rel, number, lines[number - 1].strip()))
if found:
    print("uses of operations that change the system outside actions/:")
    print("\n".join(found))
    sys.exit(1)
print("the room is closed")
PY
