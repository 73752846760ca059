#!/bin/bash
# The room's proofs are made only by their provers: code elsewhere that
# builds one must not compile. A control built through the tests' door must
# compile (so a refusal below is the compiler's, for the private maker), each
# proof built outside its prover must be refused, and no code of the program
# defines a prover's name or the tests' door outside its own file.
root=${1:-$(dirname "$0")/../..}
compiler=${2:-c++}
fail=0
try() { # expected outcome (0 compiles, 1 refused), what, code
    # Compiled from the root: a quoted include of the standard input is
    # looked for in the current folder first.
    (cd "$root" && printf '%s\n' '#include "actions/files.h"' '#include "actions/processes.h"' \
        '#include "actions/registry.h"' \
        '#include "actions/services.h"' '#include "engine/file_check.h"' "$3" |
        "$compiler" -std=c++17 -fsyntax-only -I. -x c++ - 2>/dev/null)
    if [ $(($? != 0)) != "$1" ]; then echo "wrong: $2"; fail=1; fi
}
try 0 "the tests' door builds proofs" 'struct ProofsForTests { static void f() {
    ListedProcess p(nullptr, 1, true); ServiceProof s(nullptr, 1);
    AutostartValue v(nullptr, "Run", "V", 0); CheckedFile f(nullptr, FileId{1, 2, 3}, true);
    ServiceKey k("SYSTEM\\x"); (void)p; (void)s; (void)v; (void)f; (void)k; } };'
try 1 "a listed process built outside the listing" 'ListedProcess p(nullptr, 1, true);'
try 1 "a listed process built empty" 'ListedProcess p = {};'
try 1 "a service proof built outside the service stop" 'ServiceProof s(nullptr, 0);'
try 1 "a service proof built empty" 'ServiceProof s = {};'
try 1 "an autostart value built outside the walk" 'AutostartValue v(nullptr, "Run", "V", 0);'
try 1 "a checked file built outside the file check" 'CheckedFile f(nullptr, FileId{1, 2, 3}, true);'
try 1 "a checked file built empty" 'CheckedFile f = {};'
try 1 "a checked file copied" 'void f(const CheckedFile& c) { CheckedFile d(c); (void)d; }'
try 1 "a service key built outside its finder" 'ServiceKey k("SYSTEM\\Select");'
try 1 "a service key built empty" 'ServiceKey k = {};'
try 1 "a file under check filled outside the check" \
    'FileUnderCheck f = {-1, nullptr, FileId{1, 2, 3}, true};'
try 1 "a file under check given an identity" 'void f(FileUnderCheck& c) { c.id_ = FileId{}; }'
# Nor does a file or key action take a bare handle, identity or path.
try 1 "a bare handle marked for deletion" 'bool b = MarkForDeletion(HANDLE(nullptr));'
try 1 "a bare handle's attributes cleared" 'bool b = ClearAttributesOf(HANDLE(nullptr));'
try 1 "a file moved on a bare identity" 'bool b = MoveCheckedFile("a", "b", FileId{1, 2, 3});'
try 1 "a restart delete on a bare identity" 'FileId i{}; bool b = ScheduleDeleteOnRestart("a", &i);'
try 1 "a key deleted by a bare path" 'bool b = DeleteMachineKey("SYSTEM\\Select");'
# Each maker's name is defined in its own file alone, the door in tests/
# only: read as tokens, comments set aside, whatever stands between the key
# word and the name (alignas, attributes) or before it. Nor is a proof made
# of other bytes outside the room and its makers: no cast to a proof type
# (a pointer or a reference, in any cast's form, void* between or not), no
# other name for one, no union holding one, no copy of bytes naming one (the
# build's -Wclass-memaccess also sees a memcpy onto the non-copyable ones).
# The code is read by code_text.py, as room_closed.sh reads it. No macro
# names a proof, a prover or the key word struct/class/union, nor is the key
# word a macro's argument; a proof's or prover's name followed by a body or
# a base list outside its home is a second definition. Bytes are copied
# (mem*, bit_cast, std::copy/fill, fread, ReadFile) neither into a proof
# type nor into a name the file declares of one.
# Outside the room and the provers' homes, no explicit instantiation (its
# arguments skip access checks) and no pointer to a proof's or a prover's
# member; a prover's name appears outside its home only on a proof's
# friend line (the tests' door also as ProofsForTests::Name( in tests/), so
# no second prover is defined, however a macro spells its body.
# What tokens cannot see: a template that casts to its parameter, a cast
# to a decltype of a proof, a proof's bytes reached through a pointer of
# another type declared in another file, a definition put together by
# token pasting, an explicit specialization's arguments naming a private
# member through an alias declared in another file, or what is generated
# or linked in at build time; the review sees those. A developer set on
# getting past a check on tokens can.
python3 - "$root" "$(dirname "$0")" <<'CHECK' || fail=1
import os, re, sys
root = sys.argv[1]
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, sys.argv[2])
from code_text import code_of
homes = {"ProcessLister": "memory/process_scan.cpp", "ServiceProver": "memory/service_stop.cpp",
         "AutostartProver": "repair/autostart.cpp", "FileProver": "engine/file_check.cpp",
         "ServiceKeysProver": "repair/service_keys.cpp", "ProofsForTests": "tests/world.h"}
