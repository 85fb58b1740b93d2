"""Reading suite reports: the cases of a run, their medians and repetitions."""

import json
import os
import re
import statistics
import sys
from typing import NamedTuple

from .stats import median_interval

STEPS = ("build_ms", "fill_ms", "release_ms")
COUNTERS = STEPS + ("faults", "blocks")
# A sweep the program added: its column "NAME_ms", its name in the context's "added_sweeps".
OWN_SWEPT = "{name}, the program's own sweep, checked against the reference block"
HEAPS = ("fresh", "aged")  # a case's heap: a new process's, or one aged first
TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
HUGE = "huge_pages"  # the share of the grid's bytes the kernel backed with 2 MiB pages
CEILING = "bandwidth/stores:plain"  # its block is already mapped: the sweeps' ceiling
FLOOR_4K = "floor/pages:4k"  # every page it fills faults once: what a fault costs
# The ceiling's roofs, GB/s (10^9 bytes) from memory, each a flat kernel's: a read-only
# pass, a copy with plain stores, a copy that streams its stores. Each sweep gives the
# bytes one pass must move ("<sweep>_bytes"); its pass over their time at its roof is
# its × roof, 1 at the machine's limit.
ROOFS = ("roof_load_gbs", "roof_copy_gbs", "roof_copy_streaming_gbs")
ROOF_LOW = 0.95  # under it, a pass moved less from memory than its bytes say
ELEMENT_BYTES = {"int32": 4, "float": 4, "double": 8, "uint16": 2, "uint8": 1}

# The suite's own tables as they stood before it wrote them into each run's context:
# suite_tables() reads a run's own, and these only for a run that lacks them.
SWEEPS = ("sum_ms", "stencil_ms", "lines_j_ms", "lines_i_ms", "gather_ms")  # the suite's order
# What one pass of each sweep does, for the notes; {points} says the gather's points.
SWEPT = {"sum_ms": "a read-only sum over the grid",
         "stencil_ms": "a 7-point stencil from the grid into a second grid",
         "lines_j_ms": "a read-only sum with j innermost",
         "lines_i_ms": "a read-only sum with i innermost",
         "gather_ms": "a sum of the grid at {points}"}
ELEMENTS = ("int32", "float", "double", "uint16", "uint8")  # the suite's element types, in order
HUGE_CASES = ("floor/pages:2m", "hugepage_tables")  # the cases that ask for huge pages
HUGE_ENOUGH = 0.9  # below this share, such a case measured mostly something else
# Each architecture's vector extensions, narrowest first, as the suite names them.
ISA_ORDERS = (("sse2", "avx", "avx2", "avx512f"), ("neon", "sve", "sve2"))
# Cases in the suite's own order; anything else follows by name.
ORDER = ("nested", "flat_three_loops", "flat_one_index", "vector3d", "flat_vector",
         "pointer_tables", "flat_parallel_zero", "hugepage_tables", "flat_padded", "bricks_4",
         "bricks_4/loops:own", "bricks_8", "bricks_8/loops:own", "morton", "boost_multi_array",
         "eigen_tensor", "openvdb", "openvdb/loops:own", "floor/pages:4k", "floor/pages:2m",
         "bandwidth/stores:plain", "bandwidth/stores:streaming")
# A one-block layout's storage is two decisions: the index rule (where (i, j, k) lives)
# and the memory (how the block is got and first touched). Newer runs cross them, a case
# "<rule>/memory:<memory>" ("/loops:own" after it for a rule's own loops), and say each in
# their context; these are the words for a run that does not.
MEMORIES = {"zeroed": "one block from malloc, value-initialised by one thread, as "
                      "std::vector<T>(n) does",
            "touched": "one block from malloc, left uninitialised and first touched by the "
                       "parallel fill",
            "huge": "one block aligned to 2 MiB and advised huge pages, first touched by the "
                    "parallel fill"}
