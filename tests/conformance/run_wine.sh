#!/bin/bash
# run_wine.sh <conformance.exe> <work folder> [case name parts]: runs the
# conformance program under Wine (wine64, or the loader WINE names) in a
# fresh prefix of its own (no display: its one window is message-only); its
# exit code is the result.
set -u
exe=$1 work=$2
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
wine_stop "$prefix"
cd / && rm -rf "$prefix"
exit $rc
