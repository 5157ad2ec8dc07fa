#!/usr/bin/env python3
"""Writes the native window's text catalogue, a C++ table, from the Qt
catalogue (a .ts file): one catalogue serves both windows.

usage: make_texts.py CATALOGUE.ts OUTPUT.inc
Each row is {context, English source, French translation}; a message with
no finished translation keeps its English."""
import sys
import xml.etree.ElementTree as ET


def quoted(text):
    out = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\r", "\\r")
    return '"' + out + '"'


def main():
    source, output = sys.argv[1], sys.argv[2]
    rows = []
    for context in ET.parse(source).getroot().iter("context"):
        name = context.findtext("name", "")
        for message in context.iter("message"):
            english = message.findtext("source", "")
            element = message.find("translation")
            french = english
            if element is not None and element.get("type") not in ("unfinished", "obsolete", "vanished"):
                french = element.text or english
            rows.append("{%s, %s, %s}," % (quoted(name), quoted(english), quoted(french)))
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
