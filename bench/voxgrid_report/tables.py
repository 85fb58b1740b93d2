"""The Markdown tables: formatting, marks, the table of every case, rankings and notes."""

import math

from .runs import (CEILING, ROOF_LOW, ROOFS, all_shapes, bytes_of, elements, fields_words,
                   group_order, isa_below, measured_sweeps, where, with_fields, with_heaps,
                   with_roofs)
from .stats import LEVEL, coverages, overlaps

UNSTABLE_CV = 0.05  # repetitions that vary more than this are flagged


def fmt_ms(v):
    if v < 0.001:
        return "<0.001"
    if v >= 1000:
        return f"{v:,.0f}"
    return f"{v:.1f}" if v >= 10 else f"{v:.2f}" if v >= 0.1 else f"{v:.3f}"


def fmt_interval(row, metric, fmt=fmt_ms, scale=1.0):
    """The median, and its interval after it where the repetitions are at hand."""
    text = fmt(row.values[metric] * scale)
    ci = row.interval(metric)
    return text if ci is None else f"{text} [{fmt(ci[0] * scale)}, {fmt(ci[1] * scale)}]"


def table(head, rows, words=()):
    """A Markdown table; figures align right, and names and the columns in `words` left."""
    left = ("run", "case", "shape", "heap", "layout", "element") + tuple(words)
    return ["| " + " | ".join(head) + " |",
            "|" + "|".join("---" if h in left else "---:" for h in head) + "|"] + [
        "| " + " | ".join(str(c).replace("|", "\\|") for c in cells) + " |" for cells in rows]


class Marks:
    """What a case carries into every table it is in: †N where some of its
    repetitions failed (said in full under each such table), ⚠ where it asked
    for huge pages and got too few."""

    def __init__(self, reports):
        several = len(reports) > 1
        self.number = {}  # id(row): N, in the main table's order
        self.said = {}  # N: the footnote
        for rep in reports:
            for r in rep.rows:
                if r.failures and not r.error:
                    n = self.number[id(r)] = len(self.number) + 1
                    good = r.failures[1] - r.failures[0]
                    self.said[n] = (f"†{n} " + (f"{rep.label}: " if several else "")
                                    + f"{r.title()}: {r.failed()}; its figures are the other "
                                    f"{good} repetition{'s' if good != 1 else ''}'.")

    def mark(self, r):
        return f" †{self.number[id(r)]}" if id(r) in self.number else ""

    def case(self, r):
        """The case, with its marks."""
        share = r.few_huge()
        return r.case + self.mark(r) + (
            f" ⚠ only {math.floor(100 * share)} % in huge pages" if share is not None else "")

    def under(self, rows):
        """The footnotes of these rows' marks, one line each."""
        return [self.said[n] for n in sorted({self.number[id(r)] for r in rows
                                              if id(r) in self.number})]


def huge_notes(reports, several):
    """One line per report whose huge-page cases got too few of them."""
    lines = []
    for rep in reports:
        few = [r for r in rep.rows if r.few_huge() is not None]
        if few:
            thp = rep.context.get("thp_enabled")
            lines.append(
                (f"{rep.label}: " if several else "") + "⚠ "
                + "; ".join(f"{r.title()} had {math.floor(100 * r.few_huge())} %"
                            for r in few)
                + f" of {'its' if len(few) == 1 else 'their'} grid in 2 MiB pages (the median "
                f"share; under {100 * rep.suite.huge_enough:.0f} % is too few): "
                f"{'its figures are' if len(few) == 1 else 'their figures are'} not those of "
                "huge pages" + (f" (THP {thp})." if thp else "."))
    return lines


def against(r, sweep, roofs):
    """A sweep's pass against the machine: × roof with its interval, ⚠ under ROOF_LOW;
    for runs without roofs (`roofs` false), × the ceiling's pass, as they always were."""
    if not roofs:
        ceiling = r.ceiling.get(sweep)
        return f"{r.values[sweep] / ceiling:.2f}×" if ceiling else "–"
    roof = r.roof(sweep)
    if roof is None:
        return "–"
    median, ci = roof
    return f"{median:.2f}×" + (f" [{ci[0]:.2f}, {ci[1]:.2f}]" if ci else "") + (
        " ⚠" if median < ROOF_LOW else "")


