"""The verdict: which layout to choose at each shape, heap and thread count."""

import statistics

from .costs import PASSES
from .runs import Row, element_order, elements, heap_order, shape_order
from .stats import LEVEL, enough, median_interval
from .tables import table


class Choice:
    """One way of using a grid, judged in one group: the layout to choose, and each
    other's cost as a ratio to it. The choice is the lowest median cost; each other
    layout's ratio is taken round by round (the same round made both, so a slow
    stretch of the host moves both), and its median and interval come from those
    ratios. A layout whose interval reaches down to 1 is not told apart from the choice."""

    def __init__(self, rows, n, sweep):
        self.n, self.sweep, self.rows = n, sweep, rows
        spans = {id(r): r.spans(n, sweep) for r in rows}
        medians = {id(r): (statistics.median(spans[id(r)].values()) if spans[id(r)]
                           else r.total + (n * r.values[sweep] if sweep else 0)) for r in rows}
        self.best = min(rows, key=lambda r: (medians[id(r)], r.order()))
        best = spans[id(self.best)]
        self.pairs = None  # the fewest rounds any comparison had
        self.ratios = {}  # id(row): (median, interval or None)
        for r in rows:
            common = sorted(set(spans[id(r)]) & set(best))
            ratios = [spans[id(r)][k] / best[k] for k in common if best[k] > 0]
            if r is not self.best:
                self.pairs = len(ratios) if self.pairs is None else min(self.pairs, len(ratios))
            self.ratios[id(r)] = ((statistics.median(ratios), median_interval(ratios))
                                  if ratios else (medians[id(r)] / medians[id(self.best)], None))
        self.decided = self.pairs is not None and enough(self.pairs)
        self.tied = [r for r in sorted(rows, key=lambda r: self.ratios[id(r)][0])
                     if r is not self.best and self.tie(r)]

    def tie(self, r):
        ci = self.ratios[id(r)][1]
        return ci is None or ci[0] <= 1

    def names(self, marks):
        return " = ".join(marks.case(r) for r in [self.best] + self.tied)

    def ratio(self, r, marks):
        """`2.31× [2.20, 2.45]`, = before it where tied, ★ for the choice."""
        if r is self.best:
            return "★"
        median, ci = self.ratios[id(r)]
        text = f"{median:.2f}×" + (f" [{ci[0]:.2f}, {ci[1]:.2f}]" if ci else "")
        return ("= " if self.tie(r) else "") + text


def uses(sweeps):
    """The ways of using a grid the verdict judges: made for one use (its creation
    alone), then each sweep at each N of the cost table."""
    return [(0, None)] + [(n, s) for s in sweeps for n in PASSES]


def choose(rows, n, sweep):
    """The Choice among the layouts that measured the sweep (a program's own sweep may
    not run on every layout), or None where fewer than two did."""
    rows = [r for r in rows if sweep is None or sweep in r.values]
    return Choice(rows, n, sweep) if len(rows) > 1 else None


def verdict_groups(rep):
    """{(shape, element, heap, team): layouts measured there}."""
    groups = {}
    for r in rep.rows:
        if r.is_layout():
            # The element has a key of its own: the shape without it ("400x800x100 float").
            shape = r.group[0].split(" ")[0]
            groups.setdefault((shape, r.element, r.group[2], r.group[1]), []).append(r)
    return dict(sorted(groups.items(), key=lambda g: (elements(g[0][0]), g[0][0],
                                                       element_order(g[0][1],
                                                                     rep.suite.elements),
                                                       heap_order(g[0][2]), g[0][3])))


def sweep_cell(choices, marks):
    """One sweep's choice as N grows: a choice holds while the run cannot tell it from
    the cheapest, and the cell names where the next one takes over."""
    if not choices:
        return "–"
    segments = []  # [first N, the choice, the Choice at the segment's last N]
    for c in choices:
        if segments and any(r is segments[-1][1] for r in [c.best] + c.tied):
            segments[-1][2] = c
        else:
            segments.append([c.n, c.best, c])
    cells = []
    for i, (n, best, last) in enumerate(segments):
        others = [r for r in [last.best] + last.tied if r is not best]
        text = marks.case(best) + (
            "" if not others else " = " + " = ".join(marks.case(r) for r in others)
            if len(others) <= 2 else f" (+{len(others)} tied)")
        cells.append(text if i == 0 else f"from N = {n:,}: {text}")
    return "; ".join(cells)


