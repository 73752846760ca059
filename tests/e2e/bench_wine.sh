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
# walk_bench.cpp), which shows where the program's time goes; the program is
# timed from SCAN to the finished window. Prints the ratio program / bare
# walk (the target is 2 or less) and writes the figures to
# build/bench/wine.txt. The prefix and its tree (about 1 GB) are made in
# build/bench/wine-prefix and removed afterwards; BENCH_KEEP=1 keeps them for
# the next run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
win64=$top/build/win64
out=$top/build/bench
files=${BENCH_WINE_FILES:-100000}
exe=$win64/ui/CleanPhantaxis.exe
driver=$win64/tests/e2e/e2e_driver.exe
walker=$win64/tests/e2e/e2e_walk.exe
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
cp "$exe" "$prefix/drive_c/cpx/CleanPhantaxis.exe"
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

# walk <options>: "<files> <ms>" of one walk; best_walk: the faster of two.
walk() {
    timeout 600 "$WINE" 'C:\cpx\e2e_walk.exe' 'C:' "$@" 2> /dev/null | tr -d '\r' |
        awk '/^files/ { print $2, $4 }'
}
best_walk() {
    local a b
    a=$(walk "$@")
    b=$(walk "$@")
    if [ "${a#* }" -le "${b#* }" ]; then echo "$a"; else echo "$b"; fi
}

walk > /dev/null # warm the caches
read -r walkFiles bareMs <<< "$(best_walk)"
read -r _ twiceMs <<< "$(best_walk twice)"
read -r _ readMs <<< "$(walk twice read)"
read -r _ windowMs <<< "$(walk twice window)"
read -r _ allMs <<< "$(walk twice read window)"
line=$(timeout 1800 "$WINE" 'C:\cpx\e2e_driver.exe' bench --exe 'C:\cpx\CleanPhantaxis.exe' \
    --shots "$(printf '\\\\?\\unix%s' "${out//\//\\}")" 2> /dev/null | tr -d '\r' | grep '^bench:' || true)
[ -n "$line" ] || { echo "bench_wine: the program's scan did not finish" >&2; exit 1; }
read -r _ _ scanFiles _ scanMs <<< "$line"

div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / (b > 0 ? b : 1) }'; }
ratio=$(div "$scanMs" "$bareMs")
verdict="met"
awk -v r="$ratio" 'BEGIN { exit !(r <= 2) }' || verdict="missed"
{
    echo "Wine benchmark: C: with $files extra files ($walkFiles in all), $(date -u +%Y-%m-%dT%H:%MZ)"
    echo "  bare walk (each folder listed once)          : $bareMs ms"
    echo "  walk listing each folder twice               : $twiceMs ms"
    echo "    + reading every file's headers             : $readMs ms"
    echo "    + a status line and pumps per entry        : $windowMs ms"
    echo "    + both (the program's work per entry)      : $allMs ms"
    echo "  the program's whole scan, SCAN to finished   : $scanMs ms ($scanFiles files scanned)"
    echo "  ratio program / bare walk                    : $ratio (target <= 2: $verdict)"
    echo "  ratio program / walk with the same work      : $(div "$scanMs" "$allMs")"
    echo "  per file: headers $(div $((readMs - twiceMs)) "$((walkFiles / 1000))") us," \
        "status line and pumps $(div $((windowMs - twiceMs)) "$((walkFiles / 1000))") us," \
        "bare walk $(div "$bareMs" "$((walkFiles / 1000))") us"
} | tee "$out/wine.txt"
if [ "$walkFiles" != "$scanFiles" ]; then
    echo "bench_wine: the walk counted $walkFiles files, the program $scanFiles" >&2
    exit 1
fi
