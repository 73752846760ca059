"""The program's code as the checks of the room read it: comments blanked,
literals read whole before any token, so that nothing inside a comment or a
literal puts the reader out of step with the compiler's. Shared by
room_closed.sh and proofs_closed.sh.

Read as the compiler reads them: a backslash at a line's end joins the two
lines (a name split so is one name), blanks or a carriage return between
the backslash and the line's break too, as g++ joins them; // and /* */ comments; "..." strings
with their escapes, and their prefixes (L, u, U, u8); raw strings
R"delim(...)delim" with any prefix (u8R, LR, uR, UR), which end only at
their own closing; character literals ('"' is one character, not a string's
start), apart from the digit separator of a number (1'000): a ' after a
number's characters and before a digit or letter, as the compiler's number
token takes it (0'"' is the number 0 and a character). A literal or a
character constant left open at its line's end is no literal.

code_of gives each string literal as "name" when its whole text is an
identifier (a name resolved at run time, maybe written in pieces: adjacent
literals are joined first) and as "" otherwise; a character literal becomes
''. Line breaks are kept, so a position's line is the source's."""
import re

_raw_prefix = re.compile(r"(?<![\w])(?:u8|u|U|L)?R$")
_raw_open = re.compile(r"([^()\\\s]{0,16})\(")


def _number_before(text, i):
    """Whether the ' at text[i] is a number's digit separator: it follows a
    number's characters and a digit or a letter follows it."""
    if i + 1 >= len(text) or not (text[i + 1].isalnum() or text[i + 1] == "_"):
        return False
    j = i
    while j > 0 and (text[j - 1].isalnum() or text[j - 1] in "_'."):
        j -= 1
    return j < i and text[j].isdigit()


def pieces(text):
    """The text as ("code", s), ("string", body, newlines) and ("char",)
    pieces, comments turned into blanks and line breaks."""
    text = re.sub(r"\\[ \t]*\r?\n", "", text)
    out, i, n, start = [], 0, len(text), 0

    def code_until(k):
        if k > start:
            out.append(("code", text[start:k]))

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            code_until(i)
            j = text.find("\n", i)
            i = start = n if j < 0 else j
        elif text.startswith("/*", i):
            code_until(i)
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(("code", " " + "\n" * text.count("\n", i, j)))
            i = start = j
        elif (c == '"' and _raw_prefix.search(text, max(0, i - 3), i) and
              _raw_open.match(text, i + 1)):
            # A raw string: no escapes, ends at ")delim"".
            m = _raw_open.match(text, i + 1)
            close = ")" + m.group(1) + '"'
            j = text.find(close, m.end())
            j = n if j < 0 else j
            body = text[m.end():j]
            code_until(i)
            out.append(("string", body, body.count("\n")))
            i = start = min(n, j + len(close))
        elif c == '"':
            j = i + 1
            while j < n and text[j] not in '"\n':
                j += 2 if text[j] == "\\" else 1
            if j >= n or text[j] != '"':
                i += 1  # left open at the line's end: no literal
                continue
            code_until(i)
            out.append(("string", text[i + 1:j], 0))
            i = start = j + 1
        elif c == "'" and not _number_before(text, i):
            j = i + 1
            while j < n and text[j] not in "'\n":
                j += 2 if text[j] == "\\" else 1
            if j >= n or text[j] != "'":
                i += 1
                continue
            code_until(i)
            out.append(("char",))
            i = start = j + 1
        else:
            i += 1
    code_until(n)
    return out


def code_of(text):
    """The code with comments blanked and literals reduced (see above);
    adjacent string literals are joined into one."""
    parts, out = pieces(text), []
    k = 0
    while k < len(parts):
        p = parts[k]
        if p[0] == "string":
            body, lines = p[1], p[2]
            # Adjacent literals, with only blanks between, are one.
            while (k + 2 < len(parts) and parts[k + 1][0] == "code" and not parts[k + 1][1].strip()
                   and parts[k + 2][0] == "string"):
                lines += parts[k + 1][1].count("\n") + parts[k + 2][2]
                body += parts[k + 2][1]
                k += 2
            out.append('"%s"' % body if re.fullmatch(r"\w+", body) else '""')
            out.append("\n" * lines)
        elif p[0] == "char":
            out.append("''")
        else:
            out.append(p[1])
        k += 1
    return "".join(out)
