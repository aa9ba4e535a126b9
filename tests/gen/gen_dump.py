#!/usr/bin/python3
"""Reads a generated client list back with independent readers and dumps it as JSON, for
tst_clientgen to compare with the table it wrote.

    gen_dump.py dbf|xls|csv|regions PATH

  dbf: Debian's python3-dbf, with the code page the header declares. Output adds "codepage"
       and, per field, "widths" (from the header) and "longest" (the longest value in GBK
       bytes). Values lose the trailing blanks that pad a character field.
  xls: python3-xlrd. Output adds "sheets" (names) and "types" (the distinct cell types of the
       data rows: 1 text, 0 empty). Empty cells come back as "".
  csv: Python's csv module over the UTF-8 text. Output adds "bom" and "cr" (whether the bytes
       start with a byte-order mark / hold a carriage return anywhere).

  regions: the province-city-county reference file through csv.DictReader (which skips the
       empty rows its CR CR LF line ends make): "regions", the distinct (province, city,
       county) with the zipCode of their first row, in file order.

Output: {"fields": [...], "rows": [[...], ...], ...}
"""
import csv
import io
import json
import sys


def dump_dbf(path):
    import dbf
    table = dbf.Table(path)
    table.open(dbf.READ_ONLY)
    try:
        names = list(table.field_names)
        widths = [table.field_info(n)[1] for n in names]
        rows = []
        for record in table:
            if dbf.is_deleted(record):
                continue
            rows.append([record[n].rstrip(' ') for n in names])
        longest = [max([len(r[i].encode('gbk')) for r in rows], default=0)
                   for i in range(len(names))]
        return {'fields': names, 'rows': rows, 'codepage': str(table.codepage),
                'widths': widths, 'longest': longest}
    finally:
        table.close()


def dump_xls(path):
    import xlrd
    book = xlrd.open_workbook(path)
    sheet = book.sheet_by_index(0)
    fields = [str(v) for v in sheet.row_values(0)] if sheet.nrows else []
    rows, types = [], set()
    for r in range(1, sheet.nrows):
        rows.append(sheet.row_values(r))
        types.update(sheet.row_types(r))
    return {'fields': fields, 'rows': rows, 'sheets': book.sheet_names(),
            'types': sorted(types)}


def dump_csv(path):
    with open(path, 'rb') as f:
        data = f.read()
    text = data.decode('utf-8')
    lines = list(csv.reader(io.StringIO(text, newline=''), strict=True))
    return {'fields': lines[0] if lines else [], 'rows': lines[1:],
            'bom': data.startswith(b'\xef\xbb\xbf'), 'cr': b'\r' in data}


def dump_regions(path):
    with open(path, encoding='utf-8', newline='') as f:
        reader = csv.DictReader(f)
        seen, regions = set(), []
        for row in reader:
            key = (row['province'], row['city'], row['county'])
            if key not in seen:
                seen.add(key)
                regions.append(list(key) + [row['zipCode']])
    return {'fields': reader.fieldnames, 'rows': [], 'regions': regions}


def main():
    kind, path = sys.argv[1], sys.argv[2]
    out = {'dbf': dump_dbf, 'xls': dump_xls, 'csv': dump_csv, 'regions': dump_regions}[kind](path)
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == '__main__':
    main()
