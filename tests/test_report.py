#!/usr/bin/python3
"""voxgrid-report on committed reports; $REPORT names it. `Charts` as the one
argument runs only the chart tests, which need matplotlib; exit status 77 says
that all that ran was skipped.

fixtures/every.json: voxgrid-suite --shape=100x100x50 --samples=1
  --benchmark_repetitions=5 --benchmark_out=every.json, from a build that did
  not sweep its grids yet: sum/stencil counters were added afterwards (drawn
  near plausible ratios to the plain-stores ceiling), two layouts copied from
  pointer_tables' entries, and the aggregates recomputed from the repetitions.
fixtures/sweeps-none.json: the aggregates that run printed, as a run with
  --sweeps=none (and assertions on) writes them.
fixtures/hand.json: repetitions only, numbers chosen by hand for the ranking
  and the cost table.
fixtures/heaps.json: every.json as a run with every sweep and both heaps would
  write it, made by fixtures/make_heaps.py: lines_j, lines_i and gather passes
  drawn from each repetition's sum pass (2.5, 4 and 9 times it, ±4 %), every
  case copied under heap:aged with the same creation and the sweeps of the
  layouts with a block per row (nested, vector3d) 2 to 4 times slower, the
  others' within ±2 %; the aggregates recomputed from the repetitions, and the
  context's sweeps, heap, heap_recipe and gather_points set.
fixtures/partly-failed.json: a run of 15 repetitions of one sample each, each
  case showing one thing, as fixtures/make_partly_failed.py says.
Reports from a suite that names the vector extensions (build_isa, cpu_isa) are
these fixtures with the two context keys set by with_benchmarks()."""

import importlib
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

from markdown_tables import tables as tables_in

REPORT = os.environ["REPORT"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
EVERY, NONE, HAND, HEAPS, PARTLY = (os.path.join(FIXTURES, f) for f in (
    "every.json", "sweeps-none.json", "hand.json", "heaps.json", "partly-failed.json"))
# n: (k, coverage) of the median's interval [x(k), x(n+1-k)] among n values, worked by
# hand: 1 - 2 * sum(C(n, i), i < k) / 2**n.
INTERVALS = {2: (1, 0.5), 5: (1, 1 - 2 / 32), 6: (1, 1 - 2 / 64), 9: (2, 1 - 20 / 512),
             10: (2, 1 - 22 / 1024), 12: (3, 1 - 158 / 4096), 13: (3, 1 - 184 / 8192),
             15: (4, 1 - 1152 / 32768), 20: (6, 1 - 2 * 21700 / 2 ** 20)}
SWEEPS = ("sum", "stencil", "lines_j", "lines_i", "gather")


def report(*args, stdin=None, env=None, max_file=None):
    """voxgrid-report run with args; max_file, bytes: a longer write fails (EFBIG)."""
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (max_file, max_file))
    return subprocess.run([REPORT, *args], input=stdin, capture_output=True, text=True,
                          env=env, check=False, timeout=120,
                          preexec_fn=limit if max_file else None)


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


def failed_writes(option, path, max_file, step):
    """Ways a write of `option` to `path` ends early, each with how to cause it,
    the status it must end with (-N: killed by signal N) and its standard error:
    a file-size limit it runs into, and each stop signal at `step`."""
    cases = {"file too large": (lambda: report(EVERY, option, path, max_file=max_file), 1,
                                f"voxgrid-report: cannot write {path}: File too large\n")}
    for signo in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        cases[f"stopped by {signo.name}"] = (
            lambda signo=signo: stopped_halfway(signo, step, EVERY, option, path),
            -signo, f"voxgrid-report: stopped by {signo.name}\n")
    return cases


def stopped_halfway(signo, writer, *args):
    return subprocess.run([sys.executable, "-c", STOPPED_HALFWAY, REPORT, str(signo), writer,
                           *args], capture_output=True, text=True, check=False, timeout=120)


def load_module():
    """The voxgrid_report package, from beside the command."""
    sys.path.insert(0, os.path.dirname(os.path.realpath(REPORT)))
    return importlib.import_module("voxgrid_report")


def tables(markdown):
    """Each Markdown table after the verdict (which test_verdict.py reads) as a list of
    {column: cell}."""
    lines = markdown.splitlines()
    return tables_in(lines[lines.index("## Every case") if "## Every case" in lines else 0:])


def table_after(markdown, heading):
    """The first table after the line that starts with `heading`."""
    lines = markdown.splitlines()
    at = next(i for i, line in enumerate(lines) if line.startswith(heading))
    return tables("\n".join(lines[at:]))[0]


def number(cell):
    """The median at the front of a cell: `12.0 [10.0, 14.0]`, `1,015 ★`, `2.50×`."""
    return float(cell.split(" [")[0].replace(",", "").rstrip(" ×%★≈⚠"))


