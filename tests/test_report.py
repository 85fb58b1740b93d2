#!/usr/bin/python3
"""voxgrid-report on committed reports; $REPORT names the command. The tables'
logic is checked on the voxgrid_report package beside it, the command for what
only it does: arguments, standard input and output, files written, exit status
and its one-line messages. `Charts` as the one argument runs only the chart
tests, which need matplotlib; exit status 77 says that all that ran was skipped.

fixtures/every.json: voxgrid-suite --shape=100x100x50 --samples=1
  --benchmark_repetitions=5 --benchmark_out=every.json, from a build that did
  not sweep its grids yet: sum/stencil counters were added afterwards (drawn
  near plausible ratios to the plain-stores ceiling), two layouts copied from
  pointer_tables' entries, and the aggregates recomputed from the repetitions.
fixtures/sweeps-none.json: the aggregates that run printed, as a run with
  --sweeps=none (and assertions on) writes them.
fixtures/hand.json: repetitions only, numbers chosen by hand for the ranking
  and the cost table.
fixtures/heaps.json, fixtures/partly-failed.json: as make_heaps.py and
  make_partly_failed.py beside them say.
fixtures/added-sweep.json: every.json's nested, flat_vector, pointer_tables,
  floors and bandwidth cases at 1 thread, with a sweep of the program's own,
  corners: each repetition's corners_ms is its sum_ms × 0.8 (nested), × 2.0
  (flat_vector) and × 1.0 (the plain-stores ceiling), pointer_tables without
  one as a case it could not run on, the aggregates recomputed; the context's
  "sweeps" and "added_sweeps" as such a run writes them.
fixtures/roof.json: as make_roof.py beside it says: every sweep's bytes and the
  ceiling's roofs, a cache-resident shape and a beaten ceiling.
fixtures/fields.json: as make_fields.py beside it says: a run of 4 fields a voxel,
  its sweeps of several fields (fields, stream) beside sum and the stencil, with roofs.
Reports that name the vector extensions (build_isa, cpu_isa) are these
fixtures with the two context keys set by with_benchmarks()."""

import functools
import io
import json
import os
import re
import resource
import shutil
import signal
import stat
import statistics
import struct
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

from markdown_tables import tables as tables_in

REPORT = os.environ["REPORT"]
# The package sits beside the command, in the source tree as in a clean clone.
sys.path.insert(0, os.path.dirname(os.path.realpath(REPORT)))
import voxgrid_report as vr  # noqa: E402  pylint: disable=wrong-import-position
from voxgrid_report.runs import name_isas  # noqa: E402  pylint: disable=wrong-import-position

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
EVERY, NONE, HAND, HEAPS, PARTLY, ADDED, ROOF, FIELDS = (os.path.join(FIXTURES, f) for f in (
    "every.json", "sweeps-none.json", "hand.json", "heaps.json", "partly-failed.json",
    "added-sweep.json", "roof.json", "fields.json"))
# n: (k, coverage) of the median's interval [x(k), x(n+1-k)] among n values, worked by
# hand: 1 - 2 * sum(C(n, i), i < k) / 2**n.
INTERVALS = {2: (1, 0.5), 5: (1, 1 - 2 / 32), 6: (1, 1 - 2 / 64), 9: (2, 1 - 20 / 512),
             10: (2, 1 - 22 / 1024), 12: (3, 1 - 158 / 4096), 13: (3, 1 - 184 / 8192),
             15: (4, 1 - 1152 / 32768), 20: (6, 1 - 2 * 21700 / 2 ** 20)}
SWEEPS = ("sum", "stencil", "lines_j", "lines_i", "gather")
OWN = ("corners",)  # added-sweep.json's sweep of the program's own
FLAT_VECTOR_FAILED = ("flat_vector (64x64x64, 1 thread): 2 of 15 repetitions failed: sample "
                      "process killed by signal 9 (Killed)")
NESTED_FAILED = "nested (64x64x64, 1 thread): 15 of 15 repetitions failed: build: out of memory"


def report(*args, stdin=None, env=None, max_file=None):
    """voxgrid-report run with args; max_file, bytes: a longer write fails (EFBIG)."""
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (max_file, max_file))
    return subprocess.run([REPORT, *args], input=stdin, capture_output=True, text=True,
                          env=env, check=False, timeout=120,
                          preexec_fn=limit if max_file else None)


def load(*sources, labels=()):
    """The reports as the command reads them: each a path, or JSON text on standard input."""
    reports = []
    for i, source in enumerate(sources):
        with mock.patch("sys.stdin", io.StringIO(source)):
            reports.append(vr.Report("-" if source.startswith("{") else source,
                                     labels[i] if labels else None))
    name_isas(reports)
    return reports


@functools.lru_cache(maxsize=None)
def md(*sources, labels=(), crossover="stencil_ms"):
    """The whole report the package makes of the sources."""
    return vr.markdown(load(*sources, labels=labels), crossover)


def part(make, *sources, labels=(), **kw):
    """The tables one part of the report (vr.ranking, vr.cost_table, ...) makes."""
    reports = load(*sources, labels=labels)
    return tables_in(make(reports, len(reports) > 1, vr.Marks(reports), **kw))


# Runs the report with one of its writers replaced by one that is stopped by a
# signal halfway through the file: argv is REPORT SIGNAL write|chart ARGS...
STOPPED_HALFWAY = """
import os, signal, sys
# As from an interactive shell, whatever the tests inherited.
for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
    signal.signal(s, signal.SIG_DFL)
sys.path.insert(0, os.path.dirname(os.path.realpath(sys.argv[1])))
import voxgrid_report.cli as cli
signo, writer = int(sys.argv[2]), sys.argv[3]
def halfway(*args):
    with open(args[1] if writer == "chart" else args[0], "wb") as f:
        f.write(b"the first half")
        f.flush()
        os.kill(os.getpid(), signo)
        f.write(b" and the second")
setattr(cli, writer, halfway)
sys.exit(cli.run(sys.argv[4:]))
"""


def check_failed_writes(test, option, path, earlier, max_file, writer):
    """Each way a write of `option` to `path` ends early leaves the earlier file whole
    and no temporary: a file-size limit it runs into (status 1), and each stop signal
    halfway through (killed by it: -N)."""
    ways = [(lambda: report(EVERY, option, path, max_file=max_file), 1,
             f"voxgrid-report: cannot write {path}: File too large\n")] + [
        (lambda signo=signo: subprocess.run(
            [sys.executable, "-c", STOPPED_HALFWAY, REPORT, str(signo), writer, EVERY, option,
             path], capture_output=True, text=True, check=False, timeout=120),
         -signo, f"voxgrid-report: stopped by {signo.name}\n")
        for signo in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)]
    for write, status, err in ways:
        with test.subTest(err):
            with open(path, "wb") as f:
                f.write(earlier)
            out = write()
            test.assertEqual((out.returncode, out.stdout), (status, ""))
            # matplotlib may warn before the line; the tables alone say nothing else.
            test.assertTrue(out.stderr == err or writer == "chart" and out.stderr.endswith(err),
                            out.stderr)
            with open(path, "rb") as f:
                test.assertEqual(f.read(), earlier)
            test.assertEqual(os.listdir(os.path.dirname(path)), [os.path.basename(path)])