proofs = r"(?:CheckedFile|ListedProcess|ServiceProof|AutostartValue|ServiceKey|FileUnderCheck)"
attributes = (r"(?:\s*(?:alignas\s*\([^)]*\)|\[\[.*?\]\]|__attribute__\s*\(\(.*?\)\)|"
              r"__declspec\s*\([^)]*\)))*")
forged = re.compile(r"(?:reinterpret_cast|bit_cast)\s*<[^;>]*\b%s\b|"
                    r"(?:static_cast|const_cast|dynamic_cast)\s*<[^;>]*\b%s\b[^;>]*[*&]|"
                    r"\(\s*(?:const\s+|volatile\s+)*%s(?:\s*(?:const|volatile))*\s*[*&]+\s*\)|"
                    r"\bunion\b[^;{]*\{[^}]*\b%s\b|"
                    r"\b(?:using\s+\w+\s*=|typedef\b)[^;]*\b%s\b|"
                    r"\b(?:\w*(?:memcpy|memmove|memset|CopyMemory|MoveMemory|ZeroMemory|FillMemory)\w*|"
                    r"bit_cast|copy(?:_n|_backward)?|fill(?:_n)?|uninitialized_\w+|fread|ReadFile|"
                    r"ReadProcessMemory)\s*\([^;]*\b%s\b" %
                    (proofs, proofs, proofs, proofs, proofs, proofs))
# The names a file declares of a proof type (a variable, a parameter, a
# member, by value, pointer or reference): bytes copied into one are refused
# as into the type.
declared = re.compile(r"\b%s\b(?:\s*(?:const|volatile)\b)*[\s&*]*(?:(?:const|volatile)\b\s*)*(\w+)\s*[;,=)(\[{]" %
                      proofs)
copied_into = (r"\b(?:\w*(?:memcpy|memmove|memset|CopyMemory|MoveMemory|ZeroMemory|FillMemory)\w*|"
               r"bit_cast|copy(?:_n|_backward)?|fill(?:_n)?|uninitialized_\w+|fread|ReadFile|"
               r"ReadProcessMemory)\s*(?:<[^;>]*>\s*)?\([^;]*\b(?:%s)\b")
# A macro names no proof, prover, nor the keyword that defines a type (a
# second prover spelled through a macro); a proof's or prover's name followed
# by its body or base list is its definition, whatever word stands before.
macro = re.compile(r"#[ \t]*define[ \t]+\w+(?:\([^)\n]*\))?([^\n]*)")
typed = re.compile(r"\b(?:struct|class|union|%s|%s)\b" % (proofs, "|".join(homes)))
proof_homes = {"CheckedFile": "actions/files.h", "ListedProcess": "actions/processes.h",
               "ServiceProof": "actions/services.h", "AutostartValue": "actions/registry.h",
               "ServiceKey": "actions/registry.h", "FileUnderCheck": "engine/file_check.h"}
# Access is not checked in an explicit instantiation's arguments: outside
# the room and the provers' homes, none (the word template followed by no
# parameter list, and not after . -> ::), and no pointer to a member of a
# proof or a prover (&CheckedFile::handle_, ServiceKey::*).
instantiation = re.compile(r"(?<![.>:\s])(\s*)\btemplate\b(?!\s*<)")
member_pointer = re.compile(r"&\s*(?:::\s*)?(?:%s|%s)\s*::|\b(?:%s|%s)\s*::\s*\*" %
                            (proofs, "|".join(homes), proofs, "|".join(homes)))