def verdict(reports, several, marks):
    """The section that opens the report: which layout to choose, per group and use."""
    lines = ["## Which layout for this grid", ""]
    for rep in reports:
        if several:
            lines += [f"{rep.label}:", ""]
        parts = verdict_parts(rep, marks)  # its label heads it, where there are several
        for part in ("choice", "how", "cannot", "changes", "ratios"):
            lines += parts[part] + [""] if parts[part] else []
    return lines


def verdict_parts(rep, marks):
    """One report's verdict, by part: the choice table, how it was chosen, what the run
    cannot decide, where the choice changes with the shape, and the ratio table."""
    parts = dict.fromkeys(("choice", "how", "cannot", "changes", "ratios"), [])
    groups = verdict_groups(rep)
    sweeps = rep.sweeps()
    failed = [r.title() for r in rep.rows if r.error and r.is_layout_case()]
    layouts = {r.case for rows in groups.values() for r in rows}
    cannot = parts["cannot"] = []
    if failed:
        cannot.append(f"It cannot place {'; '.join(failed)}: every repetition failed.")
    if len(layouts) < 2:
        cannot.append(f"This run measured "
                      + (f"one layout, {layouts.pop()}" if layouts else "no layout")
                      + ": there is nothing to choose between.")
        return parts
    if rep.single() or not rep.has_runs():
        what = "one repetition per case" if rep.single() else "only the aggregates"
        cannot.append(f"This run holds {what}: it cannot tell layouts apart, so it "
                      "chooses none (`--benchmark_repetitions=6` or more, written with "
                      "`--benchmark_out`, can).")
        return parts
    judged = {g: [choose(rows, n, s) for n, s in uses(sweeps)]
              for g, rows in groups.items() if len(rows) > 1}
    few = {g: min(c.pairs for c in cs if c) for g, cs in judged.items()
           if not all(c.decided for c in cs if c)}
    too_few = (f"too few to order anything at {100 * LEVEL:.0f} % (6 are needed), so it "
               "chooses none")
    if few and len(few) == len(judged):
        low, high = min(few.values()), max(few.values())
        cannot.append(f"This run holds {low if low == high else f'{low} to {high}'} "
                      f"repetitions per case: {too_few}.")
    else:
        cannot += [f"At {verdict_where(g)}: {pairs} repetitions in common are "
                   f"{too_few} there." for g, pairs in few.items()]
    judged = {g: cs for g, cs in judged.items() if g not in few}
    if not judged:
        return parts
    keys = verdict_keys(judged)
    head = [VERDICT_KEYS[k] for k in keys] + ["made for one use"] + [
        f"swept N times: {s[:-3]}" for s in sweeps]
    rows = []
    for g, cs in judged.items():
        rows.append([str(g[k]) for k in keys] + [cs[0].names(marks)] + [
            sweep_cell([c for c in cs if c and c.sweep == s], marks) for s in sweeps])
    parts["choice"] = table(head, rows, head)
    parts["how"] = [
        f"Chosen at each {verdict_axes(keys)}: the layout whose median cost is lowest, then "
        "= each layout this run cannot tell apart from it, or (+k tied) their count. Made for "
        "one use: the cost is the creation (build, fill and release). Swept N times: the "
        "creation plus N passes of the sweep, for N = " + ", ".join(f"{n:,}" for n in PASSES)
        + "; a choice holds as N grows while the run cannot tell it from the cheapest, its "
        "ties named at the largest N it holds for, and \"from N = …\" names where another "
        "takes over. How the others compare follows; the rankings and the cost table further "
        "down give each figure."]
    parts["changes"] = shape_changes(judged, marks)
    parts["ratios"] = ratio_table(judged, keys, sweeps, marks, rep)
    return parts


VERDICT_KEYS = ("shape", "element", "heap", "threads")


def verdict_keys(judged):
    """The group keys that vary, shape and threads always."""
    return [i for i, k in enumerate(VERDICT_KEYS)
            if k in ("shape", "threads") or len({g[i] for g in judged}) > 1]


def verdict_axes(keys):
    """`shape, heap and thread count`: what the verdict's rows vary by."""
    names = [{"threads": "thread count", "element": "element type"}.get(VERDICT_KEYS[k],
                                                                          VERDICT_KEYS[k])
             for k in keys]
    return ", ".join(names[:-1]) + " and " + names[-1]


