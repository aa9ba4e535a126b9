#!/usr/bin/python3
"""Dumps a workbook as JSON through readers that are not the program's: xlrd (Debian's
python3-xlrd, with formatting information) for .xls, openpyxl (python3-openpyxl) for .xlsx.

Usage: excel_dump.py <file> [xls|xlsx]     (the kind defaults to the file's extension)
       excel_dump.py <file.csv> csv          a UTF-8 CSV file (as LibreOffice writes a sheet)
                                             as {"rows": [[text, ...], ...]}

Output: {"sheets": [{"name", "state", "cells": [[row, col, type, value, style], ...],
                     "merged": [...], "widths": {...}}],
         "names": [[name, scope, formula], ...], "styles": {...}}

A cell's type is "s" for text, "n" for a number, "b" boolean, "e" error, "d" a date; empty
and blank cells are left out. The style is what the reader knows of the cell's formatting
(xlrd: the XF index; openpyxl: the indexes of font, fill, border, number format, protection
and alignment), so a comparison of two dumps sees a cell that changed its format.
"""
import json
import re
import sys


def dump_xls(path):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True, on_demand=False)
    out = {'sheets': [], 'names': [], 'styles': {}}
    types = {xlrd.XL_CELL_TEXT: 's', xlrd.XL_CELL_NUMBER: 'n', xlrd.XL_CELL_DATE: 'd',
             xlrd.XL_CELL_BOOLEAN: 'b', xlrd.XL_CELL_ERROR: 'e'}
    for sheet in book.sheets():
        cells = []
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                cells.append([r, c, types[cell.ctype], cell.value, cell.xf_index])
        widths = {str(k): [v.width, v.hidden, v.xf_index] for k, v in sheet.colinfo_map.items()}
        out['sheets'].append({'name': sheet.name, 'state': sheet.visibility, 'cells': cells,
                              'merged': [list(m) for m in sheet.merged_cells],
                              'widths': widths})
    for n in book.name_obj_list:
        out['names'].append([n.name, n.scope, n.raw_formula.hex(), bool(n.hidden)])
    out['styles'] = {
        'xfs': [[x.font_index, x.format_key, x.is_style, x.parent_style_index]
                for x in book.xf_list],
        'fonts': [[f.name, f.height, f.bold, f.italic, f.colour_index] for f in book.font_list],
        'formats': {str(k): v.format_str for k, v in book.format_map.items()},
        'styles': {k: list(v) for k, v in book.style_name_map.items()},
        'datemode': book.datemode,
        'sheet_kinds': [book.sheet_by_index(i).name for i in range(book.nsheets)],
    }
    return out


ESCAPED = re.compile(r'_x([0-9A-Fa-f]{4})_')


def unescape(text):
    """Excel's escapes of characters XML cannot hold (_x000D_ for a carriage return, _x005F_
    for an underscore that starts such a sequence); openpyxl leaves them as they are."""
    return ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), text)


def dump_xlsx(path):
    import openpyxl
    book = openpyxl.load_workbook(path)
    out = {'sheets': [], 'names': [], 'styles': {}}
    for ws in book.worksheets:
        cells = []
        for row in ws.iter_rows():
            for cell in row:
                if cell.value is None:
                    continue
                value = cell.value
                kind = cell.data_type
                if kind == 'd':
                    value = value.isoformat() if hasattr(value, 'isoformat') else str(value)
                elif kind == 'n' and isinstance(value, bool):
                    kind = 'b'
                elif kind in ('s', 'inlineStr') and isinstance(value, str):
                    value = unescape(value)
                cells.append([cell.row - 1, cell.column - 1, 'n' if kind == 'f' else kind,
                              value, list(cell._style)])
        widths = {k: v.width for k, v in ws.column_dimensions.items() if v.customWidth}
        out['sheets'].append({'name': ws.title, 'state': ws.sheet_state, 'cells': cells,
                              'merged': sorted(str(m) for m in ws.merged_cells.ranges),
                              'widths': widths})
    for dn in book.defined_names.definedName:
        out['names'].append([dn.name, dn.localSheetId, dn.attr_text, bool(dn.hidden)])
    out['styles'] = {'fonts': len(book._fonts), 'number_formats': len(book._number_formats),
                     'cell_styles': len(book._cell_styles)}
    return out


def main():
    path = sys.argv[1]
    kind = sys.argv[2] if len(sys.argv) > 2 else ('xlsx' if path.lower().endswith('.xlsx')
                                                  else 'xls')
    if kind == 'csv':
        import csv
        with open(path, newline='', encoding='utf-8') as f:
            out = {'rows': list(csv.reader(f))}
    else:
        out = dump_xls(path) if kind == 'xls' else dump_xlsx(path)
    sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode('utf-8'))


if __name__ == '__main__':
    main()