def spans(cell):
    """The median and its interval's ends in a cell: `1,015 [913.0, 1,117] ★`."""
    return [number(cell)] + [float(end.replace(",", ""))
                             for end in cell.split(" [")[1].split("]")[0].split(", ")]


def repetitions(text):
    """A report's repetitions of each case that did not fail, and those that did:
    {run_name: (good, failed)}."""
    out = {}
    for b in json.loads(text)["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration":
            out.setdefault(b["run_name"], ([], []))[1 if b.get("error_occurred") else 0].append(b)
    return out


def interval(values):
    """The median and its interval's ends, from the values as the tables must show them."""
    xs, k = sorted(values), INTERVALS[len(values)][0]
    return statistics.median(xs), xs[k - 1], xs[len(xs) - k]


def plain(case):
    """The case without the marks after its name."""
    return case.split(" ")[0]


def key(b):
    threads = [p[8:] for p in b["run_name"].split("/") if p.startswith("threads:")]
    return (b["run_name"].split("/shape")[0], threads[0] if threads else "own team of 4")


def heap(b):
    return "aged" if "/heap:aged/" in b["run_name"] else "fresh"


def with_benchmarks(path, keep=lambda b: True, **context):
    """The report at `path` as text, holding only the benchmarks `keep` accepts,
    its context keys set as given (None: removed)."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    data["benchmarks"] = [b for b in data["benchmarks"] if keep(b)]
    data["context"].update(context)
    data["context"] = {k: v for k, v in data["context"].items() if v is not None}
    return json.dumps(data)


# every.json as standard output holds it: the aggregates, no repetitions.
AGGREGATES_ONLY = with_benchmarks(EVERY, lambda b: b["run_type"] == "aggregate")


class Tables(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def run_ok(self, *args, **kw):
        """The tables the report writes; partly-failed.json's end with status 3."""
        out = report(*args, **kw)
        self.assertEqual(out.returncode, 3 if PARTLY in args else 0, out.stderr)
        return out.stdout

    def test_every_median_and_its_interval_come_from_the_good_repetitions(self):
        columns = {"total ms": "real_time", "faults": "faults", "blocks": "blocks"} | {
            f"{c} ms": f"{c}_ms" for c in ("build", "fill", "release", "sum", "stencil")}
        # Without flat_vector's 13th repetition, 12 good ones: the middle pair's mean.
        even = with_benchmarks(PARTLY, lambda b: not (b["run_name"].startswith("flat_vector/")
                                                      and b.get("repetition_index") == 12))
        # pointer_tables' median aggregate (9.0 ms) is not its repetitions' median.
        for text, status in ((with_benchmarks(EVERY), 0), (with_benchmarks(PARTLY), 3), (even, 3)):
            out = report("-", stdin=text)
            self.assertEqual(out.returncode, status, out.stderr)
            rows = {(plain(r["case"]), r["threads"]): r for r in tables(out.stdout)[0]}
            cases = repetitions(text)
            self.assertEqual(len(rows), len(cases))
            for name, (good, failed) in cases.items():
                row = rows[key(good[0] if good else failed[0])]
                if not good:  # every repetition failed: no figure at all
                    self.assertEqual(row["total ms"], f"failed: {failed[0]['error_message']}")
                    continue
                for column, counter in columns.items():
                    with self.subTest(name, column=column):
                        if counter not in good[0]:
                            self.assertEqual(row[column], "–")
                            continue
                        median, lo, hi = interval([b[counter] for b in good])
                        if median < 0.001:
                            continue
                        shown = spans(row[column]) if column.endswith("ms") else [
                            number(row[column])]
                        for cell, value in zip(shown, (median, lo, hi)):
                            self.assertAlmostEqual(cell, value, delta=0.005 * value + 0.0051)

    def test_every_sweep_has_its_columns_and_its_ceiling_on_each_heap(self):
        found = tables(self.run_ok(HEAPS))[0]
        self.assertEqual(list(found[0])[:3], ["case", "threads", "heap"])
        self.assertEqual([c for c in found[0] if c.startswith(SWEEPS)],
                         [f"{s} {c}" for s in SWEEPS for c in ("ms", "× ceiling")])
        rows = {(r["case"], r["threads"], r["heap"]): r for r in found}
        with open(HEAPS, encoding="utf-8") as f:
            medians = [b for b in json.load(f)["benchmarks"] if b.get("aggregate_name") == "median"]
        self.assertEqual(len(rows), len(medians))
        # The ceiling stands at the same threads and heap; the own team with the widest, 2.
        ceilings = {(key(b)[1], heap(b)): b for b in medians
                    if b["run_name"].startswith("bandwidth/stores:plain/")}
        for b in medians:
            row = rows[key(b) + (heap(b),)]
            ceiling = ceilings[(key(b)[1].replace("own team of 4", "2"), heap(b))]
            for sweep in SWEEPS:
                with self.subTest(b["run_name"], sweep=sweep):
                    if f"{sweep}_ms" not in b:
                        self.assertEqual((row[f"{sweep} ms"], row[f"{sweep} × ceiling"]),
                                         ("–", "–"))
                        continue
                    value = b[f"{sweep}_ms"]
                    self.assertAlmostEqual(number(row[f"{sweep} ms"]), value,
                                           delta=0.005 * value + 0.0051)
                    self.assertAlmostEqual(number(row[f"{sweep} × ceiling"]),
                                           value / ceiling[f"{sweep}_ms"], delta=0.0051)

    def test_every_repetition_or_only_the_aggregates_give_the_same_medians(self):
        every = tables(self.run_ok(EVERY))[0]
        only = self.run_ok("-", stdin=AGGREGATES_ONLY)
        self.assertIn("need every repetition (write the report with `--benchmark_out=FILE`)",
                      only)
        only = tables(only)[0]
        self.assertEqual([(r["case"], r["threads"]) for r in every],
                         [(r["case"], r["threads"]) for r in only])
        for a, b in zip(every, only):
            self.assertNotIn("cv", a)
            self.assertRegex(b["cv"], r"^\d+\.\d %")
            for column in ("total ms", "fill ms", "sum ms", "stencil ms", "× lower floor"):
                with self.subTest(f"{a['case']} {a['threads']}", column=column):
                    self.assertEqual(a[column].split(" [")[0], b[column])

    def test_one_repetition_is_not_called_the_aggregates(self):
        out = self.run_ok("-", stdin=with_benchmarks(EVERY,
                                                     lambda b: b.get("repetition_index") == 0))
        self.assertIn("holds one repetition per case: confidence intervals need several", out)
        self.assertNotIn("only the aggregates", out)

    def test_the_median_interval_of_known_repetitions(self):
        median_interval = load_module().median_interval
        for n, (k, coverage) in INTERVALS.items():
            with self.subTest(n=n):
                values = [(7 * i) % n + 0.5 for i in range(n)]  # 0.5 .. n-0.5, shuffled
                lo, hi, c = median_interval(values)
                self.assertEqual((lo, hi), (k - 0.5, n - k + 0.5))
                self.assertAlmostEqual(c, coverage)
        self.assertIsNone(median_interval([3.0]))
        # The coverage each interval had, under the main table, the rankings and the costs:
        # each count of values, repetitions of one sample each being samples.
        for path, counts in {HAND: [(5, "repetitions")],
                             PARTLY: [(13, "samples"), (15, "samples")]}.items():
            with self.subTest(os.path.basename(path)):
                coverage = "; ".join(f"[x{INTERVALS[n][0]}, x{n + 1 - INTERVALS[n][0]}] of {n} "
                                     f"{unit}, {100 * INTERVALS[n][1]:.1f} %" for n, unit in counts)
                self.assertEqual(self.run_ok(path).count(f": {coverage}"), 3)

    def test_layouts_whose_intervals_overlap_share_a_rank(self):
        expected = {
            # At 1 thread [13, 17] overlaps the fastest's [10, 14]; [20, 24] overlaps neither.
            # The own-team case ranks with the widest team.
            HAND: [("1", "=1", "pointer_tables"), ("1", "=1", "flat_vector"), ("1", "3", "nested"),
                   ("2", "1", "pointer_tables"), ("2", "2", "flat_three_loops/team_of_4")],
            # flat_three_loops' [11.0, 11.8] overlaps flat_one_index's [10.3, 11.1], the first
            # of the tie, and vector3d's [11.5, 12.3] overlaps flat_three_loops' but not the
            # first's: it ranks on its own. The failed and the starved layouts carry their
            # marks; nested, failed throughout, is named under the rankings instead.
            PARTLY: [("1", "1", "flat_vector †1"), ("1", "=2", "flat_one_index"),
                     ("1", "=2", "flat_three_loops"), ("1", "4", "vector3d"),
                     ("1", "5", "pointer_tables"),
                     ("1", "6", "hugepage_tables ⚠ only 0 % in huge pages")]}
        for path, ranking in expected.items():
            with self.subTest(os.path.basename(path)):
                self.assertEqual([(r["threads"], r["rank"], r["layout"])
                                  for r in tables(self.run_ok(path))[1]], ranking)
        out = self.run_ok("-", stdin=AGGREGATES_ONLY)
        self.assertIn("ties cannot be judged", out)
        for threads in ("1", "2"):
            ranks = [r["rank"] for r in tables(out)[1] if r["threads"] == threads]
            self.assertEqual(ranks, [str(i + 1) for i in range(len(ranks))])

    def test_layouts_are_ranked_per_heap_and_per_sweep(self):
        out = self.run_ok(HEAPS)
        groups = [("1", "fresh"), ("2", "fresh"), ("1", "aged"), ("2", "aged")]
        headings = {"total": "Layouts by total time"} | {
            s: f"Layouts by one {s} pass, fastest first, at each shape, heap and thread count:"
            for s in SWEEPS}
        ranks = {}  # what is ranked: (threads, heap): [(rank, layout)]
        for what, heading in headings.items():
            with self.subTest(what):
                found = table_after(out, heading)
                self.assertEqual(list(found[0]), ["threads", "heap", "rank", "layout",
                                                  f"{what} ms", "× lower floor" if what == "total"
                                                  else "× ceiling"])
                ranks[what] = {}
                for r in found:
                    ranks[what].setdefault((r["threads"], r["heap"]), []).append(
                        (r["rank"], r["layout"]))
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
                for r in table_after(self.run_ok(PARTLY), "Cost of creating")}
        self.assertEqual({case: cost[case] for case in expected}, expected)

    def test_the_cost_table_adds_the_crossover_sweep_per_heap(self):
        default = self.run_ok(HEAPS)
        self.assertEqual(self.run_ok(HEAPS, "--crossover=stencil"), default)
        good = {key(g[0]) + (heap(g[0]),): g
                for g, _ in repetitions(with_benchmarks(HEAPS)).values()}
        for sweep in ("stencil", "lines_i", "gather"):
            with self.subTest(sweep):
                out = default if sweep == "stencil" else self.run_ok(HEAPS, "--crossover", sweep)
                cost = table_after(out, "Cost of creating a grid and sweeping it N times (ms: "
                                   f"total + N × {sweep} ms, each repetition's own total and pass")
                self.assertEqual({(r["threads"], r["heap"]) for r in cost},
                                 {(t, h) for t in ("1", "2", "own team of 4")
                                  for h in ("fresh", "aged")})
                for n in (1, 10, 100, 1000):
                    column = f"N = {n:,}"
                    for r in cost:
                        with self.subTest(sweep, row=(r["case"], r["threads"], r["heap"]), n=n):
                            reps = good[(r["case"], r["threads"], r["heap"])]
                            for shown, value in zip(spans(r[column]), interval(
                                    [b["real_time"] + n * b[f"{sweep}_ms"] for b in reps])):
                                self.assertAlmostEqual(shown, value, delta=0.005 * value + 0.0051)
                    # One cheapest per heap and team: the own team stands with 2 threads.
                    for h in ("fresh", "aged"):
                        for teams in (("1",), ("2", "own team of 4")):
                            stars = [r for r in cost if r["heap"] == h and r["threads"] in teams
                                     and r[column].endswith("★")]
                            self.assertEqual(len(stars), 1, (h, teams, column))

    def test_a_report_without_sweeps_keeps_the_columns_it_had(self):
        out = self.run_ok(NONE)
        found = tables(out)
        self.assertEqual(list(found[0][0]), [
            "case", "threads", "total ms", "build ms", "fill ms", "release ms", "faults",
            "blocks", "× lower floor", "cv"])
        self.assertEqual(len(found), 3)  # the ranking and what a fault costs, no cost table
        self.assertNotIn("Cost of creating", out)
        self.assertNotIn("stencil", out)

    def test_the_heap_is_named_only_where_a_case_ran_on_an_aged_one(self):
        # --heap=aged, and --heap=fresh with every sweep, as those runs write them.
        aged = with_benchmarks(HEAPS, lambda b: heap(b) == "aged", heap="aged")
        fresh = with_benchmarks(HEAPS, lambda b: heap(b) == "fresh", heap="fresh",
                                heap_recipe=None)
        cases = {"fresh and aged": (HEAPS, None, True), "aged only": ("-", aged, True),
                 "fresh only, every sweep": ("-", fresh, False),
                 "before heaps": (EVERY, None, False), "hand": (HAND, None, False),
                 "no sweeps": (NONE, None, False)}
        for what, (path, text, named) in cases.items():
            with self.subTest(what):
                out = self.run_ok(path, stdin=text)
                for found in tables(out):
                    self.assertEqual("heap" in found[0], named, list(found[0]))
                self.assertEqual(bool(re.search(r"\bheap\b", out)), named)
        # The older reports' table keeps its columns: sum and stencil only.
        self.assertEqual(list(tables(self.run_ok(EVERY))[0][0]), [
            "case", "threads", "total ms", "build ms", "fill ms", "release ms", "sum ms",
            "sum × ceiling", "stencil ms", "stencil × ceiling", "faults", "blocks",
            "× lower floor"])

    def test_the_notes_name_what_the_context_warns_of(self):
        cases = [(EVERY, "not built, so not measured: boost_multi_array (Debian: libboost-dev); "
                         "eigen_tensor (Debian: libeigen3-dev)."),
                 (NONE, "built with assertions on (without NDEBUG)"),
                 (HEAPS, "sum ms, stencil ms, lines_j ms, lines_i ms, gather ms: one pass of "),
                 (HEAPS, "and of a sum of the grid at 500,000 seeded random points (the median "
                         "of 5 passes per sample)"),
                 (HEAPS, "heap fresh,aged: fresh, the new sample process's own heap as it "
                         "starts; aged, that heap aged first (seed 0x766f78677269640a; blocks "
                         "of 16-1024 B,"),
                 # The conditions the samples ran under.
                 (PARTLY, "\n\nthreads: OMP_PROC_BIND=close, OMP_PLACES=cores (--bind=close).\n"),
                 (PARTLY, "\n\nsamples: interleaved: each round runs one sample of every case"),
                 (PARTLY, "\n\nbytes per element in the suite's GB/s counters: sum, lines_j, ")]
        for path, note in cases:
            with self.subTest(os.path.basename(path), note=note):
                self.assertIn(note, self.run_ok(path))

    def test_a_run_with_failures_is_marked_wherever_it_shows_and_ends_with_status_3(self):
        md = os.path.join(self.dir.name, "t.md")
        first = "nested (64x64x64, 1 thread): 15 of 15 repetitions failed: build: out of memory"
        some = ("flat_vector (64x64x64, 1 thread): 2 of 15 repetitions failed: sample process "
                "killed by signal 9 (Killed)")
        # What runs, and what the one line of its standard error says once all is written.
        cases = {"--markdown": ([PARTLY, "--markdown", md], None,
                                "2 of 10 cases (1 in every repetition, 1 in some)", first),
                 "beside another": ([HAND, PARTLY, "--label", "a", "--label", "b"], None,
                                    "2 of 19 cases (1 in every repetition, 1 in some)",
                                    "b: " + first),
                 "some failed": (["-"], lambda b: "nested/" not in b["run_name"],
                                 "1 of 9 cases (1 in some)", some)}
        for what, (args, keep, failures, said) in cases.items():
            with self.subTest(what):
                out = report(*args, stdin=keep and with_benchmarks(PARTLY, keep))
                self.assertEqual((out.returncode, out.stdout == "", out.stderr), (
                    3, what == "--markdown", f"voxgrid-report: failures in {failures}, marked in "
                    f"the tables; the first, {said}\n"))
        out = self.run_ok(PARTLY)
        with open(md, encoding="utf-8") as f:
            self.assertEqual(f.read(), out)
        # flat_vector is marked in the main table, the three rankings and the costs, the mark
        # said in full under each kind; nested, failed throughout, shows in the first only.
        for i, found in enumerate(tables(out)[:5]):
            names = [r.get("case", r.get("layout")) for r in found]
            self.assertIn("flat_vector †1", names)
            self.assertEqual("nested" in map(plain, names), i == 0)
        footnote = f"\n\n†1 {some}; its figures are the other 13 repetitions'.\n"
        self.assertEqual(out.count(footnote), 3)
        for said in ("Not ranked", "Not costed"):
            self.assertIn(f"\n\n{said}, every repetition failed: nested (64x64x64, 1 thread).\n",
                          out)

    def test_a_case_with_too_few_huge_pages_is_warned_of(self):
        line = ("⚠ {} (64x64x64, 1 thread) had {} % of its grid in 2 MiB pages (the median "
                "share; under 90 % is too few): its figures are not those of huge pages "
                "(THP madvise).")
        # The case, each good repetition's share in turn, and the warning its row carries.
        cases = {"just under": ("hugepage_tables", [0.899], "only 89 %"),
                 "enough": ("hugepage_tables", [0.9], None),
                 "most samples had them": ("hugepage_tables", [1.0, 1.0, 0.0], None),
                 "most samples had not": ("hugepage_tables", [0.0, 0.0, 1.0], "only 0 %"),
                 "the 2 MiB floor": ("floor/pages:2m", [0.5], "only 50 %")}
        for what, (case, shares, warned) in cases.items():
            with self.subTest(what):
                data = json.loads(with_benchmarks(PARTLY))
                for b in data["benchmarks"]:  # the fixture's 0.0 of hugepage_tables set aside
                    if "huge_pages" in b:
                        b["huge_pages"] = 1.0
                reps = [b for b in data["benchmarks"] if b["run_name"].startswith(case + "/")
                        and b["run_type"] == "iteration" and not b.get("error_occurred")]
                for i, b in enumerate(reps):
                    b["huge_pages"] = shares[i % len(shares)]
                out = report("-", stdin=json.dumps(data)).stdout
                rows = {plain(r["case"]): r["case"] for r in tables(out)[0]}
                self.assertEqual(rows[case], case + (f" ⚠ {warned} in huge pages" if warned
                                                     else ""))
                said = [x for x in out.split("\n\n") if x.startswith("⚠ ")]
                self.assertEqual(said, [line.format(case, warned[5:-2])] if warned else [])

    def test_a_file_standard_input_and_a_directory_give_the_same_tables(self):
        for name in ("b.json", "a.json"):
            shutil.copy(HAND if name == "a.json" else NONE, os.path.join(self.dir.name, name))
        with open(os.path.join(self.dir.name, "notes.txt"), "w", encoding="utf-8") as f:
            f.write("not a report")
        with open(HAND, encoding="utf-8") as f:
            text = f.read()
        files = self.run_ok(HAND, NONE, "--label", "a", "--label", "b")
        self.assertEqual(self.run_ok(self.dir.name, "--label", "a", "--label", "b"), files)
        self.assertEqual(self.run_ok("-", NONE, "--label", "a", "--label", "b", stdin=text), files)
        self.assertEqual({r["run"] for r in tables(files)[0]}, {"a", "b"})
        empty = os.path.join(self.dir.name, "empty")
        os.mkdir(empty)
        out = report(empty)
        self.assertEqual((out.returncode, out.stdout), (1, ""))
        self.assertEqual(out.stderr, f"voxgrid-report: {empty}: no reports (*.json) in it\n")

    def test_a_chart_without_matplotlib_is_one_line_and_no_output(self):
        fake = os.path.join(self.dir.name, "fake", "matplotlib")
        os.makedirs(fake)
        with open(os.path.join(fake, "__init__.py"), "w", encoding="utf-8") as f:
            f.write("raise ImportError('no matplotlib here')\n")
        env = dict(os.environ, PYTHONPATH=os.path.dirname(fake))
        png, md = (os.path.join(self.dir.name, n) for n in ("c.png", "c.md"))
        out = report(EVERY, "--png", png, "--markdown", md, env=env)
        self.assertEqual((out.returncode, out.stdout), (1, ""))
        self.assertRegex(out.stderr, r"\Avoxgrid-report: [^\n]*needs matplotlib "
                                     r"\(Debian: python3-matplotlib\)\n\Z")
        self.assertEqual(sorted(os.listdir(self.dir.name)), ["fake"])
        self.assertEqual(report(EVERY, "--markdown", md, env=env).returncode, 0)
        self.assertTrue(os.path.exists(md))

    def test_what_is_not_a_suite_report_gets_one_line_and_status_1(self):
        with open(NONE, encoding="utf-8") as f:
            old = json.load(f)
        for b in old["benchmarks"]:
            del b["build_ms"]
        bad = {"not JSON": "{", "no benchmarks": '{"context": {}}', "no cases": '{"benchmarks": []}',
               "older build": json.dumps(old), "not an object": "[1, 2]"}
        for what, text in bad.items():
            with self.subTest(what):
                out = report("-", stdin=text)
                self.assertEqual((out.returncode, out.stdout), (1, ""))
                self.assertRegex(out.stderr, r"\Avoxgrid-report: -: [^\n]+\n\Z")
        self.assertIn("build_ms", report("-", stdin=bad["older build"]).stderr)

    def test_a_build_narrower_than_the_cpu_is_noted(self):
        note = ("⚠ built for {} while the CPU offers {}: the sweeps and ceilings are a portable "
                "build's; the native preset builds for this CPU.")
        # (build_isa, cpu_isa): noted; None: a report from before the suite named them.
        cases = {("sse2", "avx512f"): True, ("avx", "avx2"): True, ("avx2", "avx512f"): True,
                 ("neon", "sve2"): True, ("scalar", "sse2"): True, ("avx2", "avx2"): False,
                 ("avx512f", "avx2"): False, ("sve", "neon"): False, ("sse2", "sve"): False,
                 (None, "avx512f"): False, ("sse2", None): False, (None, None): False}
        for (build, cpu), noted in cases.items():
            with self.subTest(build=build, cpu=cpu):
                out = self.run_ok("-", stdin=with_benchmarks(HAND, build_isa=build, cpu_isa=cpu))
                self.assertEqual(note.format(build, cpu) in out, noted)
                self.assertEqual("⚠ built for" in out, noted)

    def test_reports_built_for_different_extensions_name_theirs_in_their_labels(self):
        plain = "hand · glibc 2.36 · THP madvise"
        # Each report's build_isa, the arguments, and the runs' labels as the table names them.
        cases = {"different": (("sse2", "avx512f"), [],
                               [f"{plain} · sse2", f"{plain} · avx512f"]),
                 "the same": (("avx2", "avx2"), [], [plain]),
                 "one older": ((None, "avx2"), [], [plain, f"{plain} · avx2"]),
                 "both older": ((None, None), [], [plain]),
                 "labelled": (("sse2", "avx512f"), ["--label", "a", "--label", "b"], ["a", "b"])}
        for what, (isas, args, labels) in cases.items():
            with self.subTest(what):
                paths = []
                for i, isa in enumerate(isas):
                    paths.append(os.path.join(self.dir.name, f"{i}.json"))
                    with open(paths[-1], "w", encoding="utf-8") as f:
                        f.write(with_benchmarks(HAND, build_isa=isa,
                                                cpu_isa="avx512f" if isa else None))
                out = self.run_ok(*paths, *args)
                self.assertEqual(list(dict.fromkeys(r["run"] for r in tables(out)[0])), labels)
                if what == "different":  # each note under its report's label
                    self.assertIn(f"{labels[0]}: ⚠ built for sse2 while the CPU offers avx512f",
                                  out)

    def test_what_a_page_fault_costs_from_the_4k_floor(self):
        heading = ("What a page fault costs (µs per fault: floor/pages:4k's fill ms × 1000 / its "
                   "faults, the medians), at each ")
        for path in (EVERY, HEAPS, HAND, NONE):
            with self.subTest(os.path.basename(path)):
                with open(path, encoding="utf-8") as f:
                    floors = [b for b in json.load(f)["benchmarks"]
                              if b["run_name"].startswith("floor/pages:4k/")]
                expected = {}  # (threads, heap): (faults, fill ms), the medians
                for name in {b["run_name"] for b in floors}:
                    mine = [b for b in floors if b["run_name"] == name]
                    median = [b for b in mine if b.get("aggregate_name") == "median"]
                    reps = [b for b in mine if b.get("run_type", "iteration") == "iteration"]
                    expected[(key(mine[0])[1], heap(mine[0]))] = (
                        (median[0]["faults"], median[0]["fill_ms"]) if median else
                        (statistics.median(b["faults"] for b in reps),
                         statistics.median(b["fill_ms"] for b in reps)))
                found = table_after(self.run_ok(path), heading)
                self.assertEqual(list(found[0]), ["threads"] + (["heap"] if path == HEAPS else [])
                                 + ["faults", "fill ms", "µs per fault"])
                self.assertEqual({(r["threads"], r.get("heap", "fresh")) for r in found},
                                 set(expected))
                for r in found:
                    faults, fill = expected[(r["threads"], r.get("heap", "fresh"))]
                    cost = fill * 1000 / faults
                    self.assertEqual(number(r["faults"]), faults)
                    self.assertAlmostEqual(number(r["µs per fault"]), cost,
                                           delta=0.005 * cost + 0.0051)
        # every.json at 1 thread, by hand: 0.805279 ms over 493 faults.
        self.assertEqual(table_after(self.run_ok(EVERY), heading)[0]["µs per fault"], "1.63")
        # Several reports: each has its rows, by run and shape.
        found = table_after(self.run_ok(EVERY, HAND, "--label", "a", "--label", "b"), heading)
        self.assertEqual([(r["run"], r["shape"], r["threads"]) for r in found], [
            ("a", "100x100x50", "1"), ("a", "100x100x50", "2"), ("b", "10x10x10", "1"),
            ("b", "10x10x10", "2")])
        # Without the floor, nothing to say.
        out = self.run_ok("-", stdin=with_benchmarks(HAND, lambda b: "floor/" not in b["name"]))
        self.assertNotIn("page fault", out)

    def test_a_markdown_that_fails_or_is_stopped_halfway_leaves_the_earlier_file_whole(self):
        md = os.path.join(self.dir.name, "t.md")
        earlier = "the earlier tables\n"
        # How each write ends: its status (-N: died by signal N), and its standard error.
        for what, (write, status, err) in failed_writes("--markdown", md, 1000, "write").items():
            with self.subTest(what):
                with open(md, "w", encoding="utf-8") as f:
                    f.write(earlier)
                out = write()
                self.assertEqual((out.returncode, out.stdout, out.stderr), (status, "", err))
                with open(md, encoding="utf-8") as f:
                    self.assertEqual(f.read(), earlier)
                self.assertEqual(os.listdir(self.dir.name), ["t.md"])  # no temporary left
        # A whole write takes its place, with the permissions the earlier file had.
        os.chmod(md, 0o640)
        self.assertEqual(report(EVERY, "--markdown", md).returncode, 0)
        with open(md, encoding="utf-8") as f:
            self.assertEqual(f.read(), self.run_ok(EVERY))
        self.assertEqual(os.stat(md).st_mode & 0o777, 0o640)
        self.assertEqual(os.listdir(self.dir.name), ["t.md"])
        # What is no regular file is written in place, and stays what it was.
        self.assertEqual(report(EVERY, "--markdown", "/dev/null").returncode, 0)
        out = report(EVERY, "--markdown", "/dev/full")
        self.assertEqual((out.returncode, out.stdout), (1, ""))
        self.assertEqual(out.stderr,
                         "voxgrid-report: cannot write /dev/full: No space left on device\n")
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/full").st_mode))

    def test_a_crossover_that_is_no_sweep_or_was_not_measured_gets_one_line_and_status_1(self):
        md = os.path.join(self.dir.name, "t.md")
        cases = {"unknown": (["--crossover=total", HEAPS], "not a sweep"),
                 "empty": (["--crossover=", HEAPS], "not a sweep"),
                 "not measured": (["--crossover=gather", EVERY], "not measured in this report"),
                 "in no report": (["--crossover", "lines_j", EVERY, NONE],
                                  "not measured in any of these reports"),
                 "no sweeps": (["--crossover=sum", NONE], "(its sweeps: none)")}
        for what, (args, said) in cases.items():
            with self.subTest(what):
                out = report(*args, "--markdown", md)
                self.assertEqual((out.returncode, out.stdout), (1, ""))
                self.assertRegex(out.stderr, r"\Avoxgrid-report: --crossover[= ][^\n]+\n\Z")
                self.assertIn(said, out.stderr)
                self.assertFalse(os.path.exists(md))


