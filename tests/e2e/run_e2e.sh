#!/usr/bin/env bash
# Runs one end-to-end scenario of the real program under Wine and Xvfb, or
# makes the Wine prefix that every scenario copies.
#
#   run_e2e.sh --bits <32|64> --build <dir> --exe <CleanPhantaxis.exe> --driver <e2e_driver.exe>
#              --help-stub <help_stub.exe> --holder <e2e_holder.exe>
#              --tap <e2e_logtap.dll> --specimens <dir>
#              [--registered "<xp10 set>"] (--make-prefix | --scenario <name>)
#
# --bits names the bitness of the program and its helpers: 64 runs them under
# wine64, 32 under the 32-bit loader in a 32-bit prefix. Where the kernel
# cannot run i386 code, a 32-bit run goes on under user-mode emulation
# (scripts/emulate-i386, over the view of build/i386-root that
# scripts/native-i386 makes, as natively): all of
# them where the emulator is fast (qemu 8.1 and later); with an older one,
# which costs about a minute of CPU per Wine process, xp10 alone, or set
# with E2E_EMULATE=all (make check-win32). The others print why and exit 77
# (skipped). --registered names which of xp10 and set the build has as tests:
# a run that needs one it lacks fails rather than skip.
#
# Scenarios: idle, product, scan, cancel (the window), and win98, nt40,
# winxp, win10 (the whole system under that Windows version; the driver
# plants their world itself, see system_scenarios.cpp), wow64 (the 32-bit
# program, given by --exe, on 64-bit Windows 10), xp10 (winxp, then win10,
# in one prefix that it makes itself, with one Wine session), and set (all
# eight of the first, one after another in one prefix and one session, each
# scenario's output in <dir>/e2e/set/<scenario>/: the 32-bit set under an
# emulator older than qemu 8.1, in make check-win32).
#
# The prefix has no drive Z: and no links out of drive_c, so a scan covers
# only the prefix's own C:. Each scenario copies it, plants what it needs on
# C:, starts its own Xvfb, runs the driver (a Windows console program) and
# leaves its screenshots as PNG files and its output in <dir>/e2e/<scenario>/.
# The driver writes its screenshots and log taps straight to that folder
# (through Wine's \\?\unix\ paths), so nothing of them lands on C: where
# the scan would count it. Set E2E_KEEP=1 to keep the scenario's prefix for a
# look afterwards.
set -euo pipefail

given=("$@")
bits=64 build="" exe="" driver="" help_stub="" holder="" tap="" specimens="" scenario="" make_prefix=0
registered=all
while [ $# -gt 0 ]; do
    case $1 in
    --bits) bits=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --driver) driver=$2; shift 2 ;;
    --help-stub) help_stub=$2; shift 2 ;;
    --holder) holder=$2; shift 2 ;;
    --tap) tap=$2; shift 2 ;;
    --specimens) specimens=$2; shift 2 ;;
    --scenario) scenario=$2; shift 2 ;;
    --make-prefix) make_prefix=1; shift ;;
    --registered) registered=$2; shift 2 ;;
    *) echo "run_e2e: unknown argument $1" >&2; exit 2 ;;
    esac
done

here=$(cd "$(dirname "$0")" && pwd)
# Where the kernel refuses i386 code the 32-bit runs go on emulated. An
# emulator that starts a Wine process in seconds (scripts/emulate-i386
# --fast) runs them as natively: the prefix, then each scenario in its own
# copy and session (xp10 and set, which only save session starts, skip).
# A slow one runs e2e_xp10 alone, or with E2E_EMULATE=all (make check-win32)
# every scenario in one session (e2e_set). The others skip, saying so.
if [ "$bits" = 32 ] && [ "${WINE_EMULATED:-0}" != 1 ] && ! why=$("$here/../../scripts/kernel-runs-i386"); then
    mode=xp10 slow=3
    if "$here/../../scripts/emulate-i386" --fast; then
        mode=each
    else
        slow=20
        [ "${E2E_EMULATE:-}" != all ] || mode=set
    fi
    # The one this mode needs, left out where the build was configured with a
    # fast emulator: every 32-bit test would skip and the set pass empty.
    if [ $mode != each ] && [ "$registered" != all ] && [[ " $registered " != *" $mode "* ]]; then
        echo "e2e: $why, and this emulator is slow: e2e_$mode would run, but this build was configured with a fast one and has none; configure it again (cmake -S . -B $build)"
        exit 1
    fi
    case $mode:$scenario in
    each:xp10 | each:set) ;;
    each:* | xp10:xp10 | set:set)
        echo "e2e: $why: 32-bit Wine runs under user-mode emulation (qemu-i386)"
        WINE_EMULATED=1 E2E_SLOW=${E2E_SLOW:-$slow} exec "$here/../../scripts/emulate-i386" \
            "$here/../../scripts/native-i386" bash "$0" "${given[@]}"
        ;;
    esac
    case $mode in
    each) echo "e2e: skipped: $why; the 32-bit scenarios run emulated, each in its own session" ;;
    set) echo "e2e: skipped: $why; this emulator (older than qemu 8.1, or none) starts each Wine process in a minute: the 32-bit scenarios run emulated in one session (e2e_set)" ;;
    *) echo "e2e: skipped: $why; this emulator (older than qemu 8.1, or none) starts each Wine process in a minute: only e2e_xp10 runs emulated (make check-win32 runs all of them, in e2e_set)" ;;
    esac
    exit 77
