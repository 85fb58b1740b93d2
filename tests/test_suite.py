#!/usr/bin/python3
"""Runs voxgrid-suite briefly, one sample of one case per benchmark at the
default shape, and checks its JSON field by field. $SUITE names the suite."""

import ctypes
import importlib.machinery
import importlib.util
import json
import os
import pty
import re
import subprocess
import tempfile
import unittest

SUITE = os.environ["SUITE"]
FILTER = "threads:1/|team_of_4"  # every case of the suite once, at one thread or its own team
CREATION = {"build_ms", "fill_ms", "release_ms", "faults", "blocks", "bytes_per_second"}
SWEEPS = {"sum": 4, "stencil": 12}  # the default sweeps: bytes moved per grid element
CEILING = "bandwidth/stores:plain"  # whose stencil streams its stores: 8 bytes, not 12
# Every sweep: its rate counter and what one grid element (or, for gather, one point) adds to it.
ALL_SWEEPS = {"sum": ("gbs", 4), "stencil": ("gbs", 12), "lines_j": ("gbs", 4),
              "lines_i": ("gbs", 4), "gather": ("mpts", 1e3)}
# With several fields a voxel, two more: bytes per value, and what a pass must move in
# grids of one field (N fields read; N read, written and the written lines read first).
FIELD_SWEEPS = {"fields": (4, lambda n: n), "stream": (12, lambda n: 3 * n)}
# Heap blocks per sample at 400x800x100: one per row and per pointer array for
# the nested layouts (vector3d also builds a prototype slice and row), one flat
# block, three for the pointer tables (under every memory), one from std::allocator
# for Boost's multi_array; Eigen's Tensor takes its block from malloc, past the
# count; every other index rule one block, and morton its three tables;
# OpenVDB a node and a block of values per 8^3 leaf (65,000) and 75 nodes above;
# the ceiling allocates nothing timed.
BLOCKS = {"nested": 320401, "flat_three_loops": 1, "flat_one_index": 1, "vector3d": 321203,
          "flat_vector": 1, "flat_parallel_zero": 1, "row_major": 1, "padded": 1, "tables": 3,
          "bricks_4": 1, "bricks_8": 1, "morton": 4,
          "boost_multi_array": 1, "eigen_tensor": 0, "openvdb": 130075, "floor": 1, "bandwidth": 0}


def case(benchmark):
    """The case's name as the context's case lists give it: without its shape, threads
    and time suffix."""
    return benchmark["name"].split("/shape:")[0]


def names(context, key):
    """A comma-separated list of the context's."""
    return context[key].split(",")


