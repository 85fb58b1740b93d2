#!/usr/bin/python3
"""bench/outside-check's reading, its table and its failures, on stand-ins for
likwid-bench and the suite: $CHECK names it.

fixtures/likwid-load_avx.txt: likwid-bench -t load_avx -w N:128000kB:2 (likwid 5.2.2)
  on the project's 2-core VM; the stand-in likwid-bench prints it for every kernel."""

import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from markdown_tables import tables

CHECK = os.environ["CHECK"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
PLAIN, STREAMING = "bandwidth/stores:plain", "bandwidth/stores:streaming"
LIKWID_OUTPUT = os.path.join(FIXTURES, "likwid-load_avx.txt")  # MByte/s: 51081.73

# likwid-bench: -a lists one kernel of each family but $FAKE_LIKWID_LACKS, -t prints
# the fixture; the mode $FAKE_LIKWID_FAILS names exits 1.
FAKE_LIKWID = r"""#!/usr/bin/python3
import os, sys
if sys.argv[1] == os.environ.get("FAKE_LIKWID_FAILS"):
    print("Running without Marker API.", file=sys.stderr)
    sys.exit("ERROR: cannot pin thread 0 to hwthread 0")
if sys.argv[1] == "-a":
    for family in ("load", "store", "store_mem", "copy", "copy_mem"):
        if family != os.environ.get("FAKE_LIKWID_LACKS"):
            print(f"{family}_avx - Double-precision kernel")
else:
    with open(os.environ["FAKE_LIKWID_OUTPUT"], encoding="utf-8") as f:
        sys.stdout.write(f.read())
"""
# voxgrid-suite: refuses to run unpinned; prints $FAKE_SUITE_REPORT, its aggregates only
# unless asked for every repetition, as the suite does; says $FAKE_SUITE_SAYS and exits
# $FAKE_SUITE_STATUS.
FAKE_SUITE = r"""#!/usr/bin/python3
import json, os, sys
if "--bind=close" not in sys.argv:
    sys.exit("voxgrid-suite: run without --bind=close")
if os.environ["FAKE_SUITE_REPORT"]:
    with open(os.environ["FAKE_SUITE_REPORT"], encoding="utf-8") as f:
        report = json.load(f)
    if "--benchmark_display_aggregates_only=false" not in sys.argv:
        report["benchmarks"] = [b for b in report["benchmarks"] if b["run_type"] == "aggregate"]
    json.dump(report, sys.stdout)
print(os.environ.get("FAKE_SUITE_SAYS", ""), file=sys.stderr)
sys.exit(int(os.environ.get("FAKE_SUITE_STATUS", "0")))
"""


def load_module():
    loader = importlib.machinery.SourceFileLoader("outside_check", CHECK)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


def suite_report(repetitions):
    """A suite report: {(case, threads): [counters, or {"error": message}, ...]} as raw
    repetitions, each case followed by aggregates that are not its median (99)."""
    benchmarks = []
    for (case, threads), runs in repetitions.items():
        name = f"{case}/shape:400x800x100/threads:{threads}/manual_time"
        for i, run in enumerate(runs):
            counters = ({"error_occurred": True, "error_message": run["error"]} if "error" in run
                        else run)
            benchmarks.append({"name": name, "run_name": name, "run_type": "iteration",
                               "repetition_index": i, "iterations": 1, **counters})
        benchmarks += [{"name": f"{name}_{what}", "run_name": name, "run_type": "aggregate",
                        "aggregate_name": what, **{counter: 99.0 for counter in runs[0]}}
                       for what in ("mean", "median", "stddev")]
    return {"context": {"cpus": "0-1 (2 CPUs)",
                        "thread_binding": "OMP_PROC_BIND=close (--bind=close)"},
            "benchmarks": benchmarks}


# Four repetitions of each ceiling at one thread: the medians of an even count.
GOOD = {(PLAIN, 1): [{"bytes_per_second": b * 1e9, "sum_gbs": s, "stencil_gbs": t}
                     for b, s, t in ((20, 24, 30), (22, 26, 10), (21, 25, 20), (23, 23, 40))],
        (STREAMING, 1): [{"bytes_per_second": b * 1e9} for b in (25, 27, 26, 24)]}
# Their medians, each the mean of the two middle values.
GOOD_MEDIANS = {"fill, plain stores": 21.5, "sum": 24.5, "stencil, as a copy": 25.0,
                "fill, streaming stores": 25.5}


def table_rows(text):
    """{(ceiling, threads): {column: cell}} of the check's Markdown tables."""
    return {(r["suite ceiling"], r["threads"]): r for t in tables(text.splitlines()) for r in t}


class OutsideCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.m = load_module()
        cls.tmp = tempfile.mkdtemp(prefix="outside-check-test.")
        failed = dict(GOOD)  # the plain ceiling's second and fourth repetitions failed
        failed[(PLAIN, 1)] = [GOOD[(PLAIN, 1)][0], {"error": "sample 2 was killed by signal 9"},
                              GOOD[(PLAIN, 1)][2], {"error": "sample 4 timed out"}]
        for name, text in (("likwid-bench", FAKE_LIKWID), ("voxgrid-suite", FAKE_SUITE),
                           ("good.json", json.dumps(suite_report(GOOD))),
                           ("failed.json", json.dumps(suite_report(failed)))):
            with open(os.path.join(cls.tmp, name), "w", encoding="utf-8") as f:
                f.write(text)
            os.chmod(os.path.join(cls.tmp, name), 0o755)
        cls.suite = os.path.join(cls.tmp, "voxgrid-suite")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def run_check(self, *args, **env):
        """The check as a user runs it, with the stand-ins first on PATH unless env says."""
        env = {**os.environ, "PATH": self.tmp, "FAKE_LIKWID_OUTPUT": LIKWID_OUTPUT,
               "FAKE_SUITE_REPORT": os.path.join(self.tmp, "good.json"), **env}
        return subprocess.run(["/usr/bin/python3", CHECK, *args], capture_output=True, text=True,
                              env=env, check=False, timeout=60)

    def test_each_ceiling_is_held_against_the_best_kernel_of_its_family(self):
        suite = {(PLAIN, 1): {"bytes_per_second": 22.6e9, "sum_gbs": 22.8, "stencil_gbs": 12.7},
                 (PLAIN, 2): {"sum_gbs": 31.6}, (STREAMING, 2): {"bytes_per_second": 26.8e9}}
        likwid = {("load", 1): 20.0, ("load_avx", 1): 30.0, ("load_avx512", 1): 25.0,
                  ("store_avx", 1): 20.0, ("copy_avx", 1): 90.0, ("copy_mem_avx", 1): 40.0,
                  ("load_avx", 2): 60.0}
        by = table_rows(self.m.table(suite, likwid, [1, 2]))
        self.assertEqual(len(by), 16)
        cases = [  # ceiling, threads, the suite's rate as counted, likwid kernel and rate
            ("sum", "1", 22.8, "load_avx", 30.0),
            ("sum", "2", 31.6, "load_avx", 60.0),
            ("fill, plain stores", "1", 22.6, "store_avx", 20.0),
            # a copy with non-temporal stores, as the ceiling's stencil makes; not a plain
            # copy; its 8 bytes per element taken as the suite reports them
            ("stencil, as a copy", "1", 12.7, "copy_mem_avx", 40.0),
        ]
        for ceiling, threads, ours, kernel, theirs in cases:
            with self.subTest(ceiling, threads=threads):
                row = by[(ceiling, threads)]
                self.assertEqual(row["likwid kernel"], kernel)
                self.assertAlmostEqual(float(row["suite GB/s"]), ours, delta=0.051)
                self.assertAlmostEqual(float(row["ratio"].rstrip("×")), ours / theirs, delta=0.006)
        # Each sweep's target at its thread count, and whether the ratio reaches it.
        self.assertEqual(by[("sum", "1")]["target"], "≥ 0.90× not met")
        self.assertEqual(by[("stencil, as a copy", "2")]["target"], "≥ 0.80×")
        suite[(PLAIN, 1)]["lines_i_gbs"] = 21.5
        self.assertEqual(table_rows(self.m.table(suite, likwid, [1]))[("lines_i", "1")]["target"],
                         "≥ 0.70× met")
        # No likwid kernel of a family at a thread count: the row says so, without a ratio.
        row = by[("fill, streaming stores", "2")]
        self.assertEqual((row["likwid kernel"], row["ratio"]), ("store_mem*", "–"))

    def test_the_suite_is_read_as_the_median_of_its_rounds(self):
        key = (PLAIN, 1)
        rounds = [{key: {"sum_gbs": v, "stencil_gbs": 2 * v, "name": "x"}} for v in (9.0, 1.0, 5.0)]
        rounds[1][(PLAIN, 2)] = {"sum_gbs": 7.0}  # a case one round lacks
        rounds.append({key: {"sum_gbs": 2.0, "stencil_gbs": 4.0}})
        self.assertEqual(self.m.medians(rounds),
                         {key: {"sum_gbs": 3.5, "stencil_gbs": 7.0}, (PLAIN, 2): {"sum_gbs": 7.0}})

    def test_the_grid_follows_the_working_set(self):
        for size, shape in (("128MB", "400x800x100"), ("64MB", "400x800x50"),
                            ("1GB", "400x800x781"), ("500kB", "400x800x3")):
            with self.subTest(size):
                self.assertEqual(self.m.grid_for(self.m.parse_size(size))[0], shape)

    def test_a_run_reads_the_median_of_the_suites_raw_repetitions_and_likwids_gb_per_s(self):
        # The stand-in suite fails unless pinned with --bind=close, here and below.
        out = self.run_check("--suite", self.suite, "--threads=1", "--runs=2")
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertIn("the suite's OMP_PROC_BIND=close (--bind=close)", out.stdout)
        by = table_rows(out.stdout)
        for ceiling, ours in GOOD_MEDIANS.items():
            with self.subTest(ceiling):
                self.assertEqual((float(by[(ceiling, "1")]["suite GB/s"]),
                                  by[(ceiling, "1")]["likwid GB/s"]), (ours, "51.1"))

    def test_each_failure_gets_one_line_and_status_1(self):
        run = ["--suite", self.suite, "--threads=1", "--runs=1"]
        failed = os.path.join(self.tmp, "failed.json")
        cases = [([arg], {}, "bad {} '{}'".format(*arg.split("="))) for arg in (
            "--threads=0", "--threads=1,x", "--threads=2,2", "--working-set=lots",
            "--working-set=0MB", "--runs=0", "--runs=x")] + [
            (["--rounds=3"], {}, "unrecognized arguments: --rounds=3"),
            ([], {"PATH": "/nonexistent"}, "likwid-bench is not installed (Debian: likwid)"),
            (run, {"FAKE_LIKWID_FAILS": "-t"}, "likwid-bench -t load_avx with 1 thread(s) "
             "exited with status 1: ERROR: cannot pin thread 0 to hwthread 0"),
            (run, {"FAKE_LIKWID_FAILS": "-a"}, "likwid-bench -a exited with status 1: ERROR"),
            (run, {"FAKE_LIKWID_OUTPUT": os.devnull}, "likwid-bench -t load_avx with 1 thread(s) "
             "gave no MByte/s line"),
            (run, {"FAKE_LIKWID_LACKS": "copy_mem"}, "likwid-bench offers no copy_mem kernel "
             "(copy_mem, copy_mem_sse, copy_mem_avx, copy_mem_avx512): nothing to hold the "
             "stencil, as a copy against"),
            # Failed repetitions are said before the status they lead to, and are a failure
            # even where the status hides them.
            (run, {"FAKE_SUITE_REPORT": failed, "FAKE_SUITE_STATUS": "1"},
             f"{PLAIN} at threads:1 failed 2 of 4 repetitions: sample 2 was killed by signal 9"),
            (run, {"FAKE_SUITE_REPORT": failed}, f"{PLAIN} at threads:1 failed 2 of 4"),
            (run, {"FAKE_SUITE_REPORT": "", "FAKE_SUITE_STATUS": "1",
                   "FAKE_SUITE_SAYS": "voxgrid-suite: unknown flag --bind=close"},
             f"{self.suite} exited with status 1: voxgrid-suite: unknown flag --bind=close"),
            (run, {"FAKE_SUITE_REPORT": ""}, f"{self.suite} wrote no JSON report"),
            (["--suite", self.suite, "--threads=1,2", "--runs=1"], {},
             f"{self.suite} reported no {PLAIN} at threads:2 (its CPUs: 0-1 (2 CPUs))")]
        for args, env, says in cases:
            with self.subTest(args=args, env=env):
                out = self.run_check(*args, **env)
                self.assertEqual((out.returncode, out.stdout, out.stderr.count("\n")), (1, "", 1),
                                 out.stderr)
                self.assertIn(says, out.stderr)


if __name__ == "__main__":
    unittest.main()
