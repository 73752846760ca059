#!/usr/bin/env bash
# The Wine half of the benchmark: the real program's whole scan (window,
# status line, memory scan and all, driven by e2e_driver's "bench" scenario)
# against a bare FindFirstFileA/FindNextFileA walk (e2e_walk.exe) of the same
# prefix, whose C: holds a tree of BENCH_WINE_FILES extra files (default
# 100,000: nine text files to one small PE file, 100 per folder).
#
#   tests/e2e/bench_wine.sh          (after the win64 build)
#
# The walks are timed inside their own process: the bare walk (the baseline)
# and the walk with, step by step, the work the program does per entry (see
# walk_bench.cpp), which shows where the program's time goes: the header
# reads of every file (as before the walk looked at listed lengths) or of
# the candidates only, the status text alone, the queue checks alone, and
# both with the repaint they dispatch. The program is timed from SCAN to the
# finished window. The specimen of every record is planted in C:\bench\specimens
# before each run; clamscan (natively, with the table exported by
# export_clamav in build/bench/phantaxis.ldb) scans the same tree, and the
# files it finds are compared with those the program removes.
# BENCH_BASELINE_EXE=<another build of CleanPhantaxis.exe> (for example of the
# main branch) times that program too, on the same tree, alternating with this
# build, best of two each: the ratio of the two is the change's effect. Prints the
# ratios and writes the figures to build/bench/wine.txt. The prefix and its
# tree (about 1 GB) are made in build/bench/wine-prefix and removed
# afterwards; BENCH_KEEP=1 keeps them for the next run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
win64=$top/build/win64
out=$top/build/bench
files=${BENCH_WINE_FILES:-100000}
exe=$win64/ui/CleanPhantaxis.exe
driver=$win64/tests/e2e/e2e_driver.exe
walker=$win64/tests/e2e/e2e_walk.exe
specimens=$top/build/specimens
ldb=$out/phantaxis.ldb
for f in "$exe" "$driver" "$walker"; do
    [ -f "$f" ] || { echo "bench_wine: $f is missing; build win64 first" >&2; exit 1; }
done

# shellcheck source=wine-env.sh
. "$here/wine-env.sh"

mkdir -p "$out"
prefix=$out/wine-prefix
export HOME=$out/wine-home WINEPREFIX=$prefix
mkdir -p "$HOME"
stamp=$prefix/bench-tree-$files
if [ ! -f "$stamp" ]; then
    template=$win64/e2e/template-prefix
    rm -rf "$prefix"
    if [ -f "$template/system.reg" ]; then
        cp -a "$template" "$prefix"
    else
        echo "bench_wine: making a Wine prefix"
        wine_make_prefix "$prefix" "$HOME"
    fi
    echo "bench_wine: planting $files files in C:\\bench"
    python3 - "$prefix/drive_c/bench" "$files" <<'EOF'
