#!/usr/bin/env bash
# The installed tools must run from their prefix alone. Installs BUILD_DIR into
# a temporary prefix, then, from a folder outside the source tree and with a
# bare environment, has the installed voxgrid-report print its table of REPORT
# and the installed suite list its cases.
#
#   install_smoke.sh CMAKE BUILD_DIR REPORT.json
set -euo pipefail
cmake=$1 build=$2 fixture=$3

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$cmake" --install "$build" --prefix "$tmp/prefix" >/dev/null
bin=$tmp/prefix/bin
for tool in voxgrid-bench voxgrid-report voxgrid-nodes.sbatch; do
  [[ -x $bin/$tool ]] || { echo "not installed as a program: $bin/$tool" >&2; exit 1; }
done

cp "$fixture" "$tmp/report.json"
cd "$tmp"
# No PYTHONPATH and no source tree on the way: anything the report tool needs
# must have been installed beside it.
table=$(env -i PATH=/usr/bin:/bin "$bin/voxgrid-report" report.json)
printf '%s\n' "$table"
/usr/bin/python3 - "$table" report.json <<'EOF'
import json, sys
table, path = sys.argv[1], sys.argv[2]
with open(path, encoding="utf-8") as f:
    names = {b.get("run_name", b["name"]) for b in json.load(f)["benchmarks"]}
# Each case of the fixture, without its shape, threads and timing suffixes, has a row.
cases = {"/".join(p for p in n.split("/")
                  if not p.startswith(("shape:", "threads:")) and p != "manual_time")
         for n in names}
lines = table.splitlines()
assert lines[0] == "## Which layout for this grid", f"no verdict first: {lines[0]!r}"
lines = lines[lines.index("## Every case") + 2:]
assert lines[0].startswith("| case |"), f"no table header: {lines[0]!r}"
rows = {line.split("|")[1].strip() for line in lines if line.startswith("| ")}
missing = cases - rows
assert not missing, f"no row for {sorted(missing)}"
EOF

if [[ -e $bin/voxgrid-suite ]]; then
  env -i PATH=/usr/bin:/bin "$bin/voxgrid-suite" --benchmark_list_tests=true |
    grep -q '^nested/' || { echo "the installed suite listed no nested case" >&2; exit 1; }
fi
echo "installed tools ran from $tmp/prefix"