def tables(markdown):
    """Each Markdown table after the verdict (which test_verdict.py reads)."""
    lines = markdown.splitlines()
    return tables_in(lines[lines.index("## Every case") if "## Every case" in lines else 0:])


def number(cell):
    """The median at the front of a cell: `12.0 [10.0, 14.0]`, `1,015 ★`, `2.50×`."""
    return float(cell.split(" [")[0].replace(",", "").rstrip(" ×%★≈⚠"))


def spans(cell):
    """The median and its interval's ends in a cell: `1,015 [913.0, 1,117] ★`."""
    return [number(cell)] + [float(end.replace(",", ""))
                             for end in cell.split(" [")[1].split("]")[0].split(", ")]


def cases_in(text):
    """Each case of a report by (case, threads, heap): its repetitions that did not
    fail, those that did, and its median aggregate ([] where it has none)."""
    out = {}
    for b in json.loads(text)["benchmarks"]:
        threads = [p[8:] for p in b["run_name"].split("/") if p.startswith("threads:")]
        at = (b["run_name"].split("/shape")[0], threads[0] if threads else "own team of 4",
              "aged" if "/heap:aged/" in b["run_name"] else "fresh")
        good, failed, median = out.setdefault(at, ([], [], []))
        if b.get("run_type", "iteration") == "iteration":
            (failed if b.get("error_occurred") else good).append(b)
        elif b.get("aggregate_name") == "median":
            median.append(b)
    return out


def interval(values):
    """The median and its interval's ends, from the values as the tables must show them."""
    xs, k = sorted(values), INTERVALS[len(values)][0]
    return statistics.median(xs), xs[k - 1], xs[len(xs) - k]


def plain(case):
    """The case without the marks after its name."""
    return case.split(" ")[0]


