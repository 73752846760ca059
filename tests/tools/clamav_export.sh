#!/usr/bin/env bash
# The table exported for ClamAV finds what the file check finds: clamscan, with
# only the exported signatures, reports every specimen and every runnable
# specimen (laid out otherwise) under its own record's name, and neither a
# copy one byte longer, nor one whose second window differs in one byte, nor
# a text file of the specimen's length holding both windows where it does,
# nor the specimen with its PE signature damaged (only "MZ" is left).
#
#   clamav_export.sh <export_clamav> <specimen folder>
set -euo pipefail
exporter=$1 specimens=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$exporter" "$work/table.ldb" > /dev/null
mkdir "$work/tree"
python3 - "$work/table.ldb" "$specimens" "$work/tree" > "$work/expected" <<'PY'
import os, sys
ldb, specimens, tree = sys.argv[1:]
names = {}
for row, line in enumerate(open(ldb).read().splitlines(), 1):
    fields = line.split(";")
    names[row] = fields[0]
    data = bytearray(open(os.path.join(specimens, "rec-%03d.exe" % row), "rb").read())
    open(os.path.join(tree, "rec-%03d.exe" % row), "wb").write(data)
    open(os.path.join(tree, "long-%03d.exe" % row), "wb").write(data + b"\0")
    text = bytearray((b"Not a program, only text.\r\n" * (len(data) // 27 + 1))[: len(data)])
    for field in fields[3:]:  # the second window's last
        pattern = bytes.fromhex(field.split(":")[1])
        at = data.find(pattern)
        text[at : at + 20] = pattern
    open(os.path.join(tree, "text-%03d.txt" % row), "wb").write(text)
    dos = bytearray(data)  # no PE signature: only "MZ", a DOS program's start
    dos[int.from_bytes(data[0x3C:0x40], "little") + 1] ^= 0x40
    open(os.path.join(tree, "dos-%03d.exe" % row), "wb").write(dos)
    data[at + 19] ^= 0x40
    open(os.path.join(tree, "spoiled-%03d.exe" % row), "wb").write(data)
    print("rec-%03d.exe: %s.UNOFFICIAL FOUND" % (row, names[row]))
for file in sorted(os.listdir(specimens)):
    if file.startswith("run") and file.endswith(".exe"):
        open(os.path.join(tree, file), "wb").write(open(os.path.join(specimens, file), "rb").read())
        print("%s: %s.UNOFFICIAL FOUND" % (file, names[int(file[-7:-4])]))
PY
status=0
clamscan --no-summary -i -r -d "$work/table.ldb" "$work/tree" > "$work/found" 2> /dev/null || status=$?
[ "$status" -le 1 ] || { echo "clamscan failed ($status)" >&2; exit 1; }
sed "s|^$work/tree/||" "$work/found" | sort > "$work/got"
sort "$work/expected" > "$work/want"
if ! diff "$work/want" "$work/got"; then
    echo "clamav_export: clamscan's findings differ from the specimens (< wanted, > found)" >&2
    exit 1
fi
grep -q '^run32-' "$work/want" || { echo "clamav_export: no runnable specimens" >&2; exit 1; }
echo "clamav_export: $(wc -l < "$work/got") specimens found, no near miss, no text file"
