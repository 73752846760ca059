#!/bin/bash
# The room stays closed: outside actions/, no code of the program calls an
# operation that changes the system. Prints each use found and fails.
# Comments are set aside first; adjacent string literals are joined (so a
# function resolved by a name written in pieces is seen too); every spelling
# counts (A, W or none, any blank before the parenthesis, its address taken).
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
_write _unlink unlink _rmdir _mkdir _chmod rename remove""".split()
alternatives = "|".join(map(re.escape, names))
# Called (any blank before the parenthesis), its address taken, or named
# whole by a string (a function resolved at run time); a member of the same
# name (style.remove) is not the run-time's.
use = re.compile(r"(?<![\w.>])(?:%s)(?:A|W)?\s*\(|&\s*(?:%s)(?:A|W)?\b|\"(?:%s)(?:A|W)?\"" %
                 (alternatives, alternatives, alternatives))
# A file opened so that it may be written or made.
opens = re.compile(r"\b(?:CREATE_ALWAYS|CREATE_NEW|OPEN_ALWAYS|TRUNCATE_EXISTING|GENERIC_WRITE|"
                   r"GENERIC_ALL|FILE_WRITE_DATA|FILE_APPEND_DATA|_O_(?:WRONLY|RDWR|CREAT|APPEND|TRUNC))\b")
fopen = re.compile(r"\b_?f(?:w)?open(?:_s)?\s*\(")
readonly_fopen = re.compile(r"\b_?fopen\s*\([^;]*?,\s*\"r[bt]?\"\s*\)")

def code_of(text):
    """The text with comments blanked (line breaks kept), adjacent string
    literals joined into one, and a literal's text blanked unless the whole
    literal is an identifier (a name resolved at run time)."""
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
            code = code_of(open(path, encoding="latin-1").read())
            for number, line in enumerate(code.split("\n"), 1):
                bad = use.search(line) or opens.search(line) or \
                    (fopen.search(line) and not readonly_fopen.search(line))
                if bad:
                    found.append("%s:%d: %s" % (rel, number, line.strip()))
if found:
    print("uses of operations that change the system outside actions/:")
    print("\n".join(found))
    sys.exit(1)
print("the room is closed")
PY