class Charts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        try:
            import matplotlib  # noqa: F401 pylint: disable=import-outside-toplevel,unused-import
        except ImportError:
            raise unittest.SkipTest("the chart tests need matplotlib "
                                    "(Debian: python3-matplotlib)") from None
        cls.dir = tempfile.TemporaryDirectory()
        cls.module = load_module()

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_the_chart_is_a_png_1600_pixels_wide(self):
        png = os.path.join(self.dir.name, "chart.png")
        out = report(EVERY, "--png", png, "--markdown", os.path.join(self.dir.name, "t.md"))
        self.assertEqual((out.returncode, out.stdout), (0, ""), out.stderr)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", head[16:24])
        self.assertEqual(width, 1600)
        self.assertGreater(height, 400)

    def test_a_chart_that_fails_or_is_stopped_halfway_leaves_the_earlier_file_whole(self):
        png = os.path.join(self.dir.name, "stopped", "c.png")
        os.makedirs(os.path.dirname(png))
        earlier = b"the earlier chart"
        for what, (draw, status, err) in failed_writes("--png", png, 20000, "chart").items():
            with self.subTest(what):
                with open(png, "wb") as f:
                    f.write(earlier)
                out = draw()
                self.assertEqual((out.returncode, out.stdout), (status, ""))
                self.assertTrue(out.stderr.endswith(err), out.stderr)
                with open(png, "rb") as f:
                    self.assertEqual(f.read(), earlier)
                self.assertEqual(os.listdir(os.path.dirname(png)), ["c.png"])
        # A whole chart takes its place, as a PNG though its temporary's name says nothing.
        self.assertEqual(report(EVERY, "--png", png).returncode, 0)
        with open(png, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
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

    def test_two_reports_share_one_chart_and_one_table_with_both_labels(self):
        reports = [self.module.Report(EVERY, "before"), self.module.Report(NONE, "after")]
        fig = self.module.chart(reports, os.path.join(self.dir.name, "two.png"))
        self.assertEqual([ax.get_title() for ax in fig.axes],
                         ["before", "after", "sum", "stencil", "after: no sweeps"])
        self.assertEqual(self.headings(fig), [[], ["before: sweeps"], []])
        self.assertEqual({r["run"] for r in tables(self.module.markdown(reports))[0]},
                         {"before", "after"})
        self.assert_labels_inside(fig)

    def test_the_rows_of_a_partly_failed_run_carry_their_marks(self):
        fig = self.module.chart([self.module.Report(PARTLY, None)],
                                os.path.join(self.dir.name, "partly.png"))
        for ax in fig.axes[:2]:  # creation and sum; the stencil shares the sum's row labels
            with self.subTest(ax.get_title()):
                labels = [t.get_text() for t in ax.get_yticklabels()]
                self.assertIn("flat_vector (2 of 15 failed)", labels)
                self.assertIn("hugepage_tables (⚠ 0 % huge pages)", labels)
                self.assertNotIn("nested", [x.split(" ")[0] for x in labels])
        self.assert_labels_inside(fig)

    def test_each_heap_has_a_band_with_a_panel_per_sweep(self):
        fig = self.module.chart([self.module.Report(HEAPS, "vm")],
                                os.path.join(self.dir.name, "heaps.png"))
        self.assertEqual([ax.get_title() for ax in fig.axes],
                         ["vm: fresh heap", "vm: aged heap"] + list(SWEEPS) * 2)
        self.assertEqual(self.headings(fig), [[], ["fresh heap: sweeps"], ["aged heap: sweeps"]])
        # A sweep's panels share a scale down the bands, so the heaps compare at a glance.
        panels = fig.axes[2:]
        for fresh, aged in zip(panels[:len(SWEEPS)], panels[len(SWEEPS):]):
            with self.subTest(fresh.get_title()):
                self.assertEqual(fresh.get_xlim(), aged.get_xlim())
        self.assert_labels_inside(fig)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    # Nothing but skips (a skipped class counts once, as no test run): CTest's SKIP_RETURN_CODE.
    sys.exit(77 if result.skipped and result.testsRun <= len(result.skipped) else 0)
