#!/usr/bin/env bash
# Fails when the program's import table names a DLL outside the set that every
# supported Windows ships, or a function that the program must resolve at run
# time because not every Windows has it (tool-help and psapi functions, and
# the WoW64 functions of 64-bit Windows).
#   check_imports.sh <objdump> <exe>
set -euo pipefail
objdump=$1
exe=$2

table=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; exit 1; }
dlls=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || { echo "FAIL: no import table found in $exe"; exit 1; }

status=0
allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll msvcrt.dll"
while IFS= read -r dll; do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    if [[ " $allowed " == *" $lower "* ]]; then
        echo "ok: imports $dll"
    else
        echo "FAIL: imports $dll, which is not one of: $allowed"
        status=1
    fi
done <<< "$dlls"

for fn in CreateToolhelp32Snapshot Process32First Process32Next EnumProcesses GetModuleFileNameExA \
    IsWow64Process Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection; do
    # Import entries are listed as "<vma> <hint> <name>" lines under each DLL;
    # newer SDKs turn the psapi functions into kernel32's K32 forms.
    if printf '%s\n' "$table" | grep -qiE "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+(K32)?${fn}[[:space:]]*$"; then
        echo "FAIL: imports $fn directly; it must be resolved at run time"
        status=1
    fi
done
if printf '%s\n' "$dlls" | grep -qi '^psapi\.dll$'; then
    echo "FAIL: imports psapi.dll, which older Windows lacks"
    status=1
fi
[ $status -eq 0 ] && echo "import table of $(basename "$exe") is clean"
exit $status