def group_words(group):
    """A group as a sentence names it: `400x800x100, 2 threads, aged heap`, `400x800x100,
    4 fields, 2 threads`."""
    shape, threads, heap, fields = group
    return ", ".join(x for x in (shape, fields_words(fields),
                                 f"{threads} thread{'s' if threads != 1 else ''}",
                                 f"{heap} heap" if heap != "fresh" else "") if x)


def wrong_ceilings(reports, mark=""):
    """One line per sweep and group whose ceiling a layout beat by more than both
    intervals, `mark` after the run's label: a ceiling that a layout beats is no limit.
    Only runs with roofs are judged, so an older run reads as it did, and only the
    suite's sweeps: a program's own runs on the ceiling's block as on any layout."""
    several = len(reports) > 1
    lines = []
    for rep in (rep for rep in reports if rep.roofed()):
        sweeps, beat = [s for s in rep.sweeps() if s in rep.suite.sweeps], {}
        for r in rep.rows:
            if r.is_layout() and r.ceiling_row is not None:
                for s in sweeps:
                    mine, theirs = r.interval(s), r.ceiling_row.interval(s)
                    if mine and theirs and mine[1] < theirs[0]:
                        beat.setdefault((r.group, s), []).append(r)
        for (group, s), rows in sorted(beat.items(), key=lambda x: (
                group_order(x[0][0], rep.suite.elements), sweeps.index(x[0][1]))):
            best = min(rows, key=lambda r: r.values[s])
            others = len(rows) - 1
            lines.append(
                (f"{rep.label}: " if several else "") + mark + f"the ceiling for {s[:-3]} at "
                f"{group_words(group)} is wrong: {best.case} runs it in {fmt_interval(best, s)} "
                f"ms, the ceiling in {fmt_interval(best.ceiling_row, s)} ms" + (
                    f" ({others} other layout{'s' if others != 1 else ''} too)" if others
                    else ""))
    return lines


def roof_notes(reports, several, most=3):
    """Why a report's sweeps have no roof, one line; then, where they have one, the
    passes under ROOF_LOW× roof, one line per report."""
    lines = []
    for rep in (rep for rep in reports if rep.sweeps()):
        who = f"{rep.label}: " if several else ""
        ceilings = [r for r in rep.rows if r.case == CEILING]
        if not any(not r.error for r in ceilings):
            lines.append(f"{who}No roof: " + (
                f"every repetition of {CEILING} failed" if ceilings else
                f"this run has no {CEILING} case") + ", whose roof counters are the machine's "
                "limit each sweep is held against.")
            continue
        if not rep.roofed():
            lines.append(f"{who}No roof: this run's {CEILING} carries no roof counters "
                         f"({', '.join(ROOFS)}), as a suite from before them wrote it.")
            continue
        bare = [s for s in rep.sweeps() if not any(
            bytes_of(s) in r.values for r in rep.rows if not r.error and s in r.values)]
        if bare:
            lines.append(f"{who}No roof for {', '.join(s[:-3] for s in bare)}: the run gives "
                         f"no {', '.join(bytes_of(s) for s in bare)}, the bytes one pass must "
                         "move (a program's own sweep gives them where the program states them).")
        low = [(r, [s[:-3] for s in rep.sweeps() if (x := r.roof(s)) and x[0] < ROOF_LOW])
               for r in rep.rows if not r.error]
        low = [f"{r.title()}: {', '.join(names)}" for r, names in low if names]
        if low:
            lines.append(f"{who}⚠ under {ROOF_LOW}× roof, a pass faster than memory can move "
                         "its bytes, so the grid was cache-resident or its bytes are "
                         "miscounted: " + "; ".join(low[:most])
                         + (f" (+{len(low) - most} more)" if len(low) > most else "") + ".")
    return lines


def gather_points(reports):
    """The gather's points, as the notes say them."""
    said = {str(rep.context["gather_points"]) for rep in reports
            if "gather_ms" in rep.sweeps() and "gather_points" in rep.context}
    if len(said) != 1:
        return "N seeded random points"  # unsaid, or one count per report
    points = said.pop()
    # One count, or one per shape where they differ ("400x800x100: 4000000, ...").
    return (f"{int(points):,} seeded random points" if points.isdigit()
            else f"seeded random points ({points})")


