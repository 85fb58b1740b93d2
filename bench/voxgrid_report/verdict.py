"""The verdict: which layout to choose at each shape, heap and thread count, the memory
and the index rule apart, and the recipe, in words."""

from .choice import (MARGIN, Choice, choose, fmt_ratio, paired, segments, sweep_cell,
                     undecided, uses)
from .costs import PASSES
from .runs import Row, element_order, elements, fields_words, heap_order, shape_order
from .stats import LEVEL
from .storage import (crossed, idiom_words, memory_order, memory_words, pools, recipe,
                      rule_words, storage)
from .tables import fmt_ms, table

# The verdict's parts, in the order the report prints them.
PARTS = ("choice", "how", "recipe", "memory", "rules", "cannot", "changes", "ratios")
FLOORS = ("floor/pages:4k", "floor/pages:2m")  # what a memory's creation is held against


def group_key(r):
    """(shape, fields, element, heap, team): where the verdict judges the case. The element
    has a key of its own: the shape without it ("400x800x100 float")."""
    return r.group[0].split(" ")[0], r.fields, r.element, r.group[2], r.group[1]


def verdict_groups(rep):
    """{(shape, fields, element, heap, team): layouts measured there}."""
    groups = {}
    for r in rep.rows:
        if r.is_layout():
            groups.setdefault(group_key(r), []).append(r)
    return dict(sorted(groups.items(), key=lambda g: (
        elements(g[0][0]), g[0][0], g[0][1], element_order(g[0][2], rep.suite.elements),
        heap_order(g[0][3]), g[0][4])))


def verdict(reports, several, marks, margin=MARGIN, baseline=None):
    """The section that opens the report: which layout to choose, per group and use."""
    lines = ["## Which layout for this grid", ""]
    for rep in reports:
        if several:
            lines += [f"{rep.label}:", ""]
        parts = verdict_parts(rep, marks, margin, baseline)
        for part in PARTS:
            lines += parts[part] + [""] if parts[part] else []
    return lines


def judge(rep, margin=MARGIN):
    """(the groups, the Choices of each group decided, one per use, and what the run
    cannot decide, in lines); no Choices where it decides nothing."""
    groups = verdict_groups(rep)
    failed = [r.title() for r in rep.rows if r.error and r.is_layout_case()]
    layouts = {r.case for rows in groups.values() for r in rows}
    cannot = []
    if failed:
        cannot.append(f"It cannot place {'; '.join(failed)}: every repetition failed.")
    if len(layouts) < 2:
        cannot.append(f"This run measured "
                      + (f"one layout, {layouts.pop()}" if layouts else "no layout")
                      + ": there is nothing to choose between.")
        return groups, {}, cannot
    if rep.single() or not rep.has_runs():
        what = "one repetition per case" if rep.single() else "only the aggregates"
        cannot.append(f"This run holds {what}: it cannot tell layouts apart, so it "
                      "chooses none (`--benchmark_repetitions=6` or more, written with "
                      "`--benchmark_out`, can).")
        return groups, {}, cannot
    judged = {g: [choose(rows, n, s, margin) for n, s in uses(rep.sweeps())]
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
    return groups, {g: cs for g, cs in judged.items() if g not in few}, cannot


def verdict_parts(rep, marks, margin=MARGIN, baseline=None):
    """One report's verdict, by part (PARTS): the choice table, how it was chosen, the
    recipe, the memory and the index rule apart, what the run cannot decide, where the
    choice changes with the shape, and the ratio table. `baseline`, a case's name: the
    recipe says what moving from it gains."""
    parts = dict.fromkeys(PARTS, [])
    groups, judged, parts["cannot"] = judge(rep, margin)
    if not judged:
        return parts
    sweeps = rep.sweeps()
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
        "= each layout as good as it: one this run cannot tell apart from it (the interval "
        "of their paired ratio reaches 1) or whose median cost is within "
        f"{margin_words(margin)} of it; a cell names three at most, and where more are as "
        "good, the choice and (+k more), their count (the ratio table names them). Made for "
        "one use: the cost is the creation (build, fill and release). Swept N times: the "
        "creation plus N passes of the sweep, for N = " + ", ".join(f"{n:,}" for n in PASSES)
        + "; a choice holds as N grows while it is as good as the cheapest, those as good as "
        "it named at the largest N it holds for, and \"from N = …\" names where another "
        "takes over. How the others compare follows; the rankings and the cost table further "
        "down give each figure."]
    if any(c and c.undecided for cs in judged.values() for c in cs):
        parts["how"][0] += (
            " \"undecided: …\" marks a cell the rounds ran out on before this run decided "
            "it, and names those it would give: a layout's paired interval with the cheapest "
            f"still reaches 1 while its median ratio is beyond {margin_words(margin)}, and more "
            "rounds were to settle it (Rounds, below).")
    parts["recipe"] = recipe_part(rep, judged, keys, marks, baseline)
    parts["memory"] = memory_part(rep, groups, judged, keys, marks, margin)
    parts["rules"] = rules_part(rep, groups, judged, keys, sweeps, marks, margin)
    parts["changes"] = shape_changes(judged, marks)
    parts["ratios"] = ratio_table(judged, keys, sweeps, marks, rep, margin)
    return parts


