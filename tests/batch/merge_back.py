#!/usr/bin/python3
"""What a check with --merge-back must leave, computed from a table dumped as CSV.

    merge_back.py TABLE.csv CHECK_FIELDS KEEP_FIELDS

A plain reading of the steps, written apart from the program:
  1. the exact check: records whose check fields agree (blanks trimmed at both ends, ASCII
     letters folded to lower case) form a group when there are two or more of them and the first
     check field is not empty; the groups come in the order of their first record, each with its
     records in table order, values trimmed;
  2. the separation takes every record of a group out of the table; the rest keep their order;
  3. the batch delete walks the grouped records in that order and keeps the first of each class
     of records that agree in the keep fields (trimmed, letters folded), deleting the others;
  4. the merge appends the kept records to the rest.
Prints {"groups": G, "separated": S, "deleted": D, "merged": M, "final": [[value, ...], ...]}
(final without a header row).
"""
import csv
import json
import sys


def fold(value):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in value)


def trim(value):
    return value.strip(" ")


with open(sys.argv[1], newline="", encoding="utf-8") as f:
    records = list(csv.reader(f, strict=True))
header, rows = records[0], records[1:]
folded = [fold(h) for h in header]  # field names are named without regard to letter case
check = [folded.index(fold(name)) for name in sys.argv[2].split(",")]
keep = [folded.index(fold(name)) for name in sys.argv[3].split(",")]

groups = {}
order = []
for row in rows:
    key = tuple(fold(trim(row[c])) for c in check)
    if key not in groups:
        groups[key] = []
        order.append(key)
    groups[key].append(row)
grouped = [key for key in order if len(groups[key]) > 1 and key[0] != ""]
in_group = set(grouped)

rest = [row for row in rows if tuple(fold(trim(row[c])) for c in check) not in in_group]
duplicates = [[trim(v) for v in row] for key in grouped for row in groups[key]]

seen, kept = set(), []
for row in duplicates:
    cls = tuple(fold(row[c]) for c in keep)
    if cls in seen:
        continue
    seen.add(cls)
    kept.append(row)

print(json.dumps({"groups": len(grouped), "separated": len(duplicates),
                  "deleted": len(duplicates) - len(kept), "merged": len(kept),
                  "final": rest + kept}, ensure_ascii=False))