def interval_notes(reports, several):
    lines = []
    if any(rep.has_runs() for rep in reports):
        lines.append(
            f"[low, high]: the median's {100 * LEVEL:.0f} % confidence interval, "
            "distribution-free: of a case's n repetitions that did not fail, pooled and sorted, "
            "the order statistics [x(k), x(n+1−k)] with the largest k that covers the median "
            "with at least 95 % probability (1 − 2·P(B ≤ k−1), B binomial (n, ½)); the median "
            "is the middle one of the same values (for an even n, the mean of the two middle "
            "ones). Fewer than 6 reach no 95 %: there [min, max] is shown with its own, lower "
            f"coverage. Here: {coverages(reports)}.")
    for single, what, need in (
            (False, "only the aggregates", "every repetition (write the report with "
             "`--benchmark_out=FILE`)"),
            (True, "one repetition per case", "several (`--benchmark_repetitions=6` or more "
             "reach 95 %)")):
        which = [rep.label for rep in reports if not rep.has_runs() and rep.single() == single]
        if not which:
            continue
        lines.append(
            (f"cv: the repetitions' coefficient of variation; ⚠ above {100 * UNSTABLE_CV:.0f} %. "
             if not single else "")
            + (f"{', '.join(which)} hold{'s' if len(which) == 1 else ''} " if several
               else "This report holds ")
            + f"{what}: confidence intervals need {need}.")
    return lines


def context_notes(reports, several):
    lines = []
    for rep in reports:
        who = f"{rep.label}: " if several else ""
        c = rep.context
        # The conditions the samples ran under, as the suite says them.
        for k, said in (("thread_binding", "threads"), ("sample_order", "samples"),
                        ("bytes_per_element", "bytes per element in the suite's GB/s counters"),
                        ("roof_kernels", "the roofs")):
            if c.get(k):
                lines.append(f"{who}{said}: {c[k]}.")
        try:  # what decides whether a grid fits in the cache: unsaid where unknown
            lines += [f"{who}last-level cache: {int(c['llc_bytes']) / 2 ** 20:g} MiB."]
        except (KeyError, TypeError, ValueError):
            pass
        if c.get("not_built"):
            lines.append(f"{who}not built, so not measured: {c['not_built']}.")
        ran = str(c.get("heap", "fresh")).split(",")
        if "aged" in ran or any(r.heap == "aged" for r in rep.rows):
            recipe = f" ({c['heap_recipe']})" if c.get("heap_recipe") else ""
            fresh = "fresh" in ran
            aged = "that heap" if fresh else "a new sample process's heap"
            lines.append(f"{who}heap {c.get('heap', 'aged')}: " + (
                "fresh, the new sample process's own heap as it starts; " if fresh else "")
                + f"aged, {aged} aged first{recipe}.")
        built, cpu = c.get("build_isa"), c.get("cpu_isa")
        if built and cpu and isa_below(built, cpu, rep.suite.isa_orders):
            lines.append(f"{who}⚠ built for {built} while the CPU offers {cpu}: the sweeps and "
                         "ceilings are a portable build's; the native preset builds for this "
                         "CPU.")
        if c.get("assertions") == "on":
            lines.append(f"{who}⚠ the suite was built with assertions on (without NDEBUG): "
                         "its times are not a release build's.")
    return lines


def per_element(reports, several, marks):
    """How the cost per element moves with the grid: one row per case, team and heap."""
    shapes = all_shapes(reports)
    heaps = with_heaps(reports)
    fields = with_fields(reports)
    head = (["run"] if several else []) + ["case"] + (["fields"] if fields else []) + [
        "threads"] + (["heap"] if heaps else []) + [
        f"{s} ({elements(s) / 1e6:.3g} M)" for s in shapes]
    rows, shown = [], []
    for rep in reports:
        cells = {}
        for r in rep.rows:
            if not r.error:
                shown.append(r)
                cells.setdefault((r.case, r.fields, r.team(), r.heap), {})[r.shape] = (
                    fmt_interval(r, "total", lambda v: f"{v:.2f}", 1e6 / elements(r.shape))
                    + marks.mark(r))
        for (case, count, team, heap), by_shape in cells.items():
            rows.append(([rep.label] if several else []) + [case] + (
                [str(count)] if fields else []) + [team] + (
                [heap] if heaps else []) + [by_shape.get(s, "–") for s in shapes])
    said = coverages(reports)
    lines = ["", "ns per element, by shape (element count" + (
        f"; intervals: {said}" if said else "") + "):", ""] + table(head, rows)
    for note in marks.under(shown):
        lines += ["", note]
    return lines


