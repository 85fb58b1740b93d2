"""The cost of creating a grid and sweeping it N times, and what a page fault costs."""

from .runs import FLOOR_4K, all_shapes, group_order, where, with_fields, with_heaps
from .stats import coverages, overlaps
from .tables import fmt_ms, not_measured, table

PASSES = (1, 10, 100, 1000)  # the sweep counts of the cost table


def cost_table(reports, several, marks, sweep="stencil_ms"):
    """Creation plus N passes of a sweep: where cheap creation stops paying for slow sweeps."""
    shapes = all_shapes(reports)
    heaps = with_heaps(reports)
    fields = with_fields(reports)
    head = (["run"] if several else []) + ["case"] + (["shape"] if len(shapes) > 1 else []) + (
        ["fields"] if fields else []) + ["threads"] + (["heap"] if heaps else []) + [
        f"N = {n:,}" for n in PASSES]
    rows, shown = [], []
    for rep in reports:
        layouts = [r for r in rep.rows if r.is_layout() and sweep in r.values]
        shown += layouts
        for group in sorted({r.group for r in layouts},
                            key=lambda g: group_order(g, rep.suite.elements)):
            members = [r for r in layouts if r.group == group]
            cells = {id(r): [] for r in members}
            for n in PASSES:
                cost = {id(r): r.cost(n, sweep) for r in members}
                best = min(members, key=lambda r: cost[id(r)][0])
                lead = cost[id(best)][1]
                for r in members:
                    median, ci = cost[id(r)]
                    mark = " ★" if r is best else (
                        " ≈" if ci and lead and overlaps(ci, lead) else "")
                    cells[id(r)].append(fmt_ms(median) + (
                        f" [{fmt_ms(ci[0])}, {fmt_ms(ci[1])}]" if ci else "") + mark)
            for r in members:
                rows.append(([rep.label] if several else []) + [marks.case(r)] + (
                    [r.shape] if len(shapes) > 1 else []) + (
                    [str(r.fields)] if fields else []) + [r.team()] + (
                    [r.heap] if heaps else []) + cells[id(r)])
    if not rows:
        return []
    runs = any(rep.has_runs() for rep in reports)
    lines = ["", f"Cost of creating a grid and sweeping it N times (ms: total + N × {sweep[:-3]} "
             "ms" + (", each repetition's own total and pass, then the median of those sums "
                     "and its interval" if runs else ", the medians")
             + f"; ★ the cheapest at its {where(heaps, fields)}"
             + (f"; ≈ not told apart from it: the two intervals overlap; intervals: "
                f"{coverages(reports)}" if runs else "") + "):", ""] + table(head, rows)
    if runs and not all(rep.has_runs() for rep in reports):
        lines += ["", "Reports with only the aggregates: total + N × the sweep's medians, "
                  "without an interval."]
    for note in marks.under(shown) + not_measured(reports, several, "Not costed"):
        lines += ["", note]
    return lines


def fault_costs(reports, several, marks):
    """What a page fault costs: the 4 KiB floor touches each of its pages once,
    so its fill is its faults and little else."""
    shapes = all_shapes(reports)
    heaps = with_heaps(reports)
    fields = with_fields(reports)
    head = (["run"] if several else []) + (["shape"] if len(shapes) > 1 else []) + (
        ["fields"] if fields else []) + ["threads"] + (["heap"] if heaps else []) + [
        "faults", "fill ms", "µs per fault"]
    rows, shown = [], []
    for rep in reports:
        floors = [r for r in rep.rows if r.case == FLOOR_4K and not r.error and r.values["faults"]]
        shown += floors
        for r in sorted(floors, key=lambda r: group_order(r.group, rep.suite.elements)):
            v = r.values
            rows.append(([rep.label] if several else []) + (
                [r.shape] if len(shapes) > 1 else []) + ([str(r.fields)] if fields else []) + [
                r.team()] + ([r.heap] if heaps else []) + [
                f"{v['faults']:,.0f}", fmt_ms(v["fill_ms"]),
                fmt_ms(r.fault_ms() * 1e3) + marks.mark(r)])
    if not rows:
        return []
    lines = ["", f"What a page fault costs (µs per fault: {FLOOR_4K}'s fill ms × 1000 / its "
             f"faults, the medians), at each {where(heaps, fields)}:", ""] + table(head, rows)
    for note in marks.under(shown):
        lines += ["", note]
    return lines
