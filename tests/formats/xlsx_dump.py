#!/usr/bin/python3
"""Dumps an .xlsx workbook as JSON through openpyxl (Debian's python3-openpyxl), independently of
the program's own reader, in the shape the program shows a worksheet or named range as a table.

Usage: xlsx_dump.py <file.xlsx>

Output: {"datemode": 0 or 1,
         "sheets": [{"name", "state", "fields": [...], "rows": [[text or null, ...]]}],
         "names": [{"table", "fields", "rows"}]}

Table rules are those of xls_dump.py (the .xls reader's): the used range of the cells with a
value, its first row the field names (empty ones F<n>, repeats numbered), every row below a
record. A named range is listed when it is one absolute area ($A$1:$C$9, $A:$C, $2:$5) of one
worksheet and not hidden, built in or a macro name; its table is its first row as field names
and its rows down to the last one holding a value. A name local to a sheet is "<sheet>$<name>".

Where the program shows a value in another form than openpyxl returns it, this script converts
openpyxl's value by the program's documented rule (the same rules as for .xls, xls_dump.py):
  - numbers: whole numbers below 1e15 as digits, others the shortest %g text that reads back
    as the same double; openpyxl keeps integers exact, the program reads every number as a
    double, so integers are converted to float first;
  - dates: openpyxl decides which cells are dates by its own reading of the number formats, and
    converts their serials to datetime objects by its own calendar rules. The script keeps the
    decision but takes the serial as it is written (openpyxl's from_excel is replaced by one
    that returns it) and applies the program's date text rules: yyyy-mm-dd[ HH:MM:SS], a time
    alone below one day, Excel's 1900-02-29, out-of-range serials as numbers, formats openpyxl
    takes for time spans ([h]:mm:ss) as hours:mm:ss;
  - openpyxl does not know the East Asian built-in date formats (ids 27-36 and 50-58, which
    Chinese Excel writes without a format code); like the program, the script counts numbers
    in them as dates;
  - ISO 8601 date cells (t="d") as yyyy-mm-dd[ HH:MM:SS];
  - booleans: TRUE / FALSE; errors: their text (#DIV/0!, ...);
  - text: Excel writes characters XML cannot hold as _xHHHH_ and a literal "_x" as _x005F_;
    openpyxl 3.0 leaves these escapes in the text (and for shared strings drops "x005F_"
    without resolving the rest), the program shows the characters Excel shows. The script reads
    the shared strings itself (through openpyxl's XML parser) and resolves the escapes once, in
    one pass, for shared and inline strings alike;
  - white space: openpyxl keeps the white space at the ends of a <t> element; the program keeps
    it only where xml:space="preserve" says so (or the element holds nothing else), as Excel
    shows it. The shared strings are read by that rule (item_text).
"""
import datetime
import json
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xls_dump import date_text, elapsed_text, field_names, number_text  # noqa: E402

import openpyxl  # noqa: E402
import openpyxl.reader.excel  # noqa: E402
from openpyxl.utils.cell import range_boundaries  # noqa: E402
from openpyxl.utils.datetime import MAC_EPOCH  # noqa: E402
from openpyxl.worksheet import _reader  # noqa: E402
from openpyxl.xml.constants import SHEET_MAIN_NS  # noqa: E402
from openpyxl.xml.functions import iterparse  # noqa: E402

ESCAPE = re.compile(r'_x([0-9A-Fa-f]{4})_')
CJK_DATE_FORMATS = set(range(27, 37)) | set(range(50, 59))


def unescape(text):
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text)


class Resolved(str):
    """A shared string whose escapes are already resolved."""


XML_SPACE = '{http://www.w3.org/XML/1998/namespace}space'
XML_WHITE_SPACE = ' \t\n\r'


def item_text(si):
    """The text of a string item by the program's rule: its <t> elements and those of its runs,
    each without the white space at its ends unless xml:space="preserve" holds for it or it is
    white space only."""
    def preserved(el, inherited):
        v = el.get(XML_SPACE)
        return inherited if v is None else v == 'preserve'

    def t_text(el, preserve):
        text = el.text or ''
        return text if preserve or not text.strip(XML_WHITE_SPACE) else text.strip(XML_WHITE_SPACE)

    t, r = '{%s}t' % SHEET_MAIN_NS, '{%s}r' % SHEET_MAIN_NS
    keep = preserved(si, False)
    parts = []
    for child in si:
        if child.tag == t:
            parts.append(t_text(child, preserved(child, keep)))
        elif child.tag == r:
            run = preserved(child, keep)
            parts.extend(t_text(g, preserved(g, run)) for g in child if g.tag == t)
    return ''.join(parts)