INDEX_RULES = {"row_major": "row-major strides", "padded": "padded strides",
               "tables": "pointer tables over one block", "bricks_4": "4x4x4 bricks",
               "bricks_8": "8x8x8 bricks", "morton": "Morton order"}
# The layouts whose storage is their idiom, not crossed: the memory each has.
IDIOM_MEMORY = {
    "nested": "a block per row from new[], allocated by one thread and first touched by the "
              "parallel fill",
    "flat_three_loops": "one std::valarray, zero-filled by one thread",
    "flat_one_index": "one std::valarray, zero-filled by one thread",
    "vector3d": "nested std::vector, a block per row, each zero-filled by one thread",
    "flat_vector": "one std::vector (row-major), value-initialised by one thread",
    "flat_parallel_zero": "one block, left uninitialised, zero-filled by a parallel loop with "
                          "the fill's schedule",
    "boost_multi_array": "one block from std::allocator, value-initialised by one thread",
    "eigen_tensor": "one aligned block, left uninitialised and first touched by the parallel "
                    "fill",
    "openvdb": "OpenVDB's tree, a block per 8x8x8 leaf, made by OpenVDB's threads"}
# Older runs' one-block layouts, each a rule under one memory: (rule, memory).
LEGACY_STORAGE = {"flat_padded": ("padded", "touched"), "pointer_tables": ("tables", "touched"),
                  "hugepage_tables": ("tables", "huge"), "bricks_4": ("bricks_4", "touched"),
                  "bricks_4/loops:own": ("bricks_4/loops:own", "touched"),
                  "bricks_8": ("bricks_8", "touched"),
                  "bricks_8/loops:own": ("bricks_8/loops:own", "touched"),
                  "morton": ("morton", "touched")}
MEMORY_PART = "memory:"  # a crossed case's memory, as its name says it
RACE = "race/"  # a case's rounds in the context: "race/<its name without /manual_time>"


class ReportError(Exception):
    """A problem with the input, said in one line."""


class Suite(NamedTuple):
    """The suite's tables a run was made with."""
    order: tuple  # the cases in the suite's order (a case also matches by its prefix)
    huge_cases: tuple  # the cases that ask for huge pages
    sweeps: tuple  # the suite's sweeps' columns, in order: "sum_ms", ...
    swept: dict  # sweep column: what one pass does, {points} the gather's points
    elements: tuple  # the element types, in order
    isa_orders: tuple  # each architecture's vector extensions, narrowest first
    huge_enough: float  # below this share of huge pages, a case measured something else
    memories: dict  # memory: its words, in the suite's order
    index_rules: dict  # index rule: its words, in the suite's order
    idiom_memory: dict  # a layout whose storage is its idiom: the memory it has


def suite_tables(*contexts):
    """The suite's tables, each from the first of the contexts that holds it, as the
    suite writes them; where none does (older runs), the constants above."""
    def said(key, older, read):
        text = next((str(c[key]) for c in contexts if c.get(key)), None)
        if text is None:
            return older
        try:
            return read(text)
        except ValueError:
            raise ReportError(f"not a voxgrid-suite report: its {key} {text!r} cannot be "
                              "read") from None

    def names(text):
        return tuple(n for n in text.split(",") if n)

    def words(text):
        entries = [e.split(": ", 1) for e in text.split("; ")]
        if any(len(e) != 2 or not e[0] for e in entries):
            raise ValueError(text)
        return dict(entries)

    def reads(text):
        return {f"{name}_ms": what for name, what in words(text).items()}

    return Suite(
        order=said("case_order", ORDER, names),
        huge_cases=said("huge_page_cases", HUGE_CASES, names),
        sweeps=said("sweep_names", SWEEPS, lambda t: tuple(f"{n}_ms" for n in names(t))),
        swept=said("sweep_reads", SWEPT, reads),
        elements=said("element_types", ELEMENTS, names),
        isa_orders=said("isa_orders", ISA_ORDERS,
                        lambda t: tuple(tuple(o.split("<")) for o in t.split("; "))),
        huge_enough=said("huge_page_threshold", HUGE_ENOUGH, float),
        memories=said("memories", MEMORIES, words),
        index_rules=said("index_rules", INDEX_RULES, words),
        idiom_memory=said("idiom_memory", IDIOM_MEMORY, words))


