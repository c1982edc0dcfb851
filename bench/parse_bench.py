"""The work of parse_bench.zan done with Python's re, timed inside (CPU seconds)."""
import os
import re
import sys
import time

lines = 200000
levels = ["INFO", "WARN", "ERROR", "DEBUG"]
log_parts = []
for i in range(1, lines + 1):
    log_parts.append(
        f'2026-12-10 13:{i % 60}:07 {levels[i % 4]} [mod-{i % 13}] user=u{i % 997} '
        f'msg="request {i} handled" took={i % 251}ms\n')
log = "".join(log_parts)

words = ["alpha", "Beta", "gamma", "delta", "Epsilon", "zeta", "eta", "theta"]
puncts = [", ", ". ", "; ", " (", ") "]
text_parts = []
size = 0
n = 0
while size < 4000000:
    n += 1
    piece = f"{words[n % 8]} {n}{puncts[n % 5]}"
    text_parts.append(piece)
    size += len(piece)
text = "".join(text_parts)

if os.environ.get("PARSE_BENCH_GEN_ONLY"):
    sys.exit(0)

# Each task runs `reps` times, as in parse_bench.zan.
reps = int(os.environ.get("PARSE_BENCH_REPS", "5"))
t0 = time.process_time()
for _ in range(reps):
    msgs = re.findall(r'ERROR .*?msg="([^"]*)"', log)
t1 = time.process_time()
for _ in range(reps):
    total = sum(int(t) for t in re.findall(r"took=([0-9]+)", log))
t2 = time.process_time()
for _ in range(reps):
    counts = [0, 0, 0]
    for m in re.finditer(r"([A-Za-z]+)|([0-9]+)|[ \t\n]+|(.)", text, re.S):
        k = m.lastindex
        if k:
            counts[k - 1] += 1
t3 = time.process_time()

print("errors", len(msgs), "last", msgs[-1])
print("took", total)
print("tokens", *counts)
print(f"times {t1 - t0:.4f} {t2 - t1:.4f} {t3 - t2:.4f}", file=sys.stderr)
print(f"total {t3 - t0:.4f}", file=sys.stderr)