fi
if [ "$scenario" = set ] && [ "$bits" = 32 ] && [ "${WINE_EMULATED:-0}" != 1 ]; then
    echo "e2e: skipped: this kernel runs i386 code, and each 32-bit scenario runs in its own session"
    exit 77
fi
# wow64 where the kernel refuses i386 code, under the same emulator, in the
# same view: Wine's 64-bit loader starts a 32-bit program with the 32-bit
# loader beside its own real path (whatever WINELOADER says), and each half
# finds its libraries beside its own; the prefix the scenario makes has
# syswow64's 32-bit programs (made by the 32-bit rundll32 of its update).
if [ "$scenario" = wow64 ] && [ "${WINE_EMULATED:-0}" != 1 ] &&
    ! why=$("$here/../../scripts/kernel-runs-i386"); then
    [ -f "$exe" ] || { echo "e2e: skipped: no 32-bit program at $exe (make win32)"; exit 77; }
    slow=3
    if ! "$here/../../scripts/emulate-i386" --fast; then
        [ "${E2E_EMULATE:-}" = all ] ||
            { echo "e2e: skipped: $why; this emulator (older than qemu 8.1, or none) starts each Wine process in a minute: make check-win32 runs WoW64 emulated"; exit 77; }
        slow=20
    fi
    echo "e2e: $why: Wine's 32-bit half runs under user-mode emulation (qemu-i386)"
    WINE_EMULATED=1 E2E_SLOW=${E2E_SLOW:-$slow} exec "$here/../../scripts/emulate-i386" \
        "$here/../../scripts/native-i386" bash "$0" "${given[@]}"
fi
# Where the kernel runs i386 code, the 32-bit Wine unpacked into
# build/i386-root runs natively, seen at its installed paths in a namespace
# of the scenario's own (scripts/native-i386): the 32-bit scenarios, and
# wow64, whose wine64 starts the 32-bit loader beside its own.
if [ "${NATIVE_I386:-0}" != 1 ] && [ "${WINE_EMULATED:-0}" != 1 ] &&
    { [ "$bits" = 32 ] || [ "$scenario" = wow64 ]; }; then
    exec "$here/../../scripts/native-i386" bash "$0" "${given[@]}"
fi
export WINE_BITS=$bits
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
usable=0
why=$(wine_bits_usable) || usable=$?
if [ $usable -eq 1 ]; then
    echo "e2e: skipped: $why"
    exit 77
elif [ $usable -ne 0 ]; then
    echo "e2e: $why"
    exit 1
fi

root="$build/e2e"
template="$root/template-prefix"
mkdir -p "$root"

if [ $make_prefix -eq 1 ]; then
    wine_make_prefix "$template" "$root/home"
    echo "e2e: Wine prefix ready in $template"
    [ "${WINE_EMULATED:-0}" != 1 ] ||
        echo "emulated: e2e_prefix made the 32-bit prefix under ${I386_EMULATOR:-qemu-i386} in ${SECONDS} s"
    exit 0
fi

# wow64 makes a prefix of its own, with syswow64: the template was made
# outside the view of the 32-bit Wine, and has none.
own_prefix=0
[ "$scenario" = wow64 ] && own_prefix=1
[ "$scenario" = xp10 ] || [ "$scenario" = set ] || [ $own_prefix = 1 ] || [ -d "$template/drive_c" ] ||
    { echo "e2e: no prefix in $template (run e2e_prefix first)"; exit 1; }
[ "$scenario" != wow64 ] || [ -f "$exe" ] || { echo "e2e: skipped: no 32-bit program at $exe (make win32)"; exit 77; }

dir="$root/$scenario"
rm -rf "$dir"
mkdir -p "$dir"
prefix="$dir/prefix"
export WINEPREFIX="$prefix" HOME="$root/home"

