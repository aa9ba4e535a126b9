#!/usr/bin/env python3
"""The fuzzy check's rules read plainly and slowly, as the tests' independent expectation.

Reads one JSON object from the file named as its argument (or standard input):
  check        rows of the check table (lists of text or null), in table order
  candidates   rows of the table the candidate queries read, in table order
  key, keyCandidate            the key field's column in each
  further                      the further check fields' columns in the check table
  postcode, postcodeCandidate  the postcode field's column in each, -1 without postcode segments
  digits       leading postcode characters that form a segment
  seedColumns  columns of the check table that the duplicate table holds
  start, end   the records to check (1-based, inclusive)
Writes the duplicate table's rows, yb_table's rows and the two scratch tables' rows as JSON.

Every step is done the long way: a candidate query scans the whole table, a filter scans the
candidates, a look-up scans the duplicate table. Characters are code points (Python's str);
"=" and Like fold ASCII letters only and a null matches nothing; trimming is of spaces only;
a candidate equal to the seed is found by comparing the columns one by one, exactly.
"""
import json
import sys

DIVISIONS = set('省市区县')


def fold(s):
    return ''.join(chr(ord(c) + 32) if 'A' <= c <= 'Z' else c for c in s)


def norm(v):  # joined to empty text, trimmed of blanks
    return '' if v is None else v.strip(' ')


def equals(stored, value):
    return stored is not None and fold(stored) == fold(value)


def holds(stored, part):  # stored Like '%part%'
    return stored is not None and fold(part) in fold(stored)


def starts(stored, part):  # stored Like 'part%'
    return stored is not None and fold(stored).startswith(fold(part))


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
        self.src = inp['check']
        self.T = inp['candidates']
        self.ks, self.kc = inp['key'], inp['keyCandidate']
        self.further = [f + 1 for f in inp['further']]
        self.ps, self.pc = inp['postcode'], inp['postcodeCandidate']
        self.digits = inp['digits']
        self.n = inp['seedColumns']
        self.width = self.n + 2
        self.start, self.end = inp['start'], inp['end']
        self.cc, self.yb, self.slots = [], [], {}
        self.temp1 = self.temp2 = None
        self.counter = 0

    def query(self, test, column):
        rows = [r for r in range(len(self.T)) if test(self.T[r][column])]
        # Order By key: nulls first, then the folded stored value; equal keys in table order.
        return sorted(rows, key=lambda r: (self.T[r][self.kc] is not None,
                                           fold(self.T[r][self.kc] or '')))

    def run(self):
        pos = self.start
        while pos <= self.end and pos <= len(self.src):
            self.seed = self.src[pos - 1]
            self.shown = self.counter
            if self.ps >= 0:
                self.postcode_step()
            else:
                self.fragment_step()
            pos += 1
        return {'cc': self.cc, 'yb': [[str(s), v] for s, v in self.yb],
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
                if segment in (23, 24):
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
        self.counter += 1
        seed = [norm(self.seed[k]) for k in range(self.n)]
        left = None
        for i, row in enumerate(self.temp1):
            if norm(row[0]) == '' and norm(row[-1]) == '' and \
                    [norm(x) for x in row[1:self.n + 1]] == seed:
                left = i
                break
        running = len(self.cc) + 1
        for i, row in enumerate(self.temp1):
            if i != left:
                self.cc.append([''] + [norm(x) for x in row[1:self.width - 1]] + [str(running)])
                running += 1

    def do_next(self):
        for row in self.temp1:
            if norm(row[self.further[0]]) == '':
                continue
            cond = [(f, norm(row[f])) for f in self.further]
            if any(all(equals(t[f], v) for f, v in cond) for t in self.temp2):
                continue
            group = [t for t in self.temp1 if all(equals(t[f], v) for f, v in cond)]
            if len(group) > 1:
                self.temp2.extend(list(g) for g in group)
                head = [norm(x) for x in group[0]]
                head[0], head[-1] = str(self.counter + 1), str(len(self.cc) + 1)
                self.cc.append(head)
                self.counter += 1
                running = len(self.cc) + 1
                for g in group[1:]:
                    rowv = [norm(x) for x in g]
                    rowv[0], rowv[-1] = '', str(running)
                    self.cc.append(rowv)
                    running += 1


if __name__ == '__main__':
    with (open(sys.argv[1], encoding='utf-8') if len(sys.argv) > 1 else sys.stdin) as f:
        json.dump(Run(json.load(f)).run(), sys.stdout, ensure_ascii=False)