def with_benchmarks(path, keep=lambda b: True, **context):
    """The report at `path` as text, holding only the benchmarks `keep` accepts,
    its context keys set as given (None: removed)."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    data["benchmarks"] = [b for b in data["benchmarks"] if keep(b)]
    data["context"].update(context)
    data["context"] = {k: v for k, v in data["context"].items() if v is not None}
    return json.dumps(data)


def close(test, shown, value):
    """The cell shows the value, to its rounding."""
    test.assertAlmostEqual(shown, value, delta=0.005 * value + 0.0051)


# every.json as standard output holds it: the aggregates, no repetitions.
AGGREGATES_ONLY = with_benchmarks(EVERY, lambda b: b["run_type"] == "aggregate")
# roof.json without its bandwidth case, and with a sweep of the program's own that
# states no bytes.
NO_BANDWIDTH = with_benchmarks(ROOF, lambda b: not b["name"].startswith("bandwidth/"))
CORNERS_UNCOUNTED = with_benchmarks(ROOF, lambda b: b.pop("corners_bytes", None) or True)
BEATEN = ("the ceiling for stencil at 256x256x256, 1 thread is wrong: flat_vector runs it in "
          "19.0 [17.1, 22.0] ms, the ceiling in 27.2 [24.4, 31.5] ms")


class Tables(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def test_every_figure_of_the_main_table_comes_from_the_good_repetitions(self):
        columns = {"total ms": "real_time", "faults": "faults", "blocks": "blocks"} | {
            f"{c} ms": f"{c}_ms" for c in ("build", "fill", "release") + SWEEPS + OWN}
        # Without flat_vector's 13th repetition, 12 good ones: the middle pair's mean.
        even = with_benchmarks(PARTLY, lambda b: not (b["run_name"].startswith("flat_vector/")
                                                      and b.get("repetition_index") == 12))
        # pointer_tables' median aggregate (9.0 ms) is not its repetitions' median; every.json's
        # aggregates alone must give what its repetitions give.
        for text in (with_benchmarks(EVERY), with_benchmarks(PARTLY), even,
                     with_benchmarks(HEAPS), AGGREGATES_ONLY, with_benchmarks(ADDED)):
            rows = {(plain(r["case"]), r["threads"], r.get("heap", "fresh")): r
                    for r in tables(md(text))[0]}
            cases = cases_in(text)
            self.assertEqual(set(rows), set(cases))
            # {(case, threads, heap): {counter: (median, low, high)}}, of the good repetitions
            # or else the median aggregate alone.
            figures = {at: {c: interval([b[c] for b in good]) if good else (
                median[0][c], None, None) for c in columns.values() if c in (good or median)[0]}
                for at, (good, _, median) in cases.items() if good or median}
            for at, (good, failed, _) in cases.items():
                row = rows[at]
                if at not in figures:  # every repetition failed: no figure at all
                    self.assertEqual(row["total ms"], f"failed: {failed[0]['error_message']}")
                    continue
                self.assertEqual(bool(re.fullmatch(r"\d+\.\d %( ⚠)?", row.get("cv", ""))),
                                 not good)
                # The ceiling and the floors at the same threads and heap; the own team's
                # with the widest, 2.
                there = (at[1].replace("own team of 4", "2"), at[2])
                ceiling = figures.get(("bandwidth/stores:plain",) + there, {})
                floor = min(figures[(f,) + there]["real_time"][0]
                            for f in ("floor/pages:4k", "floor/pages:2m"))
                self.assertAlmostEqual(number(row["× lower floor"]),
                                       figures[at]["real_time"][0] / floor, delta=0.0051)
                for column, counter in columns.items():
                    sweep = f"{column[:-3]} × ceiling"
                    with self.subTest(at, column=column):
                        if counter not in figures[at]:
                            self.assertEqual((row.get(column, "–"), row.get(sweep, "–")),
                                             ("–", "–"))
                            continue
                        median, lo, hi = figures[at][counter]
                        if median < 0.001:
                            continue
                        shown = spans(row[column]) if lo is not None and column.endswith(
                            "ms") else [number(row[column])]
                        for cell, value in zip(shown, (median, lo, hi)):
                            close(self, cell, value)
                        if column[:-3] in SWEEPS + OWN:
                            self.assertAlmostEqual(number(row[sweep]),
                                                   median / ceiling[counter][0], delta=0.0051)

    def test_the_main_table_has_columns_for_what_was_measured_and_tables_follow_it(self):
        steps, ends = ["total ms", "build ms", "fill ms", "release ms"], ["faults", "blocks",
                                                                         "× lower floor"]

        def sweeps(*names, against="× ceiling"):
            return [f"{s} {c}" for s in names for c in ("ms", against)]
        # A run that names the suite's sweeps: its columns in that order, gather not one.
        named = with_benchmarks(HEAPS, sweep_names="stencil,sum,lines_j,lines_i")
        # Its columns, and the tables in all: with no sweeps, the main table, the ranking of
        # creation and what a fault costs; with sweeps, a ranking of each and the cost table.
        cases = {"none": ((NONE,), ["case", "threads", *steps, *ends, "cv"], 3),
                 "every": ((EVERY,), ["case", "threads", *steps, *sweeps("sum", "stencil"),
                                      *ends], 6),
                 # The program's own sweep after the suite's, with its ranking.
                 "added": ((ADDED,), ["case", "threads", *steps, *sweeps("sum", "stencil", *OWN),
                                      *ends], 7),
                 "heaps": ((HEAPS,), ["case", "threads", "heap", *steps, *sweeps(*SWEEPS),
                                      *ends], 9),
                 "sweeps named": ((named,), ["case", "threads", "heap", *steps, *sweeps(
                     "stencil", "sum", "lines_j", "lines_i"), *ends], 8),
                 # Side by side, the sweeps of the first report that names them.
                 "with an older run": ((NONE, named), ["run", "case", "threads", "heap", *steps,
                                                       *sweeps("stencil", "sum", "lines_j",
                                                               "lines_i"), *ends, "cv"], 8),
                 # Several fields a voxel: their count beside the shape, and the sweeps of
                 # several fields after the suite's others.
                 "several fields": ((FIELDS,), ["case", "fields", "threads", *steps, *sweeps(
                     "sum", "stencil", "fields", "stream", against="× roof"), *ends], 8)}
        for what, (sources, head, count) in cases.items():
            with self.subTest(what):
                found = tables(md(*sources, labels=("a", "b")[:len(sources)]))
                self.assertEqual((list(found[0][0]), len(found)), (head, count))
        # A run that names the suite's cases lists them in its order: a case by its own
        # place there (as a program's own layout named after one of the suite's is), else
        # by a prefix's, and the cases it leaves out after them, by name.
        order = "bandwidth/stores:plain,flat,pointer_tables,floor/pages:4k,flat_vector"
        self.assertEqual([(r["case"], r["threads"]) for r in tables(md(with_benchmarks(
            HAND, case_order=order)))[0]], [
            ("bandwidth/stores:plain", "1"), ("bandwidth/stores:plain", "2"),
            ("flat_three_loops/team_of_4", "own team of 4"), ("pointer_tables", "1"),
            ("pointer_tables", "2"), ("floor/pages:4k", "1"), ("floor/pages:4k", "2"),
            ("flat_vector", "1"), ("nested", "1")])

    def test_the_median_interval_of_known_repetitions(self):
        for n, (k, coverage) in INTERVALS.items():
            with self.subTest(n=n):
                values = [(7 * i) % n + 0.5 for i in range(n)]  # 0.5 .. n-0.5, shuffled
                lo, hi, c = vr.median_interval(values)
                self.assertEqual((lo, hi), (k - 0.5, n - k + 0.5))
                self.assertAlmostEqual(c, coverage)
        self.assertIsNone(vr.median_interval([3.0]))
        # The coverage each interval had, under the main table, the rankings and the costs:
        # each count of values, repetitions of one sample each being samples.
        for path, counts in {HAND: [(5, "repetitions")],
                             PARTLY: [(13, "samples"), (15, "samples")]}.items():
            with self.subTest(os.path.basename(path)):
                coverage = "; ".join(f"[x{INTERVALS[n][0]}, x{n + 1 - INTERVALS[n][0]}] of {n} "
                                     f"{unit}, {100 * INTERVALS[n][1]:.1f} %" for n, unit in counts)
                self.assertEqual(md(path).count(f": {coverage}"), 3)

    def test_layouts_whose_intervals_overlap_share_a_rank(self):
        expected = {  # (report, what is ranked): (threads, rank, layout), in order
            # At 1 thread [13, 17] overlaps the fastest's [10, 14]; [20, 24] overlaps neither.
            # The own-team case ranks with the widest team.
            (HAND, "total"): [("1", "=1", "pointer_tables"), ("1", "=1", "flat_vector"),
                              ("1", "3", "nested"), ("2", "1", "pointer_tables"),
                              ("2", "2", "flat_three_loops/team_of_4")],
            # flat_three_loops' [11.0, 11.8] overlaps flat_one_index's [10.3, 11.1], the first
            # of the tie, and vector3d's [11.5, 12.3] overlaps flat_three_loops' but not the
            # first's: it ranks on its own. The failed and the starved layouts carry their
            # marks; nested, failed throughout, is named under the rankings instead.
            (PARTLY, "total"): [("1", "1", "flat_vector †1"), ("1", "=2", "flat_one_index"),
                                ("1", "=2", "flat_three_loops"), ("1", "4", "vector3d"),
                                ("1", "5", "pointer_tables"),
                                ("1", "6", "hugepage_tables ⚠ only 0 % in huge pages")],
            # By its own pass, not the sum's: nested first; pointer_tables did not run it.
            (ADDED, "corners_ms"): [("1", "1", "nested"), ("1", "2", "flat_vector")]}
        for (path, metric), ranking in expected.items():
            with self.subTest(os.path.basename(path), metric=metric):
                self.assertEqual([(r["threads"], r["rank"], r["layout"])
                                  for r in part(vr.ranking, path, metrics=(metric,))[0]],
                                 ranking)
        # Without every repetition, each layout ranks alone.
        for threads in ("1", "2"):
            ranks = [r["rank"] for r in part(vr.ranking, AGGREGATES_ONLY)[0]
                     if r["threads"] == threads]
            self.assertEqual(ranks, [str(i + 1) for i in range(len(ranks))])

    def test_layouts_are_ranked_per_heap_and_per_sweep(self):
        groups = [("1", "fresh"), ("2", "fresh"), ("1", "aged"), ("2", "aged")]
        every = {(r["case"], r["threads"], r["heap"]): r for r in tables(md(HEAPS))[0]}
        ranks = {}  # what is ranked: (threads, heap): [(rank, layout)]
        for what, found in zip(("total",) + SWEEPS, part(vr.ranking, HEAPS)):
            ratio = "× lower floor" if what == "total" else "× ceiling"
            with self.subTest(what):
                self.assertEqual(list(found[0]), ["threads", "heap", "rank", "layout",
                                                  f"{what} ms", ratio])
                ranks[what] = {}
                for r in found:
                    ranks[what].setdefault((r["threads"], r["heap"]), []).append(
                        (r["rank"], r["layout"]))
                    # Its figures are the main table's; the own team's stands with 2 threads.
                    row = next(every[(r["layout"], t, r["heap"])] for t in (
                        r["threads"], "own team of 4") if (r["layout"], t, r["heap"]) in every)
                    self.assertEqual((r[f"{what} ms"], r[ratio]), (
                        row[f"{what} ms"], row[ratio if what == "total" else f"{what} {ratio}"]))
                self.assertEqual(list(ranks[what]), groups)
        # Creation is the same on both heaps here, so are its ranks.
        for threads in ("1", "2"):
            self.assertEqual(ranks["total"][(threads, "aged")], ranks["total"][(threads, "fresh")])
        # Fresh, 1 thread: pointer_tables' [0.123, 0.137] starts above the end of the
        # leader's, hugepage_tables' [0.107, 0.119], which the next three overlap; nested's
        # [0.177, 0.196] is clear of it and overlaps vector3d's.
        self.assertEqual(ranks["sum"][("1", "fresh")], [
            ("=1", "hugepage_tables"), ("=1", "flat_vector"), ("=1", "flat_one_index"),
            ("=1", "flat_parallel_zero"), ("5", "pointer_tables"), ("=6", "nested"),
            ("=6", "vector3d")])
        # On the aged heap the rows of nested and vector3d sweep slower: last in every
        # ranking of a sweep, tied at 1 thread ([0.70, 0.77], [0.76, 0.86]), not at 2.
        for sweep in SWEEPS:
            for group in groups[2:]:
                with self.subTest(sweep, group=group):
                    self.assertEqual({layout for _, layout in ranks[sweep][group][-2:]},
                                     {"nested", "vector3d"})
        self.assertEqual(ranks["sum"][("1", "aged")][-2:], [("=6", "nested"), ("=6", "vector3d")])
        self.assertEqual(ranks["sum"][("2", "aged")][-2:], [("7", "nested"), ("8", "vector3d")])

    def test_each_sweep_is_held_against_its_roof(self):
        """roof.json's drift moves each round's passes and roofs alike: paired by round,
        each × roof is one figure, its interval a point. The main table's cell, and the
        sweep's ranking the same for a layout."""
        cells = {  # (case, shape, sweep): its × roof
            # The stencil against a copy: plain stores for a layout, streaming ones for the
            # ceiling, whose int32 stencil counts 2 bytes per element, not 3.
            ("flat_vector", "256x256x256", "stencil"): "1.05× [1.05, 1.05]",
            ("bandwidth/stores:plain", "256x256x256", "stencil"): "3.00× [3.00, 3.00]",
            # A gather a 64-byte line per point, or the grid's bytes where it fits the cache.
            ("nested", "256x256x256", "gather"): "1.30× [1.30, 1.30]",
            ("flat_vector", "64x64x64", "gather"): "0.50× [0.50, 0.50] ⚠",
            ("nested", "64x64x64", "sum"): "0.60× [0.60, 0.60] ⚠",
            ("bandwidth/stores:plain", "64x64x64", "stencil"): "1.00× [1.00, 1.00]",
            ("nested", "256x256x256", "corners"): "2.00× [2.00, 2.00]"}
        # 4 fields a voxel: the stream step against the copy with plain stores, whose bytes
        # count every field; the stencil of field 0 against one field's, not a streaming
        # copy; the fields' pass, the read-only one.
        several = {("aos/memory:huge", None, "stream"): "1.60× [1.60, 1.60]",
                   ("aosoa_line/memory:huge", None, "stream"): "1.15× [1.15, 1.15]",
                   ("aos/memory:huge", None, "stencil"): "4.00× [4.00, 4.00]",
                   ("bandwidth/stores:plain", None, "stencil"): "1.00× [1.00, 1.00]",
                   ("soa/memory:huge", None, "fields"): "1.50× [1.50, 1.50]",
                   ("bandwidth/stores:plain", None, "stream"): "–"}
        cases = {  # the run, its columns' name, and the cells it must show
            "every repetition": (ROOF, "× roof", cells),
            "the aggregates alone: medians over medians": (
                with_benchmarks(ROOF, lambda b: b["run_type"] == "aggregate"), "× roof",
                {at: re.sub(r" \[.*\]", "", cell) for at, cell in cells.items()}),
            "a program's own sweep without its bytes": (CORNERS_UNCOUNTED, "× roof", {
                ("nested", "256x256x256", "corners"): "–",
                ("nested", "256x256x256", "sum"): "1.60× [1.60, 1.60]"}),
            "no bandwidth case": (NO_BANDWIDTH, "× ceiling", {
                ("nested", "256x256x256", "sum"): "–"}),
            "several fields a voxel, at one shape": (FIELDS, "× roof", several)}
        for what, (source, name, expected) in cases.items():
            rows = {(plain(r["case"]), r.get("shape")): r for r in tables(md(source))[0]}
            for (case, shape, sweep), cell in expected.items():
                with self.subTest(what, at=(case, shape, sweep)):
                    self.assertEqual(rows[(case, shape)][f"{sweep} {name}"], cell)
                    if case.startswith("bandwidth/"):
                        continue
                    ranked = part(vr.ranking, source, metrics=(f"{sweep}_ms",))[0]
                    self.assertEqual(next(r[name] for r in ranked
                                          if (r["layout"], r.get("shape")) == (case, shape)), cell)

    def test_the_cost_of_creating_and_sweeping(self):
        # Each repetition's total + N × its own stencil pass, then their median and interval;
        # ≈ where that interval overlaps the cheapest's.
        # flat_one_index's pass falls as its creation rises: every sample's creation and
        # 10 passes cost 16.4 ms, clear of flat_vector's [13.7, 15.7]. The sums of the
        # two intervals' ends, [10.3 + 10 × 0.53, 11.1 + 10 × 0.61] = [15.6, 17.2],
        # would have overlapped it.
        expected = {
            "flat_one_index": ["11.3 [10.9, 11.6]", "16.4 [16.4, 16.4]",
                               "67.7 [64.1, 71.3] ★", "580.7 [541.1, 620.3] ★"],
            "flat_vector †1": ["9.21 [8.75, 9.67] ★", "14.7 [13.7, 15.7] ★",
                               "69.6 [63.2, 76.0] ≈", "618.6 [558.2, 679.0] ≈"]}
        cost = {r["case"]: [v for c, v in r.items() if c.startswith("N = ")]
                for r in part(vr.cost_table, PARTLY)[0]}
        self.assertEqual({case: cost[case] for case in expected}, expected)

    def test_the_cost_table_adds_the_crossover_sweep_per_heap(self):
        every_team = {(t, h) for t in ("1", "2", "own team of 4") for h in ("fresh", "aged")}
        # The report, the sweep, and the (threads, heap) its cost table holds.
        cases = [(HEAPS, "stencil", every_team), (HEAPS, "lines_i", every_team),
                 (HEAPS, "gather", every_team), (ADDED, "corners", {("1", "fresh")})]
        for path, sweep, teams in cases:
            reports = load(path)
            good = {at: g for at, (g, _, _) in cases_in(with_benchmarks(path)).items()}
            lines = vr.cost_table(reports, False, vr.Marks(reports), f"{sweep}_ms")
            self.assertIn(f"(ms: total + N × {sweep} ms, each repetition's own total and pass",
                          lines[1])
            cost = tables_in(lines)[0]
            for r in cost:
                r.setdefault("heap", "fresh")  # unnamed where every case ran on a fresh one
            self.assertEqual({(r["threads"], r["heap"]) for r in cost}, teams)
            for n in (1, 10, 100, 1000):
                column = f"N = {n:,}"
                for r in cost:
                    with self.subTest(sweep, row=(r["case"], r["threads"], r["heap"]), n=n):
                        reps = good[(r["case"], r["threads"], r["heap"])]
                        for shown, value in zip(spans(r[column]), interval(
                                [b["real_time"] + n * b[f"{sweep}_ms"] for b in reps])):
                            close(self, shown, value)
                # One cheapest per heap and team: the own team stands with 2 threads.
                stars = [(r["threads"].replace("own team of 4", "2"), r["heap"]) for r in cost
                         if r[column].endswith("★")]
                self.assertEqual(sorted(stars), sorted({(t.replace("own team of 4", "2"), h)
                                                        for t, h in teams}), (sweep, column))

    def test_what_a_page_fault_costs_from_the_4k_floor(self):
        for path in (EVERY, HEAPS, HAND, NONE):
            with self.subTest(os.path.basename(path)):
                # (threads, heap): (faults, fill ms), the medians
                expected = {at[1:]: (statistics.median(b["faults"] for b in good),
                                     statistics.median(b["fill_ms"] for b in good)) if good else (
                    median[0]["faults"], median[0]["fill_ms"])
                    for at, (good, _, median) in cases_in(with_benchmarks(path)).items()
                    if at[0] == "floor/pages:4k"}
                found = part(vr.fault_costs, path)[0]
                self.assertEqual(list(found[0]), ["threads"] + (["heap"] if path == HEAPS else [])
                                 + ["faults", "fill ms", "µs per fault"])
                self.assertEqual({(r["threads"], r.get("heap", "fresh")) for r in found},
                                 set(expected))
                for r in found:
                    faults, fill = expected[(r["threads"], r.get("heap", "fresh"))]
                    self.assertEqual(number(r["faults"]), faults)
                    close(self, number(r["µs per fault"]), fill * 1000 / faults)
        # every.json at 1 thread, by hand: 0.805279 ms over 493 faults.
        self.assertEqual(part(vr.fault_costs, EVERY)[0][0]["µs per fault"], "1.63")
        # Several reports: each has its rows, by run and shape.
        found = part(vr.fault_costs, EVERY, HAND, labels=("a", "b"))[0]
        self.assertEqual([(r["run"], r["shape"], r["threads"]) for r in found], [
            ("a", "100x100x50", "1"), ("a", "100x100x50", "2"), ("b", "10x10x10", "1"),
            ("b", "10x10x10", "2")])

    def test_the_heap_and_the_fields_are_named_only_where_a_case_needs_them(self):
        # --heap=aged, and --heap=fresh with every sweep, as those runs write them.
        aged = with_benchmarks(HEAPS, lambda b: "/heap:aged/" in b["name"], heap="aged")
        fresh = with_benchmarks(HEAPS, lambda b: "/heap:aged/" not in b["name"], heap="fresh",
                                heap_recipe=None)
        cases = {  # the run; whether it names the heap, and the fields of a voxel
                 "fresh and aged": (HEAPS, True, False), "aged only": (aged, True, False),
                 "fresh only, every sweep": (fresh, False, False),
                 "before heaps": (EVERY, False, False), "hand": (HAND, False, False),
                 "no sweeps": (NONE, False, False), "roofs": (ROOF, False, False),
                 "4 fields a voxel": (FIELDS, False, True)}
        for what, (source, named, fields) in cases.items():
            with self.subTest(what):
                out = md(source)
                for found in tables(out):
                    self.assertEqual("heap" in found[0], named, list(found[0]))
                self.assertEqual(bool(re.search(r"\bheap\b", out)), named)
                # Every table, the verdict's too, gives the count read from the names.
                for found in tables_in(out.splitlines()):
                    self.assertEqual({r.get("fields") for r in found}, {"4" if fields else None},
                                     list(found[0]))
                self.assertEqual("field count" in out, fields)

    def test_the_notes_say_what_the_run_holds_and_what_its_context_warns_of(self):
        one = with_benchmarks(EVERY, lambda b: b.get("repetition_index") == 0)
        isa = ("⚠ built for {} while the CPU offers {}: the sweeps and ceilings are a portable "
               "build's; the native preset builds for this CPU.")
        # (build_isa, cpu_isa): noted; None: a report from before the suite named them.
        isas = {("sse2", "avx512f"): True, ("avx", "avx2"): True, ("avx2", "avx512f"): True,
                ("neon", "sve2"): True, ("scalar", "sse2"): True, ("avx2", "avx2"): False,
                ("avx512f", "avx2"): False, ("sve", "neon"): False, ("sse2", "sve"): False,
                (None, "avx512f"): False, ("sse2", None): False, (None, None): False}
        # A run that names the extensions' orders is judged by them: avx is not in its.
        own = "sse2<avx2<avx10; neon<sve"
        isas |= {("avx2", "avx10", own): True, ("avx", "avx2", own): False,
                 ("avx2", "avx512f", own): False}
        cases = [  # the report, a text, and whether the report says it
            (EVERY, "not built, so not measured: boost_multi_array (Debian: libboost-dev); "
                    "eigen_tensor (Debian: libeigen3-dev).", True),
            (NONE, "built with assertions on (without NDEBUG)", True),
            (HEAPS, "sum ms, stencil ms, lines_j ms, lines_i ms, gather ms: one pass of ", True),
            (HEAPS, "and of a sum of the grid at 500,000 seeded random points (the median "
                    "of 5 passes per sample)", True),
            # A run that says what each sweep reads.
            (with_benchmarks(HEAPS, sweep_reads="sum: all; stencil: 7 points; lines_j: j rows; "
                                                "lines_i: i rows; gather: {points}"),
             "gather ms: one pass of all, of 7 points, of j rows, of i rows, and of 500,000 "
             "seeded random points (the", True),
            (ADDED, "\n\nsum ms, stencil ms, corners ms: one pass of a read-only sum over the "
                    "grid, of a 7-point stencil from the grid into a second grid, and of corners, "
                    "the program's own sweep, checked against the reference block (the median "
                    "of 5 passes per sample); × ceiling: over the same sweep", True),
            (HEAPS, "heap fresh,aged: fresh, the new sample process's own heap as it "
                    "starts; aged, that heap aged first (seed 0x766f78677269640a; blocks "
                    "of 16-1024 B,", True),
            # The conditions the samples ran under.
            (PARTLY, "\n\nthreads: OMP_PROC_BIND=close, OMP_PLACES=cores (--bind=close).\n", True),
            (PARTLY, "\n\nsamples: interleaved: each round runs one sample of every case", True),
            (PARTLY, "\n\nbytes per element in the suite's GB/s counters: sum, lines_j, ", True),
            # What the intervals need, where the report lacks them.
            (AGGREGATES_ONLY, "This report holds only the aggregates: confidence intervals need "
                              "every repetition (write the report with `--benchmark_out=FILE`)",
             True),
            (AGGREGATES_ONLY, "Ranked by median: without every repetition, ties cannot be "
                              "judged.", True),
            (one, "This report holds one repetition per case: confidence intervals need "
                  "several", True),
            (one, "only the aggregates", False),
            # Why a run shows no roof, in one line; a beaten ceiling, and the passes under
            # 0.95× roof. A layout faster than the ceiling within the intervals beats nothing.
            (EVERY, "\n\nNo roof: this run's bandwidth/stores:plain carries no roof counters "
                    "(roof_load_gbs, roof_copy_gbs, roof_copy_streaming_gbs), as a suite from "
                    "before them wrote it.\n", True),
            (NO_BANDWIDTH, "\n\nNo roof: this run has no bandwidth/stores:plain case, whose roof "
                           "counters are the machine's limit each sweep is held against.\n",
             True),
            (NONE, "No roof", False), (ROOF, "No roof", False),
            (CORNERS_UNCOUNTED, "\n\nNo roof for corners: the run gives no corners_bytes, the "
                                "bytes one pass must move", True),
            (ROOF, f"\n\n⚠ {BEATEN}.\n", True), (ROOF, "the ceiling for gather", False),
            (ROOF, "the ceiling for corners", False),
            (with_benchmarks(ROOF, lambda b: b["run_type"] == "aggregate"), "is wrong", False),
            (ROOF, "\n\n⚠ under 0.95× roof, a pass faster than memory can move its bytes, so the "
                   "grid was cache-resident or its bytes are miscounted: nested (64x64x64, 1 "
                   "thread): sum, stencil, gather, corners; flat_vector (64x64x64, 1 thread): sum, "
                   "stencil, gather, corners; bandwidth/stores:plain (64x64x64, 1 thread): sum, "
                   "gather, corners.\n", True),
            (ROOF, "\n\nlast-level cache: 32 MiB.\n", True),
            # Nothing swept, nothing costed; no floor, no cost of a fault.
            (NONE, "Cost of creating", False), (NONE, "stencil", False),
            (with_benchmarks(HAND, lambda b: "floor/" not in b["name"]), "page fault", False),
        ] + [(with_benchmarks(HAND, **dict(zip(("build_isa", "cpu_isa", "isa_orders"), said))),
              isa.format(*said[:2]) if noted else "⚠ built for", noted)
             for said, noted in isas.items()]
        for i, (source, text, said) in enumerate(cases):
            with self.subTest(i, text=text):
                self.assertEqual(text in md(source), said)

    def test_a_partly_failed_case_is_marked_wherever_it_shows(self):
        out = md(PARTLY)
        # flat_vector is marked in the main table, the three rankings and the costs, the mark
        # said in full under each kind; nested, failed throughout, shows in the first only.
        for i, found in enumerate(tables(out)[:5]):
            names = [r.get("case", r.get("layout")) for r in found]
            self.assertIn("flat_vector †1", names)
            self.assertEqual("nested" in map(plain, names), i == 0)
        footnote = f"\n\n†1 {FLAT_VECTOR_FAILED}; its figures are the other 13 repetitions'.\n"
        self.assertEqual(out.count(footnote), 3)
        for said in ("Not ranked", "Not costed"):
            self.assertIn(f"\n\n{said}, every repetition failed: nested (64x64x64, 1 thread).\n",
                          out)

    def test_a_case_with_too_few_huge_pages_is_warned_of(self):
        line = ("⚠ {} (64x64x64, 1 thread) had {} % of its grid in 2 MiB pages (the median "
                "share; under {} % is too few): its figures are not those of huge pages "
                "(THP madvise).")
        # The case, each good repetition's share in turn, the warning its row carries, and
        # what the run's context says of huge pages where it says it.
        half = {"huge_page_threshold": "0.5"}
        cases = {"just under": ("hugepage_tables", [0.899], "only 89 %", {}),
                 "enough": ("hugepage_tables", [0.9], None, {}),
                 "most samples had them": ("hugepage_tables", [1.0, 1.0, 0.0], None, {}),
                 "most samples had not": ("hugepage_tables", [0.0, 0.0, 1.0], "only 0 %", {}),
                 "the 2 MiB floor": ("floor/pages:2m", [0.5], "only 50 %", {}),
                 "enough for its run": ("hugepage_tables", [0.6], None, half),
                 "under its run's": ("hugepage_tables", [0.499], "only 49 %", half),
                 "not a huge-page case in its run": (
                     "hugepage_tables", [0.0], None, {"huge_page_cases": "floor/pages:2m"}),
                 # A crossed case asks for huge pages by its memory, whatever the run lists.
                 "a crossed case under the memory huge": (
                     "tables/memory:huge", [0.899], "only 89 %",
                     {"huge_page_cases": "floor/pages:2m"})}
        for what, (case, shares, warned, context) in cases.items():
            with self.subTest(what):
                data = json.loads(with_benchmarks(PARTLY, **context))
                for b in data["benchmarks"]:  # the fixture's 0.0 of hugepage_tables set aside
                    if "huge_pages" in b:
                        b["huge_pages"] = 1.0
                    for key in ("name", "run_name"):  # the older bundle, named as crossed
                        b[key] = b[key].replace("hugepage_tables/", f"{case}/")
                reps = [b for b in data["benchmarks"] if b["run_name"].startswith(case + "/")
                        and b["run_type"] == "iteration" and not b.get("error_occurred")]
                for i, b in enumerate(reps):
                    b["huge_pages"] = shares[i % len(shares)]
                out = md(json.dumps(data))
                rows = {plain(r["case"]): r["case"] for r in tables(out)[0]}
                self.assertEqual(rows[case], case + (f" ⚠ {warned} in huge pages" if warned
                                                     else ""))
                said = [x for x in out.split("\n\n") if x.startswith("⚠ ")]
                under = 50 if context is half else 90
                self.assertEqual(said, [line.format(case, warned[5:-2], under)] if warned else [])

    def test_reports_built_for_different_extensions_name_theirs_in_their_labels(self):
        plain_label = "hand · glibc 2.36 · THP madvise"
        # Each report's build_isa, the labels given, and the labels the reports get.
        cases = {"different": (("sse2", "avx512f"), (),
                               [f"{plain_label} · sse2", f"{plain_label} · avx512f"]),
                 "the same": (("avx2", "avx2"), (), [plain_label] * 2),
                 "one older": ((None, "avx2"), (), [plain_label, f"{plain_label} · avx2"]),
                 "both older": ((None, None), (), [plain_label] * 2),
                 "labelled": (("sse2", "avx512f"), ("a", "b"), ["a", "b"])}
        for what, (isas, labels, expected) in cases.items():
            with self.subTest(what):
                texts = [with_benchmarks(HAND, build_isa=isa, cpu_isa="avx512f" if isa else None)
                         for isa in isas]
                self.assertEqual([rep.label for rep in load(*texts, labels=labels)], expected)
                if what == "different":  # each note under its report's label
                    self.assertIn(f"{expected[0]}: ⚠ built for sse2 while the CPU offers avx512f",
                                  md(*texts))

    # The command line.

    def test_the_command_prints_or_writes_what_the_package_makes_and_its_failures(self):
        folder, md_path = (os.path.join(self.dir.name, n) for n in ("reports", "t.md"))
        os.mkdir(folder)  # a directory stands for its *.json, sorted
        for name, source in (("b.json", NONE), ("a.json", HAND)):
            shutil.copy(source, os.path.join(folder, name))
        with open(os.path.join(folder, "notes.txt"), "w", encoding="utf-8") as f:
            f.write("not a report")
        sse2, avx512 = (with_benchmarks(HAND, build_isa=isa, cpu_isa="avx512f")
                        for isa in ("sse2", "avx512f"))
        sse2_path = os.path.join(self.dir.name, "sse2.json")
        with open(sse2_path, "w", encoding="utf-8") as f:
            f.write(sse2)
        hand = with_benchmarks(HAND)
        some_failed = with_benchmarks(PARTLY, lambda b: "nested/" not in b["run_name"])
        ab = ("a", "b")
        said = "voxgrid-report: failures in {}, marked in the tables; the first, {}\n"
        cases = [  # arguments, standard input; what the package makes it of; standard error
            ([HEAPS, "--crossover", "lines_i"], None, ([HEAPS], {"crossover": "lines_i_ms"}), ""),
            ([ADDED, "--crossover", "corners"], None, ([ADDED], {"crossover": "corners_ms"}), ""),
            # The cost table's sweep is stencil unless named.
            ([folder, "--label", "a", "--label", "b"], None, ([HAND, NONE], {"labels": ab}), ""),
            (["-", NONE, "--label", "a", "--label", "b"], hand, ([HAND, NONE], {"labels": ab}), ""),
            ([sse2_path, "-"], avx512, ([sse2, avx512], {}), ""),  # labels naming their builds
            # Everything written, then one line on the failures, and status 3.
            ([PARTLY, "--markdown", md_path], None, ([PARTLY], {}), said.format(
                "2 of 10 cases (1 in every repetition, 1 in some)", NESTED_FAILED)),
            ([HAND, PARTLY, "--label", "a", "--label", "b"], None,
             ([HAND, PARTLY], {"labels": ab}), said.format(
                 "2 of 19 cases (1 in every repetition, 1 in some)", "b: " + NESTED_FAILED)),
            (["-"], some_failed, ([some_failed], {}),
             said.format("1 of 9 cases (1 in some)", FLAT_VECTOR_FAILED)),
            # A beaten ceiling is a fault of the run, as a failure is; no ceiling, none.
            ([ROOF], None, ([ROOF], {}), f"voxgrid-report: {BEATEN}\n"),
            (["-"], NO_BANDWIDTH, ([NO_BANDWIDTH], {}), "")]
        for args, stdin, (sources, kw), err in cases:
            with self.subTest(args=args):
                out = report(*args, stdin=stdin)
                self.assertEqual((out.returncode, out.stderr), (3 if err else 0, err))
                if "--markdown" in args:
                    self.assertEqual(out.stdout, "")
                    with open(md_path, encoding="utf-8") as f:
                        self.assertEqual(f.read(), md(*sources, **kw))
                else:
                    self.assertEqual(out.stdout, md(*sources, **kw))

    def test_bad_input_is_one_line_and_status_1_and_writes_nothing(self):
        out_dir = os.path.join(self.dir.name, "out")
        os.mkdir(out_dir)
        md_path, png = (os.path.join(out_dir, n) for n in ("t.md", "c.png"))
        # A matplotlib that is not there: only --png needs it.
        os.mkdir(os.path.join(self.dir.name, "matplotlib"))
        with open(os.path.join(self.dir.name, "matplotlib", "__init__.py"), "w",
                  encoding="utf-8") as f:
            f.write("raise ImportError('no matplotlib here')\n")
        env = dict(os.environ, PYTHONPATH=self.dir.name)
        missing = os.path.join(self.dir.name, "none.json")
        cases = [  # arguments, standard input, the one line after "voxgrid-report: "
            (["-"], "{", "-: not JSON"),
            (["-"], '{"context": {}}', '-: not a voxgrid-suite report: it has no "benchmarks"'),
            (["-"], '{"benchmarks": []}', "-: the report holds no cases"),
            (["-"], "[1, 2]", "-: not a voxgrid-suite report"),
            # From a suite older than the build/fill/release counters.
            (["-"], with_benchmarks(NONE).replace('"build_ms"', '"built_ms"'),
             "-: .* has no build_ms counter"),
            ([missing], None, f"{re.escape(missing)}: cannot read it: No such file or directory"),
            ([out_dir], None, rf"{re.escape(out_dir)}: no reports \(\*\.json\) in it"),
            (["--label", "a", HAND, NONE], None, "1 --label for 2 reports: give one per report"),
            (["--crossover=total", HEAPS, "--markdown", md_path], None, "--crossover=total: not a"),
            (["--crossover=", HEAPS, "--markdown", md_path], None, "--crossover=: not a sweep"),
            # A program's own sweep is a sweep where a report says the program added it.
            (["--crossover=corner", ADDED, "--markdown", md_path], None,
             "--crossover=corner: not a sweep; the sweeps are sum, stencil, lines_j, lines_i, "
             "gather, corners$"),
            (["--crossover=corners", EVERY, "--markdown", md_path], None,
             "--crossover=corners: not a sweep; the sweeps are sum, stencil, lines_j, lines_i, "
             "gather$"),
            (["-"], with_benchmarks(ADDED, added_sweeps="corners,sum"),
             "-: not a voxgrid-suite report: 'sum' in its added_sweeps is no name"),
            (["-"], with_benchmarks(ADDED, added_sweeps="Corners"),
             "-: not a voxgrid-suite report: 'Corners' in its added_sweeps is no name"),
            # The suite's tables in a context that does not hold them as the suite writes them.
            (["-"], with_benchmarks(HAND, sweep_reads="sum, all of it"),
             "-: not a voxgrid-suite report: its sweep_reads 'sum, all of it' cannot be read$"),
            (["-"], with_benchmarks(HAND, huge_page_threshold="most"),
             "-: not a voxgrid-suite report: its huge_page_threshold 'most' cannot be read$"),
            (["-"], with_benchmarks(HAND, memories="huge, aligned"),
             "-: not a voxgrid-suite report: its memories 'huge, aligned' cannot be read$"),
            # The verdict's flags: a margin that is no percentage, a baseline of no case.
            (["--margin=-1", HAND, "--markdown", md_path], None,
             "--margin=-1: not a percentage from 0 to under 100$"),
            (["--baseline=vector3d", HAND, "--markdown", md_path], None,
             r"--baseline=vector3d: no layout of this report is named so \(its layouts: .*\)$"),
            (["--crossover=gather", EVERY, "--markdown", md_path], None,
             "--crossover=gather: not measured in this report"),
            (["--crossover", "lines_j", EVERY, NONE, "--markdown", md_path], None,
             "--crossover=lines_j: not measured in any of these reports"),
            (["--crossover=sum", NONE, "--markdown", md_path], None, r".*\(its sweeps: none\)"),
            ([EVERY, "--png", png, "--markdown", md_path], None,
             r".*needs matplotlib \(Debian: python3-matplotlib\)")]
        for args, stdin, said in cases:
            with self.subTest(args=args):
                out = report(*args, stdin=stdin, env=env)
                self.assertEqual((out.returncode, out.stdout, os.listdir(out_dir)), (1, "", []))
                self.assertRegex(out.stderr, rf"\Avoxgrid-report: {said}[^\n]*\n\Z")
        self.assertEqual(report(EVERY, "--markdown", md_path, env=env).returncode, 0)

    def test_a_markdown_is_written_whole_or_not_at_all(self):
        path = os.path.join(self.dir.name, "t.md")
        check_failed_writes(self, "--markdown", path, b"the earlier tables\n", 1000, "write")
        # A whole write takes its place, with the permissions the earlier file had.
        os.chmod(path, 0o640)
        self.assertEqual(report(EVERY, "--markdown", path).returncode, 0)
        with open(path, encoding="utf-8") as f:
            self.assertEqual(f.read(), md(EVERY))
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o640)
        self.assertEqual(os.listdir(self.dir.name), ["t.md"])
        # What is no regular file is written in place, and stays what it was.
        self.assertEqual(report(EVERY, "--markdown", "/dev/null").returncode, 0)
        out = report(EVERY, "--markdown", "/dev/full")
        self.assertEqual((out.returncode, out.stdout, out.stderr), (
            1, "", "voxgrid-report: cannot write /dev/full: No space left on device\n"))
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/full").st_mode))


