#!/usr/bin/python3
"""bench/outside-check's reading and its table, on committed output: $CHECK names it.

fixtures/likwid-load_avx.txt: likwid-bench -t load_avx -w N:128000kB:2 (likwid 5.2.2)
  on the project's 2-core VM.
fixtures/ceilings.json: voxgrid-suite --benchmark_filter='^bandwidth/.*/threads:(1|2)/'
  --benchmark_repetitions=5 --benchmark_format=json (its medians), from the same VM."""

import importlib.machinery
import importlib.util
import json
import os
import subprocess
import unittest

CHECK = os.environ["CHECK"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


def load_module():
    loader = importlib.machinery.SourceFileLoader("outside_check", CHECK)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


class OutsideCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.m = load_module()
        with open(os.path.join(FIXTURES, "likwid-load_avx.txt"), encoding="utf-8") as f:
            cls.likwid_text = f.read()
        with open(os.path.join(FIXTURES, "ceilings.json"), encoding="utf-8") as f:
            cls.suite = cls.m.suite_rates(json.load(f))

    def test_reads_likwids_rate_in_gb_per_second(self):
        rate = self.m.parse_likwid(self.likwid_text)
        self.assertIsNotNone(rate)
        mbytes = float(next(line.split()[-1] for line in self.likwid_text.splitlines()
                            if line.startswith("MByte/s:")))
        self.assertAlmostEqual(rate, mbytes / 1e3)
        self.assertIsNone(self.m.parse_likwid("ERROR: kernel not found\n"))

    def test_each_ceiling_is_held_against_the_best_kernel_of_its_family(self):
        likwid = {("load", 1): 20.0, ("load_avx", 1): 30.0, ("load_avx512", 1): 25.0,
                  ("store_avx", 1): 20.0, ("copy_avx", 1): 90.0, ("copy_mem_avx", 1): 40.0,
                  ("load_avx", 2): 60.0}
        rows = [dict(zip(("ceiling", "threads", "suite", "kernel", "likwid", "ratio"),
                         (c.strip() for c in line.strip("|").split("|"))))
                for line in self.m.table(self.suite, likwid, [1, 2]).splitlines()[2:]]
        by = {(r["ceiling"], r["threads"]): r for r in rows}
        self.assertEqual(len(rows), 8)
        plain1, plain2 = (self.suite[("bandwidth/stores:plain", t)] for t in (1, 2))
        cases = [  # ceiling, threads, the suite's rate as counted, likwid kernel and rate
            ("sum", "1", plain1["sum_gbs"], "load_avx", 30.0),
            ("sum", "2", plain2["sum_gbs"], "load_avx", 60.0),
            ("fill, plain stores", "1", plain1["bytes_per_second"] / 1e9, "store_avx", 20.0),
            # a copy with non-temporal stores, as the ceiling's stencil makes; not a plain copy
            ("stencil, as a copy", "1", plain1["stencil_gbs"] * 8 / 12, "copy_mem_avx", 40.0),
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

    def test_the_suite_is_read_as_the_median_of_its_rounds(self):
        key = ("bandwidth/stores:plain", 1)
        rounds = [{key: {"sum_gbs": v, "stencil_gbs": 2 * v, "name": "x"}} for v in (9.0, 1.0, 5.0)]
        rounds[1][("bandwidth/stores:plain", 2)] = {"sum_gbs": 7.0}  # a case one round lacks
        self.assertEqual(self.m.medians(rounds),
                         {key: {"sum_gbs": 5.0, "stencil_gbs": 10.0},
                          ("bandwidth/stores:plain", 2): {"sum_gbs": 7.0}})

    def test_the_grid_follows_the_working_set(self):
        for size, shape in (("128MB", "400x800x100"), ("64MB", "400x800x50"),
                            ("1GB", "400x800x781"), ("500kB", "400x800x3")):
            with self.subTest(size):
                self.assertEqual(self.m.grid_for(self.m.parse_size(size))[0], shape)

    def test_bad_input_and_a_missing_likwid_get_one_line_and_status_1(self):
        env = dict(os.environ, PATH="/nonexistent")  # no likwid-bench there
        for args, says in ((["--threads=0"], "bad --threads '0'"),
                           (["--threads=1,x"], "bad --threads '1,x'"),
                           (["--threads=2,2"], "bad --threads '2,2'"),
                           (["--working-set=lots"], "bad --working-set 'lots'"),
                           (["--working-set=0MB"], "bad --working-set '0MB'"),
                           ([], "likwid-bench is not installed (Debian: likwid)")):
            with self.subTest(args):
                out = subprocess.run(["/usr/bin/python3", CHECK, *args], capture_output=True,
                                     text=True, env=env, check=False, timeout=60)
                self.assertEqual(out.returncode, 1, out.stderr)
                self.assertEqual(out.stdout, "")
                self.assertEqual(out.stderr.count("\n"), 1, out.stderr)
                self.assertIn(says, out.stderr)


if __name__ == "__main__":
    unittest.main()
