#!/usr/bin/env bash
# Fails when the program's import table names a DLL outside the set that every
# supported Windows ships, or a function that the program must resolve at run
# time because not every Windows has it (tool-help and psapi functions, and
# the WoW64 functions of 64-bit Windows).
#
# With a kept list (the shipped 32-bit program), also when it imports a
# function that <kept-dir>/<dll>.txt does not name, or by ordinal, or when a
# header field that Windows 95 and NT 4.0 read differs from what they accept:
# subsystem and operating system version 4.0, the GUI subsystem, image base
# 0x400000, section alignment 4096, file alignment 512.
#   check_imports.sh <objdump> <exe> [<kept-dir>]
#   check_imports.sh --self-test <objdump> <exe> <kept-dir>
# The self test damages copies of the program one way at a time and expects
# each copy to fail.
set -euo pipefail

# "<dll> <function>" a line, the DLL in lower case; "<none>" for an import by ordinal.
list_imports() { # <objdump output>
    awk '
        /^The Import Tables/ { on = 1; next }
        /^The Export Tables|^PE File Base Relocations/ { on = 0 }
        on && /DLL Name:/ { dll = tolower($3); next }
        on && dll != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && NF == 3 { print dll, $3 }' <<< "$1"
}

check() { # <objdump> <exe> [<kept-dir>]
    local objdump=$1 exe=$2 kept=${3:-} table dlls imports status=0
    table=$("$objdump" -p "$exe") || { echo "FAIL: cannot read $exe"; return 1; }
    dlls=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
    [ -n "$dlls" ] || { echo "FAIL: no import table found in $exe"; return 1; }

    local allowed="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll msvcrt.dll"
    while IFS= read -r dll; do
        if [[ " $allowed " == *" ${dll,,} "* ]]; then
            echo "ok: imports $dll"
        else
            echo "FAIL: imports $dll, which is not one of: $allowed"
            status=1
        fi
    done <<< "$dlls"

    imports=$(list_imports "$table")
    # A DLL whose function list this script cannot read would pass unchecked.
    while IFS= read -r dll; do
        awk -v dll="${dll,,}" '$1 == dll { found = 1 } END { exit !found }' <<< "$imports" ||
            { echo "FAIL: no function read from the import list of $dll"; status=1; }
    done <<< "$dlls"
    # Newer SDKs turn the psapi functions into kernel32's K32 forms.
    local late="CreateToolhelp32Snapshot|Process32First|Process32Next|EnumProcesses|GetModuleFileNameExA"
    late+="|IsWow64Process|Wow64DisableWow64FsRedirection|Wow64RevertWow64FsRedirection"
    for fn in $(grep -ioE " (K32)?($late)$" <<< "$imports" || true); do
        echo "FAIL: imports $fn directly; it must be resolved at run time"
        status=1
    done

    if [ -n "$kept" ]; then
        # One awk for the whole table: the kept lists first, then the imports.
        local verdict
        verdict=$(awk -v kept="${kept##*/}" '
            FNR == 1 { dll = FILENAME; sub(/.*\//, "", dll); sub(/\.txt$/, ".dll", dll) }
            FILENAME != "-" { if ($0 !~ /^#/ && NF) listed[dll " " $1] = 1; next }
            { n++ }
            $2 == "<none>" { print "FAIL: imports from " $1 " by ordinal; the ordinals differ between Windows versions"; next }
            !(($1 " " $2) in listed) {
                d = $1; sub(/\.dll$/, "", d)
                print "FAIL: imports " $1 " " $2 ", which " kept "/" d ".txt does not list" \
                      " (add it only once Windows 95'"'"'s and NT 4.0'"'"'s " $1 " export it)"
            }
            END { print "checked " n + 0 " imported functions against " kept "/" }' \
            "$kept"/*.txt - <<< "$imports")
        echo "$verdict"
        grep -q '^FAIL' <<< "$verdict" && status=1
        local -A header
        local field value
        while read -r field value; do header[$field]=$value; done < <(awk '/^The Data Directory/ { exit } NF >= 2 && !seen[$1]++ { print $1, $2 }' <<< "$table")
        for pin in Magic=010b ImageBase=00400000 SectionAlignment=00001000 FileAlignment=00000200 \
            MajorOSystemVersion=4 MinorOSystemVersion=0 MajorSubsystemVersion=4 \
            MinorSubsystemVersion=0 Subsystem=00000002; do
            field=${pin%=*} value=${header[${pin%=*}]:-missing}
            if [ "$value" != "${pin#*=}" ]; then
                echo "FAIL: header field $field is $value, Windows 95 and NT 4.0 need ${pin#*=}"
                status=1
            fi
        done
        # Not marked Terminal Server aware, the program would be given a
        # per-user Windows folder on a terminal server, which that user can
        # write; image paths and service commands are read through it.
        value=${header[DllCharacteristics]:-0}
        if (((16#$value & 0x8000) == 0)); then
            echo "FAIL: header field DllCharacteristics is $value, without 8000 (Terminal Server aware)"
            status=1
        fi
    fi
    [ $status -eq 0 ] && echo "import table of $(basename "$exe") is clean"
    return $status
}

# Writes a copy of <exe> with <count> bytes at <offset> (from the optional
# header when the offset is a number prefixed with "+"), or with the first
# entry of <dll>'s import lookup and address tables set to <value> (when
# prefixed with "@"), else the first occurrence of the text <old> replaced
# by <new>.
damaged_copy() { # <exe> <out> (+<offset> <size> <value> | @<dll> <value> | <old> <new>)
    python3 - "$@" << 'PY'
import struct, sys
exe, out, a, b = sys.argv[1:5]
data = bytearray(open(exe, "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
opt = pe + 24
if a.startswith("+"):
    size, value = int(b), int(sys.argv[5], 0)
    data[opt + int(a[1:]):opt + int(a[1:]) + size] = value.to_bytes(size, "little")
elif a.startswith("@"):
    count, optsize = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    sections = [struct.unpack_from("<8xIIII", data, opt + optsize + 40 * i) for i in range(count)]
    def at(rva):
        return next(rva - va + raw for vsize, va, rawsize, raw in sections
                    if va <= rva < va + max(vsize, rawsize))
    desc = at(struct.unpack_from("<I", data, opt + 104)[0])  # the import directory (PE32)
    while True:
        lookup, _, _, name, address = struct.unpack_from("<5I", data, desc)
        assert name, "no imports from " + a[1:]
        if bytes(data[at(name):at(name) + 64]).split(b"\0")[0].lower() == a[1:].encode():
            break
        desc += 20
    for table in (lookup, address):
        struct.pack_into("<I", data, at(table), int(b, 0))
else:
    at = data.find(b"\0" + a.encode() + b"\0")
    assert at > 0 and len(a) == len(b), "no import named " + a
    data[at + 1:at + 1 + len(b)] = b.encode()
open(out, "wb").write(data)
PY
}

if [ "${1:-}" = --self-test ]; then
    objdump=$2 exe=$3 kept=$4
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    check "$objdump" "$exe" "$kept" > "$work/log" || { cat "$work/log"; echo "FAIL: the program itself fails"; exit 1; }
    # A kernel32 import renamed to a function outside the list.
    first=$(list_imports "$("$objdump" -p "$exe")" | awk '$1 == "kernel32.dll" && !seen++ { print $2 }')
    other=${first%?}X
    failures=0 cases=0
    expect_fail() { # <what> <expected text> <damaged_copy arguments...>
        local what=$1 text=$2
        shift 2
        cases=$((cases + 1))
        damaged_copy "$exe" "$work/bad.exe" "$@"
        if check "$objdump" "$work/bad.exe" "$kept" > "$work/log" 2>&1; then
            echo "FAIL: $what passes the check"
            failures=$((failures + 1))
        elif ! grep -qF -- "$text" "$work/log"; then
            echo "FAIL: $what fails without naming it ($text):"
            cat "$work/log"
            failures=$((failures + 1))
        else
            echo "ok: $what: $(grep -m1 -F -- "$text" "$work/log")"
        fi
    }
    expect_fail "an import outside the kept list" "kernel32.dll $other" "$first" "$other"
    expect_fail "a DLL older Windows lacks" "imports SHLWAPI.dll" SHELL32.dll SHLWAPI.dll
    expect_fail "an import by ordinal" "from kernel32.dll by ordinal" @kernel32.dll 0x8000007B
    expect_fail "a DLL whose functions go unread" "import list of SHELL32.dll" @shell32.dll 0
    # The header fields, one at a time (offsets in the PE32 optional header).
    expect_fail "image base 0x10000000" ImageBase +28 4 0x10000000
    expect_fail "section alignment 8192" SectionAlignment +32 4 0x2000
    expect_fail "file alignment 4096" FileAlignment +36 4 0x1000
    expect_fail "operating system version 5.0" MajorOSystemVersion +40 2 5
    expect_fail "operating system version 4.10" MinorOSystemVersion +42 2 10
    expect_fail "subsystem version 5.0" MajorSubsystemVersion +48 2 5
    expect_fail "subsystem version 4.10" MinorSubsystemVersion +50 2 10
    expect_fail "the console subsystem" Subsystem +68 2 3
    expect_fail "not Terminal Server aware" DllCharacteristics +70 2 0x0140
    echo "$((cases - failures)) of $cases damaged copies caught"
    exit $((failures > 0))
fi

check "$@"