# The scenarios of the set, in the order its one Wine session runs them, and
# the Windows version Wine reports to each ("": the prefix's own). The
# window scenarios come first, on a prefix as fresh as a copy of the
# template; each system scenario tidies up after itself (its specimens,
# values, pending renames); cancel, which leaves a held file scheduled for a
# restart, comes last.
set_scenarios=(idle product scan winxp win10 nt40 win98 cancel)
set_versions=("" "" "" winxp win10 nt40 win98 nt40)
outs=("$dir")
[ "$scenario" != set ] || outs=("${set_scenarios[@]/#/$dir/}")

cleanup() {
    wine_stop "$prefix"
    xvfb_stop
    local out
    for out in "${outs[@]}"; do
        wine_collect_shots "$out/shots" "$out"
        # The log taps stay beside the pictures; the BMP originals go.
        find "$out/shots" -name '*.log' -exec mv {} "$out/" \; 2> /dev/null || true
        if [ "${E2E_KEEP:-0}" != 1 ]; then rm -rf "$out/shots"; fi
    done
    if [ "${E2E_KEEP:-0}" != 1 ]; then rm -rf "$prefix"; fi
}
trap cleanup EXIT
if [ "$scenario" = xp10 ] || [ "$scenario" = set ]; then
    # Its own prefix, whose Wine session (made on the scenario's display)
    # goes on for the driver: under emulation each process start counts.
    xvfb_start "$dir"
    WINE_BOOT_HOLDER=$holder wine_make_prefix "$prefix" "$HOME" live
    echo "e2e: prefix and session ready in $SECONDS s"
elif [ $own_prefix = 1 ]; then
    wine_make_prefix "$prefix" "$HOME"
    [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
        { echo "e2e: the prefix has no 32-bit half (syswow64 empty): Wine's 32-bit loader did not run"; exit 1; }
    echo "e2e: prefix with syswow64 ($(ls "$prefix/drive_c/windows/syswow64" | wc -l) files) ready in $SECONDS s"
else
    cp -a "$template" "$prefix"
fi

cpx="$prefix/drive_c/cpx"
mkdir -p "$cpx"
cp "$exe" "$cpx/CleanPhantaxis.exe"
cp "$driver" "$cpx/e2e_driver.exe"
cp "$holder" "$cpx/e2e_holder.exe"
cp "$tap" "$cpx/e2e_logtap.dll"
specimens=$(cd "$specimens" && pwd)

# A host path as Wine names it without a drive letter: \\?\unix\...
unix_path() { printf '\\\\?\\unix%s' "${1//\//\\}"; }

# plant <row> <Windows path>: copies specimen rec-<row>.exe to that path on C:.
plant() {
    local row=$1 win=$2
    local src
    src=$(printf '%s/rec-%03d.exe' "$specimens" "$row")
    [ -f "$src" ] || { echo "e2e: missing specimen $src (build the host first)"; exit 1; }
    local host="$prefix/drive_c/${win#C:\\}"
    host=${host//\\//}
    mkdir -p "$(dirname "$host")"
    cp "$src" "$host"
    args+=(--specimen "$row=$win")
}

# version <name>: the Windows version Wine reports to every program of the
# prefix, written before its session starts (a set's driver sets it instead).
version() {
    [ "$scenario" = set ] ||
        printf '\n[Software\\\\Wine] 1700000000\n"Version"="%s"\n' "$1" >> "$prefix/user.reg"
}

# prepare <scenario>: plants on C: what the scenario needs and adds its
# options to the driver's arguments (args) and environment (driver_env).
prepare() {
    driver_env=()
    case $1 in
    idle) ;; # Wine's own winhlp32.exe has no hand cursor: the buttons keep the arrow
    product)
        # A help program with a hand cursor: the buttons take it. Wine would
        # load its own built-in winhlp32 in place of the file without the override.
        cp "$help_stub" "$prefix/drive_c/windows/winhlp32.exe"
        driver_env=(WINEDLLOVERRIDES="winhlp32.exe=n")
        ;;
    scan)
        plant 1 'C:\infected\rec-001.exe'
        # Deep enough that its log line is wider than the list.
        plant 28 'C:\Program Files\Common Files\Kelvora Shared Components\Automatic Updater Service\update-helper-service.exe'
        plant 45 'C:\users\Public\Documents\invoice.pdf.exe'
        plant 54 'C:\deep\a\b\c\d\e\f\g\h\svchost.exe'
        plant 127 'C:\windows\temp\rec-127.exe'
        # A read-only one: the check resets its attributes before deleting it.
        chmod a-w "$prefix/drive_c/windows/temp/rec-127.exe"
        # 300 in all: the log passes 150 lines during the walk, and the
        # statistics arrive with the list full.
        for i in $(seq -w 1 295); do plant 45 "C:\\many\\copy$i.exe"; done
        args+=(--tap 'C:\cpx\e2e_logtap.dll')
        ;;
    cancel)
        # A tree of 40,000 small files, so that the walk runs on while the driver
        # tries each way of stopping it, on a loaded machine too.
        bulk="$prefix/drive_c/bulk"
        for d in $(seq -w 0 399); do
            mkdir -p "$bulk/d$d"
            (cd "$bulk/d$d" && printf 'not a program\n' | tee f{000..099}.txt > /dev/null)
        done
        # Two in the root, which the walk checks before any folder; the first is
        # held open, so that every run ends with the restart question.
        plant 2 'C:\held.exe'
        plant 3 'C:\early.exe'
        # Reported as NT 4.0, which schedules a held file by its path: 2000 and
        # later first move it into a waiting folder, which a file held without
        # delete sharing refuses, and then offer no restart.
        version nt40
        args+=(--holder 'C:\cpx\e2e_holder.exe' --tap 'C:\cpx\e2e_logtap.dll')
        ;;
    win98 | nt40 | winxp | win10 | wow64 | xp10)
        # wow64 runs the 32-bit program on Windows 10; xp10's driver sets
        # the version itself.
        case $1 in wow64) version win10 ;; xp10) ;; *) version "$1" ;; esac
        if [ "$1" = winxp ] || [ "$1" = win10 ] || [ "$1" = xp10 ]; then
            # Two directory links in C:\loop\inner pointing back at C:\loop (Wine
            # shows a host symbolic link to a folder as a reparse point, as
            # Windows shows a junction): the walk lists them without entering.
            mkdir -p "$prefix/drive_c/loop/inner"
            ln -sfn ../../loop "$prefix/drive_c/loop/inner/a"
            ln -sfn ../../loop "$prefix/drive_c/loop/inner/b"
        fi
        args+=(--specimens "$(unix_path "$specimens")" --holder 'C:\cpx\e2e_holder.exe'
            --tap 'C:\cpx\e2e_logtap.dll')
        ;;
    *) echo "e2e: unknown scenario $1"; exit 2 ;;
    esac
}