import os, struct, sys
root, total = sys.argv[1], int(sys.argv[2])
# A small PE file: DOS header pointing at "PE\0\0", a file header with one
# section, an optional header; the program reads its headers and section
# table and finds that no record's size fits.
pe = bytearray(1024)
pe[0:2] = b"MZ"
pe[60:64] = struct.pack("<I", 64)
pe[64:68] = b"PE\0\0"
pe[70:72] = struct.pack("<H", 1)
pe[84:86] = struct.pack("<H", 224)
pe[88:90] = struct.pack("<H", 0x10B)
text = b"not a program\r\n"
n = 0
folder = 0
while n < total:
    d = os.path.join(root, "d%03d" % (folder // 10), "s%02d" % (folder % 10))
    os.makedirs(d, exist_ok=True)
    for i in range(min(100, total - n)):
        name = "f%03d.%s" % (i, "exe" if i % 10 == 0 else "txt")
        with open(os.path.join(d, name), "wb") as f:
            f.write(pe if i % 10 == 0 else text)
        n += 1
    folder += 1
EOF
    mkdir -p "$prefix/drive_c/cpx"
    touch "$stamp"
fi
# The program removes what it finds: the specimens are planted afresh before
# every run of it.
plant_specimens() {
    rm -rf "$prefix/drive_c/bench/specimens"
    mkdir -p "$prefix/drive_c/bench/specimens"
    cp "$specimens"/rec-*.exe "$prefix/drive_c/bench/specimens/"
}
plant_specimens
planted=$(ls "$prefix/drive_c/bench/specimens" | sort)
cp "$exe" "$prefix/drive_c/cpx/CleanPhantaxis.exe"
baseline=${BENCH_BASELINE_EXE:-}
[ -z "$baseline" ] || cp "$baseline" "$prefix/drive_c/cpx/Baseline.exe"
cp "$driver" "$prefix/drive_c/cpx/e2e_driver.exe"
cp "$walker" "$prefix/drive_c/cpx/e2e_walk.exe"

cleanup() {
    wine_stop "$prefix"
    xvfb_stop
    if [ "${BENCH_KEEP:-0}" != 1 ]; then rm -rf "$prefix" "$HOME"; fi
}
trap cleanup EXIT
xvfb_start "$out"
cd "$prefix/drive_c"

# walk <options>: "<files> <ms> <opened> <bytes read>" of one walk;
# best_walk: the faster of two.
walk() {
    timeout 900 "$WINE" 'C:\cpx\e2e_walk.exe' 'C:' "$@" 2> /dev/null | tr -d '\r' |
        awk '/^files/ { print $2, $4, $6, $8 }'
}
best_walk() {
    local a b
    a=$(walk "$@")
    b=$(walk "$@")
    if [ "$(echo "$a" | cut -d' ' -f2)" -le "$(echo "$b" | cut -d' ' -f2)" ]; then
        echo "$a"
    else
        echo "$b"
    fi
}

walk > /dev/null # warm the caches
read -r walkFiles bareMs _ <<< "$(best_walk)"
read -r _ twiceMs _ <<< "$(best_walk twice)"
read -r _ readMs readOpened readBytes <<< "$(walk twice read)"
read -r _ candMs candOpened candBytes <<< "$(best_walk twice candidates)"
read -r _ textMs _ <<< "$(best_walk twice text)"
read -r _ peekMs _ <<< "$(best_walk twice peek)"
read -r _ windowMs _ <<< "$(best_walk twice window)"
read -r _ oldMs _ <<< "$(walk twice read window)"
read -r _ listedMs _ <<< "$(walk twice candidates window)"
read -r _ newMs _ <<< "$(walk twice record window)"
read -r _ openMs _ <<< "$(walk twice opened window)"

# The peer, natively on the same tree, before the program removes anything.
clamMs=-1
clamFound=""
if command -v clamscan > /dev/null && [ -f "$ldb" ]; then
    start=$(date +%s%N)
    clamOut=$(clamscan --no-summary -i -r -d "$ldb" "$prefix/drive_c/bench" 2> /dev/null || true)
    clamMs=$((($(date +%s%N) - start) / 1000000))
    clamFound=$(echo "$clamOut" | awk -F': ' '/ FOUND$/ { print $1 }' | sed 's|.*/||' | sort)
fi

# program <exe name in C:\cpx>: "<files scanned> <ms>" of its whole scan.
program() {
    plant_specimens
    local line
    line=$(timeout 1800 "$WINE" 'C:\cpx\e2e_driver.exe' bench --exe "C:\\cpx\\$1" \
        --shots "$(printf '\\\\?\\unix%s' "${out//\//\\}")" 2> /dev/null | tr -d '\r' |
        grep '^bench:' || true)
    [ -n "$line" ] || { echo "bench_wine: the scan of $1 did not finish" >&2; exit 1; }
    echo "$line" | awk '{ print $3, $5 }'
}
read -r scanFiles scanMs <<< "$(program CleanPhantaxis.exe)"
[ -n "$scanMs" ] || exit 1
left=$(ls "$prefix/drive_c/bench/specimens" | sort)
programFound=$(comm -23 <(echo "$planted") <(echo "$left"))
baseMs=-1
if [ -n "$baseline" ]; then
    read -r _ baseMs <<< "$(program Baseline.exe)"
    read -r _ againMs <<< "$(program CleanPhantaxis.exe)"
    read -r _ baseAgainMs <<< "$(program Baseline.exe)"
    [ -n "$baseMs" ] && [ -n "$againMs" ] && [ -n "$baseAgainMs" ] || exit 1
    if [ "$againMs" -lt "$scanMs" ]; then scanMs=$againMs; fi
    if [ "$baseAgainMs" -lt "$baseMs" ]; then baseMs=$baseAgainMs; fi
fi

div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }
us() { div "$1" "$((walkFiles / 1000))"; }
ratio=$(div "$scanMs" "$bareMs")
{
    echo "Wine benchmark: C: with $files extra files and $(echo "$planted" | wc -l) specimens" \
        "($walkFiles in all), $(date -u +%Y-%m-%dT%H:%MZ); ratios from one run on a shared machine"
    echo "  bare walk (each folder listed once)            : $bareMs ms"
    echo "  walk listing each folder twice                 : $twiceMs ms"
    echo "    + reading every file's headers               : $readMs ms"
    echo "    + reading the headers of candidates only     : $candMs ms"
    echo "    + the status text alone (SetWindowTextA)     : $textMs ms"
    echo "    + the two queue checks alone (PeekMessageA)  : $peekMs ms"
    echo "    + status text and pumps (with the repaint)   : $windowMs ms"
    echo "    + all of it, every file's headers (before)   : $oldMs ms"
    echo "    + all of it, candidates by listed length     : $listedMs ms"
    echo "    + all of it, candidates by the file's record (now): $newMs ms"
    echo "    + all of it, candidates by opening each file : $openMs ms"
    echo "  the program's whole scan, SCAN to finished     : $scanMs ms ($scanFiles files scanned)"
    if [ "$baseMs" -ge 0 ]; then
        echo "  the baseline program's whole scan (best of 2)  : $baseMs ms ($(basename "$baseline"))"
        echo "  ratio program / baseline program               : $(div "$scanMs" "$baseMs") (target <= 0.65)"
    fi
    echo "  ratio program / bare walk                      : $ratio"
    echo "  ratio program / walk with the work of before   : $(div "$scanMs" "$oldMs")"
    echo "  ratio program / walk with the work of now      : $(div "$scanMs" "$newMs")"
    echo "  ratio walk now / walk before                   : $(div "$newMs" "$oldMs")"
    echo "  ratio walk now / walk by listed length (main)  : $(div "$newMs" "$listedMs")"
    echo "  ratio walk opening each file / walk before     : $(div "$openMs" "$oldMs")"
    echo "  files opened per file: every file $(div "$readOpened" "$walkFiles")," \
        "candidates $(div "$candOpened" "$walkFiles");" \
        "bytes read per file: $(div "$readBytes" "$walkFiles"), $(div "$candBytes" "$walkFiles")"
    echo "  per file: headers $(us $((readMs - twiceMs))) us (candidates only" \
        "$(us $((candMs - twiceMs))) us), status text $(us $((textMs - twiceMs))) us," \
        "queue checks $(us $((peekMs - twiceMs))) us, both with the repaint" \
        "$(us $((windowMs - twiceMs))) us (the three need not add up: without pumps" \
        "Wine's events pile up), bare walk $(us "$bareMs") us"
    if [ "$clamMs" -ge 0 ]; then
        same=no
        [ "$clamFound" = "$programFound" ] && same=yes
        echo "  clamscan (native, same table, same tree)       : $clamMs ms"
        echo "  ratio clamscan / program                       : $(div "$clamMs" "$scanMs")"
        echo "  specimens found: program $(echo "$programFound" | grep -c . || true)," \
            "clamscan $(echo "$clamFound" | grep -c . || true); the same files: $same"
    else
        echo "  clamscan: not run (not installed, or $ldb missing)"
    fi
} | tee "$out/wine.txt"
if [ "$walkFiles" != "$scanFiles" ]; then
    echo "bench_wine: the walk counted $walkFiles files, the program $scanFiles" >&2
    exit 1
fi
