#!/usr/bin/python3
"""What mdbtools' own command-line tools see in an Access file, as JSON for tst_mdb.

Usage: mdb_export.py <file.mdb>

Prints {"tables": [...], "textSizes": {table: {column: n}}, "data": {table: {"columns": [...],
"rows": [[...]]}}}: the table list of `mdb-tables -1`, the Text (n) sizes of `mdb-schema`, and
every value of `mdb-export` (dates as yyyy-MM-dd HH:mm:ss, Yes/No as TRUE/FALSE, binary as hex,
NULL as JSON null; text exactly as exported).
"""
import json
import os
import re
import subprocess
import sys

NULL_MARK = "~"  # mdb-export writes it unquoted for NULL; a text "~" arrives quoted


def run(args):
    env = dict(os.environ)
    env.pop("MDBICONV", None)
    env.pop("MDB_JET3_CHARSET", None)
    return subprocess.run(args, check=True, capture_output=True, env=env).stdout.decode("utf-8")


def parse_csv(text):
    """Rows of (value, quoted) pairs; quoted fields may hold commas, quotes and newlines."""
    rows, row, i, n = [], [], 0, len(text)
    while i < n:
        if text[i] == '"':
            i += 1
            value = []
            while True:
                j = text.index('"', i)
                value.append(text[i:j])
                if j + 1 < n and text[j + 1] == '"':
                    value.append('"')
                    i = j + 2
                else:
                    i = j + 1
                    break
            row.append(("".join(value), True))
        else:
            j = i
            while j < n and text[j] not in ",\n":
                j += 1
            row.append((text[i:j], False))
            i = j
        if i >= n or text[i] == "\n":
            rows.append(row)
            row = []
        i += 1
    return rows


def export(path, table):
    text = run(["mdb-export", "-0", NULL_MARK, "-B", "-b", "hex",
                "-T", "%Y-%m-%d %H:%M:%S", "-D", "%Y-%m-%d", path, table])
    rows = parse_csv(text)
    columns = [v for v, _ in rows[0]]
    data = []
    for r in rows[1:]:
        if len(r) != len(columns):
            raise SystemExit("row with %d fields in %s, header has %d" % (len(r), table, len(columns)))
        data.append([None if (not q and v == NULL_MARK) else v for v, q in r])
    return {"columns": columns, "rows": data}


def text_sizes(path):
    sizes, table = {}, None
    for line in run(["mdb-schema", path, "access"]).splitlines():
        m = re.match(r"CREATE TABLE \[(.*)\]$", line.strip())
        if m:
            table = m.group(1)
            sizes[table] = {}
            continue
        m = re.match(r"\s*\[(.*)\]\s+Text \((\d+)\)", line)
        if m and table is not None:
            sizes[table][m.group(1)] = int(m.group(2))
    return sizes


def main():
    path = sys.argv[1]
    tables = [t for t in run(["mdb-tables", "-1", path]).split("\n") if t]
    out = {"tables": tables, "textSizes": text_sizes(path),
           "data": {t: export(path, t) for t in tables}}
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
