# Shared by the end-to-end tests and scripts/demo (sourced, not run): where
# Wine and its server are, how a prefix for the program is made, and a
# private Xvfb display.
#
# WINE_BITS=64 (the default) picks wine64 and a 64-bit prefix; WINE_BITS=32
# picks the 32-bit loader and a 32-bit prefix (WINEARCH=win32), served by
# the same wineserver. The 32-bit Wine is the one scripts/install-deps
# unpacked into build/i386-root: the caller runs under scripts/native-i386,
# where it stands at its installed paths, natively or under
# scripts/emulate-i386 (WINE_EMULATED=1). Then wine_bits_usable tells
# whether this machine can run it at all.

export WINEDEBUG=-all
WINE_BITS=${WINE_BITS:-64}
WINE=${WINE:-}
if [ "$WINE_BITS" = 32 ]; then
    export WINEARCH=win32
    [ -n "$WINE" ] || WINE=/usr/lib/wine/wine
else
    unset WINEARCH
    if [ -z "$WINE" ]; then
        for w in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
            [ -n "$w" ] && [ -x "$w" ] && { WINE=$w; break; }
        done
    fi
fi
if [ -z "${WINESERVER:-}" ]; then
    for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
        [ -n "$s" ] && [ -x "$s" ] && { WINESERVER=$s; break; }
    done
fi
export WINE WINESERVER
[ -n "$WINE" ] && [ -n "${WINESERVER:-}" ] || { echo "wine64 and wineserver are needed" >&2; exit 1; }

# wine_bits_usable: 0 when $WINE can run here; else 1 with the reason on
# stdout when the kernel cannot run its code (nothing to install helps), or
# 2 with the reason when it could but $WINE is missing or broken.
wine_bits_usable() {
    [ "$WINE_BITS" = 32 ] || return 0
    local why
    if [ "${WINE_EMULATED:-0}" != 1 ] &&
        ! why=$("$(dirname "${BASH_SOURCE[0]}")/../../scripts/kernel-runs-i386"); then
        echo "$why"
        return 1
    fi
    if [ ! -x "$WINE" ]; then
        echo "no 32-bit Wine loader $WINE (scripts/install-deps unpacks wine32:i386 into build/i386-root; natively the tests see it there through scripts/native-i386)"
        return 2
    fi
    if ! "$WINE" --version > /dev/null 2>&1; then
        echo "the 32-bit Wine loader $WINE does not start"
        return 2
    fi
    return 0
}