# A prover's name outside its home: on its friend line in a proof's header,
# and the tests' door as ProofsForTests::Name( in tests/; nowhere else.
prover_name = re.compile(r"\b(%s)\b" % "|".join(homes))
def check(top, rel, code, bad):
    """Appends to bad what the code of the file rel (under top) forges."""
    for name, home in homes.items():
        defined = re.search(r"\b(?:struct|class|union)%s\s+%s\b\s*(?:final\b\s*)?[:{]|"
                            r"#\s*define\s+(?:\w+\b[^\n]*\b)?%s\b|"
                            r"\b(?:using|typedef)\b[^;]*\b%s\b" %
                            (attributes, name, name, name), code)
        if defined and rel != home:
            bad.append("%s defined outside %s: %s" % (name, home, rel))
    for name, home in list(homes.items()) + list(proof_homes.items()):
        for m in re.finditer(r"\b%s\s*(?:final\b\s*)?(?:\{|:(?!:))" % name, code):
            if rel != home and not re.search(r"\bnew\s*$|[=(,]\s*$|return\s*$",
                                             code[max(0, m.start() - 40):m.start()]):
                bad.append("%s defined outside %s: %s:%d" %
                           (name, home, rel, code.count("\n", 0, m.start()) + 1))
    # Nor is the key word handed to a macro as an argument.
    for m in re.finditer(r"\b(?:struct|class|union)\s*[,)]", code):
        bad.append("a type's key word as a macro's argument: %s:%d" %
                   (rel, code.count("\n", 0, m.start()) + 1))
    for m in macro.finditer(code):
        if typed.search(m.group(1)):
            bad.append("a macro naming a type's key word or a proof: %s:%d" %
                       (rel, code.count("\n", 0, m.start()) + 1))
    if top != "actions" and rel not in homes.values():
        for pattern, what in ((instantiation, "an explicit instantiation"),
                              (member_pointer, "a pointer to a proof's member")):
            for m in pattern.finditer(code):
                bad.append("%s: %s:%d" % (what, rel, code.count("\n", 0, m.end()) + 1))
    for m in prover_name.finditer(code):
        name = m.group(1)
        line = code[code.rfind("\n", 0, m.start()) + 1:code.find("\n", m.end())]
        if rel == homes[name]:
            continue
        if rel in proof_homes.values() and re.fullmatch(r"\s*friend\s+struct\s+%s\s*;\s*" % name, line):
            continue
        if (name == "ProofsForTests" and top == "tests" and
                re.match(r"ProofsForTests::\w+\s*\(", code[m.start():])):
            continue
        bad.append("%s named outside %s: %s:%d" % (name, homes[name], rel,
                                                  code.count("\n", 0, m.start()) + 1))
    if top != "actions" and rel not in homes.values():
        names = sorted(set(declared.findall(code)) - {"const", "volatile"})
        if names:
            for m in re.finditer(copied_into % "|".join(names), code):
                bad.append("bytes copied into a proof: %s:%d" %
                           (rel, code.count("\n", 0, m.start()) + 1))
        for m in forged.finditer(code):
            line = code.count("\n", 0, m.start()) + 1
            bad.append("a proof made of bytes: %s:%d" % (rel, line))

# The rules themselves, on forms that once got past them (refused: 1) and
# on the program's own (0).
for refused, rel, text in (
        (1, "engine/a.cpp", "#define SEALED final\nstruct ServiceKeysProver SEALED { };"),
        (1, "ui/a.cpp", "bool f(HANDLE h) { return MarkForDeletion(ProofsForTests::File(h)); }"),
        (1, "repair/a.cpp", "template struct Rob<&ServiceKey::path_>;"),
        (1, "engine/a.cpp", "template <HANDLE CheckedFile::*M> struct Rob { };"),
        (1, "engine/a.cpp", "extern template class Rob<0>;"), (1, "ui/a.cpp", "auto m = &CheckedFile::Handle;"),
        (0, "actions/files.h", "class CheckedFile {\n    friend struct FileProver;\n};"),
        (0, "tests/a.cpp", "auto f = ProofsForTests::File(h); auto g = x.template get<1>();")):
    got = []
    check(rel.split("/")[0], rel, code_of(text), got)
    if bool(got) != bool(refused):
        print("the check %s: %r" % ("misses" if refused else "refuses", text))
        sys.exit(1)

bad = []
for top in ("actions", "engine", "memory", "repair", "platform", "ui", "tests"):
    for folder, _, files in os.walk(os.path.join(root, top)):
        for f in sorted(files):
            if not re.search(r"\.(c|cc|cpp|cxx|h|hh|hpp|inl|ipp)$", f):
                continue
            rel = os.path.relpath(os.path.join(folder, f), root)
            text = open(os.path.join(root, rel), encoding="latin-1").read()
            check(top, rel, code_of(text), bad)
if bad:
    print("\n".join(bad))
sys.exit(1 if bad else 0)
CHECK
[ $fail = 0 ] && echo "the proofs are made only by their provers"
exit $fail
