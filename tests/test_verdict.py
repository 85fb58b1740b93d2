#!/usr/bin/python3
"""voxgrid-report's verdict, "Which layout for this grid", on runs built here
from a table: each case's total and sweep passes, scaled round by round by one
drift shared by every case (as the host's slow stretches are) and by a small
jitter of its own; and on fixtures/fields.json (make_fields.py beside it says how it
is made). $REPORT names the command; the voxgrid_report package beside it makes the
report."""

import io
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

from markdown_tables import tables

REPORT = os.environ["REPORT"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
REPLAY = os.path.join(os.path.dirname(REPORT), "race-replay")  # beside it, as in the tree
# A suite's --race-replay that keeps 6 rounds of every case, whatever their costs.
SIX_ROUNDS = """import sys
for line in sys.stdin.read().splitlines():
    if line.startswith("case\t"):
        print(f"case\t{line.split(chr(9))[1]}\t6\tdecided\t")
print("run\t6\tevery decision made")
"""
# The package sits beside the command, in the source tree as in a clean clone.
sys.path.insert(0, os.path.dirname(os.path.realpath(REPORT)))
import voxgrid_report as vr  # noqa: E402  pylint: disable=wrong-import-position

# The host's drift, shared by every case of a round: 1.5× from the slowest to the fastest.
DRIFT = (1.00, 1.30, 0.90, 1.10, 1.45, 0.95, 1.20, 1.05, 0.97, 1.35, 1.15, 1.02, 0.92, 1.25, 1.08)
JITTER = (0.0, 0.01, -0.01, 0.005, -0.005)  # each case's own, per round, ±1 %


def case(name, shape, threads, total, sweeps=None, rounds=15, failed_from=None, jitter=0):
    """A case's benchmarks: `rounds` repetitions, those from failed_from on failed. A
    name (rule, memory) is a crossed case's, as the suite names it: `padded/memory:huge`,
    and `bricks_4/memory:touched/loops:own` for the rule `bricks_4/loops:own`."""
    if isinstance(name, tuple):
        rule, memory = name
        base, _, own = rule.partition("/")
        name = f"{base}/memory:{memory}" + (f"/{own}" if own else "")
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


def fixture(name):
    with open(os.path.join(FIXTURES, name), encoding="utf-8") as f:
        return json.load(f)

# The words a run without the suite's storage tables in its context is read with.
HUGE = "one block aligned to 2 MiB and advised huge pages, first touched by the parallel fill"
TOUCHED = "one block from malloc, left uninitialised and first touched by the parallel fill"


def grid(totals, sweeps, shape=S, threads=2):
    """Crossed cases: totals {(rule, memory): total ms}, sweeps {rule: {sweep: ms}}, each
    case its own jitter."""
    return [case(k, shape, threads, t, sweeps.get(k[0], {}), jitter=i)
            for i, (k, t) in enumerate(totals.items())]


def raced(end, entries, shape=S, threads=2):
    """A raced run's context: how it ended, and {case: "ROUNDS;WHY;UNDECIDED"}."""
    return {"race": "on: from 6 rounds, a case stops once more rounds could not change a "
                    "decision it takes part in; tie margin 3 %", "race_end": end} | {
        f"race/{name}/shape:{shape}/threads:{threads}": said for name, said in entries.items()}


# Creation: huge pages cheapest under every rule, zeroed dearest; lines_i: padded fastest.
# The rules' costs differ a little under each memory, the memories' a lot under each rule.
CROSSED = {("row_major", "zeroed"): 30, ("row_major", "touched"): 12, ("row_major", "huge"): 6.2,
           ("padded", "zeroed"): 31, ("padded", "touched"): 12.4, ("padded", "huge"): 6,
           ("tables", "zeroed"): 32, ("tables", "touched"): 13, ("tables", "huge"): 6.5}
LINES_I = {"row_major": {"lines_i": 6}, "padded": {"lines_i": 2}, "tables": {"lines_i": 6.6}}
# One table: a run, then what its verdict must say. `args` are the report's (margin,
# baseline); `choose` maps a column of the verdict's table to its cell in the first row;
# `ratios`, a layout's cost over the choice's, made for one use and swept (±2 %: the
# jitter moves the median); `recipe` maps a use to the recipe's layout and words in the
# first group; `gain`, a use to the baseline's ratio to the recipe, with its interval;
# `memory`, a memory to its ratio to the chosen one (★ for it) and to the 4 KiB floor;
# `rules`, a column of the rules' table to its first row's cell; `lines` are lines it must
# hold, `patterns` regular expressions a line must match, and `in_order` regular
# expressions that lines must match, one after another; `rounds`, the lines of the
# section under the tables that a raced run has, and no other; `uses`, (N, sweep) pairs
# and lines the table of one column per use must hold. `command`: the command's
# arguments with the run on standard input, its exit status and its standard error.
CASES = {
    "a clear winner": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2)),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        ratios={"nested": 3.0, "tables": 1.5}),
    # 3 % apart, within each other's ±1 % jitter only round by round: the host's 1.5× drift
    # hides it from any interval of the two cases' own, not from their paired ratios.
    # (Under a margin of 1 %: at the default 3 % they would count as good as each other.)
    "apart only round by round": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("tables", S, 2, 10.3, {"sum": 4.12},
                                                          jitter=1)),
        args=dict(margin=0.01),
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
    # So is a grid of several fields a voxel: its count a column of its own.
    "two field counts at one shape": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}, jitter=1),
                case("flat", f"{S}/fields:4", 2, 30, {"sum": 12}),
                case("nested", f"{S}/fields:4", 2, 10, {"sum": 4}, jitter=1)),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        lines=[f"| {S} | 1 | 2 | flat | flat |", f"| {S} | 4 | 2 | nested | nested |"]),
    # 4 fields a voxel: array of structures reads them all fastest, structure of arrays
    # field 0's stencil, and a row of i per field the stream step; the rules in the
    # run's own words.
    "a rule per sweep of several fields": dict(
        run=fixture("fields.json"),
        choose={"made for one use": "aos/memory:huge", "swept N times: fields": "aos/memory:huge"},
        recipe={"fields × 1 to 1,000": (
            "aos/memory:huge", "array of structures, a voxel's fields side by side, row-major "
            f"voxels, {HUGE}")},
        rules={"swept N times: fields": "aos"},
        uses=([(0, None), (1000, "fields_ms"), (1000, "stencil_ms"), (1000, "stream_ms")],
              ["| shape | fields | element | threads | made for one use | fields × 1,000 | "
               "stencil × 1,000 | stream × 1,000 |",
               "| 128x128x64 | 4 | float | 2 | aos/memory:huge | aos/memory:huge | "
               "soa/memory:huge | aosoa_line/memory:huge |"]),
        patterns=[r"The rules: aos, array of structures, .*; soa, structure of arrays, a "
                  r"row-major block per field; aosoa_line, array of structures of arrays, a "
                  r"row of i per field\."]),
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
        chooses=False,
        run=run(case("flat", S, 2, 10, {"sum": 4}, rounds=5),
                case("nested", S, 2, 30, {"sum": 12}, rounds=5)),
        lines=["This run holds 5 repetitions per case: too few to order anything at 95 % (6 "
               "are needed), so it chooses none."]),
    "one repetition": dict(
        chooses=False,
        run=run(case("flat", S, 2, 10, {"sum": 4}, rounds=1),
                case("nested", S, 2, 30, {"sum": 12}, rounds=1)),
        lines=["This run holds one repetition per case: it cannot tell layouts apart, so it "
               "chooses none (`--benchmark_repetitions=6` or more, written with "
               "`--benchmark_out`, can)."]),
    "one layout": dict(
        chooses=False,
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("floor/pages:4k", S, 2, 8)),
        lines=["This run measured one layout, flat: there is nothing to choose between."]),
    "a failed case": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}, failed_from=0),
                case("nested", S, 2, 30, {"sum": 12}, failed_from=13, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2)),
        choose={"made for one use": "tables", "swept N times: sum": "tables"},
        ratios={"nested †1": 2.0},
        lines=[f"It cannot place flat ({S}, 2 threads): every repetition failed."]),
    # The memory apart from the rule: huge pages make any rule's grid cheapest, and the
    # ratios are each memory's over huge's, rule by rule, pooled.
    "the memory chosen apart from the rule": dict(
        run=run(*grid(CROSSED, LINES_I), case("floor/pages:4k", S, 2, 11, jitter=3),
                case("flat_vector", S, 2, 29, {"lines_i": 6}, jitter=4),
                sweeps=("lines_i",)),
        memory={"huge": ("★", 6.2 / 11), "touched": (2.02, 12.45 / 11),
                "zeroed": (5.0, 31 / 11)},
        lines=["The memory to choose: huge, at every shape and thread count judged."],
        patterns=[r"The memories: zeroed, .*; touched, .*; huge, .*\.",
                  r"Not crossed, each with the memory of its idiom: flat_vector, one "
                  r"std::vector \(row-major\), value-initialised by one thread\."]),
    # The recipe takes the best of each: padded for lines along i, huge pages for the
    # creation, measured together as padded/memory:huge, cheaper than every other case.
    "the recipe combines the best rule and the best memory": dict(
        run=run(*grid(CROSSED, LINES_I), case("flat_vector", S, 2, 29, {"lines_i": 6}),
                case("nested", S, 2, 30, {"lines_i": 5}, jitter=1), sweeps=("lines_i",)),
        choose={"made for one use": "padded/memory:huge = row_major/memory:huge",
                "swept N times: lines_i": "padded/memory:huge = padded/memory:touched = "
                                          "padded/memory:zeroed"},
        recipe={"made for one use": ("padded/memory:huge", f"padded strides, {HUGE}"),
                "lines_i × 1 to 1,000": ("padded/memory:huge", f"padded strides, {HUGE}")},
        rules={"swept N times: lines_i": "padded"},
        lines=["The memory to choose: huge, at every shape and thread count judged."]),
    # A run of the older bundles, no crossed names: the memory from the two pointer-table
    # layouts, the rule not separable from the layout.
    "an older run's bundles": dict(
        run=run(case("hugepage_tables", S, 2, 6, {"sum": 4}),
                case("pointer_tables", S, 2, 13, {"sum": 4}, jitter=1),
                case("flat_vector", S, 2, 29, {"sum": 4}, jitter=2)),
        memory={"huge": ("★", None), "touched": (2.17, None)},
        recipe={"made for one use": ("hugepage_tables",
                                     f"pointer tables over one block, {HUGE}")},
        lines=["The memory to choose: huge, at every shape and thread count judged.",
               "At every shape and thread count: every one-block layout has one index rule, "
               "tables (pointer tables over one block), so the rule is not chosen apart from "
               "the memory."]),
    # A run that says its memories, rules and idioms in its context is read in its words.
    "the run's own words": dict(
        run=run(case(("padded", "huge"), S, 2, 6, {"sum": 4}),
                case(("padded", "touched"), S, 2, 12, {"sum": 4}, jitter=1),
                case("nested", S, 2, 30, {"sum": 4}, jitter=2),
                memories="zeroed: Z words; touched: T words; huge: H words",
                index_rules="row_major: R words; padded: P words",
                idiom_memory="nested: N words; flat_vector: F words"),
        recipe={"made for one use": ("padded/memory:huge", "P words, H words")},
        lines=["The memories: touched, T words; huge, H words.",
               "Not crossed, each with the memory of its idiom: nested, N words."]),
    "memories that share no rule": dict(
        run=run(case(("padded", "touched"), S, 2, 12, {"sum": 4}),
                case(("tables", "huge"), S, 2, 6, {"sum": 4}, jitter=1)),
        lines=["At every shape and thread count: no index rule was measured under two "
               "memories, so the memory cannot be told apart from the rule.",
               "At every shape and thread count: no memory holds two index rules, so the rule "
               "cannot be told apart from the memory."]),
    # 2 % dearer in every round, so told apart: as good as the choice within a margin of
    # 3 %, not of 1 %.
    "a tie within the margin": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("tables", S, 2, 10.2, {"sum": 4.08})),
        choose={"made for one use": "flat = tables", "swept N times: sum": "flat = tables"},
        patterns=[rf"\| {S} \| 2 \| tables \| = 1\.02× \[1\.02, 1\.02\] \| = .*",
                  r"Chosen at each .* or whose median cost is within 3 % of it;.*"]),
    "no tie within a margin of 1 %": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("tables", S, 2, 10.2, {"sum": 4.08})),
        args=dict(margin=0.01),
        choose={"made for one use": "flat", "swept N times: sum": "flat"},
        ratios={"tables": 1.02},
        patterns=[r"Chosen at each .* or whose median cost is within 1 % of it;.*"]),
    # What moving from nested to the recipe gains: nested's cost over the recipe's.
    "a baseline": dict(
        run=run(case(("padded", "huge"), S, 2, 10, {"sum": 4}),
                case("nested", S, 2, 30, {"sum": 6}, jitter=1)),
        args=dict(baseline="nested"),
        gain={"made for one use": [3.0], "sum × 1 to 1,000": [36 / 14, 6030 / 4010]}),
    # An older run's bundle and a crossed name of the same storage stand for each other.
    "a baseline by its crossed name": dict(
        run=run(case("hugepage_tables", S, 2, 10, {"sum": 4}),
                case("pointer_tables", S, 2, 20, {"sum": 4}, jitter=1)),
        args=dict(baseline="tables/memory:touched"),
        gain={"made for one use": [2.0]}),
    "a baseline that is no case of the run": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12})),
        command=(["-", "--baseline=vector3d"], 1,
                 "voxgrid-report: --baseline=vector3d: no layout of this report is named so "
                 "(its layouts: nested, flat)\n")),
    "a margin that is no percentage": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12})),
        command=(["-", "--margin=some"], 1, "voxgrid-report: --margin=some: not a percentage "
                 "from 0 to under 100\n")),
    "a margin and a baseline given": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12})),
        command=(["-", "--margin=1.5%", "--baseline", "nested"], 0, "")),
    # A raced run names the uses it left undecided: those cells say so, naming what they
    # would; its rounds follow the tables, the cases that stopped alike on one line.
    "a raced run's undecided cells": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}),
                case("nested", S, 2, 30, {"sum": 12}, rounds=6, jitter=1),
                case("tables", S, 2, 15, {"sum": 6}, jitter=2), case("floor/pages:4k", S, 2, 8),
                **raced("the round limit after 15 of 15 rounds", {
                    "flat": "15;the round limit;create,sum_ms@100,sum_ms@1000",
                    "tables": "15;the round limit;create", "nested": "6;out of every decision;",
                    "floor/pages:4k": "15;every round;"})),
        choose={"made for one use": "undecided: flat",
                "swept N times: sum": "flat; from N = 100: undecided: flat"},
        recipe={"made for one use": ("undecided: flat", "flat"),
                "sum × 1 to 10": ("flat", "flat")},
        patterns=[r"Chosen at each .* \"undecided: …\" marks a cell the rounds ran out on.*"],
        rounds=["Racing on: from 6 rounds, a case stops once more rounds could not change a "
                "decision it takes part in; tie margin 3 %. The run ended with the round limit "
                "after 15 of 15 rounds. A case that stopped early has fewer repetitions, so its "
                "intervals are wider; they are shown as they are.",
                f"- 6 rounds, out of every decision: nested ({S}, 2 threads)",
                f"- 15 rounds, the round limit: flat ({S}, 2 threads), tables ({S}, 2 threads)",
                "- 15 rounds, every round: the floors and ceilings (1 case)"]),
    "a race entry that cannot be read": dict(
        run=run(case("flat", S, 2, 10, {"sum": 4}), case("nested", S, 2, 30, {"sum": 12}),
                **raced("", {"flat": "6;decided;sum@1"})),
        command=(["-"], 1, "voxgrid-report: -: not a voxgrid-suite report: its "
                 f"race/flat/shape:{S}/threads:2 '6;decided;sum@1' cannot be read\n")),
    # Three as good as the choice or fewer are named; more, counted.
    "three named": dict(
        run=run(case("a", S, 2, 10, {"sum": 4}), case("b", S, 2, 10.1, {"sum": 4}),
                case("c", S, 2, 10.2, {"sum": 4})),
        choose={"made for one use": "a = b = c"}),
    "more than three counted": dict(
        run=run(*(case(n, S, 2, 10 + i / 20, {"sum": 4}, jitter=i)
                  for i, n in enumerate("abcde"))),
        choose={"made for one use": "a (+4 more)"}),
}


