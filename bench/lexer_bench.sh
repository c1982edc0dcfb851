#!/usr/bin/env bash
# Load throughput of the lexer next to Lua's load and CPython's compile, on
# the same data written in each language, in one run.
#
#   bench/lexer_bench.sh [MEGABYTES] [BUILD_DIR]
#
# Builds zan-lexbench in a release build (build-release by default), writes
# the three sources to a temporary directory and prints MB/s for each.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
cd "$here/.."
mb=${1:-8}
build=${2:-build-release}
build_release "$build" zan-lexbench
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$tmp" "$mb" <<'PY'
import sys
out, mb = sys.argv[1], float(sys.argv[2])
zan, lua, py = [], [], []
i = 0
size = 0
while size < mb * 1e6:
    name = f"item-{i}"
    zan.append(f'{name}: make-entry [name "entry {i}" size {i * 7} ratio {i % 97}.25 '
               f'tags [alpha beta gamma] enabled true items [{i} {i + 1} {i + 2}]] ; note {i}\n'
               f'if {name}/size > 100 [print {name}/name]\n')
    lua.append(f'item_{i} = make_entry{{name="entry {i}", size={i * 7}, ratio={i % 97}.25, '
               f'tags={{alpha, beta, gamma}}, enabled=true, items={{{i}, {i + 1}, {i + 2}}}}} -- note {i}\n'
               f'if item_{i}.size > 100 then print(item_{i}.name) end\n')
    py.append(f'item_{i} = make_entry(name="entry {i}", size={i * 7}, ratio={i % 97}.25, '
              f'tags=[alpha, beta, gamma], enabled=True, items=[{i}, {i + 1}, {i + 2}])  # note {i}\n'
              f'if item_{i}.size > 100: print(item_{i}.name)\n')
    size += len(zan[-1])
    i += 1
# Lua limits the locals and constants of one chunk, not globals; a flat file is fine.
open(f"{out}/src.zan", "w").write("".join(zan))
open(f"{out}/src.lua", "w").write("".join(lua))
open(f"{out}/src.py", "w").write("".join(py))
PY

echo "source sizes: zan $(stat -c %s "$tmp/src.zan"), lua $(stat -c %s "$tmp/src.lua"), python $(stat -c %s "$tmp/src.py") bytes"
"$build/zan-lexbench" "$tmp/src.zan" 5
if command -v lua5.4 >/dev/null; then
  lua5.4 - "$tmp/src.lua" <<'LUA'
local f = assert(io.open(arg[1], "rb")); local s = f:read("a"); f:close()
local best = math.huge
for _ = 1, 5 do
  local t = os.clock(); assert(load(s)); t = os.clock() - t
  if t < best then best = t end
  collectgarbage()
end
print(string.format("lua5.4 load: %.1f MB/s (%d bytes, best of 5 in %.4f s)", #s / best / 1e6, #s, best))
LUA
else
  echo "lua5.4 load: not installed (apt-get install lua5.4)"
fi
python3 - "$tmp/src.py" <<'PY'
import sys, time
s = open(sys.argv[1]).read()
best = float("inf")
for _ in range(5):
    t = time.perf_counter(); compile(s, "src.py", "exec"); t = time.perf_counter() - t
    best = min(best, t)
print(f"python{sys.version_info.major}.{sys.version_info.minor} compile: {len(s) / best / 1e6:.1f} MB/s ({len(s)} bytes, best of 5 in {best:.4f} s)")
PY
