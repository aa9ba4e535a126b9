#!/usr/bin/python3
"""Dumps an .xls workbook as JSON through xlrd (Debian's python3-xlrd), independently of the
program's own reader, in the shape the program shows a worksheet as a table.

Usage: xls_dump.py <file.xls>

Output: {"biff": 80, "datemode": 0, "encoding": "...",
         "sheets": [{"name", "visibility", "fields": [...], "rows": [[text or null, ...]]}],
         "names": [{"name", "scope", "sheet", "area": [r1, r2, c1, c2] or null}]}

Table rules (how the Excel driver showed a sheet): the used range is the smallest rectangle
holding every cell with a value (blank formatted cells do not count); its first row gives the
field names, each row below it is a record, empty rows inside the range too. Empty headings
become F<n> (1-based position in the range); repeats get the smallest suffix 1, 2, ... that makes
them unique without regard to case.

Normalisation of xlrd's typed values to the text the program shows (the only differences of
form allowed between the two readers):
  - numbers: whole numbers below 1e15 as plain digits; others the shortest %g text that reads
    back as the same double (3.5, 0.1, 1e+20);
  - dates: yyyy-mm-dd, plus " HH:MM:SS" when the time is not midnight; a value below one day as
    HH:MM:SS; Excel's 1900 leap-year day (serial 60) as 1900-02-29; serials 1-59 of the 1900
    system counted from 1900-01-01; dates after 9999-12-31 or negative as numbers; a format
    with an elapsed-time part ([h], [mm], [ss]) as hours:mm:ss, the hours running past 24;
  - booleans: TRUE / FALSE; errors: Excel's text (#DIV/0!, #N/A, ...);
  - empty and blank cells: null; text as it is.
"""
import datetime
import json
import re
import sys

import xlrd


def number_text(v):
    if v == int(v) and abs(v) < 1e15:
        return str(int(v))
    for p in range(1, 18):
        s = '%.*g' % (p, v)
        if float(s) == v:
            return s
    return repr(v)


def date_text(v, datemode):
    if v < 0:
        return None
    days = int(v)
    seconds = int(round((v - days) * 86400.0))
    if seconds >= 86400:
        days += 1
        seconds = 0
    last = 2957003 if datemode else 2958465
    if days > last:
        return None
    hms = '%02d:%02d:%02d' % (seconds // 3600, seconds // 60 % 60, seconds % 60)
    if days == 0:
        return hms
    if datemode == 0 and days == 60:
        text = '1900-02-29'
    else:
        if datemode:
            base = datetime.date(1904, 1, 1)
        elif days < 60:
            base = datetime.date(1899, 12, 31)
        else:
            base = datetime.date(1899, 12, 30)
        text = (base + datetime.timedelta(days=days)).isoformat()
    return text + (' ' + hms if seconds else '')


def elapsed_text(v):
    if v < 0 or v > 1e9:
        return None
    seconds = int(round(v * 86400.0))
    return '%02d:%02d:%02d' % (seconds // 3600, seconds // 60 % 60, seconds % 60)


ELAPSED = re.compile(r'\[(h+|m+|s+)\]', re.IGNORECASE)


def is_elapsed(book, cell):
    fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
    return ELAPSED.search(fmt) is not None


def cell_text(book, cell):
    datemode = book.datemode
    t = cell.ctype
    if t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
        return None
    if t == xlrd.XL_CELL_TEXT:
        return cell.value
    if t == xlrd.XL_CELL_NUMBER:
        return number_text(cell.value)
    if t == xlrd.XL_CELL_DATE:
        d = elapsed_text(cell.value) if is_elapsed(book, cell) else date_text(cell.value, datemode)
        return d if d is not None else number_text(cell.value)
    if t == xlrd.XL_CELL_BOOLEAN:
        return 'TRUE' if cell.value else 'FALSE'
    if t == xlrd.XL_CELL_ERROR:
        return xlrd.error_text_from_code.get(cell.value, '#ERR%d!' % cell.value)
    raise ValueError('unknown cell type %r' % t)


def field_names(headings):
    names = []
    for i, h in enumerate(headings):
        h = (h or '').replace('\0', ' ')
        names.append(h if h.strip(' ') else 'F%d' % (i + 1))  # blanks (U+0020) only
    taken = {n.casefold() for n in names}
    used = set()
    out = []
    for base in names:
        n, k = base, 1
        while n.casefold() in used or (k > 1 and n.casefold() in taken):
            n = base + str(k)
            k += 1
        used.add(n.casefold())
        out.append(n)
    return out


def sheet_table(book, sheet):
    cells = {}
    for r in range(sheet.nrows):
        for c in range(sheet.ncols):
            text = cell_text(book, sheet.cell(r, c))
            if text is not None:
                cells[(r, c)] = text
    if not cells:
        return ['F1'], []
    r1 = min(r for r, _ in cells)
    r2 = max(r for r, _ in cells)
    c1 = min(c for _, c in cells)
    c2 = max(c for _, c in cells)
    fields = field_names([cells.get((r1, c)) for c in range(c1, c2 + 1)])
    rows = [[cells.get((r, c)) for c in range(c1, c2 + 1)] for r in range(r1 + 1, r2 + 1)]
    return fields, rows


def main():
    book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
    out = {'biff': book.biff_version, 'datemode': book.datemode,
           'encoding': book.encoding, 'sheets': [], 'names': []}
    for sheet in book.sheets():
        fields, rows = sheet_table(book, sheet)
        out['sheets'].append({'name': sheet.name, 'visibility': sheet.visibility,
                              'fields': fields, 'rows': rows})
    for n in book.name_obj_list:
        area = None
        res = n.result
        if res is not None and res.kind == xlrd.oREF and len(res.value) == 1:
            ref = res.value[0]
            shx1, shx2, r1, r2, c1, c2 = ref.coords
            if shx2 == shx1 + 1:
                area = [shx1, r1, r2 - 1, c1, c2 - 1]
        out['names'].append({'name': n.name, 'scope': n.scope, 'builtin': bool(n.builtin),
                             'hidden': bool(n.hidden), 'area': area})
    sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode('utf-8'))


if __name__ == '__main__':
    main()
