"""The English catalog against the sources: every text of the program
(every string literal with a character beyond ASCII, in the program and
in the dialog framework) has an entry in res/en.po whose original text is
that literal byte for byte, every entry is such a text, every translation
is printable ASCII (it reaches the dialogs as CP936) and differs from its
original, and every format keeps its directives.

usage: catalog.py SOURCE_ROOT"""

import os
import re
import shutil
import subprocess
import sys

SKIP = 77
# Literals beyond ASCII that are no text the operator reads.
NOT_TEXTS = {
    "宋体": "the template font's face, mapped to an installed family",
    "SimSun": "a face name",
}
FOLDERS = ("app", "shelldlg", "userdlg", "itemdlg", "controls", "res", "platform/ui/src", "platform/ui/include")
DIRECTIVE = re.compile(r"%[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?[diouxXcsp]")


def unquote(s):
    return bytes(s, "utf-8").decode("unicode_escape").encode("latin-1").decode("utf-8")


def read_po(text):
    """Entries of a PO file: dicts with msgid, msgstr, flags, refs."""
    entries, entry, field = [], None, None
    for line in text.splitlines() + [""]:
        line = line.strip()
        if not line:
            if entry and "msgid" in entry:
                entries.append(entry)
            entry, field = None, None
            continue
        entry = entry or {"flags": set(), "refs": []}
        if line.startswith("#,"):
            entry["flags"] |= {f.strip() for f in line[2:].split(",")}
        elif line.startswith("#:"):
            entry["refs"] += line[2:].split()
        elif line.startswith("#"):
            continue
        elif line.startswith(("msgid ", "msgstr ", "msgctxt ")):
            field, rest = line.split(" ", 1)
            entry[field] = unquote(rest[1:-1])
        elif line.startswith('"') and field:
            entry[field] += unquote(line[1:-1])
    return [e for e in entries if e["msgid"]]


def sources(root):
    files = []
    for folder in FOLDERS:
        for base, _, names in os.walk(os.path.join(root, folder)):
            files += [os.path.join(base, n) for n in sorted(names) if n.endswith((".cpp", ".h"))]
    return files


def main():
    root = sys.argv[1]
    if not shutil.which("xgettext"):
        print("SKIP: xgettext is not installed (scripts/setup.sh installs gettext)")
        return SKIP
    done = subprocess.run(
        ["xgettext", "-a", "--from-code=UTF-8", "-L", "C++", "-o", "-"] + sources(root),
        capture_output=True, encoding="utf-8", cwd=root,
    )
    if done.returncode != 0:
        print(f"FAIL: xgettext: {done.stderr}")
        return 1
    literals = {}
    for e in read_po(done.stdout):
        if not e["msgid"].isascii() and e["msgid"] not in NOT_TEXTS:
            literals[e["msgid"]] = e["refs"]
    with open(os.path.join(root, "res", "en.po"), encoding="utf-8") as f:
        catalog = {e["msgid"]: e for e in read_po(f.read())}

    failures = []
    for text, refs in sorted(literals.items()):
        if text not in catalog:
            failures.append(f"no English entry for {text!r} ({', '.join(refs)})")
    for text, e in sorted(catalog.items()):
        english = e.get("msgstr", "")
        if text not in literals:
            failures.append(f"entry {text!r} is no text of the sources (changed or gone?)")
        if not english or not all(c == "\n" or " " <= c <= "~" for c in english):
            failures.append(f"{text!r}: the translation {english!r} is not printable ASCII")
        if english == text:
            failures.append(f"{text!r}: not translated")
        if DIRECTIVE.findall(text) != DIRECTIVE.findall(english):
            failures.append(f"{text!r}: the translation {english!r} changes the format's directives")
        if DIRECTIVE.search(text) and "c-format" not in e["flags"]:
            failures.append(f"{text!r}: a format without the c-format flag msgfmt checks")
        if text.count("&") != english.count("&"):
            failures.append(f"{text!r}: the translation {english!r} changes the '&' marks")
    for f in failures:
        print(f"FAIL: {f}")
    if not failures:
        print(f"PASS: {len(catalog)} texts, each with its English")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
