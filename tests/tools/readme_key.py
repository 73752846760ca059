"""The download's README.txt explains every line the program writes to its
log list and both plain message boxes it can show, in its section READING
THE RESULTS: each log line's format (the literal PostLogLine is given, or
the report-only literal of a DisposalStyle) and each MessageBoxA's text and
title must stand there as a line of its own. A key line writes a printf
field as <anything> and a box as [title] text; runs of blanks and tabs count
as one blank. A line without a word (the blank line, the rule under the
statistics' heading) needs no key.

usage: readme_key.py <source folder>"""
import os
import re
import sys

FOLDERS = ["actions", "engine", "memory", "platform", "repair", "ui"]
LITERAL = r'"(?:[^"\\\n]|\\.)*"'
LITERALS = r"(?:%s\s*)+" % LITERAL
FIELD = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?[diouxXsc]")


def text_of(literals):
    """The C text of adjacent literals, with \\t and \\" read."""
    body = "".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', literals))
    return body.replace("\\t", "\t").replace('\\"', '"').replace("\\\\", "\\")


def shape(text):
    return " ".join(text.split())


def forms(root):
    """(form as the key writes it, where it is written) for every line and box."""
    found = []
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                code = re.sub(r"(%s)|//[^\n]*|/\*.*?\*/" % LITERAL,
                              lambda m: m.group(1) or " ", open(path, encoding="utf-8").read(),
                              flags=re.S)
                where = os.path.relpath(path, root)
                for m in re.finditer(r"\bPostLogLine\(\s*(%s)?" % LITERALS, code):
                    if m.group(1):
                        found.append((FIELD.sub("<>", text_of(m.group(1))), where))
                    elif not re.match(r"PostLogLine\(\s*(style\.reportOnly\b|const char\*)",
                                      code[m.start():]):
                        found.append(("(a line whose format is no literal)", where))
                for m in re.finditer(r"\bDisposalStyle\s+\w+\s*=\s*\{[^;]*?(%s)\s*\}" % LITERALS,
                                     code):
                    found.append((FIELD.sub("<>", text_of(m.group(1))), where))
                for m in re.finditer(r"\bMessageBoxA\(\s*[^,]+,\s*(%s)\s*,\s*([^,]+)," %
                                     (LITERALS), code):
                    title = m.group(2).strip()
                    title = text_of(title) if title.startswith('"') else "<>"
                    found.append(("[%s] %s" % (title, text_of(m.group(1))), where))
    return [(shape(f), w) for f, w in found if re.search(r"\w", FIELD.sub("", f))]


def key(readme):
    """The lines of READING THE RESULTS, fields as <> and blanks as one."""
    text = open(readme, encoding="ascii").read()
    part = re.search(r"^READING THE RESULTS$(.*?)^[A-Z][A-Z ]+$", text, re.M | re.S)
    if not part:
        sys.exit("README.txt has no section READING THE RESULTS")
    return {shape(re.sub(r"<[^<>]*>", "<>", line)) for line in part.group(1).splitlines()}


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    lines = key(os.path.join(root, "resources", "README.txt"))
    written = {}
    for form, where in forms(root):
        written.setdefault(form, [])
        if where not in written[form]:
            written[form].append(where)
    missing = [f for f in written if f not in lines]
    for form in missing:
        print("README.txt's key lacks a line the program writes (%s): %s" %
              (", ".join(written[form]), form))
    # Far fewer than the program's two dozen would mean the reader lost its way.
    if len(written) < 15:
        print("only %d line forms read from the code" % len(written))
        return 1
    print("%d line forms and boxes, %d missing from the key" % (len(written), len(missing)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
