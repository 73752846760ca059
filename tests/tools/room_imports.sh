#!/bin/bash
# The room stays closed: outside actions/, each object file of the program
# calls only the reading functions of the list (tests/tools/reading_calls),
# as its import table and undefined symbols say: what the linker binds,
# however the source spelled it. A name listed with "@ files" is allowed in
# those objects alone (the doors of platform/ and ui/). Prints each object
# and function off the list and fails.
#   room_imports.sh NM BITS LIST BUILD-DIR OBJECTS... (CMake's ;-lists)
nm=$1 bits=$2 list=$3 build=$4
shift 4
objects=$(tr ';' '\n' <<<"$*" | tr ' ' '\n' | grep '\.obj$' | sort)
[ -n "$objects" ] || { echo "no objects given"; exit 1; }
# Each symbol as "source<TAB>symbol" (an import's slot that an object
# defines is marked so), the program's own symbols left out (a call into
# actions/ is the room's business), and the 32-bit build's decoration off.
found=$("$nm" -A $objects | awk -v bits="$bits" -v build="$build/" '
    {
        object = $1; sub(/:[0-9a-f]*$/, "", object) # object:address kind symbol
        source = object; sub(build, "", source); sub(/CMakeFiles\/[^\/]*\.dir\//, "", source)
        sub(/\.obj$/, "", source); room = source ~ /^actions\//
        symbol = $NF; kind = NF == 3 ? $2 : $(NF - 1)
        if (kind != "U" && kind != "w") {
            if (symbol !~ /^_*imp_/) own[symbol] = 1
            else if (!room) print source "\tdefines " symbol
            next
        }
        if (!room) used[source "\t" symbol] = symbol
    }
    END {
        for (key in used) {
            symbol = used[key]
            if (symbol !~ /^__imp_/ && symbol in own) continue
            sub(/^__imp_/, "", symbol)
            if (bits == 32) { sub(/^_/, "", symbol); sub(/@[0-9]+$/, "", symbol) }
            print substr(key, 1, index(key, "\t")) symbol
        }
    }' | sort -u)
# Names as the list writes them: C++ ones demangled, without their arguments.
bad=$(paste <(cut -f1 <<<"$found") <(cut -f2 <<<"$found" | c++filt | sed 's/(.*$//') | awk -F'\t' '
    FNR == NR {
        line = $0; sub(/[[:space:]]*#.*$/, "", line)
        if (line == "") next
        n = split(line, part, / @ /); only[part[1]] = n > 1 ? " " part[2] " " : ""; listed[part[1]] = 1
        next
    }
    !($2 in listed) || (only[$2] != "" && index(only[$2], " " $1 " ") == 0) { print $1 ": " $2 }' "$list" -)
if [ -n "$bad" ]; then
    echo "calls off the reading list outside actions/ (a new reading call is a line of $list):"
    echo "$bad"
    exit 1
fi
echo "the room is closed: $(wc -w <<<"$objects") objects, each calling only functions of the reading list"
