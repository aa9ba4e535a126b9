#!/usr/bin/python3
"""Lists the parts of a zip package through Python's zipfile, and the sheet titles of an
.xlsx's extended properties, independently of the program's own package code.

Usage: zip_parts.py <file>
       zip_parts.py --protected <out.xlsx>   writes a workbook whose structure is locked

Output: {"parts": {name: sha256}, "titles": [...], "pairs": [[name, count], ...]}
"""
import hashlib
import json
import sys
import xml.etree.ElementTree as ET
import zipfile

VT = '{http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes}'
EP = '{http://schemas.openxmlformats.org/officeDocument/2006/extended-properties}'


def main():
    if sys.argv[1] == '--protected':
        import openpyxl
        book = openpyxl.Workbook()
        book.active['A1'] = '客户'
        book.security.lockStructure = True
        book.save(sys.argv[2])
        return
    out = {'parts': {}, 'titles': [], 'pairs': []}
    with zipfile.ZipFile(sys.argv[1]) as z:
        if z.testzip() is not None:
            raise SystemExit('bad zip')
        for name in z.namelist():
            out['parts'][name] = hashlib.sha256(z.read(name)).hexdigest()
        if 'docProps/app.xml' in z.namelist():
            root = ET.fromstring(z.read('docProps/app.xml'))
            titles = root.find(EP + 'TitlesOfParts')
            if titles is not None:
                vector = titles.find(VT + 'vector')
                out['titles'] = [e.text for e in vector]
                out['titles_size'] = int(vector.get('size'))
            pairs = root.find(EP + 'HeadingPairs')
            if pairs is not None:
                items = [v[0] for v in pairs.find(VT + 'vector')]
                for name, count in zip(items[0::2], items[1::2]):
                    out['pairs'].append([name.text, int(count.text)])
    sys.stdout.buffer.write(json.dumps(out, ensure_ascii=False).encode('utf-8'))


if __name__ == '__main__':
    main()
