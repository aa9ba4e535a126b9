#!/usr/bin/python3
"""Lists every storage and stream of a compound file through olefile (Debian's
python3-olefile), independently of the program's own container code.

Usage: cfb_streams.py <file>

Output: {"entries": [[path, kind, size, sha256, clsid], ...] sorted by path,
         "root_clsid": "...", "sst_continues": n, "index_pointers": [good, bad]}
where sst_continues counts the CONTINUE records that follow the shared-string table (SST) of
the Workbook stream, if there is one, and index_pointers the stream positions in the sheets'
INDEX records that do and do not lead to the record they name (DEFCOLWIDTH, DBCELL).
"""
import hashlib
import json
import struct
import sys

import olefile


def sst_continues(data):
    pos, prev, count = 0, None, 0
    while pos + 4 <= len(data):
        kind, size = struct.unpack('<HH', data[pos:pos + 4])
        if kind == 0x3C:
            if prev == 0xFC:
                count += 1
        else:
            prev = kind
        pos += 4 + size
    return count


def index_pointers(data):
    good = bad = 0
    pos = 0
    while pos + 4 <= len(data):
        kind, size = struct.unpack('<HH', data[pos:pos + 4])
        if kind == 0x020B:
            body = data[pos + 4:pos + 4 + size]
            for k in range(12, size - 3, 4):
                at = struct.unpack('<I', body[k:k + 4])[0]
                if at == 0:
                    continue
                want = (0x0055,) if k == 12 else (0x00D7,)
                found = struct.unpack('<H', data[at:at + 2])[0] if at + 2 <= len(data) else None
                if found in want:
                    good += 1
                else:
                    bad += 1
        pos += 4 + size
    return [good, bad]


def main():
    ole = olefile.OleFileIO(sys.argv[1])
    entries = []
    workbook = None
    for path in ole.listdir(streams=True, storages=True):
        name = '/'.join(path)
        kind = ole.get_type(path)
        if kind == olefile.STGTY_STREAM:
            data = ole.openstream(path).read()
            if name.lower() == 'workbook':
                workbook = data
            entries.append([name, 'stream', len(data), hashlib.sha256(data).hexdigest(),
                            ole.getclsid(path)])
        else:
            entries.append([name, 'storage', 0, '', ole.getclsid(path)])
    entries.sort()
    out = {'entries': entries, 'root_clsid': ole.root.clsid,
           'sst_continues': sst_continues(workbook) if workbook is not None else 0,
           'index_pointers': index_pointers(workbook) if workbook is not None else [0, 0]}
    print(json.dumps(out))


if __name__ == '__main__':
    main()
