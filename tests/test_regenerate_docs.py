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
FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures", "hand.json")
RUN = "hand"
ENTRY = {"name": RUN, "file": "hand.json", "machine": "a machine", "build": "a build",
         "date": "2026-12-01", "command": "voxgrid-suite --shape=10x10x10"}
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
        shutil.copy(FIXTURE, os.path.join(self.root, "docs", "runs", "hand.json"))
        self.write("docs/runs/runs.json", json.dumps({"runs": [ENTRY]}))
        self.write("README.md", "# Readme\n")
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
        # One table: the prose's figure, then the status of regenerating and of the check.
        figures = (("no figure at all", 0, 0, ""),
                   ("a grid of 400 × 800 × 100, a shape and no figure", 0, 0, ""),
                   ("a sum pass of 0.75 ms", 0, 0, ""),
                   ("a sum pass of 0.74 ms", 1, 2, "0.74ms in the prose is in none of the runs"),
                   ("a sum 987.6× slower", 1, 2, "987.6× in the prose is in none of the runs"))
        for prose, regenerate, check, said in figures:
            with self.subTest(prose):
                status, err = self.regenerated(prose)
                self.assertEqual(status, regenerate, err)
                self.assertIn("| 1 | 1 |", self.read(), "the ranking was written")
                out = tool("--check", root=self.root)
                self.assertEqual(out.returncode, check, out.stderr)
                self.assertIn(said, out.stderr)

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

    def test_prose_figures_with_no_run_cited_fail_the_check(self):
        self.write("docs/other.md", "# Other\n\nIt took 12.5 ms once.\n")
        out = tool("--check", root=self.root)
        self.assertEqual(out.returncode, 2)
        self.assertIn("docs/other.md: 12.5ms in the prose, and the page cites no run", out.stderr)

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