def uses_table(rep, marks, wanted, margin=MARGIN):
    """The choice for a few uses only, one column each: `wanted` holds (N, sweep) pairs,
    (0, None) for made for one use. The element type is always a column, so that the
    table says what its grids hold."""
    _, judged, _ = judge(rep, margin)
    keys = sorted(set(verdict_keys(judged)) | {VERDICT_KEYS.index("element")})
    head = [VERDICT_KEYS[k] for k in keys] + [
        "made for one use" if s is None else f"{s[:-3]} × {n:,}" for n, s in wanted]
    rows = []
    for g, cs in judged.items():
        found = {(c.n, c.sweep): c for c in cs if c}
        rows.append([str(g[k]) for k in keys] + [
            found[(n, s)].names(marks) if (n, s) in found else "–" for n, s in wanted])
    return table(head, rows, head)


def margin_words(margin):
    return f"{100 * margin:g} %"


def baseline_row(rows, name):
    """The case named `name` among the rows; a crossed name and an older bundle of the
    same storage stand for each other."""
    same = next((r for r in rows if r.case == name), None)
    st = storage(name)
    return same or next((r for r in rows if st and storage(r.case) == st), None)


def named_in(reports, name):
    """Whether any layout of the reports is the case `name` (see baseline_row)."""
    return any(baseline_row([r for r in rep.rows if r.is_layout()], name) for rep in reports)


def recipe_part(rep, judged, keys, marks, baseline):
    """Per group and use, the cheapest case measured, as words a person can act on,
    with its median cost; with a baseline, what moving from it to the recipe gains."""
    head = [VERDICT_KEYS[k] for k in keys] + ["use", "recipe", "layout", "ms"] + (
        [f"from {baseline}"] if baseline else [])
    rows = []
    for g, cs in judged.items():
        base = baseline_row(cs[0].rows, baseline) if baseline else None
        runs = [[0, cs[0].best, [cs[0]]]]
        for s in rep.sweeps():
            runs += segments([c for c in cs if c and c.sweep == s])
        for _, best, held in runs:
            first, last = held[0], held[-1]
            use = "made for one use" if first.sweep is None else (
                f"{first.sweep[:-3]} × {first.n:,}"
                + (f" to {last.n:,}" if last is not first else ""))
            ms = fmt_ms(first.medians[id(best)]) + (
                f" to {fmt_ms(last.medians[id(best)])}" if last is not first else "")
            cells = [str(g[k]) for k in keys] + [use, recipe(best.case, rep.suite),
                                                 undecided(first, marks.case(best)), ms]
            if baseline:
                ends = [first] if last is first else [first, last]
                cells.append(" to ".join(gain(base, best, c) for c in ends))
            rows.append(cells)
    lines = [f"The recipe at each {verdict_axes(keys)}, for each use: the cheapest case this "
             "run measured there, of a rule and a memory or of an idiom, in words, and its "
             "median cost in ms (the creation, plus N passes of the sweep). A sweep's row "
             "spans the N its case holds for, as in the table above, its cost given at each "
             "end."]
    if baseline:
        lines[0] += (f" From {baseline}: what moving from {baseline} to the recipe gains, "
                     f"{baseline}'s cost over the recipe's, round by round, the median of those "
                     "ratios and its interval (at each end of the row's N); – where "
                     f"{baseline} was not measured.")
    return lines + [""] + table(head, rows, ("use", "recipe", "ms"))