OLDER = suite_tables()  # a run's that says none of them


def isa_below(isa, than, orders=ISA_ORDERS):
    """Whether vector extension `isa` is narrower than `than`; False across architectures."""
    for order in orders:
        if isa in order and than in order:
            return order.index(isa) < order.index(than)
    return isa == "scalar" and than not in (None, "scalar")


class Row:
    """One case of one report: medians of its repetitions, and their intervals."""

    def __init__(self, name, group, suite=OLDER, added=()):
        self.suite = suite
        self.name = name
        parts = [p for p in name.split("/") if p not in ("manual_time", "real_time")]
        self.shape = next((p[6:] for p in parts if p.startswith("shape:")), "")
        self.element = next((p[8:] for p in parts if p.startswith("element:")), "int32")
        if self.element != "int32":  # a grid of another type: a shape of its own, "512x512x128 float"
            self.shape = f"{self.shape} {self.element}"
        threads = next((p[8:] for p in parts if p.startswith("threads:")), None)
        # The fields each voxel holds: without the part one, as every older report's.
        self.fields = int(next((p[7:] for p in parts if p.startswith("fields:")), 1))
        # Without a heap part the case ran on a fresh heap, as every older report's did.
        self.heap = next((p[5:] for p in parts if p.startswith("heap:")), "fresh")
        self.case = "/".join(p for p in parts
                             if not p.startswith(("shape:", "fields:", "threads:", "heap:",
                                                  "element:")))
        self.own_team = threads is None  # asks for its own team (of 4)
        self.threads = int(threads) if threads else 0
        self.error = None  # the first message, where every repetition failed
        self.failures = None  # (failed, repetitions, first message), where any failed
        self.cv = None
        self.runs = {}  # metric: every good repetition's value, where the report holds them
        self.rounds = []  # each of those repetitions' index: the round that took it
        self.single = False
        self.floor = None  # the lower floor in the same group, set by Report
        self.ceiling = {}  # the ceiling's sweeps in the same group, set by Report
        self.ceiling_row = None  # the ceiling's Row in the same group, set by Report
        # (shape, threads, heap, fields) it is charted and compared with, set by Report
        self.group = None
        self.race = None  # (rounds, why it stopped, the uses it left undecided), set by Report
        reps = [b for b in group if b.get("run_type", "iteration") == "iteration"]
        # A failed sample ends its case: the repetitions from it on are errors, in order.
        failed = [b for b in reps if b.get("error_occurred")]
        runs = [b for b in reps if not b.get("error_occurred")]
        # Google Benchmark's aggregates leave the failed repetitions out.
        medians = [b for b in group
                   if b.get("aggregate_name") == "median" and not b.get("error_occurred")]
        if failed:
            said = [b["repetitions"] for b in group if isinstance(b.get("repetitions"), int)]
            self.failures = (len(failed), max([len(reps)] + said),
                             str(failed[0].get("error_message") or "failed"))
        if not runs and not medians:
            if not failed:
                raise ReportError(f"{name} has neither repetitions nor a median")
            self.error = self.failures[2]
            return
        # The raw repetitions where the report holds them: the median and its interval
        # then come from the same values. The aggregate only where nothing else is.
        source = runs or medians
        for b in source:
            missing = [c for c in COUNTERS if c not in b]
            if missing:
                raise ReportError(f"{name} has no {missing[0]} counter: this report comes "
                                  "from a voxgrid-suite without the build/fill/release counters")
        # Sweeps are absent where none ran for the case (floors, streaming stores, --sweeps=none).
        metrics = COUNTERS + tuple(
            m for m in suite.sweeps + added + tuple(bytes_of(s) for s in suite.sweeps + added)
            + (HUGE,) + ROOFS if all(m in b for b in source))
        times = [b["real_time"] * TO_MS.get(b.get("time_unit", "ns"), 1e-6) for b in source]
        if runs:
            self.single = len(runs) == 1  # one repetition: nothing to spread
            self.total = statistics.median(times)
            self.values = {c: statistics.median(b[c] for b in runs) for c in metrics}
            if len(runs) > 1:
                self.runs = {m: [b[m] for b in runs] for m in metrics}
                self.rounds = [b.get("repetition_index", i) for i, b in enumerate(runs)]
                self.runs["total"] = times
                if statistics.mean(times) > 0:
                    self.cv = statistics.stdev(times) / statistics.mean(times)
        else:
            self.total = times[0]
            self.values = {c: medians[0][c] for c in metrics}
            cv = [b for b in group if b.get("aggregate_name") == "cv"]
            self.cv = cv[0]["real_time"] if cv else None
        self.values["total"] = self.total

    def over_floor(self):
        """Its total over the lower floor in its group (× lower floor); None without one."""
        return self.total / self.floor if self.floor else None

    def fault_ms(self):
        """What one page fault cost, for the 4 KiB floor, whose fill is its faults and
        little else: its fill over its faults, the medians; None without faults."""
        return self.values["fill_ms"] / self.values["faults"] if self.values.get("faults") else None

    def interval(self, metric):
        """(low, high, coverage) of the metric's median, or None without repetitions."""
        return median_interval(self.runs[metric]) if metric in self.runs else None

    def roof_counter(self, sweep):
        """The ceiling's roof a sweep is held against: the stream step's is a copy's with
        plain stores; the stencil's a copy's, the streaming one where its bytes count no
        read of a line before it is written (two of the element's bytes, not three);
        every other sweep's, the read-only pass's. The stencil sweeps field 0 alone, so
        its bytes are held against one field's, whatever the voxel holds."""
        if sweep == "stream_ms":
            return "roof_copy_gbs"
        if sweep != "stencil_ms":
            return "roof_load_gbs"
        size = ELEMENT_BYTES.get(self.element)
        streams = size and self.values[bytes_of(sweep)] < 2.5 * size * elements(self.shape)
        return "roof_copy_streaming_gbs" if streams else "roof_copy_gbs"

    def roof(self, sweep):
        """× roof of a sweep, (median, interval or None): its pass over the time its bytes
        take at its roof; None where the run gives no bytes or no roof for it. Each
        repetition goes with the ceiling's of the same round, so that a slow stretch of
        the host moves both; without the repetitions, the medians."""
        c, counted = self.ceiling_row, bytes_of(sweep)
        if c is None or sweep not in self.values or not self.values.get(counted):
            return None
        roof = self.roof_counter(sweep)
        if roof not in c.values:
            return None
        if sweep in self.runs and roof in c.runs:
            gbs = dict(zip(c.rounds, c.runs[roof]))
            each = [ms * gbs[k] * 1e6 / n for k, ms, n in zip(
                self.rounds, self.runs[sweep], self.runs[counted]) if k in gbs and n]
            if each:
                return statistics.median(each), median_interval(each)
        return self.values[sweep] * c.values[roof] * 1e6 / self.values[counted], None

    def order(self):
        """By shape, then the suite's order of cases: the case's own place, else its
        first prefix's (flat_three_loops/team_of_4 with flat_three_loops), then by name."""
        order = self.suite.order
        known = [order.index(self.case)] if self.case in order else [
            i for i, c in enumerate(order) if self.case.startswith(c)]
        return (elements(self.shape), self.shape, self.fields,
                known[0] if known else len(order), self.case, self.threads, heap_order(self.heap))

    def team(self):
        return "own team of 4" if self.own_team else str(self.threads)

    def is_layout(self):
        return not self.error and self.is_layout_case()

    def is_layout_case(self):
        return not self.case.startswith(("floor/", "bandwidth/"))

    def title(self):
        """The case as a sentence names it: `nested (100x100x50, 2 threads, aged heap)`,
        `aos/memory:huge (100x100x50 float, 4 fields, 2 threads)`."""
        team = self.team() if self.own_team else (
            f"{self.threads} thread{'s' if self.threads != 1 else ''}")
        said = (self.shape, fields_words(self.fields), team)
        return f"{self.case} ({', '.join(x for x in said if x)}" + (
            f", {self.heap} heap)" if self.heap != "fresh" else ")")

    def failed(self):
        """`2 of 15 repetitions failed: <the first's message>`, or None."""
        if not self.failures:
            return None
        n, of, message = self.failures
        return f"{n} of {of} repetitions failed: {message}"

    def few_huge(self):
        """The share of huge pages where a case that asks for them got too few, else None."""
        share = self.values.get(HUGE) if not self.error else None
        asks = self.case.startswith(self.suite.huge_cases) or (
            f"{MEMORY_PART}huge" in self.case.split("/"))
        return share if asks and share is not None and share < self.suite.huge_enough else None

    def cost(self, n, sweep):
        """Creation and n passes of the sweep: (median, interval or None). Each
        repetition's own total and pass make one span, so the spread of the sum
        is the spans', not the sum of two spreads."""
        if "total" in self.runs and sweep in self.runs:
            spans = [t + n * s for t, s in zip(self.runs["total"], self.runs[sweep])]
            return statistics.median(spans), median_interval(spans)
        return self.total + n * self.values[sweep], None

    def spans(self, n=0, sweep=None):
        """{round: cost} of each good repetition: its total, plus n passes of the sweep."""
        if "total" not in self.runs or sweep and sweep not in self.runs:
            return {}
        each = self.runs["total"] if not sweep else [
            t + n * s for t, s in zip(self.runs["total"], self.runs[sweep])]
        return dict(zip(self.rounds, each))


