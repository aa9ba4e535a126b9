#!/usr/bin/python3
"""The groups an exact check must find, computed from a table dumped as CSV.

    exact_groups.py TABLE.csv FIELD[,FIELD...] [START END]

Records agree when every check field is equal after ASCII letters are folded to lower case; a
record whose first check field is empty starts no group. With START and END (1-based record
positions) only the records in that range start groups, but a group takes in its equals from the
whole table. Prints {"groups": G, "rows": R, "keys": [[value, ...], ...]} (keys in the order of
their first seed).
"""
import csv
import json
import sys


def fold(value):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in value)


with open(sys.argv[1], newline="", encoding="utf-8") as f:
    records = list(csv.reader(f, strict=True))
header, rows = records[0], records[1:]
columns = [header.index(name) for name in sys.argv[2].split(",")]
start = int(sys.argv[3]) if len(sys.argv) > 3 else 1
end = int(sys.argv[4]) if len(sys.argv) > 4 else len(rows)

count = {}
for row in rows:
    key = tuple(fold(row[c]) for c in columns)
    count[key] = count.get(key, 0) + 1

seen, keys, total = set(), [], 0
for position, row in enumerate(rows, start=1):
    if position < start or position > end:
        continue
    key = tuple(fold(row[c]) for c in columns)
    if key[0] == "" or count[key] < 2 or key in seen:
        continue
    seen.add(key)
    keys.append([row[c] for c in columns])
    total += count[key]
print(json.dumps({"groups": len(keys), "rows": total, "keys": keys}, ensure_ascii=False))
