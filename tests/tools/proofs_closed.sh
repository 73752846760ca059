#!/bin/bash
# The room's proofs are made only by their provers: code elsewhere that
# builds one must not compile. A control built through the tests' door must
# compile (so a refusal below is the compiler's, for the private maker), and
# each proof built outside its prover must be refused.
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
# What only a deliberate forgery gets past (a second definition of a prover,
# a cast or a copy of bytes into a proof, an explicit instantiation naming a
# private member) is the review's to see: no honest change makes a proof by
# accident while the compiler refuses the makers above.
[ $fail = 0 ] && echo "the proofs are made only by their provers"
exit $fail
