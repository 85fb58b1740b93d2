#!/usr/bin/python3
"""bench/outside-check's reading, its table and its failures, on committed output and
on stand-ins for likwid-bench and the suite: $CHECK names it.

fixtures/likwid-load_avx.txt: likwid-bench -t load_avx -w N:128000kB:2 (likwid 5.2.2)
  on the project's 2-core VM; the stand-in likwid-bench prints it for every kernel.
The suite's reports are written here, in the shape of voxgrid-suite's JSON: raw
repetitions (run_type "iteration") and Google Benchmark's aggregates beside them."""

import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import tempfile
import unittest

CHECK = os.environ["CHECK"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
PLAIN, STREAMING = "bandwidth/stores:plain", "bandwidth/stores:streaming"

# likwid-bench: -a lists the kernels of $FAKE_LIKWID's kind, -t prints the fixture.
FAKE_LIKWID = r'''#!/usr/bin/python3
import os, sys
kind = os.environ.get("FAKE_LIKWID", "ok")
if sys.argv[1:2] == ["-a"]:
    if kind == "broken":
        print("ERROR: cannot read the hardware topology", file=sys.stderr)
        sys.exit(1)
    for family in ("load", "store", "store_mem", "copy", "copy_mem"):
        for suffix in ("", "_sse", "_avx"):
            if kind != "empty" and (kind != "no-copy_mem" or family != "copy_mem"):
                print(f"{family}{suffix} - Double-precision kernel")
    sys.exit(0)
if kind == "fails":
    print("Running without Marker API.", file=sys.stderr)
    print("ERROR: cannot pin thread 0 to hwthread 0", file=sys.stderr)
    sys.exit(1)
with open(os.environ["FAKE_LIKWID_OUTPUT"], encoding="utf-8") as f:
    sys.stdout.write(f.read())
'''
# voxgrid-suite: records its arguments, prints $FAKE_SUITE_REPORT with the binding it
# was asked for, says $FAKE_SUITE_SAYS and exits $FAKE_SUITE_STATUS.
FAKE_SUITE = r'''#!/usr/bin/python3
import json, os, sys
with open(os.environ["FAKE_SUITE_CALLS"], "a", encoding="utf-8") as f:
    f.write(json.dumps(sys.argv[1:]) + "\n")
if os.environ.get("FAKE_SUITE_REPORT"):
    with open(os.environ["FAKE_SUITE_REPORT"], encoding="utf-8") as f:
        report = json.load(f)
    bind = next((a.split("=", 1)[1] for a in sys.argv if a.startswith("--bind=")), "inherit")
    report["context"]["thread_binding"] = f"OMP_PROC_BIND={bind}, OMP_PLACES=cores (--bind={bind})"
    json.dump(report, sys.stdout)
if os.environ.get("FAKE_SUITE_SAYS"):
    print(os.environ["FAKE_SUITE_SAYS"], file=sys.stderr)
sys.exit(int(os.environ.get("FAKE_SUITE_STATUS", "0")))
'''


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
            b = {"name": name, "run_name": name, "run_type": "iteration",
                 "repetitions": len(runs), "repetition_index": i, "threads": threads,
                 "iterations": 1, "real_time": 10.0 + i, "time_unit": "ms"}
            if "error" in run:
                b.update(error_occurred=True, error_message=run["error"])
            else:
                b.update(run)
            benchmarks.append(b)
        for aggregate in ("mean", "median", "stddev"):
            benchmarks.append({"name": f"{name}_{aggregate}", "run_name": name,
                               "run_type": "aggregate", "aggregate_name": aggregate,
                               **{counter: 99.0 for counter in runs[0] if counter != "error"}})
    return {"context": {"num_cpus": 2, "cpus": "0-1 (2 CPUs)"}, "benchmarks": benchmarks}


# Four repetitions of each ceiling at one thread: the medians of an even count.
GOOD = {(PLAIN, 1): [{"bytes_per_second": b * 1e9, "sum_gbs": s, "stencil_gbs": t}
                     for b, s, t in ((20, 24, 30), (22, 26, 10), (21, 25, 20), (23, 23, 40))],
        (STREAMING, 1): [{"bytes_per_second": b * 1e9} for b in (25, 27, 26, 24)]}
# Their medians, each the mean of the two middle values.
GOOD_MEDIANS = {"fill, plain stores": 21.5, "sum": 24.5, "stencil, as a copy": 25.0,
                "fill, streaming stores": 25.5}


def table_rows(text):
    """{(ceiling, threads): {column: cell}} of the check's Markdown table."""
    rows = [dict(zip(("ceiling", "threads", "suite", "kernel", "likwid", "ratio"),
                     (c.strip() for c in line.strip("|").split("|"))))
            for line in text.splitlines() if line.startswith("| ") and "---" not in line]
    return {(r["ceiling"], r["threads"]): r for r in rows if r["ceiling"] != "suite ceiling"}


class OutsideCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.m = load_module()
        cls.likwid_path = os.path.join(FIXTURES, "likwid-load_avx.txt")
        with open(cls.likwid_path, encoding="utf-8") as f:
            cls.likwid_text = f.read()
        cls.tmp = tempfile.mkdtemp(prefix="outside-check-test.")
        cls.bin = os.path.join(cls.tmp, "bin")
        os.mkdir(cls.bin)
        for name, text in (("likwid-bench", FAKE_LIKWID), ("voxgrid-suite", FAKE_SUITE)):
            with open(os.path.join(cls.bin, name), "w", encoding="utf-8") as f:
                f.write(text)
            os.chmod(os.path.join(cls.bin, name), 0o755)
        cls.reports = {}
        failed = dict(GOOD)
        failed[(PLAIN, 1)] = [GOOD[(PLAIN, 1)][0], {"error": "sample 2 was killed by signal 9"},
                              GOOD[(PLAIN, 1)][2], {"error": "sample 4 timed out"}]
        for name, repetitions in (("good", GOOD), ("failed", failed)):
            cls.reports[name] = os.path.join(cls.tmp, f"{name}.json")
            with open(cls.reports[name], "w", encoding="utf-8") as f:
                json.dump(suite_report(repetitions), f)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def run_check(self, args, **env):
        """The check as a user runs it, with the stand-ins first on PATH unless env says."""
        calls = os.path.join(self.tmp, "calls")
        if os.path.exists(calls):
            os.remove(calls)
        env = {**os.environ, "PATH": self.bin, "FAKE_LIKWID_OUTPUT": self.likwid_path,
               "FAKE_SUITE_CALLS": calls, "FAKE_SUITE_REPORT": self.reports["good"], **env}
        out = subprocess.run(["/usr/bin/python3", CHECK, *args], capture_output=True, text=True,
                             env=env, check=False, timeout=60)
        suite_calls = []
        if os.path.exists(calls):
            with open(calls, encoding="utf-8") as f:
                suite_calls = [json.loads(line) for line in f]
        return out, suite_calls

    def test_reads_likwids_rate_in_gb_per_second(self):
        rate = self.m.parse_likwid(self.likwid_text)
        self.assertIsNotNone(rate)
        mbytes = float(next(line.split()[-1] for line in self.likwid_text.splitlines()
                            if line.startswith("MByte/s:")))
        self.assertAlmostEqual(rate, mbytes / 1e3)
        self.assertIsNone(self.m.parse_likwid("ERROR: kernel not found\n"))

    def test_each_ceiling_is_held_against_the_best_kernel_of_its_family(self):
        suite = {(PLAIN, 1): {"bytes_per_second": 22.6e9, "sum_gbs": 22.8, "stencil_gbs": 12.7},
                 (PLAIN, 2): {"bytes_per_second": 27.6e9, "sum_gbs": 31.6, "stencil_gbs": 23.3},
                 (STREAMING, 1): {"bytes_per_second": 24.9e9},
                 (STREAMING, 2): {"bytes_per_second": 26.8e9}}
        likwid = {("load", 1): 20.0, ("load_avx", 1): 30.0, ("load_avx512", 1): 25.0,
                  ("store_avx", 1): 20.0, ("copy_avx", 1): 90.0, ("copy_mem_avx", 1): 40.0,
                  ("load_avx", 2): 60.0}
        by = table_rows(self.m.table(suite, likwid, [1, 2]))
        self.assertEqual(len(by), 8)
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
                self.assertEqual(row["kernel"], kernel)
                self.assertAlmostEqual(float(row["suite"]), ours, delta=0.051)
                self.assertAlmostEqual(float(row["ratio"].rstrip("×")), ours / theirs, delta=0.006)
        # No likwid kernel of a family at a thread count: the row says so, without a ratio.
        self.assertEqual((by[("fill, streaming stores", "2")]["kernel"],
                          by[("fill, streaming stores", "2")]["ratio"]), ("store_mem*", "–"))

    def test_a_suite_run_is_read_as_the_median_of_its_raw_repetitions(self):
        for values, median in (([9.0, 1.0, 5.0], 5.0),
                               ([4.0, 1.0, 3.0, 2.0], 2.5),  # even: the two middle ones' mean
                               ([7.0], 7.0),
                               ([3.0, 3.0, 8.0, 1.0, 9.0, 2.0], 3.0)):
            with self.subTest(values):
                report = suite_report({(PLAIN, 2): [{"sum_gbs": v} for v in values]})
                # Aggregates (99 here) are Google Benchmark's, not the repetitions' median.
                self.assertEqual(self.m.suite_rates(report)[(PLAIN, 2)]["sum_gbs"], median)

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

    def test_a_run_pins_the_suite_and_reads_its_repetitions(self):
        out, calls = self.run_check(["--suite", os.path.join(self.bin, "voxgrid-suite"),
                                     "--threads=1", "--runs=2"])
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(len(calls), 2)
        for args in calls:
            self.assertIn("--bind=close", args)
        self.assertIn("the suite's OMP_PROC_BIND=close, OMP_PLACES=cores (--bind=close)",
                      out.stdout)
        theirs = self.m.parse_likwid(self.likwid_text)
        by = table_rows(out.stdout)
        for ceiling, ours in GOOD_MEDIANS.items():
            with self.subTest(ceiling):
                self.assertEqual(float(by[(ceiling, "1")]["suite"]), ours)
                self.assertAlmostEqual(float(by[(ceiling, "1")]["likwid"]), theirs, delta=0.051)

    def test_each_failure_gets_one_line_and_status_1(self):
        suite = os.path.join(self.bin, "voxgrid-suite")
        run = ["--suite", suite, "--threads=1", "--runs=1"]
        for args, env, says in (
                (["--threads=0"], {"PATH": "/nonexistent"}, "bad --threads '0'"),
                (["--threads=1,x"], {"PATH": "/nonexistent"}, "bad --threads '1,x'"),
                (["--threads=2,2"], {"PATH": "/nonexistent"}, "bad --threads '2,2'"),
                (["--working-set=lots"], {"PATH": "/nonexistent"}, "bad --working-set 'lots'"),
                (["--working-set=0MB"], {"PATH": "/nonexistent"}, "bad --working-set '0MB'"),
                (["--runs=0"], {"PATH": "/nonexistent"}, "bad --runs '0'"),
                (["--runs=x"], {"PATH": "/nonexistent"}, "bad --runs 'x'"),
                (["--rounds=3"], {"PATH": "/nonexistent"}, "unrecognized arguments: --rounds=3"),
                ([], {"PATH": "/nonexistent"}, "likwid-bench is not installed (Debian: likwid)"),
                (run, {"FAKE_LIKWID": "fails"}, "likwid-bench -t load with 1 thread(s) exited "
                 "with status 1: ERROR: cannot pin thread 0 to hwthread 0"),
                (run, {"FAKE_LIKWID": "broken"}, "likwid-bench -a exited with status 1: "
                 "ERROR: cannot read the hardware topology"),
                (run, {"FAKE_LIKWID": "empty"}, "likwid-bench offers no store kernel (store, "
                 "store_sse, store_avx, store_avx512): nothing to hold the fill, plain stores"),
                (run, {"FAKE_LIKWID": "no-copy_mem"}, "likwid-bench offers no copy_mem kernel"),
                (run, {"FAKE_SUITE_REPORT": self.reports["failed"], "FAKE_SUITE_STATUS": "1",
                       "FAKE_SUITE_SAYS": "voxgrid-suite: 1 of 2 cases failed; first: ..."},
                 f"{PLAIN} at threads:1 failed 2 of 4 repetitions: "
                 "sample 2 was killed by signal 9"),
                # Failed repetitions are a failure even where the suite's status hides them.
                (run, {"FAKE_SUITE_REPORT": self.reports["failed"]},
                 f"{PLAIN} at threads:1 failed 2 of 4 repetitions"),
                (run, {"FAKE_SUITE_REPORT": "", "FAKE_SUITE_STATUS": "1",
                       "FAKE_SUITE_SAYS": "voxgrid-suite: unknown flag --bind=close"},
                 f"{suite} exited with status 1: voxgrid-suite: unknown flag --bind=close"),
                (run, {"FAKE_SUITE_REPORT": ""}, f"{suite} wrote no JSON report"),
                (["--suite", suite, "--threads=1,2", "--runs=1"], {},
                 f"{suite} reported no {PLAIN} at threads:2 (its CPUs: 0-1 (2 CPUs))")):
            with self.subTest(args=args, env=env):
                out, calls = self.run_check(args, **env)
                self.assertEqual(out.returncode, 1, out.stderr)
                self.assertEqual(out.stdout, "")
                self.assertEqual(out.stderr.count("\n"), 1, out.stderr)
                self.assertIn(says, out.stderr)
                for suite_args in calls:
                    self.assertIn("--bind=close", suite_args)


if __name__ == "__main__":
    unittest.main()
