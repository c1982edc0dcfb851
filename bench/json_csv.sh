#!/bin/sh
# load-json, to-json, load-csv and to-csv next to Python's json.loads,
# compact json.dumps, csv.reader and csv.writer on the same 20 MB of records
# (made by python3 with a fixed seed). One run each, CPU time on both sides;
# times exclude reading the file. Usage: bench/json_csv.sh [path/to/zan]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
zan=${1:-$here/../build/zan}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp" <<'PY'
import csv, json, random, sys
rng = random.Random(2024)
words = ['alpha', 'b"eta', 'gam\\ma', 'dé\nlta', '€uro', '😀', 'x,y', 'plain']
def rec(i):
    return {'id': i, 'score': rng.uniform(-1e6, 1e6), 'name': rng.choice(words) * rng.randint(1, 3),
            'tags': [rng.choice(words) for _ in range(3)], 'ok': rng.random() < 0.5, 'none': None,
            'nested': {'a': [rng.randint(0, 10**6), {'b': rng.choice(words)}]}}
out, size, i = [], 0, 0
while size < 20_000_000:
    r = rec(i); out.append(r); size += len(json.dumps(r)) + 1; i += 1
open(sys.argv[1] + '/data.json', 'w', encoding='utf-8').write(json.dumps(out, ensure_ascii=False))
rows, size = [], 0
while size < 20_000_000:
    row = [rng.choice(words) * rng.randint(1, 3) for _ in range(6)]
    rows.append(row); size += sum(len(f) + 3 for f in row)
with open(sys.argv[1] + '/data.csv', 'w', encoding='utf-8', newline='') as f:
    csv.writer(f, lineterminator='\n').writerows(rows)
PY
python3 - "$tmp" > "$tmp/py.txt" <<'PY'
import csv, io, json, sys, time
t = sys.argv[1]
j = open(t + '/data.json', encoding='utf-8').read()
c = open(t + '/data.csv', encoding='utf-8', newline='').read()
def cpu(f):
    s = time.process_time(); r = f(); return time.process_time() - s, r
a, v = cpu(lambda: json.loads(j)); print('load-json', a)
a, _ = cpu(lambda: json.dumps(v, separators=(',', ':'), ensure_ascii=False)); print('to-json', a)
a, rows = cpu(lambda: list(csv.reader(io.StringIO(c, newline='')))); print('load-csv', a)
def w():
    b = io.StringIO(); csv.writer(b, lineterminator='\n').writerows(rows); return b.getvalue()
a, _ = cpu(w); print('to-csv', a)
PY
cat > "$tmp/b.zan" <<ZAN
Zan []
j: read %$tmp/data.json
c: read %$tmp/data.csv
; CPU seconds (user + system) of this process, from the kernel's tick counts
cpu-now: func [/local f] [
    f: split find/tail read %/proc/self/stat ") " " "
    ((to integer! f/12) + (to integer! f/13)) / 100.0
]
cpu: func [code /local t] [t: cpu-now do code cpu-now - t]
print ["load-json" cpu [v: load-json j]]
print ["to-json" cpu [to-json v]]
print ["load-csv" cpu [rows: load-csv c]]
print ["to-csv" cpu [to-csv rows]]
ZAN
"$zan" "$tmp/b.zan" > "$tmp/zan.txt"
printf '%-10s %10s %10s %8s\n' task zan python ratio
paste "$tmp/zan.txt" "$tmp/py.txt" | awk '{ printf "%-10s %10.3f %10.3f %8.2f\n", $1, $2, $4, $2 / $4 }'
