#!/usr/bin/env bash
# Outside projects built against the installed package, as a user builds them:
# installs BUILD_DIR into a temporary prefix, then
#  - every installed header compiles alone;
#  - examples/own-sweep (a projection) runs on the built-in layouts;
#  - examples/own-layout (slabs, no fill of its own), examples/own-rule
#    (an index rule alone, under every memory) and tests/outside
#    (own-headers: a project with its own checks.h, Timer.h and sum.h, whose
#    layout brings its own sum loop, run as a case of its own) build
#    from outside the source tree, and their layouts run beside the built-in
#    cases, validated under every sweep and both heaps;
#  - each class that is not a layout stops the build with its one message.
# Exits 77 (skipped) where the build cannot be installed.
#
#   outside_projects.sh CMAKE BUILD_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$2 source=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if ! "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
  echo "skipped: cmake --install $build failed:" >&2
  tail -n 5 "$tmp/install.log" >&2
  exit 77
fi
# Every installed header compiles on its own, from the prefix and the
# libraries' own paths (Eigen's headers are not on the default one).
# shellcheck disable=SC2046
for header in $(cd "$tmp/prefix/include" && find voxgrid -name '*.h' | sort); do
  if ! echo "#include <$header>" | c++ -std=c++17 -fopenmp -fsyntax-only -x c++ \
    -I "$tmp/prefix/include" $(pkg-config --cflags-only-I eigen3 2>/dev/null) - \
    2>"$tmp/header.log"; then
    echo "<$header> does not compile on its own:" >&2
    head -n 5 "$tmp/header.log" >&2
    exit 1
  fi
done
cp -r "$source/examples/own-layout" "$tmp/example"
cp -r "$source/examples/own-sweep" "$tmp/sweep"
cp -r "$source/examples/own-rule" "$tmp/rule"
cp -r "$source/tests/outside" "$tmp/outside"
cd "$tmp"
for project in example sweep rule outside; do
  "$cmake" -S $project -B $project/build -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
  "$cmake" --build $project/build >/dev/null
done

# program | its layout | the cases it adds
runs="example/build/my-suite slabs slabs
rule/build/my-rule j_major j_major/memory:touched,j_major/memory:huge,j_major/memory:zeroed
outside/build/own-headers plain plain,plain/loops:own"
while read -r program layout cases; do
  "$program" --shape=12x10x8 --samples=1 --benchmark_repetitions=1 --sweeps=all \
    --heap=fresh,aged --benchmark_filter="^(nested|$layout)/.*threads:1/" \
    --benchmark_format=json --progress=off >report.json 2>"plan-$layout.txt"
  /usr/bin/python3 - report.json "$layout" "$cases" <<'PY'
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    benchmarks = json.load(f)["benchmarks"]
layout, added = sys.argv[2], sys.argv[3].split(",")
names = [b["name"] for b in benchmarks]
for heap in ("", "/heap:aged"):
    for case in ["nested", *added]:
        name = f"{case}/shape:12x10x8{heap}/threads:1/manual_time"
        b = next((b for b in benchmarks if b["name"] == name), None)
        assert b is not None, f"no {name} among {names}"
        assert not b.get("error_occurred"), b.get("error_message")
        assert b["gather_ms"] >= 0 and b["lines_i_ms"] >= 0, b
assert names.index("nested/shape:12x10x8/threads:1/manual_time") < names.index(
    f"{added[0]}/shape:12x10x8/threads:1/manual_time"), "the built-in cases come first"
PY
  echo "$layout measured beside the built-in cases"
done <<<"$runs"
# The example's own sweep runs on the built-in layouts, for every element type,
# and on the ceiling, each timed and checked against the reference block.
sweep/build/my-sweep --shape=12x10x8 --samples=1 --benchmark_repetitions=1 --element=int32,uint8 \
  --benchmark_filter="^(nested|flat_vector|bricks_4/memory:touched|morton/memory:huge|bandwidth/stores:plain)/.*threads:1/" \
  --benchmark_format=json --progress=off >report.json 2>plan-sweep.txt
/usr/bin/python3 - report.json <<'PY'
import json, sys
with open(sys.argv[1], encoding="utf-8") as f:
    report = json.load(f)
assert report["context"]["added_sweeps"] == "max_projection", report["context"]
names = []
for b in report["benchmarks"]:
    names.append(b["name"])
    assert not b.get("error_occurred"), b.get("error_message")
    assert b["max_projection_ms"] >= 0 and b["stencil_ms"] >= 0, b
    size = 1 if "element:uint8" in b["name"] else 4
    assert b["max_projection_bytes"] == 12 * 10 * 8 * size, b
assert any("element:uint8" in n for n in names) and len(names) >= 8, names
PY
echo "max_projection measured on the built-in layouts"

# The plan takes a layout's stated bytes, and says it estimated where it had none.
grep -q 'needs up to .*(grid [0-9.]* [kMG]*B + ' plan-plain.txt &&
  grep -q 'needs up to .*(grid [0-9.]* [kMG]*B estimated + ' plan-slabs.txt ||
  { echo "the plan lines do not follow the stated bytes:" >&2; cat plan-*.txt >&2; exit 1; }

# fault | the one message the build must stop with
faults="missing_release|voxgrid: a layout needs the member void release() (see docs/own-layout.md)
at_by_value|voxgrid: a layout's at() must give a callable g(i, j, k) that returns the element by reference: int&, float&, double&, std::uint16_t& or std::uint8_t& (see docs/own-layout.md)"
while IFS='|' read -r fault message; do
  if "$cmake" --build outside/build --target "not_a_layout_$fault" >build.log 2>&1; then
    echo "not_a_layout_$fault compiled; it lacks what a layout needs" >&2
    exit 1
  fi
  errors=$(grep -c 'error:' build.log || true)
  if ! grep -qF "$message" build.log || [ "$errors" -ne 1 ]; then
    echo "not_a_layout_$fault: expected one error, \"$message\"; got $errors:" >&2
    grep 'error:' build.log >&2 || tail -n 20 build.log >&2
    exit 1
  fi
  echo "not_a_layout_$fault stops with: $message"
done <<<"$faults"