def gain(base, best, c):
    """What moving from the baseline's case to the recipe gains, at one Choice's use."""
    if base is None or c.sweep is not None and c.sweep not in base.values:
        return "–"
    if base is best:
        return "1× (it is the recipe)"
    got = paired(base.spans(c.n, c.sweep), best.spans(c.n, c.sweep))
    return fmt_ratio(*got[:2]) if got else "–"


def together(reasons, keys):
    """Each reason once, with the groups it holds at (or "at every ...")."""
    by = {}
    for g, why in reasons.items():
        by.setdefault(why, []).append(g)
    every = len(by) == 1
    return [f"At {'every ' + verdict_axes(keys) if every else '; '.join(map(verdict_where, gs))}"
            f": {why}." for why, gs in by.items()]


def memory_part(rep, groups, judged, keys, marks, margin):
    """The memory to choose, from creation, the rule held fixed; each memory's ratio to
    it and to the floors."""
    suite = rep.suite
    floors = [f for f in FLOORS if any(r.case == f and not r.error for r in rep.rows)]
    head = [VERDICT_KEYS[k] for k in keys] + ["memory", "made for one use"] + [
        f"× {f}" for f in floors]
    rows, reasons, chosen, over = [], {}, {}, {}
    for g in judged:
        cells = crossed(groups[g])
        measured = sorted({st.memory for st in cells})
        got, held, _ = pools(cells, "memory", suite)
        if got is None:
            reasons[g] = (
                "no layout of a named index rule and memory was measured, so the memory is "
                "not chosen apart from the layout" if not measured else
                f"every one-block layout was measured under one memory, {measured[0]} "
                f"({memory_words(measured[0], suite)}), so the memory is not chosen apart "
                "from the index rule" if len(measured) == 1 else
                "no index rule was measured under two memories, so the memory cannot be told "
                "apart from the rule")
            continue
        c = Choice(got, 0, None, margin)
        chosen[g], over[g] = c.names(marks), held
        at = groups[g][0].group
        refs = {f.case: f for f in rep.rows if f.case in floors and not f.error and f.group == at}
        for p in got:
            rows.append([str(g[k]) for k in keys] + [p.case, c.ratio(p)] + [
                fmt_ratio(*ratio[:2]) if f in refs and (
                    ratio := paired(p.spans(), refs[f].spans())) else "–" for f in floors])
    lines = []
    if rows:
        rules = {", ".join(h) for h in over.values()}
        lines.append(
            "The memory, chosen from the creation (made for one use) with the index rule held "
            "fixed: each memory's layouts of the rules measured under every memory (" + (
                rules.pop() if len(rules) == 1 else "at each group its own") + "), the costs "
            "of each round pooled by their geometric mean, so that a memory's ratio to another "
            "is, round by round, the geometric mean over those rules of the paired layouts' "
            "ratios; then the median of those ratios and its interval, ★ and = as above. "
            "× a floor: the same pooled cost over the floor's in each round, at the same "
            f"{verdict_axes(keys)}.")
        picks = set(chosen.values())
        lines += ["", "The memory to choose: " + (
            f"{picks.pop()}, at every {verdict_axes(keys)} judged." if len(picks) == 1 else
            "; ".join(f"{m} at {verdict_where(g)}" for g, m in chosen.items()) + "."), ""]
        lines += table(head, rows, ("memory",))
        said = [m for m in suite.memories if any(st.memory == m for g in chosen
                                                  for st in crossed(groups[g]))]
        lines += ["", "The memories: " + "; ".join(
            f"{m}, {memory_words(m, suite)}" for m in said) + "."]
    lines += together(reasons, keys) if reasons else []
    idioms = list(dict.fromkeys(r.case for g in judged for r in groups[g]
                                if storage(r.case) is None))
    if idioms:
        lines += ["", "Not crossed, each with the memory of its idiom: " + "; ".join(
            f"{case}, {idiom_words(case, suite) or 'its own'}" for case in idioms) + "."]
    return lines


