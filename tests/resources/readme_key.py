"""The download's README.txt explains, in its section READING THE RESULTS,
every line the program writes to its log list, every plain message box and
every question it asks. Each is read from the code: PostLogLine's format,
MessageBox*'s and AskUser's text and title, where each is a literal, a named
literal (const char x[] = "..."; #define X "...") or the report-only literal
of a DisposalStyle. Anything else fails the test unless NOT_LITERAL lists it.

A key entry is a line indented by two blanks (four for its continuation),
entries that share an explanation stand one under the other, and the
explanation follows, indented by six. An entry writes a box or question as
[title] text, a number field as <n> and any other field as <word>; runs of
blanks count as one. Every form must have an entry, every entry a form.

usage: readme_key.py <source folder>"""
import os
import re
import sys

# The host's model of Windows, the tests and the host-side tools.
NOT_PROGRAM = {"build", "simwin", "tests", "tools"}
SOURCE = (".cpp", ".h", ".hpp", ".c", ".inc")
LITERAL = r'"(?:[^"\\\n]|\\.)*"'
LITERALS = r"(?:%s\s*)+" % LITERAL
FIELD = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?([diouxXsc])")
# Arguments that are no literal: the forms they stand for are read elsewhere.
NOT_LITERAL = {"style.reportOnly": "the DisposalStyle literals below"}
# Lines with no word, which need no entry: the blank before the statistics
# and the rule under their heading.
NO_KEY = {"", "------------------------------"}


def text_of(literals):
    """The C text of adjacent literals, with \\t, \\n and \\" read."""
    body = "".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', literals))
    for escape, char in (("\\t", "\t"), ("\\n", "\n"), ('\\"', '"'), ("\\\\", "\\")):
        body = body.replace(escape, char)
    return body


def shape(text):
    return " ".join(text.split())


def field_form(text):
    return shape(FIELD.sub(lambda m: "<n>" if m.group(1) in "diouxX" else "<s>", text))


def sources(root):
    for top in sorted(os.listdir(root)):
        if top in NOT_PROGRAM or not os.path.isdir(os.path.join(root, top)):
            continue
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith(SOURCE):
                    path = os.path.join(dirpath, name)
                    code = re.sub(r"(%s)|//[^\n]*|/\*.*?\*/" % LITERAL,
                                  lambda m: m.group(1) or " ",
                                  open(path, encoding="utf-8").read(), flags=re.S)
                    yield os.path.relpath(path, root), code


def forms(root):
    """{form as the key writes it: [where it is written]}, and the faults."""
    files = list(sources(root))
    named = {}
    for _, code in files:
        for m in re.finditer(r"\bconst\s+char\s+(\w+)\s*\[\s*\]\s*=\s*(%s);|"
                             r"#define\s+(\w+)\s+(%s)\s*$" % (LITERALS, LITERALS), code, re.M):
            named[m.group(1) or m.group(3)] = text_of(m.group(2) or m.group(4))
    arg = r"\s*(%s|[\w.]+)\s*(?=[,)])" % LITERALS

    def value(text):
        return text_of(text) if text.startswith('"') else named.get(text)

    found, faults = {}, []
    for where, code in files:
        written = []
        for m in re.finditer(r"\b(PostLogLine|MessageBox\w*|AskUser)\(", code):
            call, rest = m.group(1), code[m.end():]
            if re.match(r"\s*(const\s+char|LPCSTR|HWND)\b", rest):
                continue  # its declaration
            if call.startswith("MessageBox"):
                rest = rest[rest.find(",") + 1:]  # past the owner window
            a = re.match(arg + (r",%s" % arg if call != "PostLogLine" else ""), rest)
            text = a and value(a.group(1))
            if text is None:
                what = a.group(1) if a else rest[:40].split(",")[0].strip()
                if what not in NOT_LITERAL:
                    faults.append("%s: %s text is no literal: %s" % (where, call, what))
                continue
            form = field_form(text)
            if call != "PostLogLine":
                title = value(a.group(2))
                form = "[%s] %s" % ("<s>" if title is None else shape(title), form)
            written.append(form)
        for m in re.finditer(r"\bDisposalStyle\s+\w+\s*=?\s*\{[^;]*?,\s*([^,;]*?)\s*\}\s*;",
                             code):
            text = value(m.group(1).strip())
            if text is None:
                faults.append("%s: DisposalStyle line is no literal: %s" % (where, m.group(1)))
            else:
                written.append(field_form(text))
        for form in written:
            if not re.search(r"\w", form.replace("<n>", "").replace("<s>", "")):
                if form not in NO_KEY:
                    faults.append("%s: a line with no word: '%s'" % (where, form))
            elif where not in found.setdefault(form, []):
                found[form].append(where)
    return found, faults


def key(readme):
    """The entries of READING THE RESULTS, and the faults of its layout."""
    text = open(readme, encoding="ascii").read()
    part = re.search(r"^READING THE RESULTS$(.*?)^[A-Z][A-Z ]+$", text, re.M | re.S)
    if not part:
        sys.exit("README.txt has no section READING THE RESULTS")
    entries, faults, last = [], [], None
    for line in part.group(1).splitlines() + [""]:
        indent = len(line) - len(line.lstrip())
        if indent == 2:
            entries.append(line)
        elif indent == 4 and last == 2:
            entries[-1] += " " + line
            continue
        elif last == 2 and indent != 6:
            faults.append("the key's entry has no explanation: " + shape(entries[-1]))
        last = indent if line.strip() else None
    return [shape(re.sub(r"<(?!n>)[^<>]*>", "<s>", e)) for e in entries], faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    entries, faults = key(os.path.join(root, "resources", "README.txt"))
    written, code_faults = forms(root)
    faults += code_faults
    faults += ["README.txt's key lacks a form the program writes (%s): %s" %
               (", ".join(written[f]), f) for f in written if f not in entries]
    faults += ["README.txt's key has an entry the program does not write: " + e
               for e in entries if e not in written]
    # Far fewer than the program's two dozen would mean the reader lost its way.
    if len(written) < 20:
        faults.append("only %d forms read from the code" % len(written))
    for fault in faults:
        print(fault)
    print("%d line forms, boxes and questions; %d faults" % (len(written), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