def read_string_table(xml_source):
    strings = []
    tag = '{%s}si' % SHEET_MAIN_NS
    for _, node in iterparse(xml_source):
        if node.tag == tag:
            text = unescape(item_text(node))
            # Two UTF-16 escapes of a surrogate pair make one character.
            text = text.encode('utf-16', 'surrogatepass').decode('utf-16')
            strings.append(Resolved(text))
            node.clear()
    return strings


class Serial:
    """A number openpyxl takes for a date, as written in the file."""

    def __init__(self, value, timedelta):
        self.value = value
        self.timedelta = timedelta


def keep_serial(value, epoch=None, timedelta=False):
    return Serial(value, timedelta)


openpyxl.reader.excel.read_string_table = read_string_table
_reader.from_excel = keep_serial


def cell_text(cell, datemode):
    v = cell._value
    if v is None:
        return None
    if isinstance(v, Serial):
        d = elapsed_text(v.value) if v.timedelta else date_text(v.value, datemode)
        return d if d is not None else number_text(float(v.value))
    if isinstance(v, bool):
        return 'TRUE' if v else 'FALSE'
    if isinstance(v, (int, float)):
        fmt_id = cell._style.numFmtId if cell.has_style else 0
        if fmt_id in CJK_DATE_FORMATS:
            d = date_text(float(v), datemode)
            return d if d is not None else number_text(float(v))
        return number_text(float(v))
    if isinstance(v, datetime.datetime):
        if v.time() == datetime.time(0):
            return v.date().isoformat()
        return v.strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(v, Resolved):
        return str(v)
    if isinstance(v, str):
        if cell.data_type == 'e':
            return v
        text = unescape(v)
        return text.encode('utf-16', 'surrogatepass').decode('utf-16')
    raise ValueError('unexpected value %r' % (v,))


def sheet_cells(ws, datemode):
    cells = {}
    for (r, c), cell in ws._cells.items():
        text = cell_text(cell, datemode)
        if text is not None:
            cells[(r, c)] = text
    return cells


def used_table(cells):
    if not cells:
        return ['F1'], []
    r1 = min(r for r, _ in cells)
    r2 = max(r for r, _ in cells)
    c1 = min(c for _, c in cells)
    c2 = max(c for _, c in cells)
    fields = field_names([cells.get((r1, c)) for c in range(c1, c2 + 1)])
    rows = [[cells.get((r, c)) for c in range(c1, c2 + 1)] for r in range(r1 + 1, r2 + 1)]
    return fields, rows


def range_table(cells, r1, r2, c1, c2):
    last = r1
    for (r, c) in cells:
        if r1 < r <= r2 and c1 <= c <= c2:
            last = max(last, r)
    fields = field_names([cells.get((r1, c)) for c in range(c1, c2 + 1)])
    rows = [[cells.get((r, c)) for c in range(c1, c2 + 1)] for r in range(r1 + 1, last + 1)]
    return fields, rows


ABSOLUTE = re.compile(r'^(\$[A-Za-z]{1,3}\$\d+(:\$[A-Za-z]{1,3}\$\d+)?'
                      r'|\$[A-Za-z]{1,3}:\$[A-Za-z]{1,3}|\$\d+:\$\d+)$')


def main():
    wb = openpyxl.load_workbook(sys.argv[1], data_only=True, keep_links=False)
    datemode = 1 if wb.epoch == MAC_EPOCH else 0
    out = {'datemode': datemode, 'sheets': [], 'names': []}
    cells_of = {}
    for ws in wb.worksheets:
        cells = sheet_cells(ws, datemode)
        cells_of[ws.title.casefold()] = cells
        fields, rows = used_table(cells)
        out['sheets'].append({'name': ws.title, 'state': ws.sheet_state,
                              'fields': fields, 'rows': rows})
    for dn in wb.defined_names.definedName:
        if dn.hidden or dn.function or dn.vbProcedure or dn.xlm:
            continue
        if dn.name.lower().startswith('_xl') or dn.type != 'RANGE':
            continue
        dests = list(dn.destinations)
        if len(dests) != 1:
            continue
        sheet, coord = dests[0]
        if not ABSOLUTE.match(coord) or sheet.casefold() not in cells_of:
            continue
        table = dn.name
        if dn.localSheetId is not None:
            if dn.localSheetId >= len(wb._sheets):
                continue
            owner = wb._sheets[dn.localSheetId]
            if owner not in wb.worksheets:
                continue
            table = owner.title + '$' + dn.name
        c1, r1, c2, r2 = range_boundaries(coord.replace('$', ''))
        r1, r2 = r1 or 1, r2 or 1048576
        c1, c2 = c1 or 1, c2 or 16384
        fields, rows = range_table(cells_of[sheet.casefold()], r1, r2, c1, c2)
        out['names'].append({'table': table, 'fields': fields, 'rows': rows})
    sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode('utf-8'))


if __name__ == '__main__':
    main()