def sample_overhead():
    """bench/sample-overhead as a module, to read the marks as it reads them."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench",
                        "sample-overhead")
    loader = importlib.machinery.SourceFileLoader("sample_overhead", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


def run_suite(*args, env=None):
    return subprocess.run([SUITE, "--benchmark_filter=" + FILTER, "--samples=1", "--passes=2",
                           "--benchmark_repetitions=1", "--benchmark_format=json", *args],
                          capture_output=True, text=True, env=env, check=False, timeout=120)


class SuiteJson(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Every memory, so that every crossed case of the table runs too.
        cls.run_ = run_suite("--memory=all")
        cls.report = json.loads(cls.run_.stdout)

    def test_standard_output_is_one_json_document_and_nothing_else(self):
        self.assertEqual(self.run_.returncode, 0, self.run_.stderr)
        self.assertRegex(self.run_.stdout, r"(?s)\A{.*}\n\Z")
        ran = [case(b) for b in self.report["benchmarks"]]
        self.assertEqual(sorted(ran), sorted(set(ran)))
        # The filter selects every int32 case in the suite's order, each once; only what the
        # context says was not built, or not run here, may be missing.
        context = self.report["context"]
        order = names(context, "case_order")
        self.assertEqual(len(order), len(set(order)), order)
        self.assertLessEqual(set(names(context, "sweeping_cases")), set(order))
        not_built = {n.split(" (")[0] for n in context.get("not_built", "").split("; ")}
        left_out = {c for c in order if c in context or c.split("/")[0] in not_built}
        left_out |= set(names(context, "field_cases"))  # a voxel here holds one value
        self.assertEqual(set(ran), set(order) - left_out)
        self.assertIn("bandwidth/stores:streaming", ran)

    def test_each_case_reports_its_steps_faults_and_blocks(self):
        sweeping = names(self.report["context"], "sweeping_cases")
        self.assertIn(CEILING, sweeping)  # the sweeps' ceiling
        for b in self.report["benchmarks"]:
            with self.subTest(b["name"]):
                self.assertFalse(b.get("error_occurred", False), b.get("error_message"))
                self.assertEqual(b["time_unit"], "ms")
                steps = b["build_ms"] + b["fill_ms"] + b["release_ms"]
                self.assertAlmostEqual(steps, b["real_time"], delta=0.03 * b["real_time"])
                self.assertEqual(b["blocks"], BLOCKS[b["name"].split("/")[0]])
                roofs = {c for c in b if c.startswith("roof_")}
                sweeps = {c for c in b if c.endswith(("_ms", "_gbs", "_bytes"))} - CREATION - roofs
                if case(b) in sweeping:
                    self.assertEqual(sweeps, {f"{s}_{u}" for s in SWEEPS
                                              for u in ("ms", "gbs", "bytes")})
                    for s, bytes_per_element in SWEEPS.items():
                        if s == "stencil" and case(b) == CEILING:
                            bytes_per_element = 8
                        self.assertAlmostEqual(b[f"{s}_gbs"], bytes_per_element * 32e6 / (
                            b[f"{s}_ms"] * 1e6), delta=1e-6 * b[f"{s}_gbs"])
                        # What a pass must move from memory: the grid's 128 MB once, or
                        # for the stencil three times (twice where its stores stream).
                        self.assertEqual(b[f"{s}_bytes"], bytes_per_element // 4 * 128e6)
                else:
                    self.assertEqual(sweeps, set())
                # The machine's roofs, on the ceiling alone.
                self.assertEqual(roofs, {"roof_load_gbs", "roof_copy_gbs",
                                         "roof_copy_streaming_gbs"} if case(b) == CEILING
                                 else set())
                self.assertGreaterEqual(b["faults"], 0)
                self.assertAlmostEqual(b["bytes_per_second"], 128e6 / (b["real_time"] * 1e-3),
                                       delta=1e-6 * b["bytes_per_second"])
                self.assertRegex(b["name"], r"/shape:400x800x100(/threads:1)?/manual_time$")

    def test_context_names_what_moves_the_figures(self):
        context = self.report["context"]
        with open("/sys/kernel/mm/transparent_hugepage/enabled", encoding="ascii") as f:
            self.assertEqual(context["thp_enabled"], re.search(r"\[(\w+)\]", f.read()).group(1))
        self.assertRegex(context["allocator"], r"^glibc \d+\.\d+")
        self.assertIn("libgomp", context["openmp_runtime"])
        self.assertEqual(context["samples_per_iteration"], "1")
        self.assertEqual((context["sweeps"], context["passes_per_sample"]), ("sum,stencil", "2"))
        self.assertEqual(context["heap"], "fresh")
        orders = (("scalar", "sse2", "avx", "avx2", "avx512f"), ("scalar", "neon", "sve", "sve2"))
        # The suite's tables, which the report reads from here.
        self.assertEqual(orders, tuple(("scalar", *o.split("<"))
                                       for o in context["isa_orders"].split("; ")))
        self.assertEqual(names(context, "sweep_names"), list(ALL_SWEEPS) + list(FIELD_SWEEPS))
        self.assertEqual([e.split(": ", 1)[0] for e in context["sweep_reads"].split("; ")],
                         list(ALL_SWEEPS) + list(FIELD_SWEEPS))
        self.assertIn("{points}", context["sweep_reads"])
        self.assertLessEqual({"int32", "uint8", "double"}, set(names(context, "element_types")))
        self.assertEqual(context["huge_page_threshold"], "0.9")
        self.assertLessEqual({"floor/pages:2m", "tables/memory:huge"},
                             set(names(context, "huge_page_cases")))
        build, cpu = context["build_isa"], context["cpu_isa"]
        self.assertTrue(any(build in o and cpu in o for o in orders), (build, cpu))
        # The build's warning when it targets less than the CPU offers, and only then.
        narrower = any(build in o and cpu in o and o.index(build) < o.index(cpu) for o in orders)
        self.assertEqual(self.run_.stderr.count("warning: built for "), int(narrower))
        self.assertNotIn("heap_recipe", context)
        self.assertNotIn("gather_points", context)
        self.assertRegex(context["cpus"], r"\(\d+ CPUs\)$")
        self.assertRegex(context["thread_binding"], r"\(from the environment\)$")
        self.assertRegex(context["sample_order"], r"^interleaved: round r takes repetition r of "
                                                  r"every case, in an order shuffled .* seed 0x")
        self.assertRegex(context["bytes_per_element"], r"stencil: 12 .*stencil: 8 ")
        self.assertRegex(context["roof_kernels"], r"^roof_load_gbs: .*; roof_copy_gbs: .*; "
                                                  r"roof_copy_streaming_gbs: ")
        self.assertRegex(context["sample_timeout"], r"^from each sample's plan: 60 s \+ .*; at "
                                                    r"most \d+(\.\d+)? s in this run$")
        for name, key in (("boost_multi_array", "boost_version"), ("eigen_tensor", "eigen_version"),
                          ("openvdb", "openvdb_version")):
            if name in context.get("not_built", ""):
                self.assertNotIn(key, context)
            else:
                self.assertRegex(context[key], r"^\d+\.\d+\.\d+$")
        self.assertIn(context["assertions"], ("on", "off"))
        self.assertEqual(self.run_.stderr.count("assertions are on"),
                         int(context["assertions"] == "on"))

    def test_without_sweeps_the_report_is_creation_only(self):
        run = run_suite("--sweeps=none", "--benchmark_filter=nested/.*threads:1|pages:4k/.*threads:1")
        self.assertEqual(run.returncode, 0, run.stderr)
        report = json.loads(run.stdout)
        self.assertEqual(report["context"]["sweeps"], "none")
        for b in report["benchmarks"]:
            counters = {k for k, v in b.items() if k.endswith(("_ms", "_gbs"))} | (
                {"faults", "blocks", "bytes_per_second"} & set(b))
            self.assertEqual(counters, CREATION, b["name"])

    def test_every_sweep_under_both_heaps(self):
        points = 3000
        run = run_suite("--shape=30x20x10", "--sweeps=all", "--heap=fresh,aged",
                        f"--points={points}", "--heap-freed=0.25",
                        "--benchmark_filter=(nested|flat_vector|floor/pages:4k|stores:plain)/"
                        ".*threads:1")
        self.assertEqual(run.returncode, 0, run.stderr)
        report = json.loads(run.stdout)
        context = report["context"]
        self.assertEqual((context["sweeps"], context["heap"], context["gather_points"]),
                         ("sum,stencil,lines_j,lines_i,gather", "fresh,aged", str(points)))
        self.assertRegex(context["heap_recipe"],
                         r"^seed 0x[0-9a-f]+; blocks of 16-1024 B.*; 25 % of them freed")
        by_name = {b["name"]: b for b in report["benchmarks"]}
        for case_ in ("nested", "flat_vector", "floor/pages:4k", "bandwidth/stores:plain"):
            fresh = by_name[f"{case_}/shape:30x20x10/threads:1/manual_time"]
            aged = by_name[f"{case_}/shape:30x20x10/heap:aged/threads:1/manual_time"]
            for b in (fresh, aged):
                with self.subTest(b["name"]):
                    self.assertFalse(b.get("error_occurred", False), b.get("error_message"))
                    counters = {c for c in b if c.endswith(("_ms", "_gbs", "_mpts"))
                                and not c.startswith("roof_")} - CREATION
                    if case_.startswith("floor"):
                        self.assertEqual(counters, set())
                        continue
                    self.assertEqual(counters, {f"{s}_{u}" for s, (rate, _) in ALL_SWEEPS.items()
                                                for u in ("ms", rate)})
                    for s, (rate, per_item) in ALL_SWEEPS.items():
                        items = points if s == "gather" else 6000
                        per_item = 8 if s == "stencil" and case_ == CEILING else per_item
                        self.assertAlmostEqual(b[f"{s}_{rate}"], per_item * items / (
                            b[f"{s}_ms"] * 1e6), delta=1e-6 * b[f"{s}_{rate}"])
            # The aging blocks are not the grid's: they never count in its blocks.
            self.assertEqual(aged["blocks"], fresh["blocks"], case_)

    def test_several_fields_name_their_count_and_count_every_value(self):
        run = run_suite("--shape=30x20x10", "--fields=3", "--element=float",
                        "--benchmark_filter=(soa/memory:huge|aos/memory:touched|floor/pages:4k|"
                        "stores:plain|flat_vector)/.*threads:1")
        self.assertEqual(run.returncode, 0, run.stderr)
        report = json.loads(run.stdout)
        self.assertEqual((report["context"]["fields"], report["context"]["sweeps"]),
                         ("3", "sum,stencil,fields,stream"))
        by_case = {case(b): b for b in report["benchmarks"]}
        # The arrangements, the floor and the ceiling run; a layout of one field does not.
        self.assertEqual(set(by_case), {"soa/memory:huge", "aos/memory:touched",
                                        "floor/pages:4k", CEILING})
        for name, b in by_case.items():
            with self.subTest(name):
                self.assertFalse(b.get("error_occurred", False), b.get("error_message"))
                self.assertIn("/shape:30x20x10/fields:3/element:float/", b["name"])
                for s, (per_value, grids) in FIELD_SWEEPS.items():
                    if name == CEILING or name.startswith("floor"):  # one field, or no sweeps
                        self.assertNotIn(f"{s}_ms", b)
                        continue
                    self.assertEqual(b[f"{s}_bytes"], grids(3) * 6000 * 4)
                    self.assertAlmostEqual(b[f"{s}_gbs"], per_value * 6000 * 3 / (
                        b[f"{s}_ms"] * 1e6), delta=1e-6 * b[f"{s}_gbs"])
        # The floor faults in every field's bytes: 72,000 of them, 18 pages and its first.
        self.assertGreaterEqual(by_case["floor/pages:4k"]["faults"], 18)

    def test_every_part_of_a_sample_is_marked_as_sample_overhead_reads_it(self):
        # The script splits each sample's wall time by the marks the suite and its samples
        # write: a mark it does not know, or a sample paired with another's spawn, would put
        # time on the wrong side of timed and untimed.
        tool = sample_overhead()
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "phases")
            run = run_suite("--shape=30x20x10", "--sweeps=all",
                            "--benchmark_filter=^(nested|floor/pages:4k)/.*threads:1",
                            env=dict(os.environ, VOXGRID_PHASES=path))
            self.assertEqual(run.returncode, 0, run.stderr)
            samples, _ = tool.samples_of(*tool.read_marks(path))
        self.assertEqual(len(samples), 3)  # the discarded one, then one of each case
        self.assertEqual([s["case"] for s in samples if s["swept"]], ["nested 1"])
        for s in samples:
            with self.subTest(s["case"]):
                self.assertLessEqual(set(s["parts"]), set(tool.ORDER))
                self.assertTrue(all(ms >= 0 for ms in s["parts"].values()), s["parts"])
                self.assertAlmostEqual(sum(s["parts"].values()), s["wall"], delta=1e-6)
                self.assertTrue({"start-up", "build-fill", "release", "exit"} <= set(s["parts"]))
                if s["swept"]:
                    sweeps = {"sum", "stencil", "lines_j", "lines_i", "gather"}
                    self.assertLessEqual(sweeps, set(s["parts"]) & tool.TIMED)
                    self.assertTrue({"fill-check", "stencil-grid", "probe", "stencil-check"}
                                    <= set(s["parts"]) - tool.TIMED)

    def test_element_types_name_their_cases_and_scale_their_rates(self):
        run = run_suite("--shape=30x20x10", "--element=uint8,double", "--sweeps=sum,stencil",
                        "--benchmark_filter=^flat_vector/.*threads:1")
        self.assertEqual(run.returncode, 0, run.stderr)
        by_name = {b["name"]: b for b in json.loads(run.stdout)["benchmarks"]}
        self.assertEqual(len(by_name), 2, sorted(by_name))
        for element, size in (("uint8", 1), ("double", 8)):
            b = by_name[f"flat_vector/shape:30x20x10/element:{element}/threads:1/manual_time"]
            for s, per_int in SWEEPS.items():
                self.assertAlmostEqual(b[f"{s}_gbs"], per_int / 4 * size * 6000 / (
                    b[f"{s}_ms"] * 1e6), delta=1e-6 * b[f"{s}_gbs"])

    def test_past_int_range_the_program_steps_are_left_out_before_anything_runs(self):
        run = subprocess.run([SUITE, "--shape=2048x1024x1025", "--sweeps=none",
                              "--benchmark_filter=^(nested|flat_vector)/", "--benchmark_list_tests"],
                             capture_output=True, text=True, check=False, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("voxgrid-suite: nested not run at 2048x1024x1025: the program's own steps "
                      "index the grid in int, at most 2147483647 elements\n", run.stderr)
        listed = run.stdout.split()
        self.assertTrue(listed)
        for name in listed:
            self.assertTrue(name.startswith("flat_vector/shape:2048x1024x1025/threads:"), name)

    def test_on_a_terminal_progress_stays_off_the_rows(self):
        """Under a pseudo-terminal, standard output and error both: the progress
        line appears, and is erased before each row of the table."""
        pid, fd = pty.fork()
        if pid == 0:
            os.execv(SUITE, [SUITE, "--shape=20x20x20", "--samples=1", "--sweeps=sum",
                             "--benchmark_repetitions=2", "--benchmark_filter=nested|pages:4k"])
        screen = b""
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:  # the terminal's other end is closed
                break
            if not chunk:
                break
            screen += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, screen)
        text = screen.decode()
        self.assertIn("\r\x1b[Kvoxgrid-suite: round 1 of 2, case 1 of ", text)
        self.assertIn("round 2 of 2, case 4 of 4, ", text)
        # What the terminal shows once each erase has done its work.
        lines = [re.split(r"\r\x1b\[K", line)[-1] for line in text.replace("\r\n", "\n").split("\n")]
        rows = [line for line in lines if "manual_time" in line]
        # Each case's mean, median, stddev and cv, whole.
        self.assertEqual({r.split()[0].rsplit("_", 1)[1] for r in rows},
                         {"mean", "median", "stddev", "cv"})
        for row in rows:
            self.assertRegex(row, r"^(nested|floor/pages:4k)/\S+/manual_time\S* +\S+ (ms|%) +\d+")
            self.assertNotIn("voxgrid-suite:", row)

    def test_huge_pages_are_checked_and_the_binding_recorded(self):
        """A huge-page case says in its row, and once on standard error, when its
        grid did not get huge pages: under prctl(PR_SET_THP_DISABLE) it never does."""
        libc = ctypes.CDLL(None, use_errno=True)

        def no_huge_pages():
            if libc.prctl(41, 1, 0, 0, 0) != 0:  # PR_SET_THP_DISABLE, inherited by the samples
                raise OSError(ctypes.get_errno(), "prctl(PR_SET_THP_DISABLE)")

        for name, setup, bind in (("THP disabled", no_huge_pages, "close"),
                                  ("THP as the machine has it", None, "none")):
            with self.subTest(name):
                run = subprocess.run(
                    [SUITE, "--shape=64x64x256", "--benchmark_filter=pages:2m/.*threads:1",
                     "--benchmark_repetitions=2", "--benchmark_display_aggregates_only=false",
                     "--benchmark_format=json", f"--bind={bind}"],
                    capture_output=True, text=True, preexec_fn=setup, check=False, timeout=120)
                self.assertEqual(run.returncode, 0, run.stderr)
                report = json.loads(run.stdout)
                expected = {"close": "OMP_PROC_BIND=close, OMP_PLACES=cores (--bind=close)",
                            "none": "OMP_PROC_BIND=false, OMP_PLACES=(unset) (--bind=none)"}
                self.assertEqual(report["context"]["thread_binding"], expected[bind])
                if "floor/pages:2m" in report["context"]:  # THP "never" here: not run
                    continue
                runs = [b for b in report["benchmarks"] if b.get("run_type") == "iteration"]
                enough = float(report["context"]["huge_page_threshold"])  # what it warns below
                self.assertEqual(len(runs), 2)
                warned = run.stderr.count("voxgrid-suite: warning: floor/pages:2m/shape:64x64x256"
                                          "/threads:1: only ")
                for b in runs:
                    self.assertGreaterEqual(b["huge_pages"], 0)
                    self.assertLessEqual(b["huge_pages"], 1)
                    self.assertEqual(b.get("label", "").startswith("only "),
                                     b["huge_pages"] < enough)
                    if setup is not None:
                        self.assertEqual(b["huge_pages"], 0)
                        self.assertEqual(b["label"], "only 0 % of the grid in huge pages")
                self.assertEqual(warned, int(any(b["huge_pages"] < enough for b in runs)))

    def test_a_preloaded_allocator_is_named_and_its_blocks_counted(self):
        jemalloc = "/usr/lib/x86_64-linux-gnu/libjemalloc.so.2"
        if not os.path.exists(jemalloc):
            self.skipTest("libjemalloc2 is not installed")
        env = dict(os.environ, LD_PRELOAD=jemalloc, OMP_NUM_THREADS="1")
        # nested allocates with new[], which jemalloc brings its own of.
        run = run_suite("--benchmark_filter=^(nested|tables/memory:touched)/.*threads:1/", env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        report = json.loads(run.stdout)
        self.assertRegex(report["context"]["allocator"], r"^jemalloc \d")
        self.assertEqual(report["context"]["openmp_variables"], "OMP_NUM_THREADS=1")
        self.assertEqual({b["name"].split("/")[0]: b["blocks"] for b in report["benchmarks"]},
                         {"nested": BLOCKS["nested"], "tables": BLOCKS["tables"]})


if __name__ == "__main__":
    unittest.main()
