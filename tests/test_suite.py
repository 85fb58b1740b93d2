#!/usr/bin/python3
"""Runs voxgrid-suite briefly, one sample of one case per benchmark at the
default shape, checks its JSON field by field, and draws voxgrid-report's table
and chart from it. $SUITE and $REPORT name the two programs."""

import importlib.machinery
import importlib.util
import json
import os
import re
import struct
import subprocess
import tempfile
import unittest

SUITE = os.environ["SUITE"]
REPORT = os.environ["REPORT"]
FILTER = "threads:1/|team_of_4"
# Heap blocks per sample at 400x800x100: one per row and per pointer array for
# the nested layouts (vector3d also builds a prototype slice and row), one flat
# block, three for the pointer tables; the ceiling allocates nothing timed.
BLOCKS = {"nested": 320401, "flat_three_loops": 1, "flat_one_index": 1, "vector3d": 321203,
          "flat_vector": 1, "pointer_tables": 3, "floor": 1, "bandwidth": 0}


def run_suite(*args, env=None):
    return subprocess.run([SUITE, "--benchmark_filter=" + FILTER, "--samples=1",
                           "--benchmark_repetitions=1", "--benchmark_format=json", *args],
                          capture_output=True, text=True, env=env, check=False, timeout=120)


class SuiteJson(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.run_ = run_suite()
        cls.report = json.loads(cls.run_.stdout)

    def test_standard_output_is_one_json_document_and_nothing_else(self):
        self.assertEqual(self.run_.returncode, 0, self.run_.stderr)
        self.assertRegex(self.run_.stdout, r"(?s)\A{.*}\n\Z")
        names = [b["name"] for b in self.report["benchmarks"]]
        self.assertEqual(len(names), 10, names)  # every case once, streaming stores included

    def test_each_case_reports_its_steps_faults_and_blocks(self):
        for b in self.report["benchmarks"]:
            with self.subTest(b["name"]):
                self.assertFalse(b.get("error_occurred", False), b.get("error_message"))
                self.assertEqual(b["time_unit"], "ms")
                steps = b["build_ms"] + b["fill_ms"] + b["release_ms"]
                self.assertAlmostEqual(steps, b["real_time"], delta=0.03 * b["real_time"])
                self.assertEqual(b["blocks"], BLOCKS[b["name"].split("/")[0]])
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
        self.assertRegex(context["cpus"], r"\(\d+ CPUs\)$")

    def test_a_preloaded_allocator_is_named(self):
        jemalloc = "/usr/lib/x86_64-linux-gnu/libjemalloc.so.2"
        if not os.path.exists(jemalloc):
            self.skipTest("libjemalloc2 is not installed")
        env = dict(os.environ, LD_PRELOAD=jemalloc, OMP_NUM_THREADS="1")
        run = run_suite("--benchmark_filter=bandwidth/stores:plain/.*threads:1", env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        context = json.loads(run.stdout)["context"]
        self.assertRegex(context["allocator"], r"^jemalloc \d")
        self.assertEqual(context["openmp_variables"], "OMP_NUM_THREADS=1")


def report(*args, stdin=None):
    return subprocess.run([REPORT, *args], input=stdin, capture_output=True, text=True,
                          check=False, timeout=120)


def table(markdown):
    """The Markdown table's rows as {(case, threads): {column: text}}."""
    lines = [l for l in markdown.splitlines() if l.startswith("| ")]
    head = [c.strip() for c in lines[0].strip("|").split("|")]
    rows = {}
    for line in lines[1:]:
        cells = dict(zip(head, (c.strip() for c in line.strip("|").split("|"))))
        rows[(cells.get("run", ""), cells["case"], cells["threads"])] = cells
    return rows


class Report(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "smoke.json")
        with open(cls.path, "w", encoding="utf-8") as f:
            f.write(run_suite().stdout)
        # Two repetitions: the file holds each and their aggregates, stdout the aggregates only.
        cls.every = os.path.join(cls.dir.name, "every.json")
        cls.aggregates = os.path.join(cls.dir.name, "aggregates.json")
        run = run_suite("--benchmark_filter=floor/pages:4k/.*threads:1", "--benchmark_repetitions=2",
                        "--benchmark_out=" + cls.every)
        with open(cls.aggregates, "w", encoding="utf-8") as f:
            f.write(run.stdout)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def assert_close(self, cell, value):
        shown = float(cell.replace(",", "").rstrip("×%").strip())
        self.assertAlmostEqual(shown, value, delta=0.005 * abs(value) + 0.0051, msg=cell)

    def test_every_median_of_the_report_is_in_the_table(self):
        out = report(self.path)
        self.assertEqual(out.returncode, 0, out.stderr)
        rows = table(out.stdout)
        with open(self.path, encoding="utf-8") as f:
            benchmarks = json.load(f)["benchmarks"]
        self.assertEqual(len(rows), len(benchmarks))
        for b in benchmarks:
            threads = re.search(r"threads:(\d+)", b["name"])
            row = rows[("", b["name"].split("/shape")[0], threads.group(1) if threads
                        else "own team of 4")]
            with self.subTest(b["name"]):
                self.assert_close(row["total ms"], b["real_time"])
                for column in ("build", "fill", "release"):
                    if b[column + "_ms"] >= 0.001:
                        self.assert_close(row[column + " ms"], b[column + "_ms"])
                self.assert_close(row["faults"], b["faults"])
                self.assert_close(row["blocks"], b["blocks"])

    def test_reads_every_repetition_or_only_the_aggregates_alike(self):
        tables = [report(p) for p in (self.every, self.aggregates)]
        for t in tables:
            self.assertEqual(t.returncode, 0, t.stderr)
        self.assertEqual(tables[0].stdout, tables[1].stdout)
        with open(self.aggregates, encoding="utf-8") as f:
            median = [b for b in json.load(f)["benchmarks"] if b["aggregate_name"] == "median"]
        row = table(tables[0].stdout)[("", "floor/pages:4k", "1")]
        self.assert_close(row["total ms"], median[0]["real_time"])
        self.assertNotEqual(row["cv"], "–")

    def test_the_chart_is_a_png_1600_pixels_wide(self):
        png = os.path.join(self.dir.name, "chart.png")
        out = report(self.path, "--png", png, "--markdown", os.path.join(self.dir.name, "t.md"))
        self.assertEqual((out.returncode, out.stdout), (0, ""), out.stderr)
        with open(png, "rb") as f:
            head = f.read(24)
        self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", head[16:24])
        self.assertEqual(width, 1600)
        self.assertGreater(height, 400)

    def test_two_reports_share_one_chart_and_one_table_with_both_labels(self):
        loader = importlib.machinery.SourceFileLoader("voxgrid_report", REPORT)
        module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
        loader.exec_module(module)
        reports = [module.Report(self.path, "before"), module.Report(self.path, "after")]
        fig = module.chart(reports, os.path.join(self.dir.name, "two.png"))
        self.assertEqual([ax.get_title() for ax in fig.axes], ["before", "after"])
        rows = table(module.markdown(reports))
        self.assertEqual({run for run, _, _ in rows}, {"before", "after"})

    def test_what_is_not_a_suite_report_gets_one_line_and_status_1(self):
        with open(self.path, encoding="utf-8") as f:
            old = json.load(f)
        for b in old["benchmarks"]:
            del b["build_ms"]
        bad = {"not JSON": "{", "no benchmarks": '{"context": {}}',
               "older build": json.dumps(old), "not an object": "[1, 2]"}
        for what, text in bad.items():
            with self.subTest(what):
                out = report("-", stdin=text)
                self.assertEqual(out.returncode, 1)
                self.assertRegex(out.stderr, r"\Avoxgrid-report: -: [^\n]+\n\Z")
        self.assertIn("build_ms", report("-", stdin=bad["older build"]).stderr)


if __name__ == "__main__":
    unittest.main()
