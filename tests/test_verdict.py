#!/usr/bin/python3
"""voxgrid-report's verdict, "Which layout for this grid", on runs built here
from a table: each case's total and sweep passes, scaled round by round by one
drift shared by every case (as the host's slow stretches are) and by a small
jitter of its own. $REPORT names the command; the voxgrid_report package beside
it makes the report."""

import io
import json
import os
import re
import sys
import unittest
from unittest import mock

from markdown_tables import tables

REPORT = os.environ["REPORT"]
# The package sits beside the command, in the source tree as in a clean clone.
sys.path.insert(0, os.path.dirname(os.path.realpath(REPORT)))
import voxgrid_report as vr  # noqa: E402  pylint: disable=wrong-import-position

# The host's drift, shared by every case of a round: 1.5× from the slowest to the fastest.
DRIFT = (1.00, 1.30, 0.90, 1.10, 1.45, 0.95, 1.20, 1.05, 0.97, 1.35, 1.15, 1.02, 0.92, 1.25, 1.08)
JITTER = (0.0, 0.01, -0.01, 0.005, -0.005)  # each case's own, per round, ±1 %


def case(name, shape, threads, total, sweeps=None, rounds=15, failed_from=None, jitter=0):
    """A case's benchmarks: `rounds` repetitions, those from failed_from on failed."""
    run_name = f"{name}/shape:{shape}/threads:{threads}/manual_time"
    out = []
    for r in range(rounds):
        scale = DRIFT[r % len(DRIFT)] * (1 + JITTER[(r + jitter) % len(JITTER)])
        b = {"name": run_name, "run_name": run_name, "run_type": "iteration",
             "repetitions": rounds, "repetition_index": r}
        if failed_from is not None and r >= failed_from:
            b |= {"error_occurred": True, "error_message": "build: out of memory"}
        else:
            b |= {"threads": 1, "iterations": 1, "real_time": total * scale, "time_unit": "ms",
                  "build_ms": 0.1 * total * scale, "fill_ms": 0.8 * total * scale,
                  "release_ms": 0.1 * total * scale, "faults": 100.0, "blocks": 1.0} | {
                f"{s}_ms": ms * scale for s, ms in (sweeps or {}).items()}
        out.append(b)
    return out


def run(*cases, sweeps=("sum",), added=(), **context):
    """A run of the cases; `added`, the sweeps of the program's own among `sweeps`;
    `context`, more of its context (the suite's tables, where it names them)."""
    return {"context": {"host_name": "t", "sweeps": ",".join(sweeps), "passes_per_sample": "3",
                        "sample_order": "interleaved: round r takes repetition r"} | (
                            {"added_sweeps": ",".join(added)} if added else {}) | context,
            "benchmarks": [b for c in cases for b in c]}


