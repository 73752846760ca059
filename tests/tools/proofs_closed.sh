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
# What tokens cannot see: a template that casts to its parameter, or a cast
# to a decltype of a proof; the review sees those.
python3 - "$root" <<'CHECK' || fail=1
import os, re, sys
root = sys.argv[1]
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
                    r"\b\w*(?:memcpy|memmove|memset|CopyMemory|MoveMemory)\w*\s*\([^;]*\b%s\b" %
                    (proofs, proofs, proofs, proofs, proofs, proofs))
bad = []
for top in ("actions", "engine", "memory", "repair", "platform", "ui", "tests"):
    for folder, _, files in os.walk(os.path.join(root, top)):
        for f in sorted(files):
            if not re.search(r"\.(c|cc|cpp|cxx|h|hh|hpp|inl|ipp)$", f):
                continue
            rel = os.path.relpath(os.path.join(folder, f), root)
            text = open(os.path.join(root, rel), encoding="latin-1").read()
            code = re.sub(r"//[^\n]*|/\*.*?\*/", lambda m: " " + "\n" * m.group(0).count("\n"), text,
                          flags=re.S)
            for name, home in homes.items():
                defined = re.search(r"\b(?:struct|class|union)%s\s+%s\b\s*(?:final\b\s*)?[:{]|"
                                    r"#\s*define\s+(?:\w+\b[^\n]*\b)?%s\b|"
                                    r"\b(?:using|typedef)\b[^;]*\b%s\b" %
                                    (attributes, name, name, name), code)
                if defined and rel != home:
                    bad.append("%s defined outside %s: %s" % (name, home, rel))
            if top != "actions" and rel not in homes.values():
                for m in forged.finditer(code):
                    line = code.count("\n", 0, m.start()) + 1
                    bad.append("a proof made of bytes: %s:%d" % (rel, line))
if bad:
    print("\n".join(bad))
sys.exit(1 if bad else 0)
CHECK
[ $fail = 0 ] && echo "the proofs are made only by their provers"
exit $fail
