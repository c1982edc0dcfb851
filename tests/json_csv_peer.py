#!/usr/bin/env python3
"""Checks load-json, to-json, load-csv and to-csv against Python's json and csv.

Generates RFC 8259 documents that must load (nesting, escapes, surrogate
pairs, huge and tiny numbers, repeated names) and ones that must not
(trailing commas, leading zeros, raw controls, lone high surrogates, NaN),
and CSV texts with quoted delimiters, quotes and line breaks. zan loads each
and writes what it got back as JSON; that must equal what Python reads.
Usage: json_csv_peer.py path/to/zan
"""
import csv
import io
import json
import math
import os
import random
import subprocess
import sys
import tempfile

rng = random.Random(8259)
ALPHABET = 'ab Z09,"\\/\n\r\t\x01\x1f\x7f é€😀\u2028'


def text(n=8):
    return ''.join(rng.choice(ALPHABET) for _ in range(rng.randint(0, n)))


def number():
    kind = rng.randint(0, 5)
    if kind == 0:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 1:
        return rng.randint(-10**30, 10**30)
    if kind == 2:
        return rng.uniform(-1e6, 1e6)
    if kind == 3:
        return rng.choice([1e300, 5e-324, 1.7976931348623157e308, 0.1, -0.0, 1e-20])
    return rng.randint(-5, 5)


def value(depth=0):
    kind = rng.randint(0, 7 if depth < 4 else 3)
    if kind == 0:
        return number()
    if kind == 1:
        return text()
    if kind == 2:
        return rng.choice([True, False, None])
    if kind == 3:
        return number()
    if kind in (4, 5):
        return [value(depth + 1) for _ in range(rng.randint(0, 4))]
    # lower-case names: names differing only in case are one key here
    return {text(5).lower(): value(depth + 1) for _ in range(rng.randint(0, 4))}


def good_documents():
    docs = []
    for _ in range(150):
        v = value()
        docs.append(json.dumps(v, ensure_ascii=rng.random() < 0.5,
                               indent=rng.choice([None, 1, '\t'])))
    docs += ['[' * 1000 + ']' * 1000, '{"a": 1, "a": 2, "b": 3}', ' \r\n\t[1e400, -1e400]\n',
             '"\\ud83d\\ude00\\u00e9\\/"', '1' + '0' * 400, '0.' + '0' * 400 + '1', '-0', '[1E+2,2e-2]']
    return docs


def bad_documents():
    return ['[1,]', '{"a":1,}', '01', '[01]', '1.', '.5', '+1', '-', '[1 2]', '', ' ', 'NaN',
            '[Infinity]', '"a\x01"', '"\t"', '"\\ud800"', '"\\ud800\\u0041"', '\ufeff[]', '{"a" 1}',
            '[', '[' * 1000, '{"a":1} x', "'a'", '[True]', '"\\x"', '[1,,2]', '{,}', '{"a":}', '[-]']


def csv_rows():
    tables = []
    for _ in range(60):
        width = rng.randint(1, 4)
        rows = [[text(6).replace('\r', '') for _ in range(width)] for _ in range(rng.randint(1, 5))]
        # csv leaves a bare CR unquoted, which reads here as a line end
        tables.append(rows)
    return tables


ZAN_SCRIPT = r'''Zan []
foreach f sort read dir: %DIR [
    r: try [do load read rejoin [dir f]]
    print either error? r [rejoin ["ERROR " r/id]] [to-json/ascii r]
]
'''


def main():
    sys.setrecursionlimit(20000)
    zan = sys.argv[1]
    good, bad, tables = good_documents(), bad_documents(), csv_rows()
    with tempfile.TemporaryDirectory() as tmp:
        cases = []
        for d in good + bad:
            cases.append(['load-json', d])
        for rows in tables:
            buf = io.StringIO()
            csv.writer(buf, lineterminator=rng.choice(['\n', '\r\n'])).writerows(rows)
            cases.append(['load-csv', buf.getvalue()])
            cases.append(['to-csv', rows])
        data = os.path.join(tmp, 'cases')
        os.mkdir(data)
        for i, (fn, arg) in enumerate(cases):
            with open(os.path.join(data, '%05d' % i), 'w', encoding='utf-8', newline='') as f:
                if fn == 'to-csv':
                    f.write('load-csv to-csv load-json ' + zan_string(json.dumps(arg)))
                else:
                    f.write(fn + ' ' + zan_string(arg))
        script = os.path.join(tmp, 'peer.zan')
        with open(script, 'w') as f:
            f.write(ZAN_SCRIPT.replace('%DIR', '%' + data + '/'))
        out = subprocess.run([zan, script], capture_output=True, text=True, encoding='utf-8')
        lines = out.stdout.split('\n')
        if out.returncode != 0 or len(lines) < len(cases):
            print(out.stdout[-2000:], out.stderr[-2000:])
            print('0 passed, 1 failed')
            return 1
        failed = 0
        for (fn, arg), line in zip(cases, lines):
            ok = check(fn, arg, line, arg in bad if fn == 'load-json' else False)
            if not ok:
                failed += 1
                print('FAIL', fn, repr(arg)[:200], '->', line[:200])
        print('%d passed, %d failed' % (len(cases) - failed, failed))
        return 1 if failed else 0


def zan_string(s):
    # a Zan string in braces-free form: every character escaped as needed
    out = ['"']
    for c in s:
        if c in '"^':
            out.append('^' + c)
        elif ord(c) < 32 or ord(c) == 127:
            out.append('^(%02X)' % ord(c))
        else:
            out.append(c)
    out.append('"')
    return ''.join(out)


def as_float(a):
    try:
        return float(a)
    except OverflowError:
        return math.inf if a > 0 else -math.inf


def same(a, b):
    """Python's value and ours: numbers past the double range are infinite, and
    infinities come back as molded strings."""
    if isinstance(a, bool) or isinstance(b, bool) or a is None or b is None:
        return a is b
    if isinstance(a, (int, float)):
        fa = as_float(a)
        if isinstance(b, str):
            return math.isinf(fa) and b == ('-1.#INF' if fa < 0 else '1.#INF')
        return isinstance(b, (int, float)) and fa == float(b)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


def check(fn, arg, line, must_fail):
    if fn == 'load-json':
        if must_fail:
            return line.startswith('{"code"') or line.startswith('ERROR')
        if line.startswith('ERROR'):
            return False
        return same(json.loads(arg), json.loads(line))
    if line.startswith('ERROR'):
        return False
    got = json.loads(line)
    want = arg if fn == 'to-csv' else list(csv.reader(io.StringIO(arg, newline='')))
    want = [r if r else [''] for r in want]
    return got == want


if __name__ == '__main__':
    sys.exit(main())
