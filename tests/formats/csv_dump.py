#!/usr/bin/python3
"""Writes and reads delimited text files with Python's csv module, independently of the program's
own reader, and dumps what it reads as JSON in the shape the program shows the file as a table.

Usage:
  csv_dump.py write <rows.json> <out> <encoding> <delimiter> <line end>
      writes the rows (a JSON list of lists of strings) with csv.writer (minimal quoting);
      encoding is a Python codec name, "utf-16-le-bom" and "utf-16-be-bom" write the byte
      order mark before UTF-16 text; delimiter and line end are given as JSON strings ("\\t").
  csv_dump.py many <out> <rows>
      writes a UTF-8 file of that many generated client rows (a header and rows with Chinese
      names, phone numbers with leading zeros, quoted addresses with commas and line breaks).
  csv_dump.py read <file> <encoding> <delimiter>
      reads the file with csv.reader and prints {"fields": [...], "rows": [[text or null]]}.

Table rules (the program's, written out here): records with no field holding a character are
left out (csv.reader returns [] for an empty line, so the CR CR LF of some files gives such
records); the first remaining record gives the field names without the blanks (U+0020) at their
ends, an empty one F<n> (1-based) and a repeated one numbered as for Excel sheets
(xls_dump.field_names); the table is as wide as its widest record, extra fields named F<n>;
shorter records end in nulls; an empty field is null.
"""
import csv
import io
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xls_dump import field_names  # noqa: E402

csv.field_size_limit(1 << 30)


def open_text(path, mode, encoding):
    if encoding in ('utf-16-le-bom', 'utf-16-be-bom'):
        codec = encoding[:-4]
        raw = open(path, mode + 'b')
        if mode == 'w':
            raw.write('\ufeff'.encode(codec))
        else:
            raw.read(2)
        return io.TextIOWrapper(raw, encoding=codec, newline='')
    return open(path, mode, encoding=encoding, newline='')


def write(rows_json, out, encoding, delimiter, line_end):
    with open(rows_json, encoding='utf-8') as f:
        rows = json.load(f)
    with open_text(out, 'w', encoding) as f:
        w = csv.writer(f, delimiter=json.loads(delimiter), lineterminator=json.loads(line_end))
        w.writerows(rows)


def many(out, count):
    family = '王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹'
    given = '伟芳娜秀英敏静丽强磊军洋勇艳杰娟涛明超秀兰霞平刚桂英'
    with open(out, 'w', encoding='utf-8', newline='') as f:
        w = csv.writer(f, lineterminator='\r\n')
        w.writerow(['编号', '姓名', '电话', '地址', '邮编', '备注'])
        for i in range(count):
            name = family[i % len(family)] + given[(i * 7) % len(given)]
            phone = '0%03d-%08d' % (i % 1000, (i * 7919) % 100000000)
            address = '北京市朝阳区%d号, %d室' % (i % 997, i % 31)
            if i % 101 == 0:
                address += '\n转交 "王经理"'
            note = '' if i % 3 else "O'Brien %_*"
            w.writerow([str(i + 1), name, phone, address, '%06d' % (i % 1000), note])


def read(path, encoding, delimiter):
    with open_text(path, 'r', encoding) as f:
        records = [r for r in csv.reader(f, delimiter=json.loads(delimiter))
                   if any(field != '' for field in r)]
    if not records:
        return {'fields': ['F1'], 'rows': []}
    width = max(len(r) for r in records)
    head = records[0] + [''] * (width - len(records[0]))
    fields = field_names([h.strip(' ') if h != '' else None for h in head])
    rows = [[(r[c] if c < len(r) and r[c] != '' else None) for c in range(width)]
            for r in records[1:]]
    return {'fields': fields, 'rows': rows}


def main():
    cmd = sys.argv[1]
    if cmd == 'write':
        write(*sys.argv[2:7])
    elif cmd == 'many':
        many(sys.argv[2], int(sys.argv[3]))
    elif cmd == 'read':
        out = read(sys.argv[2], sys.argv[3], sys.argv[4])
        sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode('utf-8'))
    else:
        raise SystemExit('unknown command ' + cmd)


if __name__ == '__main__':
    main()