def report(data):
    """The report of a run, read as the command reads standard input."""
    with mock.patch("sys.stdin", io.StringIO(json.dumps(data))):
        return vr.Report("-", None)


def table_with(found, *columns, without=()):
    """The first table whose rows have every one of the columns, and none of `without`."""
    return next(t for t in found if t and all(c in t[0] for c in columns)
                and not any(c in t[0] for c in without))


def ratio_of(cell):
    """`= 1.02× [0.99, 1.05]`: its median and interval; `★`: None."""
    m = re.fullmatch(r"(?:= )?(\d+\.\d+)× \[(\d+\.\d+), (\d+\.\d+)\]", cell)
    return (float(m.group(1)), (float(m.group(2)), float(m.group(3)))) if m else None


class Verdict(unittest.TestCase):
    def test_the_verdict_of_each_run(self):
        for name, want in CASES.items():
            with self.subTest(name):
                if "command" in want:
                    argv, status, err = want["command"]
                    out = subprocess.run([REPORT, *argv], input=json.dumps(want["run"]),
                                         capture_output=True, text=True, check=False,
                                         timeout=120)
                    self.assertEqual((out.returncode, out.stderr), (status, err))
                    self.assertEqual(out.stdout.startswith("## Which layout"), status == 0)
                    continue
                lines = vr.markdown([report(want["run"])], **want.get("args", {})).splitlines()
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
                if want.get("chooses", True) is False:
                    self.assertEqual(found, [], "no choice without the repetitions for it")
                else:  # the one-column-per-use table names what the choice table does
                    rep = report(want["run"])
                    margin = {k: v for k, v in want.get("args", {}).items() if k == "margin"}
                    wanted, held = want.get("uses", ([(0, None)], []))
                    made = vr.uses_table(rep, vr.Marks([rep]), wanted, **margin)
                    self.assertEqual([r["made for one use"] for r in tables(made)[0]],
                                     [r["made for one use"] for r in found[0]])
                    for line in held:
                        self.assertIn(line, made)
                for layout, ratio in want.get("ratios", {}).items():
                    row = next(r for r in table_with(found, "layout", "made for one use")
                               if r["layout"] == layout)
                    cells = [row[c] for c in row if c.startswith(("made", "sum"))]
                    for cell in cells:
                        self.assertAlmostEqual(float(cell.split("×")[0]), ratio,
                                               delta=0.02 * ratio)
                    self.assertFalse(any(c.startswith("=") for c in cells), row)
                for use, (layout, words) in want.get("recipe", {}).items():
                    row = next(r for r in table_with(found, "use", "recipe") if r["use"] == use)
                    self.assertEqual((row["layout"], row["recipe"]), (layout, words))
                for use, ratios in want.get("gain", {}).items():
                    row = next(r for r in table_with(found, "use", "recipe") if r["use"] == use)
                    cells = row[f"from {want['args']['baseline']}"].split(" to ")
                    self.assertEqual(len(cells), len(ratios), row)
                    for cell, ratio in zip(cells, ratios):
                        median, (low, high) = ratio_of(cell)
                        self.assertAlmostEqual(median, ratio, delta=0.02 * ratio)
                        self.assertTrue(1 < low <= median <= high, cell)
                for memory, (ratio, floor) in want.get("memory", {}).items():
                    row = next(r for r in table_with(found, "memory") if r["memory"] == memory)
                    cell = row["made for one use"]
                    if ratio == "★":
                        self.assertEqual(cell, "★")
                    else:
                        self.assertAlmostEqual(ratio_of(cell)[0], ratio, delta=0.02 * ratio)
                    if floor is not None:
                        self.assertAlmostEqual(ratio_of(row["× floor/pages:4k"])[0], floor,
                                               delta=0.02 * floor)
                for column, cell in want.get("rules", {}).items():
                    self.assertEqual(table_with(found, column, without=("made for one use",))
                                     [0][column], cell)
                for line in want.get("lines", []):
                    self.assertIn(line, said)
                for pattern in want.get("patterns", []):
                    self.assertTrue(any(re.fullmatch(pattern, line) for line in said), said)
                at = [[i for i, line in enumerate(said) if re.fullmatch(p, line)][:1]
                      for p in want.get("in_order", [])]
                self.assertEqual(at, sorted(at) if all(at) else None, said)
                self.assertEqual("## Rounds" in lines, "rounds" in want)
                for line in want.get("rounds", []):
                    self.assertIn(line, lines[lines.index("## Rounds"):])

    def test_a_ratio_pairs_the_rounds_that_made_both(self):
        """Pairing by round: a ratio from the repetitions of one round, not from the medians."""
        a, b = report(run(case("a", S, 1, 10), case("b", S, 1, 12, jitter=1))).rows
        choice = vr.Choice([a, b], 0, None)
        self.assertIs(choice.best, a)
        ratios = sorted(b.spans()[k] / a.spans()[k] for k in range(15))
        self.assertAlmostEqual(choice.ratios[id(b)][0], ratios[7])
        self.assertEqual(choice.ratios[id(b)][1][:2], (ratios[3], ratios[11]))


