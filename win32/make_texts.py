#!/usr/bin/env python3
"""Writes the native window's text catalogue, a C++ table, from the Qt
catalogue (a .ts file): one catalogue serves both windows.

usage: make_texts.py CATALOGUE.ts OUTPUT.inc [SOURCE...]
Each row is {context, English source, French translation}; a message with
no finished translation keeps its English. The windows' sources given after
the output are checked: every text a source looks up (T("..."), Tr(kContext,
"..."), or N_("...") in a table) must be a source of the catalogue context
its kContext names, else the window would show it in English whatever the
language, and the build stops."""
import re
import sys
import xml.etree.ElementTree as ET


def quoted(text):
    out = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\r", "\\r")
    return '"' + out + '"'


# A text may be written as adjacent literals, which the compiler joins.
LOOKUP = re.compile(r'\b(?:T|N_|Tr\(\s*kContext\s*,)\s*\(?\s*((?:"(?:[^"\\]|\\.)*"\s*)+)')
PIECE = re.compile(r'"((?:[^"\\]|\\.)*)"')
# const char* const kContext = "TFrmMain";  constexpr char kContext[] = "TFrmConfig";
CONTEXT = re.compile(r'\bkContext\s*(?:\[\s*\])?\s*=\s*"([^"]+)"')


def unquoted(literal):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), literal)


def looked_up(path):
    """The catalogue context the source names, and the texts it looks up."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    context = CONTEXT.search(text)
    texts = ["".join(unquoted(p) for p in PIECE.findall(m.group(1))) for m in LOOKUP.finditer(text)]
    return (context.group(1) if context else None), texts


def main():
    source, output, checked = sys.argv[1], sys.argv[2], sys.argv[3:]
    rows = []
    known = {}
    for context in ET.parse(source).getroot().iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            english = message.findtext("source", "")
            known.setdefault(name, set()).add(english)
            element = message.find("translation")
            french = english
            if element is not None and element.get("type") not in ("unfinished", "obsolete", "vanished"):
                french = element.text or english
            rows.append("{%s, %s, %s}," % (quoted(name), quoted(english), quoted(french)))
    failed = False
    for path in checked:
        context, texts = looked_up(path)
        if texts and context is None:
            print("%s: looks texts up but names no kContext" % path, file=sys.stderr)
            failed = True
            continue
        for text in texts:
            if text not in known.get(context, ()):
                print("%s: \"%s\" is not a source of the catalogue's %s context" % (path, text, context),
                      file=sys.stderr)
                failed = True
    if failed:
        sys.exit(1)
    text = "// Made by win32/make_texts.py from %s; do not edit.\n%s\n" % (source.split("/")[-1], "\n".join(rows))
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