class Charts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        try:
            import matplotlib  # noqa: F401 pylint: disable=import-outside-toplevel,unused-import
        except ImportError:
            raise unittest.SkipTest("the chart tests need matplotlib "
                                    "(Debian: python3-matplotlib)") from None
        cls.dir = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_a_chart_is_a_png_1600_pixels_wide_written_whole_or_not_at_all(self):
        png = os.path.join(self.dir.name, "stopped", "c.png")
        os.makedirs(os.path.dirname(png))
        check_failed_writes(self, "--png", png, b"the earlier chart", 20000, "chart")
        # A whole chart takes its place, a PNG though its temporary's name says nothing.
        out = report(EVERY, "--png", png)
        self.assertEqual((out.returncode, out.stdout), (0, ""), out.stderr)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", head[16:24])
        self.assertEqual(width, 1600)
        self.assertGreater(height, 400)
        self.assertEqual(os.listdir(os.path.dirname(png)), ["c.png"])

    @staticmethod
    def headings(fig):
        """Each band's heading, where it has one."""
        return [[t.get_text() for t in band.texts] for band in fig.subfigs]

    def assert_labels_inside(self, fig):
        """Each label at a bar's end ends inside its panel."""
        renderer = fig.canvas.get_renderer()
        for ax in fig.axes:
            right = ax.get_window_extent(renderer).x1
            for text in ax.texts:
                with self.subTest(ax.get_title(), text=text.get_text()):
                    self.assertLessEqual(text.get_window_extent(renderer).x1, right + 0.5)

    @staticmethod
    def panels(fig, heat=False):
        """The chart's bar panels, or (heat) the panels of the verdict's picture that opens
        it; neither its colour bars."""
        return [ax for ax in fig.axes
                if (ax.get_label() == "heatmap") == heat and ax.get_label() != "<colorbar>"]

    def test_reports_share_one_chart_and_one_table_with_their_labels(self):
        reports = [vr.Report(EVERY, "before"), vr.Report(NONE, "after"), vr.Report(ADDED, "own")]
        fig = vr.chart(reports, os.path.join(self.dir.name, "three.png"))
        # Five repetitions choose nothing, so there is no picture of the verdict.
        self.assertEqual(self.panels(fig, heat=True), [])
        # The program's own sweep gets a panel where its report measured it, after the suite's.
        self.assertEqual([ax.get_title() for ax in fig.axes],
                         ["before", "after", "own", "sum", "stencil", "after: no sweeps", "sum",
                          "stencil", "corners"])
        self.assertEqual(self.headings(fig), [[], ["before: sweeps"], [], ["own: sweeps"]])
        self.assertEqual({r["run"] for r in tables(vr.markdown(reports))[0]},
                         {"before", "after", "own"})
        self.assert_labels_inside(fig)

    def test_the_rows_of_a_partly_failed_run_carry_their_marks(self):
        fig = vr.chart([vr.Report(PARTLY, None)], os.path.join(self.dir.name, "partly.png"))
        # The verdict's picture, then creation and sum; the stencil shares the sum's row labels.
        for ax in self.panels(fig, heat=True)[:1] + self.panels(fig)[:2]:
            with self.subTest(ax.get_title()):
                labels = [t.get_text() for t in ax.get_yticklabels()]
                self.assertIn("flat_vector (2 of 15 failed)", labels)
                self.assertIn("hugepage_tables (⚠ 0 % huge pages)", labels)
                self.assertNotIn("nested", [x.split(" ")[0] for x in labels])
        self.assert_labels_inside(fig)

    def test_each_heap_has_a_band_with_a_panel_per_sweep(self):
        fig = vr.chart([vr.Report(HEAPS, "vm")], os.path.join(self.dir.name, "heaps.png"))
        self.assertEqual([ax.get_title() for ax in self.panels(fig)],
                         ["vm: fresh heap", "vm: aged heap"] + list(SWEEPS) * 2)
        self.assertEqual(self.headings(fig), [[], ["fresh heap: sweeps"], ["aged heap: sweeps"]])
        # A sweep's panels share a scale down the bands, so the heaps compare at a glance.
        panels = self.panels(fig)[2:]
        for fresh, aged in zip(panels[:len(SWEEPS)], panels[len(SWEEPS):]):
            with self.subTest(fresh.get_title()):
                self.assertEqual(fresh.get_xlim(), aged.get_xlim())
        self.assert_labels_inside(fig)

    def test_a_sweeps_bars_are_labelled_with_its_roof(self):
        fig = vr.chart([vr.Report(ROOF, None)], os.path.join(self.dir.name, "roof.png"))
        said = [t.get_text() for ax in self.panels(fig) if ax.get_title() == "stencil"
                for t in ax.texts]
        # nested: 1.8× its roof at 256x256x256 (1.2× the ceiling's pass), 0.9× at 64x64x64.
        self.assertIn(" 32.6 ms · 1.8×", said)
        self.assertIn(" 0.25 ms · 0.9× ⚠", said)
        self.assert_labels_inside(fig)

    def test_the_chart_opens_with_the_verdict_as_a_heatmap(self):
        """Per group a panel: the layouts at its shape (rows) against its uses (columns),
        each cell the layout's cost over that use's choice on a log colour scale, the
        choice starred; a layout not measured in a group is a blank row there."""
        import matplotlib  # pylint: disable=import-outside-toplevel
        import numpy  # pylint: disable=import-outside-toplevel  (matplotlib's own)
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from test_verdict import CROSSED, LINES_I, S, case, grid, run  # noqa: E402
        data = run(*grid(CROSSED, LINES_I, threads=1), *grid(CROSSED, LINES_I, threads=2),
                   case("nested", S, 2, 30, {"lines_i": 5}), sweeps=("lines_i",))
        fig = vr.chart(load(json.dumps(data)), os.path.join(self.dir.name, "heat.png"))
        heat = self.panels(fig, heat=True)
        self.assertEqual([ax.get_title() for ax in heat], ["1 thread", "2 threads"])
        self.assertIs(fig.axes[0], heat[0], "the picture opens the chart")
        rows = [t.get_text() for t in heat[0].get_yticklabels()]
        self.assertEqual(rows[0], "nested")
        self.assertEqual(len(rows), 1 + len(CROSSED))
        self.assertEqual([t.get_text() for t in heat[0].get_xticklabels()],
                         ["made once", "lines_i ×1,000"])
        # The second panel has the same rows: their names are not said again.
        self.assertFalse(any(t.label1.get_visible() for t in heat[1].yaxis.get_major_ticks()))
        self.assertTrue(all(t.label1.get_visible() for t in heat[0].yaxis.get_major_ticks()))
        for ax in heat:
            with self.subTest(ax.get_title()):
                image = ax.get_images()[0]
                self.assertIsInstance(image.norm, matplotlib.colors.LogNorm)
                cells = {(round(t.get_position()[1]), round(t.get_position()[0])): t
                         for t in ax.texts}
                self.assertTrue(all(t.get_fontsize() >= 8 for t in cells.values()))
                # Huge pages for the creation, padded strides for lines along i.
                at = rows.index("padded/memory:huge")
                self.assertEqual([cells[(at, j)].get_text() for j in (0, 1)], ["★", "★"])
                zeroed = rows.index("tables/memory:zeroed")
                self.assertAlmostEqual(float(cells[(zeroed, 0)].get_text()), 32 / 6, delta=0.15)
                # nested ran with two threads only: masked in the one-thread panel.
                self.assertEqual((0, 0) in cells, ax is heat[1])
                masked = numpy.ma.getmaskarray(image.get_array())
                self.assertEqual(bool(masked[0, 0]), ax is heat[0])


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    # Nothing but skips (a skipped class counts once, as no test run): CTest's SKIP_RETURN_CODE.
    sys.exit(77 if result.skipped and result.testsRun <= len(result.skipped) else 0)