def verdict_where(g):
    return ", ".join(x for x in (g[0], g[1] if g[1] != "int32" else "",
                                 f"{g[2]} heap", f"{g[3]} thread{'s' if g[3] != 1 else ''}")
                     if x)


def use_name(c):
    return "made for one use" if c.sweep is None else f"{c.sweep[:-3]} × {c.n:,}"


def shape_changes(judged, marks):
    """Where the choice at one shape is beaten at another: named, with both shapes."""
    shapes = sorted({g[0] for g in judged}, key=shape_order)
    if len(shapes) < 2:
        return []
    changes = []
    by_rest = {}
    for g, cs in judged.items():
        by_rest.setdefault(g[1:], {})[g[0]] = cs
    for rest, at in by_rest.items():
        for i in range(len(next(iter(at.values())))):
            # Only where two layouts or more ran the sweep is there a choice to compare.
            there = {s: at[s][i] for s in shapes if s in at and at[s][i]}
            c = next(iter(there.values()), None)
            if c is None or c.n not in (0, PASSES[-1]):
                continue  # the two ends: made for one use, and swept most
            for a, b in ((a, b) for a in there for b in there if elements(a) < elements(b)
                         or elements(a) == elements(b) and a < b):
                ca, cb = there[a], there[b]
                # the choice at a, beaten at b, and the other way round
                rb = next((r for r in cb.tied + [cb.best] if r.case == ca.best.case), None)
                lost = next((r for r in ca.tied + [ca.best] if r.case == cb.best.case), None)
                if ca.best.case == cb.best.case or rb is not None or lost is not None:
                    continue
                changes.append((rest, c, a, b, ca, cb))
    if not changes:
        return [f"The same choices at every shape of the run ({', '.join(shapes)}), "
                "wherever both are decided."]
    lines = [f"The choice changes with the shape:"]
    for rest, c, a, b, ca, cb in changes:
        where = ", ".join(x for x in (rest[0] if rest[0] != "int32" else "", f"{rest[1]} heap",
                                      f"{rest[2]} thread{'s' if rest[2] != 1 else ''}") if x)
        lines.append(f"- {use_name(c)} ({where}): at {a} {marks.case(ca.best)}"
                     + other_cost(ca, cb.best.case) + f"; at {b} {marks.case(cb.best)}"
                     + other_cost(cb, ca.best.case) + ".")
    return lines


def other_cost(choice, case):
    """`, where nested costs 2.90× [2.81, 3.02]`: the other shape's choice, here."""
    r = next((r for r in choice.rows if r.case == case), None)
    if r is None:
        return ", where the other is not measured"
    median, ci = choice.ratios[id(r)]
    return f", where {case} costs {median:.2f}×" + (f" [{ci[0]:.2f}, {ci[1]:.2f}]" if ci else "")


def ratio_table(judged, keys, sweeps, marks, rep):
    """Every layout's cost as a ratio to the choice: made for one use, and swept the
    most times the cost table counts."""
    n = PASSES[-1]
    head = [VERDICT_KEYS[k] for k in keys] + ["layout", "made for one use"] + [
        f"{s[:-3]} × {n:,}" for s in sweeps]
    rows = []
    for g, cs in judged.items():
        picked = [c for c, use in zip(cs, uses(sweeps)) if use[0] in (0, n)]
        for r in sorted(cs[0].rows, key=Row.order):
            rows.append([str(g[k]) for k in keys] + [marks.case(r)] + [
                c.ratio(r, marks) if c and id(r) in c.ratios else "–" for c in picked])
    interleaved = str(rep.context.get("sample_order", "")).startswith("interleaved")
    return [f"Each layout's cost over the choice's (★), made for one use and swept {n:,} "
            "times: the ratio of the two costs " + (
                "round by round (each round made both, so the host's slow stretches move "
                "both alike)" if interleaved else "repetition by repetition")
            + ", then the median of those ratios and its interval, as for any median "
            "(Statistics, below); = where the interval reaches 1, so that this run cannot "
            "tell the layout from the choice. Paired this way, two layouts can be told "
            "apart here while their own intervals overlap in the rankings.", ""] + table(
                head, rows)