# drive <scenario> <folder> [<version>]: runs the driver through the
# scenario, its output in <folder>; with a version, Wine reports it to the
# programs started after. Its status: 0 when every check passed.
drive() {
    local name=$1 out=$2 next=${3:-} status=0
    mkdir -p "$out/shots"
    args=(--exe 'C:\cpx\CleanPhantaxis.exe' --shots "$(unix_path "$out/shots")")
    [ -z "$next" ] || args+=(--next-version "$next")
    prepare "$name"
    echo "e2e: scenario $name on display $DISPLAY, prefix $prefix"
    # Into a file, not a pipe: a program the driver leaves running (a crash
    # ends the driver early) keeps its output open through the Wine server
    # until wine_stop, and a pipe's reader would wait for that to the time limit.
    (cd "$prefix/drive_c" && timeout $((280 * ${E2E_SLOW:-1})) env "${driver_env[@]}" \
        "$WINE" 'C:\cpx\e2e_driver.exe' "$name" "${args[@]}") \
        > "$out/driver.log" 2> "$out/wine-stderr.log" || status=$?
    sed -i 's/\r$//' "$out/driver.log"
    cat "$out/driver.log"
    [ -s "$out/wine-stderr.log" ] && sed 's/^/wine: /' "$out/wine-stderr.log" | head -20
    grep -q '^FAIL' "$out/driver.log" && status=1
    grep -qE '^[0-9]+ passed, 0 failed$' "$out/driver.log" || status=1
    return $status
}

[ -n "${XVFB_PID:-}" ] || xvfb_start "$dir"
status=0
if [ "$scenario" = set ]; then
    summary=()
    for i in "${!set_scenarios[@]}"; do
        name=${set_scenarios[$i]} next=${set_versions[$((i + 1))]:-} started=$SECONDS
        [ "$next" != "${set_versions[$i]}" ] || next=""
        result=passed
        drive "$name" "$dir/$name" "$next" || { result=failed; status=1; }
        summary+=("$name $result in $((SECONDS - started)) s")
    done
    printf 'e2e_set: %s\n' "${summary[@]}"
else
    drive "$scenario" "$dir" || status=1
fi
# The line scripts/run-tests repeats: what ran emulated, and how it ended.
if [ "${WINE_EMULATED:-0}" = 1 ]; then
    [ "$scenario" != set ] || echo "emulated: e2e_set, one Wine session: $(IFS=,; echo "${summary[*]}" | sed 's/,/, /g')"
    echo "emulated: e2e_$scenario ran the 32-bit program under ${I386_EMULATOR:-qemu-i386}: $([ $status -eq 0 ] && echo passed || echo failed) in ${SECONDS} s"
fi
exit $status
