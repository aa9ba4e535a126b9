#!/usr/bin/python3
"""Appends one record to a dBase table through python3-dbf: "another program" writing to a
table the program has open.

    dbf_append.py TABLE.dbf CODEPAGE FIELD=VALUE...

Values are text; date fields take yyyy-mm-dd, logical fields True/False, numbers their digits.
"""
import datetime
import sys

import dbf


def main():
    path, codepage = sys.argv[1], sys.argv[2]
    table = dbf.Table(path, codepage=codepage) if codepage else dbf.Table(path)
    table.open(dbf.READ_WRITE)
    values = {}
    for arg in sys.argv[3:]:
        name, value = arg.split('=', 1)
        name = name.lower()
        ftype = table._meta[name][0]
        ftype = chr(ftype) if isinstance(ftype, int) else ftype
        if ftype == 'D':
            values[name] = datetime.date.fromisoformat(value)
        elif ftype == 'L':
            values[name] = value == 'True'
        elif ftype in 'NFIBY':
            values[name] = float(value) if '.' in value else int(value)
        else:
            values[name] = value
    table.append(values)
    table.close()


if __name__ == '__main__':
    main()