class Replay(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.suite = self.write("suite", f"#!{sys.executable}\n{SIX_ROUNDS}")
        os.chmod(self.suite, 0o755)

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def test_the_raced_verdict_beside_the_full_runs(self):
        """tables costs 0.8× flat's creation in the first 4 of 20 rounds, 1.5× after: in
        the 6 kept it is chosen, where the full run chooses flat alone (made once, sum × 1
        and × 10); from sum × 100 the equal passes make them as good as each other, so
        either agrees."""
        data = run(case("flat", S, 2, 10, {"sum": 4}, rounds=20),
                   case("tables", S, 2, 10, {"sum": 4}, rounds=20, jitter=2),
                   case("floor/pages:4k", S, 2, 8, rounds=20))
        for b in data["benchmarks"]:
            if b["run_name"].startswith("tables/"):
                b["real_time"] *= 0.8 if b["repetition_index"] < 4 else 1.5
        path = self.write("run.json", json.dumps(data))
        single = self.write("single.json", json.dumps(run(case("flat", S, 2, 10, rounds=1),
                                                          case("nested", S, 2, 30, rounds=1))))
        said = (f"{path}: 2 of 5 cells agree (40.0 %); layout samples 12 of 40 kept (30.0 %), "
                "all samples 18 of 60 (30.0 %); the race ended with every decision made after "
                "6 of 20 rounds.\n- undecided in the raced verdict: 0 of the 5 cells (the rounds ran "
                "out on them)\n- rounds per layout case: 6: 2 cases\n"
                + "".join(f"- differs at {S}, fresh heap, 2 threads, {use}: the full run flat; "
                          "the raced run tables\n"
                          for use in ("made for one use", "sum × 1", "sum × 10")))
        cases = [  # arguments; exit status, standard output, standard error
            ([path, "--at-least", "40"], 0, said, ""),
            ([path, "--at-least", "41"], 1, said,
             f"race-replay: {path}: 40.0 % of its cells agree, under 41 %\n"),
            ([single], 1, "", f"race-replay: {single}: it holds one repetition per case: there "
             "are no rounds to replay\n"),
            ([path, "--suite", "/bin/false"], 1, "",
             "race-replay: --suite /bin/false: the replay failed: exit status 1\n"),
            ([path, "--suite", "/no/suite"], 1, "",
             "race-replay: --suite /no/suite: cannot run it: No such file or directory\n")]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                got = subprocess.run([REPLAY, "--suite", self.suite, *args], capture_output=True,
                                     text=True, check=False, timeout=120)
                self.assertEqual((got.returncode, got.stdout, got.stderr), (status, out, err))


if __name__ == "__main__":
    unittest.main(verbosity=2)
