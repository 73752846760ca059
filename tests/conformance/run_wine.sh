#!/bin/bash
# run_wine.sh <conformance.exe> <work folder> [case name parts]: runs the
# conformance program under Wine (wine64, or with WINE_BITS=32 the 32-bit
# loader) in a fresh prefix of its own (no display: its one window is
# message-only); its exit code is the result. Where the kernel refuses i386
# code, a 32-bit run goes on under emulation where the emulator is fast
# (qemu 8.1 and later) or with E2E_EMULATE=all (make check-win32), else
# exits 77 (skipped), as run_e2e.sh does.
set -u
exe=$1 work=$2
scripts=$(dirname "$0")/../../scripts
if [ "${WINE_BITS:-64}" = 32 ] && [ "${WINE_EMULATED:-0}" != 1 ] && ! why=$("$scripts/kernel-runs-i386"); then
    [ "${E2E_EMULATE:-}" = all ] || "$scripts/emulate-i386" --fast ||
        { echo "skipped: $why; this emulator is slow (older than qemu 8.1): make check-win32 runs it emulated"; exit 77; }
    echo "$why: 32-bit Wine runs under user-mode emulation (qemu-i386)"
    # The prefix's waits scale as run_e2e.sh's do.
    slow=3
    "$scripts/emulate-i386" --fast || slow=20
    WINE_EMULATED=1 E2E_SLOW=${E2E_SLOW:-$slow} exec "$scripts/emulate-i386" "$scripts/native-i386" bash "$0" "$@"
fi
# Natively: the unpacked 32-bit Wine at its installed paths (scripts/native-i386).
if [ "${WINE_BITS:-64}" = 32 ] && [ "${WINE_EMULATED:-0}" != 1 ] && [ "${NATIVE_I386:-0}" != 1 ]; then
    exec "$scripts/native-i386" bash "$0" "$@"
fi
. "$(dirname "$0")/../e2e/wine-env.sh"
prefix=$work/prefix
wine_make_prefix "$prefix" "$work/home" || exit 1
cp "$exe" "$prefix/drive_c/conformance.exe"
# A host folder link, for the case that pins how Wine lists one.
mkdir -p "$prefix/drive_c/hosttarget" && ln -s hosttarget "$prefix/drive_c/hostlink"
cd "$prefix/drive_c" || exit 1
WINEPREFIX=$prefix HOME=$work/home WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
    "$WINE" 'C:\conformance.exe' "${@:3}"
rc=$?
[ "${WINE_EMULATED:-0}" = 1 ] && echo "emulated: conformance_wine32 ran under ${I386_EMULATOR:-qemu-i386}: exit status $rc"
wine_stop "$prefix"
cd / && rm -rf "$prefix"
exit $rc