def bytes_of(sweep):
    """The counter of the bytes one pass of a sweep must move: "sum_ms", "sum_bytes"."""
    return f"{sweep[:-3]}_bytes"


def read_use(name):
    """A use as a run's context writes it, "create" or "lines_i_ms@100": (n, sweep)."""
    if name == "create":
        return 0, None
    sweep, at, n = name.rpartition("@")
    if not at or not sweep.endswith("_ms"):
        raise ValueError(name)
    return int(n), sweep


def read_race(text):
    """A case's race entry, "ROUNDS;WHY;USE,USE": (rounds, why, the uses left undecided)."""
    rounds, why, undecided = text.split(";")
    return int(rounds), why, frozenset(read_use(u) for u in undecided.split(",") if u)


def read_json(path):
    """The JSON of the report at `path`, "-" standard input."""
    try:
        if path == "-":
            text = sys.stdin.read()
        else:
            with open(path, encoding="utf-8") as f:
                text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise ReportError(f"{path}: cannot read it: {getattr(e, 'strerror', None) or e}")
    try:
        return json.loads(text)
    except json.JSONDecodeError as e:
        raise ReportError(f"{path}: not JSON ({e.msg}, line {e.lineno})") from None


class Report:
    def __init__(self, path, label, data=None):
        """The report at `path` ("-": standard input); `data`, its JSON already read."""
        if data is None:
            data = read_json(path)
        if not isinstance(data, dict) or not isinstance(data.get("benchmarks"), list):
            raise ReportError(f"{path}: not a voxgrid-suite report: it has no \"benchmarks\" list")
        if not data["benchmarks"]:
            raise ReportError(f"{path}: the report holds no cases")
        self.context = data.get("context", {})
        if not isinstance(self.context, dict):
            raise ReportError(f"{path}: not a voxgrid-suite report: its context is not an object")
        try:
            self.suite = suite_tables(self.context)
        except ReportError as e:
            raise ReportError(f"{path}: {e}") from None
        # The program's own sweeps, after the suite's: their counters read as the suite's are.
        own = [n for n in str(self.context.get("added_sweeps", "")).split(",") if n]
        bad = [n for n in own
               if not re.fullmatch("[a-z0-9_]+", n) or f"{n}_ms" in self.suite.sweeps + STEPS]
        if bad:
            raise ReportError(f"{path}: not a voxgrid-suite report: {bad[0]!r} in its "
                              "added_sweeps is no name of a sweep of its own")
        self.added = tuple(f"{n}_ms" for n in dict.fromkeys(own))
        groups = {}
        for b in data["benchmarks"]:
            if not isinstance(b, dict) or "run_name" not in b and "name" not in b:
                raise ReportError(f"{path}: not a voxgrid-suite report: a benchmark has no name")
            groups.setdefault(b.get("run_name", b.get("name")), []).append(b)
        try:
            self.rows = sorted((Row(name, group, self.suite, self.added)
                                for name, group in groups.items()),
                               key=Row.order)
        except ReportError as e:
            raise ReportError(f"{path}: {e}") from None
        except (KeyError, TypeError, ValueError, AttributeError) as e:
            raise ReportError(f"{path}: not a voxgrid-suite report: {e!r} missing") from None
        c = self.context
        # A run that raced its rounds says so, how it ended, and each case's rounds.
        self.race, self.race_end = c.get("race"), c.get("race_end")
        for r in self.rows:
            said = c.get(RACE + r.name.removesuffix("/manual_time"))
            if said is not None:
                try:
                    r.race = read_race(str(said))
                except ValueError:
                    raise ReportError(f"{path}: not a voxgrid-suite report: its "
                                      f"{RACE}{r.name.removesuffix('/manual_time')} {said!r} "
                                      "cannot be read") from None
        self.named = label is not None  # by --label, which name_isas leaves alone
        self.label = label or " · ".join(
            str(x) for x in (c.get("host_name"), c.get("allocator"),
                             f"THP {c['thp_enabled']}" if "thp_enabled" in c else None) if x)
        self._set_references()

    def _set_references(self):
        # The own-team case stands with the default (widest) team, its floors and ceiling.
        widest = max((r.threads for r in self.rows), default=0)
        for r in self.rows:
            r.group = (r.shape, widest if r.own_team else r.threads, r.heap, r.fields)
        floors, ceilings = {}, {}
        for r in self.rows:
            if r.case.startswith("floor/") and not r.error:
                floors[r.group] = min(floors.get(r.group, r.total), r.total)
            if r.case == CEILING and not r.error:
                ceilings[r.group] = r
        for r in self.rows:
            r.floor = floors.get(r.group)
            r.ceiling_row = ceilings.get(r.group)
            r.ceiling = {s: r.ceiling_row.values[s] for s in self.suite.sweeps + self.added
                         if s in r.ceiling_row.values} if r.ceiling_row else {}

    def shapes(self):
        return list(dict.fromkeys(r.shape for r in self.rows))

    def has_runs(self):
        return any(r.runs for r in self.rows)

    def single(self):
        """It holds one repetition per case, so neither intervals nor cv."""
        return all(r.single or r.error for r in self.rows)

    def sweeps(self):
        return [s for s in self.suite.sweeps + self.added
                if any(s in r.values for r in self.rows if not r.error)]

    def heaps(self):
        return sorted({r.heap for r in self.rows}, key=heap_order)

    def roofed(self):
        """Whether its ceiling carries the roofs (a suite from before them gave none)."""
        return any(m in r.values for r in self.rows if r.case == CEILING and not r.error
                   for m in ROOFS)


