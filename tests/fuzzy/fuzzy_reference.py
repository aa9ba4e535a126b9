#!/usr/bin/env python3
"""The fuzzy check's rules read plainly and slowly, as the tests' independent expectation.

Reads one JSON object from the file named as its argument (or standard input):
  check        rows of the check table (lists of text or null), in table order; the candidate
               queries read the same rows
  key          the key field's column
  further      the further check fields' columns
  postcode     the postcode field's column, -1 without postcode segments
  digits       leading postcode characters that form a segment
  seedColumns  columns of the check table that the duplicate table holds
  start, end   the records to check (1-based, inclusive)
Writes the duplicate table's rows, yb_table's rows and the two scratch tables' rows as JSON,
and under "copiedFrom" the check table's row (0-based) each duplicate row was copied from.

Every step is done the long way: a candidate query scans the whole table, a filter scans the
candidates, a look-up scans the duplicate table. Characters are code points (Python's str);
"=" and Like compare normalised values (spaces trimmed at both ends), fold ASCII letters only,
and a null matches nothing; the candidate left out as the seed is the seed's own row, else one
equal to it column by column. A segment's slot is searched afresh by every pass.
"""
import json
import sys

DIVISIONS = set('省市区县')


def fold(s):
    return ''.join(chr(ord(c) + 32) if 'A' <= c <= 'Z' else c for c in s)


def norm(v):  # joined to empty text, trimmed of blanks
    return '' if v is None else v.strip(' ')


def equals(stored, value):
    return stored is not None and fold(norm(stored)) == fold(norm(value))


def holds(stored, part):  # stored Like '%part%'
    return stored is not None and fold(part) in fold(norm(stored))


def starts(stored, part):  # stored Like 'part%'
    return stored is not None and fold(norm(stored)).startswith(fold(part))


class Candidates:
    """A candidate set: the query's rows in key order, and the filter in force."""

    def __init__(self, run, rows, prefix=None):
        self.run, self.rows, self.prefix, self.terms = run, rows, prefix, None

    def view(self):
        T, kc = self.run.T, self.run.kc
        if self.terms is None:
            return list(self.rows)
        return [r for r in self.rows if all(holds(T[r][kc], t) for t in self.terms)]