# wine_make_prefix <prefix> <home> [live]: a fresh prefix whose only drive is
# C:, with no symbolic links out of drive_c (the user folders would otherwise
# point into <home>). A prefix counts as made when wineboot succeeded and left
# what a working one has: Windows' programs in system32 and the time stamp
# of the finished update. With "live" its Wine session (wineserver, services,
# devices, on the caller's display) goes on running for the caller's
# programs, who ends it with wine_stop; without, it has ended and saved the
# registry.
wine_make_prefix() {
    local prefix=$1 home=$2 live=${3:-} status=0
    rm -rf "$prefix"
    mkdir -p "$home" "$prefix"
    # No debugger for a program that crashes: it ends at once, its exit code
    # the exception's code, and a test waiting for it sees that, where
    # winedbg would hold it until the test's time limit. Windows starts the
    # command of the AeDebug key's Debugger value (with Auto 1, without
    # asking; Microsoft's "Configuring Automatic Debugging"). Wine reads the
    # same values and, where Debugger is absent, starts winedbg; an empty
    # command starts nothing, and the process then ends with the code
    # (kernelbase's start_debugger and UnhandledExceptionFilter, ntdll's
    # RtlUserThreadStart in wine-mirror/wine). The values are in the
    # registry before Wine's first process: its wine.inf writes its own
    # only where none is (FLG_ADDREG_NOCLOBBER), and a live session keeps
    # its registry in the server. A 64-bit prefix has them in the 32-bit
    # programs' view too.
    local arch=win64 view views=("")
    [ "$WINE_BITS" = 32 ] && arch=win32 || views+=('Wow6432Node\\')
    {
        printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=%s\n' "$arch"
        for view in "${views[@]}"; do
            printf '\n[Software\\\\%sMicrosoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug] 1700000000\n' "$view"
            printf '"Auto"="1"\n"Debugger"=""\n'
        done
    } > "$prefix/system.reg"
    (
        export WINEPREFIX="$prefix" HOME="$home" WINEDLLOVERRIDES="mscoree,mshtml="
        [ -n "$live" ] || export DISPLAY=
        # Wine's first process starts the prefix's update (wineboot --init)
        # and waits five minutes at most for it before running anyway; under
        # emulation the update takes longer, and a wineboot run then would do
        # it all again beside the first. So there the first process is a
        # trivial one, and that wineboot is waited for: in the emulator's
        # process namespace every process seen is the test's own. (The
        # update's time stamp is written as it starts, not as it ends.)
        local first=(wineboot -i) held=""
        [ "${WINE_EMULATED:-0}" != 1 ] || first=(cmd /c exit)
        if [ -n "$live" ]; then
            # A server that outlives the last program keeps the prefix's
            # objects for the caller's programs.
            mkdir -p "$prefix"
            "$WINESERVER" -p || exit $?
            # And with WINE_BOOT_HOLDER (e2e_holder) a second process holds
            # Wine's boot event until wine_stop, so that the caller's
            # programs find the session booted rather than boot it again.
            # It starts once the update has put Windows' libraries in
            # place (before, a program fails to load kernel32.dll), while
            # that wineboot still runs: it then takes over its event.
            if [ "${WINE_EMULATED:-0}" = 1 ] && [ -n "${WINE_BOOT_HOLDER:-}" ]; then
                held="$prefix.boot-held"
                rm -f "$held" "$held.status"
            fi
        fi
        # Emulated, it may have run before the update put its program in
        # place: what the update left is the judge there.
        "$WINE" "${first[@]}" > /dev/null 2>&1 || {
            local failed=$?
            [ "${WINE_EMULATED:-0}" = 1 ] || exit $failed
        }
        local waited=0
        if [ -n "$held" ]; then
            until [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; do
                [ $waited -lt $((600 * ${E2E_SLOW:-1})) ] || exit 124
                sleep 5
                waited=$((waited + 5))
            done
            { "$WINE" "$WINE_BOOT_HOLDER" --boot "\\\\?\\unix${held//\//\\}" > "$held.log" 2>&1
                echo $? > "$held.status"; } &
            until [ -f "$held" ]; do
                [ $waited -lt $((900 * ${E2E_SLOW:-1})) ] || exit 124
                if [ -f "$held.status" ]; then
                    echo "the boot event's holder ended with status $(cat "$held.status"):" >&2
                    cat "$held.log" >&2
                    exit 125
                fi
                sleep 5
                waited=$((waited + 5))
            done
        fi
        waited=0
        while [ "${WINE_EMULATED:-0}" = 1 ] && cat /proc/[0-9]*/cmdline 2> /dev/null | tr '\0' ' ' |
            grep -q 'wineboo[t]'; do
            [ $waited -lt $((120 * ${E2E_SLOW:-1})) ] || exit 124
            sleep 5
            waited=$((waited + 5))
        done
        [ -n "$live" ] || "$WINESERVER" -w
    ) || status=$?
    local bad=""
    [ $status -eq 0 ] || bad="wineboot failed (exit status $status)"
    [ -n "$bad" ] || [ -f "$prefix/drive_c/windows/system32/services.exe" ] ||
        bad="no Windows programs in system32"
    [ -n "$bad" ] || [ -f "$prefix/.update-timestamp" ] || bad="the update did not finish"
    [ -n "$bad" ] || [ -n "$live" ] || [ -f "$prefix/system.reg" ] || bad="no registry"
    [ -n "$bad" ] || [ -n "$live" ] || awk '/^\[/ { key = /^\[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\AeDebug\]/ }
        key && $0 == "\"Debugger\"=\"\"" { none = 1 } END { exit !none }' "$prefix/system.reg" ||
        bad="a program that crashes would wait for a debugger"
    if [ -n "$bad" ]; then
        echo "wineboot made no working prefix in $prefix: $bad" >&2
        return 1
    fi
    find "$prefix/dosdevices" -mindepth 1 -maxdepth 1 ! -name 'c:' -exec rm -f {} +
    find "$prefix/drive_c" -type l | while IFS= read -r link; do
        rm -f "$link"
        mkdir -p "$link"
    done
}

# wine_stop <prefix>: ends every Wine process of the prefix.
wine_stop() {
    WINEPREFIX=$1 "$WINESERVER" -k 2> /dev/null || true
    WINEPREFIX=$1 "$WINESERVER" -w 2> /dev/null || true
    rm -f "$1.boot-held" "$1.boot-held.log" "$1.boot-held.status"
}

# xvfb_start <dir>: a private display (1024x768, 24 bits); sets DISPLAY.
xvfb_start() {
    local dir=$1
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$dir/display" > "$dir/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        [ -s "$dir/display" ] && break
        sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -n1 "$dir/display")"
}

xvfb_stop() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2> /dev/null || true
        wait "$XVFB_PID" 2> /dev/null || true
        XVFB_PID=
    fi
}

# wine_collect_shots <folder of BMPs> <dest>: PNG copies of the screenshots.
wine_collect_shots() {
    local src=$1 dst=$2 f
    [ -d "$src" ] || return 0
    for f in "$src"/*.bmp; do
        [ -f "$f" ] || continue
        convert "$f" "$dst/$(basename "${f%.bmp}").png" 2> /dev/null || cp "$f" "$dst/"
    done
}
