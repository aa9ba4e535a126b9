#!/usr/bin/python3
"""Reads CSV files with Python's own csv module (an independent RFC 4180 reader) and prints them
as JSON: a list with, per file, the list of its records (the header first).

    csv_json.py FILE.csv [FILE.csv ...]

Fails on a byte-order mark and on a carriage return outside a quoted field (records end with
"\\n" alone).
"""
import csv
import io
import json
import sys


def check_line_ends(text, path):
    quoted = False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        elif ch == "\r" and not quoted:
            sys.exit("carriage return outside a quoted field in " + path)


out = []
for path in sys.argv[1:]:
    with open(path, newline="", encoding="utf-8") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        sys.exit("byte-order mark in " + path)
    check_line_ends(text, path)
    out.append(list(csv.reader(io.StringIO(text, newline=""), strict=True)))
print(json.dumps(out, ensure_ascii=False))
