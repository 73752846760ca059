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
    printf '%s\n' '#include "actions/processes.h"' '#include "actions/registry.h"' \
        '#include "actions/services.h"' "$3" |
        "$compiler" -std=c++17 -fsyntax-only -I"$root" -x c++ - 2>/dev/null
    if [ $(($? != 0)) != "$1" ]; then echo "wrong: $2"; fail=1; fi
}
try 0 "the tests' door builds proofs" 'struct ProofsForTests { static void f() {
    ListedProcess p(nullptr, 1, true); ServiceProof s(nullptr, 1);
    AutostartValue v(nullptr, "Run", "V", 0); (void)p; (void)s; (void)v; } };'
try 1 "a listed process built outside the listing" 'ListedProcess p(nullptr, 1, true);'
try 1 "a listed process built empty" 'ListedProcess p = {};'
try 1 "a service proof built outside the service stop" 'ServiceProof s(nullptr, 0);'
try 1 "a service proof built empty" 'ServiceProof s = {};'
try 1 "an autostart value built outside the walk" 'AutostartValue v(nullptr, "Run", "V", 0);'
# Each maker's name is defined in its own file alone; the door in tests/ only.
for pair in ProcessLister:memory/process_scan.cpp ServiceProver:memory/service_stop.cpp \
            AutostartProver:repair/autostart.cpp \
            ProofsForTests:tests/world.h; do
    name=${pair%%:*} home=${pair#*:}
    others=$(cd "$root" && grep -rlE "^\s*(struct|class)\s+$name\b" --include='*.[ch]*' \
        actions engine memory repair platform ui tests | grep -vx "$home")
    [ -z "$others" ] || { echo "$name defined outside $home: $others"; fail=1; }
done
[ $fail = 0 ] && echo "the proofs are made only by their provers"
exit $fail