def ranked(rows, metric="total"):
    """(rank, row), fastest first, in tie groups. Sorted by median, a layout joins
    the current group where its interval overlaps that of the group's first,
    fastest, member, and otherwise starts the next group and rank. Measured
    against the first alone, groups stay consecutive and a tie is an
    equivalence: a layout that overlaps only a later member is not tied with
    the first. Without intervals each layout ranks alone, by median."""
    groups = []
    for r in sorted(rows, key=lambda r: r.values[metric]):
        ci = r.interval(metric)
        first = groups[-1][0].interval(metric) if groups else None
        if ci and first and overlaps(ci, first):
            groups[-1].append(r)
        else:
            groups.append([r])
    out, place = [], 1
    for members in groups:
        out += [(f"={place}" if len(members) > 1 else str(place), r) for r in members]
        place += len(members)  # =1, =1, 3: the tied places are skipped
    return out


def not_measured(reports, several, what):
    """The layouts every repetition of which failed: left out of a ranking or the costs."""
    failed = [(f"{rep.label}: " if several else "") + r.title()
              for rep in reports for r in rep.rows if r.error and r.is_layout_case()]
    return [f"{what}, every repetition failed: {'; '.join(failed)}."] if failed else []


def ranking(reports, several, marks, metrics=None):
    """A ranking of creation, then one per sweep measured, each per group; `metrics`
    picks some of them."""
    shapes = all_shapes(reports)
    heaps = with_heaps(reports)
    fields = with_fields(reports)
    sweeps = measured_sweeps(reports)
    roofs = with_roofs(reports)
    against_name = "× roof" if roofs else "× ceiling"
    lines, shown = [], []
    for metric in [m for m in ("total",) + tuple(sweeps) if metrics is None or m in metrics]:
        name = "total ms" if metric == "total" else f"{metric[:-3]} ms"
        head = (["run"] if several else []) + (["shape"] if len(shapes) > 1 else []) + (
            ["fields"] if fields else []) + ["threads"] + (["heap"] if heaps else []) + [
            "rank", "layout", name, "× lower floor" if metric == "total" else against_name]
        rows = []
        for rep in reports:
            layouts = [r for r in rep.rows if r.is_layout() and metric in r.values]
            shown += layouts
            for group in sorted({r.group for r in layouts},
                                key=lambda g: group_order(g, rep.suite.elements)):
                for rank, r in ranked([r for r in layouts if r.group == group], metric):
                    if metric == "total":
                        ratio = f"{r.over_floor():.2f}×" if r.floor else "–"
                    else:
                        ratio = against(r, metric, roofs)
                    rows.append(([rep.label] if several else []) + (
                        [group[0]] if len(shapes) > 1 else []) + (
                        [str(group[3])] if fields else []) + [str(group[1])] + (
                        [group[2]] if heaps else []) + [
                        rank, marks.case(r), fmt_interval(r, metric), ratio])
        if not rows:
            continue
        if metric == "total":
            lines += ["", "Layouts by total time (build, fill and release), fastest "
                      f"first, at each {where(heaps, fields)} (the own-team case with the "
                      "default team):", ""]
        else:
            lines += ["", f"Layouts by one {metric[:-3]} pass, fastest first, at each "
                      f"{where(heaps, fields)}:", ""]
        lines += table(head, rows)
    if not lines:
        return []
    how = []
    if any(rep.has_runs() for rep in reports):
        how.append("A rank with = is shared: taken by median, fastest first, a layout whose "
                   "interval overlaps that of the first (fastest) layout of the current tie "
                   "joins the tie, as this run cannot order them; any other starts the next "
                   "rank, which skips the tied places (=1, =1, 3). A tie is thus a run of "
                   "consecutive layouts; one that overlaps only a later member of a tie is not "
                   f"in it. Intervals: {coverages(reports)}.")
    if any(not rep.has_runs() for rep in reports):
        how.append(("Ranked by median" if not several else
                    "Reports with only the aggregates are ranked by median")
                   + ": without every repetition, ties cannot be judged.")
    lines += ["", " ".join(how)]
    for note in marks.under(shown) + not_measured(reports, several, "Not ranked"):
        lines += ["", note]
    return lines
