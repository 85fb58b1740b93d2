#!/usr/bin/python3
"""bench/regenerate-docs: the docs' own check, then the tool on a small tree of
pages over a committed fixture run. $TOOL names it; $ROOT, the repository."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = os.environ["TOOL"]
ROOT = os.environ["ROOT"]
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")
RUN = "hand"
ENTRY = {"name": RUN, "file": "hand.json", "machine": "a machine", "build": "a build",
         "date": "2026-12-01", "command": "voxgrid-suite --shape=10x10x10"}
# A second run, with the bytes, the huge pages and the roofs hand.json lacks.
KEYS_ENTRY = dict(ENTRY, name="keys", file="keys.json")
PAGE = f"""# A page

<!-- generated from run {RUN}: ranking metric=sum threads=1 -->
<!-- end of generated -->

Prose that quotes {{figure}} from the run.
"""
# A suite's --race-replay that keeps 6 rounds of every case.
SIX_ROUNDS = """import sys
for line in sys.stdin.read().splitlines():
    if line.startswith("case\t"):
        print(f"case\t{line.split(chr(9))[1]}\t6\tdecided\t")
print("run\t6\tevery decision made")
"""


def tool(*args, root):
    return subprocess.run([TOOL, "--root", root, *args], capture_output=True, text=True,
                          check=False, timeout=120)


class Docs(unittest.TestCase):
    def test_the_pages_agree_with_the_committed_runs(self):
        out = tool("--check", root=ROOT)
        self.assertEqual(out.returncode, 0, out.stderr)


class Tree(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        os.makedirs(os.path.join(self.root, "docs", "runs"))
        for name in ("hand.json", "keys.json"):
            shutil.copy(os.path.join(FIXTURES, name), os.path.join(self.root, "docs", "runs"))
        self.write("docs/runs/runs.json", json.dumps({"runs": [ENTRY, KEYS_ENTRY]}))
        self.write("README.md", "# Readme\n")
        self.write("docs/glossary.md", "# Glossary\n")
        self.page = os.path.join(self.root, "docs", "page.md")

    def write(self, rel, text):
        with open(os.path.join(self.root, rel), "w", encoding="utf-8") as f:
            f.write(text)

    def read(self, rel="docs/page.md"):
        with open(os.path.join(self.root, rel), encoding="utf-8") as f:
            return f.read()

    def regenerated(self, figure):
        """The page with a figure in its prose, regenerated: (status, stderr)."""
        self.write("docs/page.md", PAGE.format(figure=figure))
        out = tool(root=self.root)
        return out.returncode, out.stderr

    def test_a_page_regenerated_then_checked(self):
        # One table: the prose (on the page's {line}), then the check's status and a line
        # it says, then regenerating's status and what it wrote, the ranking's block too.
        nested = "run=hand case=nested metric=sum_ms"
        ratio = "run=hand case=flat_vector metric=over:nested:total"
        total = "run=hand case=nested metric=total"
        grid = "run=keys case=flat_vector"
        figures = (
            ("no figure at all", 0, "", 0, None),
            ("a grid of 400 × 800 × 100 or 400x800x100, and `0.74 ms` in code", 0, "", 0, None),
            ("a sum pass of 0.75 ms", 2, "{line}: 0.75 ms has no key", 1, None),
            (f"a sum pass of 0.75 ms<!-- key {nested} -->, 750 µs<!-- key {nested} -->",
             0, "", 0, None),
            (f"a sum pass of 0.74 ms<!-- key {nested} -->", 2,
             f"{{line}}: 0.74 ms differs from run hand's 0.75 ms (key {nested})", 0,
             "0.75 ms<!--"),
            (f"`flat_vector` costs 0.70×<!-- key {ratio} --> `nested`'s", 2,
             f"{{line}}: 0.70× differs from run hand's 0.68× (key {ratio})", 0, "0.68×<!--"),
            # Only a ratio paired by round has an interval.
            (f"<!-- keys {ratio} -->\n`flat_vector` costs 0.68×<!-- key stat=median --> "
             "`nested`'s, 0.65<!-- key stat=low --> to 0.71×<!-- key stat=high -->",
             0, "", 0, None),
            (f"made in 19.0<!-- key {total} stat=low --> to 24.0 ms<!-- key {total} stat=high -->",
             2, "{line}: 19.0 ms differs from run hand's 20.0 ms", 0, "20.0<!--"),
            (f"a pass reads 4.2 MB<!-- key {grid} metric=sum_bytes --> (3.81 MiB<!-- key "
             f"{grid} metric=sum_bytes -->)", 2, "{line}: 4.2 MB differs from run keys's 4.0 MB",
             0, "4.0 MB<!--"),
            (f"60 %<!-- key {grid} metric=huge_pages --> in huge pages, 2.40×<!-- key {grid} "
             "metric=roof:sum --> its roof", 2, "{line}: 60 % differs from run keys's 50 %", 0,
             "50 %<!--"),
            (f"its roof 2.40 ms<!-- key {grid} metric=roof:sum -->", 2,
             "{line}: key run=keys case=flat_vector metric=roof:sum: roof:sum is a ratio", 1,
             None),
            ("0.75 ms<!-- key run=hand case=nestd metric=sum_ms -->", 2,
             "{line}: key run=hand case=nestd metric=sum_ms: no such case in run hand", 1, None),
            ("7.0 ms<!-- key run=hand case=pointer_tables metric=total -->", 2,
             "2 cases of run hand match it; name its threads=", 1, None),
            (f"0.75<!-- key {nested} --> ms", 2, f"{{line}}: key {nested}: it follows no figure",
             1, None),
            ("a 2 MiB<!-- key metric=fixed why=huge-page-size --> page", 0, "", 0, None),
            ("x" * 20000, 2, "docs/page.md: 20,", 1, None))
        self.regenerated("PROSE")
        page = self.read()
        line = page[:page.index("PROSE")].count("\n") + 1
        for prose, check, said, regenerate, written in figures:
            with self.subTest(prose[:80]):
                said = said.format(line=f"docs/page.md:{line}")
                self.write("docs/page.md", page.replace("PROSE", prose))
                out = tool("--check", root=self.root)
                self.assertEqual(out.returncode, check, out.stderr)
                self.assertIn(said, out.stderr)
                self.assertIn(prose, self.read(), "the check writes nothing")
                status, err = self.regenerated(prose)
                self.assertEqual(status, regenerate, err)
                self.assertIn(said if regenerate else "", err)
                self.assertIn("| 1 | 1 |", self.read(), "the ranking was written")
                self.assertIn(written or prose, self.read())
                self.assertEqual(tool("--check", root=self.root).returncode, 2 * regenerate)

    def test_the_figures_of_each_page_are_counted(self):
        self.regenerated("a 2 MiB<!-- key fixed why=huge-page-size --> page, a pass of "
                         "0.75 ms<!-- key run=hand case=nested metric=sum_ms -->")
        out = tool("--check", "--figures", root=self.root)
        self.assertEqual(out.returncode, 0, out.stderr)
        size = os.path.getsize(self.page)
        # The ranking's three × ceiling cells and its interval's coverage, 93.8 %.
        self.assertIn(f"docs/page.md: 1 keyed, 1 fixed, 4 in generated blocks, {size} bytes\n",
                      out.stdout)

    def test_a_table_that_differs_from_its_run_fails_the_check(self):
        self.regenerated("nothing")
        text = self.read()
        self.write("docs/page.md", text.replace("0.75", "0.70", 1))
        out = tool("--check", root=self.root)
        self.assertEqual(out.returncode, 2)
        self.assertIn(f"docs/page.md: block {RUN}: ranking metric=sum threads=1: differs",
                      out.stderr)
        self.assertEqual(tool(root=self.root).returncode, 0)
        self.assertEqual(self.read(), text)

    def test_a_replay_is_written_with_the_suite_and_stands_without_it(self):
        suite = os.path.join(self.root, "suite")
        self.write("suite", f"#!{sys.executable}\n{SIX_ROUNDS}")
        os.chmod(suite, 0o755)
        page = f"# A page\n\n<!-- generated from run {RUN}: replay -->\n<!-- end of generated -->\n"
        self.write("docs/page.md", page)
        out = tool(root=self.root)
        self.assertEqual((out.returncode, self.read()), (0, page), out.stderr)
        self.assertIn("1 replay block left as it stands: it needs --suite", out.stderr)
        self.assertEqual(tool("--suite", suite, root=self.root).returncode, 0)
        self.assertIn("layout samples 25 of 25 kept", self.read())
        self.assertEqual(tool("--check", "--suite", suite, root=self.root).returncode, 0)
        self.write("docs/page.md", self.read().replace("25 of 25", "24 of 25"))
        self.assertEqual(tool("--check", "--suite", suite, root=self.root).returncode, 2)

    def test_a_link_to_no_page_or_no_heading_fails_the_check(self):
        links = (("[it](page.md#a-page)", ""), ("[it](../README.md#readme)", ""),
                 ("[it](gone.md)", "the link gone.md leads nowhere"),
                 ("[it](page.md#no-such)", "the link page.md#no-such names no heading"))
        for link, said in links:
            with self.subTest(link):
                self.write("docs/other.md", f"# Other\n\nSee {link}.\n")
                self.regenerated("nothing")
                out = tool("--check", root=self.root)
                self.assertEqual(out.returncode, 2 if said else 0, out.stderr)
                self.assertIn(said, out.stderr)

    def test_a_missing_or_malformed_run_is_one_line_and_leaves_the_pages(self):
        def runs(name):
            return os.path.join(self.root, "docs", "runs", name)
        spoil = {
            "its file missing": lambda: os.remove(runs("hand.json")),
            "its file not JSON": lambda: self.write("docs/runs/hand.json", "{ not json"),
            "no runs.json": lambda: os.remove(runs("runs.json")),
            "runs.json without a command": lambda: self.write(
                "docs/runs/runs.json", json.dumps({"runs": [dict(ENTRY, command="")]})),
            "a block of no known kind": lambda: self.write(
                "docs/page.md", self.read().replace("ranking", "rankings", 1)),
            "a block without its end": lambda: self.write(
                "docs/page.md", self.read().replace("<!-- end of generated -->", "", 1)),
            "a verdict's use the run did not measure": lambda: self.write(
                "docs/page.md", self.read().replace("ranking metric=sum", "verdict uses=made,"
                                                    "lines_k:1000", 1)),
            "a block naming no run": lambda: self.write(
                "docs/page.md", self.read().replace(f"run {RUN}:", "run other:", 1)),
        }
        for name, how in spoil.items():
            with self.subTest(name):
                self.setUp()
                self.regenerated("nothing")
                how()
                before = self.read()
                out = tool(root=self.root)
                self.assertEqual(out.returncode, 1, out.stderr)
                self.assertEqual(len(out.stderr.splitlines()), 1, out.stderr)
                self.assertTrue(out.stderr.startswith("regenerate-docs: "), out.stderr)
                self.assertEqual(self.read(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
