# save then load of 300,000 values with json, beside bench/load_save.zan
import json, time
values = []
for i in range(1, 75001):
    values += [i, "s%d" % i, "w%d" % (i % 100), [i, i + 1]]
t0 = time.perf_counter()
with open("/tmp/py-load-save-bench.json", "w") as f:
    json.dump(values, f)
with open("/tmp/py-load-save-bench.json") as f:
    back = json.load(f)
print("python: %d ms" % ((time.perf_counter() - t0) * 1000), "equal:", back == values)