def element_order(element, order=ELEMENTS):
    """The suite's order of element types; an unknown one after them."""
    return (order.index(element), "") if element in order else (len(order), element)


def known_sweeps(reports):
    """The suite's sweeps, then those the reports' programs added, in their order."""
    return list(suite_tables(*(rep.context for rep in reports)).sweeps) + list(
        dict.fromkeys(s for rep in reports for s in rep.added))


def measured_sweeps(reports):
    """The sweeps any of the reports measured, in known_sweeps' order."""
    return [s for s in known_sweeps(reports) if any(s in rep.sweeps() for rep in reports)]


def name_isas(reports):
    """Where the reports were built for different vector extensions, each
    default label names its own: the same machine's runs differ by no more."""
    if len({rep.context.get("build_isa") for rep in reports}) < 2:
        return
    for rep in reports:
        isa = rep.context.get("build_isa")
        if isa and not rep.named:
            rep.label = " · ".join(x for x in (rep.label, str(isa)) if x)


def heap_order(heap):
    return (HEAPS.index(heap) if heap in HEAPS else len(HEAPS), heap)


def group_order(group, order=ELEMENTS):
    """Groups by shape (`order`, the element types'), then fields, then heap, then team."""
    return shape_order(group[0], order), group[3], heap_order(group[2]), group[1]


