#!/usr/bin/env python3
"""The duplicate rows the fuzzy check must write for a dBase table, by the plain reading of the
rules in tests/fuzzy/fuzzy_reference.py, from the table as `chachong-batch dump` prints it.

    fuzzy_expect.py DUMP.csv FIELDS [POSTCODE DIGITS]

FIELDS are the check fields, comma-separated. The candidates of a dBase table are its own rows.
Prints the rows as JSON (a list of lists of text)."""
import csv
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fuzzy'))
import fuzzy_reference  # noqa: E402

with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
header, body = rows[0], rows[1:]
fields = sys.argv[2].split(',')
postcode = sys.argv[3] if len(sys.argv) > 4 else None
inp = {
    'check': body, 'candidates': body,
    'key': header.index(fields[0]), 'keyCandidate': header.index(fields[0]),
    'further': [header.index(x) for x in fields[1:]],
    'postcode': header.index(postcode) if postcode else -1,
    'postcodeCandidate': header.index(postcode) if postcode else -1,
    'digits': int(sys.argv[4]) if postcode else 0,
    'seedColumns': min(len(header), 49),
    'start': 1, 'end': len(body),
}
json.dump(fuzzy_reference.Run(inp).run()['cc'], sys.stdout, ensure_ascii=False)
