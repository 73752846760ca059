#!/bin/bash
# The room stays closed: outside actions/, each object file of the program
# calls only the reading functions of the list (tests/tools/reading_calls),
# as its import table and undefined symbols say: what the linker binds,
# however the source spelled it. A name listed with "@ files" is allowed in
# those objects alone (the doors of platform/ and ui/). A function defined in
# actions/ is called from outside only where the list pins it, by its whole
# signature ("Name(args) @ files"). Prints each object and function off the
# list and fails. A line of the list names one or several functions.
#   room_imports.sh NM BITS LIST BUILD-DIR OBJECTS... (CMake's ;-lists)
set -o pipefail
nm=$1 bits=$2 list=$3 build=$4
shift 4
[ -s "$list" ] || { echo "no reading list at $list"; exit 1; }
objects=$(tr ';' '\n' <<<"$*" | tr ' ' '\n' | grep '\.obj$' | sort -u)
[ -n "$objects" ] || { echo "no objects given"; exit 1; }
symbols=$("$nm" -A $objects) || { echo "$nm failed on the objects"; exit 1; }
read_objects=$(cut -d: -f1 <<<"$symbols" | sort -u)
unread=$(comm -23 <(echo "$objects") <(echo "$read_objects"))
[ -z "$unread" ] || { echo "$nm reported nothing for:"; echo "$unread"; exit 1; }
# Each symbol as "source<TAB>kind<TAB>symbol": "call" for a function of the
# system or the run-time, "entry" for one defined in actions/ (an import's
# slot that an object defines is marked so); the program's other own symbols
# are left out, and the 32-bit build's decoration taken off.
found=$(awk -v bits="$bits" -v build="$build/" '
    {
        object = $1; sub(/:[0-9a-f]*$/, "", object) # object:address kind symbol
        source = object; sub(build, "", source); sub(/CMakeFiles\/[^\/]*\.dir\//, "", source)
        sub(/\.obj$/, "", source); room = source ~ /^actions\//
        symbol = $NF; kind = NF == 3 ? $2 : $(NF - 1)
        if (kind != "U" && kind != "w") {
            if (symbol ~ /^_*imp_/) { if (!room) print source "\tcall\tdefines " symbol }
            else if (room) entry[symbol] = 1
            else own[symbol] = 1
            next
        }
        if (!room) used[source "\t" symbol] = symbol
    }
    END {
        for (key in used) {
            symbol = used[key]
            if (symbol in entry) {
                if (bits == 32) sub(/^_/, "", symbol)
                print substr(key, 1, index(key, "\t")) "entry\t" symbol
                continue
            }
            if (symbol !~ /^__imp_/ && symbol in own) continue
            sub(/^__imp_/, "", symbol)
            if (bits == 32) { sub(/^_/, "", symbol); sub(/@[0-9]+$/, "", symbol) }
            print substr(key, 1, index(key, "\t")) "call\t" symbol
        }
    }' <<<"$symbols" | sort -u) || { echo "reading the symbols failed"; exit 1; }
# Names as the list writes them: C++ ones demangled; calls without their
# arguments, entries into actions/ with them.
bad=$(paste <(cut -f1,2 <<<"$found") <(cut -f3 <<<"$found" | c++filt) | awk -F'\t' '
    FILENAME == ARGV[1] {
        line = $0; sub(/[[:space:]]*#.*$/, "", line)
        if (line == "") next
        # Plain names, several to a line; a C++ name with blanks or a
        # signature stands alone. A name listed twice is a fault.
        n = split(line, part, / @ /); m = split(part[1], word, /[[:space:]]+/)
        if (part[1] ~ /[^A-Za-z0-9_: ]|(^| )(operator|vtable|for)( |$)/) { m = 1; word[1] = part[1] }
        for (i = 1; i <= m; i++) {
            if (word[i] in listed) print "the list names " word[i] " twice"
            only[word[i]] = n > 1 ? " " part[2] " " : ""; listed[word[i]] = 1
        }
        next
    }
    {
        name = $3
        if ($2 == "call") sub(/\(.*$/, "", name)
        else if (only[name] == "") { print $1 ": " name " (an action, pinned to no caller)"; next }
        if (!(name in listed) || (only[name] != "" && index(only[name], " " $1 " ") == 0))
            print $1 ": " name
    }' "$list" -) || { echo "reading the list failed"; exit 1; }
if [ -n "$bad" ]; then
    echo "calls off the reading list outside actions/ (a new reading call is a name added to $list):"
    echo "$bad"
    exit 1
fi
echo "the room is closed: $(wc -w <<<"$objects") objects, each calling only functions of the reading list"