S, P2 = "400x800x100", "512x512x128"
# One table: a run, then what its verdict must say. `choose` maps a column of the
# verdict's table to its cell in the first row; `ratios`, a layout's cost over the
# choice's, made for one use and swept (±2 %: the jitter moves the median); `lines`
# are lines it must hold, `patterns` regular expressions a line must match, and
# `in_order` regular expressions that lines must match, one after another.
CASES = {
    "a clear winner": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2)),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        ratios={"nested": 3.0, "tables": 1.5}),
    # 3 % apart, within each other's ±1 % jitter only round by round: the host's 1.5× drift
    # hides it from any interval of the two cases' own, not from their paired ratios.
    "apart only round by round": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("tables", S, 2, 10.3, {"sum": 4.12},
                                                          jitter=1)),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        ratios={"tables": 1.03}),
    "a tie": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("tables", S, 2, 10, {"sum": 4},
                                                          jitter=2)),
        choose={"made for one use": ("flat = tables", "tables = flat")}),
    "a choice that turns with N": dict(
        run=run(case("fast_made", S, 2, 10, {"sum": 2}), case("fast_swept", S, 2, 30, {"sum": 1},
                                                              jitter=1)),
        choose={"made for one use": "fast_made",
                "swept N times: sum": "fast_made; from N = 100: fast_swept"}),
    "a ranking that reverses between two shapes": dict(
        run=run(case("flat", S, 2, 10, {"lines_i": 3}), case("nested", S, 2, 10, {"lines_i": 9},
                                                               jitter=1),
                case("flat", P2, 2, 10, {"lines_i": 9}), case("nested", P2, 2, 10,
                                                                {"lines_i": 3}, jitter=1),
                sweeps=("lines_i",)),
        choose={"made for one use": ("flat = nested", "nested = flat")},
        lines=["The choice changes with the shape:"],
        patterns=[rf"- lines_i × 1,000 \(fresh heap, 2 threads\): at {S} flat, where nested "
                  rf"costs 3\.0\d× \[.*\]; at {P2} nested, where flat costs 2\.9\d× \[.*\]\."]),
    # Judged among the layouts that ran it: tables could not, and has no ratio for it; at
    # P2 none did, so nothing is chosen for it there.
    "a sweep of the program's own": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4, "corners": 4}),
                case("nested", S, 2, 30, {"sum": 12, "corners": 0.5}, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2),
                case("flat", P2, 2, 10, {"sum": 4}), case("nested", P2, 2, 30, {"sum": 12}),
                sweeps=("sum", "corners"), added=("corners",)),
        choose={"made for one use": "flat", "swept N times: sum": "flat",
                "swept N times: corners": "flat; from N = 10: nested"},
        ratios={"tables": 1.5},
        lines=[f"| {P2} | 2 | flat | flat | – |", "The same choices at every shape of the run "
               f"({S}, {P2}), wherever both are decided."],
        patterns=[rf"\| {S} \| 2 \| tables \| .* \| – \|"]),
    # A grid of another element type is chosen for apart, at the same shape.
    "two element types at one shape": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("flat", f"{S}/element:float", 2, 30, {"sum": 12}),
                case("nested", f"{S}/element:float", 2, 10, {"sum": 4}, jitter=1)),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        lines=[f"| {S} | int32 | 2 | flat | flat |", f"| {S} | float | 2 | nested | nested |"]),
    # A run that names the suite's tables is read through them: its order of cases and of
    # element types, and its sweeps, one the report has no column for by default among them.
    "the run's own order of cases": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2), case_order="tables,flat,nested"),
        choose={"made for one use": "flat"},
        in_order=[rf"\| {S} \| 2 \| {c} \| [★\d].*" for c in ("tables", "flat", "nested")]),
    "the run's own order of element types": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("flat", f"{S}/element:float", 2, 30, {"sum": 12}),
                case("nested", f"{S}/element:float", 2, 10, {"sum": 4}, jitter=1),
                element_types="float,int32"),
        choose={"made for one use": "nested"},
        in_order=[rf"\| {S} \| {e} \| 2 \| {c} \| {c} \|" for e, c in (("float", "nested"),
                                                                          ("int32", "flat"))]),
    "a sweep the run names": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4, "diagonal": 4}),
                case("nested", S, 2, 30, {"sum": 12, "diagonal": 0.5}, jitter=1),
                sweeps=("sum", "diagonal"), sweep_names="sum,stencil,diagonal"),
        choose={"swept N times: sum": "flat",
                "swept N times: diagonal": "flat; from N = 10: nested"}),
    "too few repetitions": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}, rounds=5),
                case("nested", S, 2, 30, {"sum": 12}, rounds=5)),
        lines=["This run holds 5 repetitions per case: too few to order anything at 95 % (6 "
               "are needed), so it chooses none."]),
    "one repetition": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}, rounds=1),
                case("nested", S, 2, 30, {"sum": 12}, rounds=1)),
        lines=["This run holds one repetition per case: it cannot tell layouts apart, so it "
               "chooses none (`--benchmark_repetitions=6` or more, written with "
               "`--benchmark_out`, can)."]),
    "one layout": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("floor/pages:4k", S, 2, 8)),
        lines=["This run measured one layout, flat: there is nothing to choose between."]),
    "a failed case": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}, failed_from=0),
                case("nested", S, 2, 30, {"sum": 12}, failed_from=13, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2)),
        choose={"made for one use": "tables", "swept N times: sum": "tables"},
        ratios={"nested †1": 2.0},
        lines=[f"It cannot place flat ({S}, 2 threads): every repetition failed."]),
}


def report(data):
    """The report of a run, read as the command reads standard input."""
    with mock.patch("sys.stdin", io.StringIO(json.dumps(data))):
        return vr.Report("-", None)


class Verdict(unittest.TestCase):
    def test_the_verdict_of_each_run(self):
        for name, want in CASES.items():
            with self.subTest(name):
                lines = vr.markdown([report(want["run"])]).splitlines()
                # The verdict opens the report, up to the next heading; the rankings follow.
                self.assertEqual(lines[0], "## Which layout for this grid")
                end = lines.index("## Every case")
                self.assertLess(end, next(i for i, line in enumerate(lines)
                                          if line.startswith("Layouts by total time")))
                said = lines[1:end]
                found = tables(said)
                for column, cell in want.get("choose", {}).items():
                    self.assertIn(found[0][0][column],
                                  cell if isinstance(cell, tuple) else (cell,), said)
                if not want.get("choose"):
                    self.assertEqual(found, [], "no choice without the repetitions for it")
                for layout, ratio in want.get("ratios", {}).items():
                    row = next(r for r in found[1] if r["layout"] == layout)
                    cells = [row[c] for c in row if c.startswith(("made", "sum"))]
                    for cell in cells:
                        self.assertAlmostEqual(float(cell.split("×")[0]), ratio,
                                               delta=0.02 * ratio)
                    self.assertFalse(any(c.startswith("=") for c in cells), row)
                for line in want.get("lines", []):
                    self.assertIn(line, said)
                for pattern in want.get("patterns", []):
                    self.assertTrue(any(re.fullmatch(pattern, line) for line in said), said)
                at = [[i for i, line in enumerate(said) if re.fullmatch(p, line)][:1]
                      for p in want.get("in_order", [])]
                self.assertEqual(at, sorted(at) if all(at) else None, said)

    def test_a_ratio_pairs_the_rounds_that_made_both(self):
        """Pairing by round: a ratio from the repetitions of one round, not from the medians."""
        a, b = report(run(case("a", S, 1, 10), case("b", S, 1, 12, jitter=1))).rows
        choice = vr.Choice([a, b], 0, None)
        self.assertIs(choice.best, a)
        ratios = sorted(b.spans()[k] / a.spans()[k] for k in range(15))
        self.assertAlmostEqual(choice.ratios[id(b)][0], ratios[7])
        self.assertEqual(choice.ratios[id(b)][1][:2], (ratios[3], ratios[11]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
