#!/usr/bin/env bash
# A layout of one's own, measured through the installed package: installs
# BUILD_DIR into a temporary prefix, builds examples/own-layout against it from
# outside the source tree, and runs it: its case must appear beside the
# built-in ones and validate under every sweep and both heaps. Exits 77
# (skipped) where the build cannot be installed.
#
#   own_layout.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$2 source=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if ! "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
  echo "skipped: cmake --install $build failed:" >&2
  tail -n 5 "$tmp/install.log" >&2
  exit 77
fi
cp -r "$source/examples/own-layout" "$tmp/project"
cd "$tmp"
"$cmake" -S project -B project/build -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
"$cmake" --build project/build >/dev/null
project/build/my-suite --shape=12x10x8 --samples=1 --benchmark_repetitions=1 --sweeps=all \
  --heap=fresh,aged --benchmark_filter='^(slabs|nested)/.*threads:1/' --benchmark_format=json \
  --progress=off >report.json
/usr/bin/python3 - report.json <<'PY'
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    benchmarks = json.load(f)["benchmarks"]
names = [b["name"] for b in benchmarks]
for heap in ("", "/heap:aged"):
    for case in ("nested", "slabs"):
        name = f"{case}/shape:12x10x8{heap}/threads:1/manual_time"
        b = next((b for b in benchmarks if b["name"] == name), None)
        assert b is not None, f"no {name} among {names}"
        assert not b.get("error_occurred"), b.get("error_message")
        assert b["gather_ms"] >= 0 and b["lines_i_ms"] >= 0, b
assert names.index("nested/shape:12x10x8/threads:1/manual_time") < names.index(
    "slabs/shape:12x10x8/threads:1/manual_time"), "the built-in cases come first"
PY
echo "slabs measured beside the built-in cases through the package installed in $tmp/prefix"