class Run:
    def __init__(self, inp):
        self.src = self.T = inp['check']
        self.ks = self.kc = inp['key']
        self.further = [f + 1 for f in inp['further']]
        self.ps = self.pc = inp['postcode']
        self.digits = inp['digits']
        self.n = inp['seedColumns']
        self.width = self.n + 2
        self.start, self.end = inp['start'], inp['end']
        self.cc, self.yb, self.slots = [], [], {}
        self.copied = []  # per row of cc: the check table's row it copies
        self.temp1 = self.temp2 = None
        self.origin = []  # per row of temp1: the check table's row
        self.counter = 0

    def query(self, test, column):
        rows = [r for r in range(len(self.T)) if test(self.T[r][column])]
        # Order By key: nulls first, then the folded stored value; equal keys in table order.
        return sorted(rows, key=lambda r: (self.T[r][self.kc] is not None,
                                           fold(norm(self.T[r][self.kc]))))

    def run(self):
        pos = self.start
        while pos <= self.end and pos <= len(self.src):
            self.seed = self.src[pos - 1]
            self.seed_row = pos - 1
            self.shown = self.counter
            if self.ps >= 0:
                self.postcode_step()
            else:
                self.fragment_step()
            pos += 1
        return {'cc': self.cc, 'copiedFrom': self.copied,
                'yb': [[str(s), v] for s, v in self.yb],
                'temp1': self.temp1, 'temp2': self.temp2, 'groups': self.counter}

    def fragment_step(self):
        fragment = norm(self.seed[self.ks])[:2]
        slot = Candidates(self, self.query(lambda v: holds(v, fragment), self.kc))
        self.slots[26] = slot
        if slot.rows:
            self.do_procedure(slot)

    def postcode_step(self):
        prefix = norm(self.seed[self.ps])[:self.digits]
        segment = 201
        if prefix:
            segment = len(self.yb) + 1
            for number, stored in self.yb:
                if norm(stored)[:self.digits] == prefix:
                    segment = number
                    break
        if 1 <= segment <= 200:
            slot = self.slots.get(segment)
            if slot is not None and slot.prefix != prefix:
                slot = None  # another prefix's candidates: queried afresh
            if slot is not None:
                slot.terms = None
                self.do_procedure(slot)
                self.enrol(segment)
                return
            slot = Candidates(self, self.query(lambda v: starts(v, prefix), self.pc), prefix)
            if slot.rows:
                self.slots[segment] = slot
                self.do_procedure(slot)
                self.enrol(segment)
            else:
                self.slots.pop(segment, None)  # nothing found: closed
        else:
            slot = Candidates(self, self.query(lambda v: starts(v, prefix), self.pc))
            self.slots[201] = slot
            if slot.rows:
                self.do_procedure(slot)

    def enrol(self, segment):
        if len(self.yb) < segment < 201:
            self.yb.append((segment, norm(self.seed[self.ps])[:6]))

    def do_procedure(self, slot):
        v = norm(self.seed[self.ks])
        for wanted in (v, '*' + v):  # checkRepeat
            if any(equals(row[self.ks + 1], wanted) for row in self.cc):
                return
        if not v:
            return
        self.first_find(slot, v)
        view = slot.view()
        if len(view) <= 1:
            return
        self.temp1, self.temp2 = [], []
        self.origin = list(view)
        for r in view:
            self.temp1.append([None] + [norm(self.T[r][i]) for i in range(self.n)] + [None])
        if not self.further:
            self.save_record_1()
        else:
            self.do_next()

    def first_find(self, slot, v):
        if not slot.view():
            return
        terms = []
        for k in range(1, len(v)):
            p = v[k - 1:k + 1]
            if p[-1] in DIVISIONS:
                p = v[0]
            if p[0] in DIVISIONS:
                p = v[-1]
            terms.append(p)
        slot.terms = terms or None

    def save_record_1(self):
        if len(self.temp1) <= 1:
            return
        self.cc.append([str(self.shown + 1)] + [norm(self.seed[k]) for k in range(self.n)]
                       + [str(len(self.cc) + 1)])
        self.copied.append(self.seed_row)
        self.counter += 1
        seed = [norm(self.seed[k]) for k in range(self.n)]
        left = self.origin.index(self.seed_row) if self.seed_row in self.origin else None
        for i, row in enumerate(self.temp1):
            if left is None and norm(row[0]) == '' and norm(row[-1]) == '' and \
                    [norm(x) for x in row[1:self.n + 1]] == seed:
                left = i
                break
        running = len(self.cc) + 1
        for i, row in enumerate(self.temp1):
            if i != left:
                self.cc.append([''] + [norm(x) for x in row[1:self.width - 1]] + [str(running)])
                self.copied.append(self.origin[i])
                running += 1

    def do_next(self):
        for row in self.temp1:
            if norm(row[self.further[0]]) == '':
                continue
            cond = [(f, norm(row[f])) for f in self.further]
            if any(all(equals(t[f], v) for f, v in cond) for t in self.temp2):
                continue
            group = [i for i, t in enumerate(self.temp1)
                     if all(equals(t[f], v) for f, v in cond)]
            if len(group) > 1:
                self.temp2.extend(list(self.temp1[i]) for i in group)
                head = [norm(x) for x in self.temp1[group[0]]]
                head[0], head[-1] = str(self.counter + 1), str(len(self.cc) + 1)
                self.cc.append(head)
                self.copied.append(self.origin[group[0]])
                self.counter += 1
                running = len(self.cc) + 1
                for i in group[1:]:
                    rowv = [norm(x) for x in self.temp1[i]]
                    rowv[0], rowv[-1] = '', str(running)
                    self.cc.append(rowv)
                    self.copied.append(self.origin[i])
                    running += 1


if __name__ == '__main__':
    with (open(sys.argv[1], encoding='utf-8') if len(sys.argv) > 1 else sys.stdin) as f:
        json.dump(Run(json.load(f)).run(), sys.stdout, ensure_ascii=False)