def rules_part(rep, groups, judged, keys, sweeps, marks, margin):
    """The index rule to choose for each sweep and N, the memory held fixed, and each
    rule's ratio to it swept the most times."""
    suite = rep.suite
    n = PASSES[-1]
    head = [VERDICT_KEYS[k] for k in keys] + [f"swept N times: {s[:-3]}" for s in sweeps]
    ratio_head = [VERDICT_KEYS[k] for k in keys] + ["rule"] + [
        f"{s[:-3]} × {n:,}" for s in sweeps]
    rows, ratio_rows, reasons, over = [], [], {}, {}
    for g in judged:
        cells = crossed(groups[g])
        measured = sorted({st.rule for st in cells})
        by_sweep = {}
        for s in sweeps:
            got, held, _ = pools(cells, "rule", suite, s)
            if got:
                by_sweep[s] = [Choice(got, m, s, margin) for m in PASSES]
                over.setdefault(g, set()).update(held)
        if not by_sweep:
            reasons[g] = (
                "no layout of a named index rule and memory was measured, so the index rule "
                "is not chosen apart from the layout" if not measured else
                f"every one-block layout has one index rule, {measured[0]} "
                f"({rule_words(measured[0], suite)}), so the rule is not chosen apart from the "
                "memory" if len(measured) == 1 else
                "no memory holds two index rules, so the rule cannot be told apart from the "
                "memory")
            continue
        rows.append([str(g[k]) for k in keys] + [
            sweep_cell(by_sweep[s], marks) if s in by_sweep else "–" for s in sweeps])
        rules = list(dict.fromkeys(p.case for cs in by_sweep.values() for p in cs[0].rows))
        for rule in rules:
            cells_out = []
            for s in sweeps:
                c = by_sweep.get(s, [None])[-1]
                p = next((p for p in c.rows if p.case == rule), None) if c else None
                cells_out.append(c.ratio(p) if p else "–")
            ratio_rows.append([str(g[k]) for k in keys] + [rule] + cells_out)
    lines = []
    if rows:
        memories = {", ".join(sorted(h, key=lambda m: memory_order(m, suite)))
                    for h in over.values()}
        lines += [
            "The index rule, for each sweep as N grows, with the memory held fixed: each "
            "rule's layouts under the memories every rule was measured under (" + (
                memories.pop() if len(memories) == 1 else "at each group its own") + "), "
            "pooled round by round by their geometric mean as for the memory; cells as in the "
            "verdict's table.", ""] + table(head, rows, head) + [
            "", f"Each rule's cost over the chosen rule's (★), swept {n:,} times, pooled "
            "the same way:", ""] + table(ratio_head, ratio_rows, ("rule",))
        lines += ["", "The rules: " + "; ".join(
            f"{r}, {rule_words(r, suite)}" for r in dict.fromkeys(
                row[len(keys)] for row in ratio_rows)) + "."]
    lines += ([""] if lines and reasons else []) + (together(reasons, keys) if reasons else [])
    return lines


VERDICT_KEYS = ("shape", "fields", "element", "heap", "threads")


def verdict_keys(judged):
    """The group keys that vary, shape and threads always, and fields wherever a voxel
    holds several."""
    return [i for i, k in enumerate(VERDICT_KEYS)
            if k in ("shape", "threads") or len({g[i] for g in judged}) > 1
            or k == "fields" and any(g[i] != 1 for g in judged)]


def verdict_axes(keys):
    """`shape, heap and thread count`: what the verdict's rows vary by."""
    names = [{"threads": "thread count", "element": "element type",
              "fields": "field count"}.get(VERDICT_KEYS[k], VERDICT_KEYS[k]) for k in keys]
    return ", ".join(names[:-1]) + " and " + names[-1]


def verdict_where(g):
    return ", ".join(x for x in (g[0], g[2] if g[2] != "int32" else "", fields_words(g[1]),
                                 f"{g[3]} heap", f"{g[4]} thread{'s' if g[4] != 1 else ''}")
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
                if (ca.best.case == cb.best.case or rb is not None or lost is not None
                        or ca.undecided or cb.undecided):
                    continue
                changes.append((rest, c, a, b, ca, cb))
    if not changes:
        return [f"The same choices at every shape of the run ({', '.join(shapes)}), "
                "wherever both are decided."]
    lines = [f"The choice changes with the shape:"]
    for rest, c, a, b, ca, cb in changes:
        fields, element, heap, threads = rest
        where = ", ".join(x for x in (element if element != "int32" else "",
                                      fields_words(fields), f"{heap} heap",
                                      f"{threads} thread{'s' if threads != 1 else ''}") if x)
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


def ratio_table(judged, keys, sweeps, marks, rep, margin=MARGIN):
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
            f"(Statistics, below); = where it is as good as the choice: the interval reaches "
            f"1, so that this run cannot tell the two apart, or the median is within "
            f"{margin_words(margin)}. Paired this way, two layouts can be told "
            "apart here while their own intervals overlap in the rankings.", ""] + table(
                head, rows)