def fields_words(fields):
    """`4 fields`; nothing for one field, as every older report's grids held."""
    return f"{fields} fields" if fields != 1 else ""


def with_fields(reports):
    """Whether the field count needs naming: only where some case's voxels hold several."""
    return any(r.fields != 1 for rep in reports for r in rep.rows)


def with_heaps(reports):
    """Whether the heap needs naming: only where some case did not run on a fresh one."""
    return {r.heap for rep in reports for r in rep.rows} != {"fresh"}


def with_roofs(reports):
    """Whether each sweep is held against its roof: where any of the reports has one;
    runs from before the roofs are held against the ceiling's own pass, as they were."""
    return any(rep.roofed() for rep in reports)


def where(heaps, fields=False):
    return ", ".join(["shape"] + (["field count"] if fields else []) + (
        ["heap"] if heaps else [])) + " and thread count"


def elements(shape):
    try:
        nx, ny, nz = (int(n) for n in shape.split(" ")[0].split("x"))
    except ValueError:  # no shape in the name: such a case sorts first
        return 0
    return nx * ny * nz


def shape_order(shape, order=ELEMENTS):
    """Shapes by their elements, then a grid's element type in the suite's order
    ("400x800x100" before "400x800x100 uint16"), never by a set's order."""
    parts = shape.split(" ")
    return elements(shape), element_order(parts[1] if len(parts) > 1 else "int32", order), shape


