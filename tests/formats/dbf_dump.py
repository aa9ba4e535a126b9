#!/usr/bin/python3
"""Dumps a dBase/FoxPro table as JSON through Debian's python3-dbf, the independent reader the
dbf tests compare the program's own reader and writer with.

    dbf_dump.py TABLE.dbf [CODEPAGE]

CODEPAGE (a python codec name such as cp936 or utf8) is used for tables whose header declares
no code page (language-driver byte 0), as the program does with its own default or argument.

Output: {"fields": [...], "types": [...], "rows": [[value, ...], ...]} with deleted records left
out. Values are brought to the text forms the program shows; these are the only differences of
form allowed, each an explicit rule:
  - character values end at the first NUL byte and lose trailing blanks (python3-dbf keeps the
    field padding);
  - dates are yyyy-mm-dd; datetimes "yyyy-mm-dd HH:MM:SS" rounded to the nearest second
    (python3-dbf keeps the milliseconds as microseconds);
  - logicals are "True"/"False", unknown is null;
  - numbers (N F I B Y) are written with repr()/str() and compared by value by the test
    (python3-dbf gives floats and Decimals, the program the stored digits).
Workarounds for python3-dbf 0.96 limits, none of which changes a value:
  - it looks for the memo file with the case of the .dbf extension only (contacts.dbf needs
    contacts.fpt, the sample has contacts.FPT): the table and its memo file are copied to a
    temporary folder under the names it expects;
  - it refuses dBase IV tables (0x8B): the copy is marked dBase III (0x83) and memo fields are
    read as raw blocks, then cut by the dBase IV block header (FF FF 08 00, then the length
    counting these 8 bytes);
  - it takes a NULL bit of _NullFlags by field position, where Visual FoxPro numbers the bits
    over the nullable (and varchar) fields only (it fails on dbase_31.dbf): nullness is read
    here by the Visual FoxPro rule and python3-dbf decodes the values.
"""
import datetime
import decimal
import glob
import json
import os
import shutil
import sys
import tempfile

import dbf

NULLABLE, BINARY = 0x02, 0x04


def companion(path, exts):
    base = os.path.splitext(os.path.basename(path))[0].lower()
    folder = os.path.dirname(os.path.abspath(path))
    for ext in exts:
        for name in os.listdir(folder):
            if name.lower() == base + '.' + ext:
                return os.path.join(folder, name)
    return None


def raw_fields(header):
    """(name, type, length, flags) of each descriptor, in order."""
    fields, at = [], 32
    hlen = int.from_bytes(header[8:10], 'little')
    while at + 32 <= hlen and header[at] != 0x0D:
        d = header[at:at + 32]
        name = d[:11].split(b'\0')[0]
        fields.append((name, chr(d[11]), d[16], d[18]))
        at += 32
    return fields


def null_bits(fields, version):
    """Visual FoxPro: the NULL bit of each visible field (None when it has none), numbering
    the bits over varchar/varbinary length bits and nullable fields in field order."""
    bits, n = [], 0
    for _, ftype, _, flags in fields:
        if ftype == '0':
            continue
        bit = None
        if version in (0x30, 0x31, 0x32):
            if ftype in 'VQ':
                n += 1
            if flags & NULLABLE:
                bit, n = n, n + 1
        bits.append(bit)
    return bits


def text_value(value, ftype):
    if value is None or value is dbf.Null:
        return None
    if ftype == 'L':
        return None if value not in (True, False) else ('True' if value else 'False')
    if isinstance(value, datetime.datetime):
        moment = value + datetime.timedelta(microseconds=500000)
        return moment.replace(microsecond=0).strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(value, datetime.date):
        return value.isoformat()
    if isinstance(value, (int, decimal.Decimal)):
        return str(value)
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, bytes):
        return value.hex()
    if ftype == 'C':
        return value.split('\0', 1)[0].rstrip(' ')
    return value


def main():
    path = sys.argv[1]
    fallback = sys.argv[2] if len(sys.argv) > 2 else None
    with open(path, 'rb') as f:
        data = f.read()
    version, ldid = data[0], data[29]
    fields = raw_fields(data)
    bits = null_bits(fields, version)
    dbase4 = version == 0x8B

    work = tempfile.mkdtemp(prefix='dbf_dump_')
    try:
        copy = os.path.join(work, 'table.dbf')
        with open(copy, 'wb') as f:
            f.write(bytes([0x83]) + data[1:] if dbase4 else data)
        memo = companion(path, ['fpt', 'dbt'])
        if memo:
            shutil.copy(memo, os.path.join(work, 'table.' + memo[-3:].lower()))
        options = {}
        if ldid == 0 and fallback:
            options['codepage'] = fallback
        table = dbf.Table(copy, **options)
        table.open(dbf.READ_ONLY)
        meta = table._meta
        names = list(table.field_names)
        types = [meta[n][0] for n in names]
        types = [chr(t) if isinstance(t, int) else t for t in types]
        if len(bits) != len(names):
            sys.exit('python3-dbf sees %d fields, the header %d' % (len(names), len(bits)))
        # Nullness comes from the Visual FoxPro rule; python3-dbf only decodes values.
        for n, ftype in zip(names, types):
            fieldMeta = list(meta[n])
            fieldMeta[5] &= ~NULLABLE
            if dbase4 and ftype == 'M':
                fieldMeta[5] |= BINARY
            meta[n] = tuple(fieldMeta)
        nulls = meta['_nullflags'] if '_nullflags' in meta.fields else None
        decode = meta.decoder
        rows = []
        for record in table:
            if dbf.is_deleted(record):
                continue
            raw = bytes(record._data)
            row = []
            for n, ftype, bit in zip(names, types, bits):
                if bit is not None and nulls is not None:
                    flags = raw[nulls[1]:nulls[1] + nulls[2]]
                    if bit // 8 < len(flags) and flags[bit // 8] >> (bit % 8) & 1:
                        row.append(None)
                        continue
                value = record[n]
                if dbase4 and ftype == 'M' and isinstance(value, (bytes, bytearray)):
                    block = bytes(value)
                    if block[:4] == b'\xff\xff\x08\x00':
                        length = int.from_bytes(block[4:8], 'little')
                        block = block[8:max(length, 8)]
                    value = decode(block)[0]
                row.append(text_value(value, ftype))
            rows.append(row)
        table.close()
        json.dump({'fields': names, 'types': types, 'rows': rows}, sys.stdout,
                  ensure_ascii=False)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