def all_shapes(reports):
    """Every shape of the reports, in shape_order by the element types they name."""
    order = suite_tables(*(rep.context for rep in reports)).elements
    return sorted({s for rep in reports for s in rep.shapes()},
                  key=lambda s: shape_order(s, order))


def expand(paths):
    """Each argument, a directory standing for every *.json in it, sorted."""
    out = []
    for p in paths:
        if p != "-" and os.path.isdir(p):
            found = sorted(os.path.join(p, n) for n in os.listdir(p)
                           if n.endswith(".json") and os.path.isfile(os.path.join(p, n)))
            if not found:
                raise ReportError(f"{p}: no reports (*.json) in it")
            out += found
        else:
            out.append(p)
    return out


def failures(reports):
    """One line on the failed cases, or None where there were none."""
    bad = [(rep, r) for rep in reports for r in rep.rows if r.error or r.failures]
    if not bad:
        return None
    every = sum(1 for _, r in bad if r.error)
    how = ", ".join(x for x in (f"{every} in every repetition" if every else "",
                                f"{len(bad) - every} in some" if len(bad) > every else "") if x)
    cases = sum(len(rep.rows) for rep in reports)
    rep, r = bad[0]
    return (f"failures in {len(bad)} of {cases} cases ({how}), marked in the tables; the first, "
            + (f"{rep.label}: " if len(reports) > 1 else "") + f"{r.title()}: {r.failed()}")
