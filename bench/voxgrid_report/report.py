"""The whole Markdown report: the verdict, then every table."""

from .costs import cost_table, fault_costs
from .runs import (CEILING, OWN_SWEPT, ROOF_LOW, STEPS, measured_sweeps, suite_tables, where,
                   with_fields, with_heaps, with_roofs)
from .tables import (Marks, UNSTABLE_CV, against, context_notes, fmt_interval, gather_points,
                     huge_notes, interval_notes, per_element, ranking, roof_notes, table,
                     wrong_ceilings)
from .choice import MARGIN
from .verdict import verdict


def markdown(reports, crossover="stencil_ms", margin=MARGIN, baseline=None):
    """The whole report; `margin`, the share within which a layout counts as good as the
    verdict's choice; `baseline`, a case the recipe says the gain from."""
    several = len(reports) > 1
    shapes = {s for rep in reports for s in rep.shapes()}
    sweeps = measured_sweeps(reports)
    heaps = with_heaps(reports)
    fields = with_fields(reports)
    with_cv = any(not rep.has_runs() for rep in reports)
    roofs = with_roofs(reports)
    head = (["run"] if several else []) + ["case"] + (["shape"] if len(shapes) > 1 else []) + (
        ["fields"] if fields else []) + ["threads"] + (["heap"] if heaps else []) + [
        "total ms", "build ms", "fill ms", "release ms"]
    for s in sweeps:
        head += [f"{s[:-3]} ms", f"{s[:-3]} {'× roof' if roofs else '× ceiling'}"]
    head += ["faults", "blocks", "× lower floor"] + (["cv"] if with_cv else [])
    marks = Marks(reports)
    rows = []
    for rep in reports:
        for r in rep.rows:
            cells = ([rep.label] if several else []) + [marks.case(r)] + (
                [r.shape] if len(shapes) > 1 else []) + ([str(r.fields)] if fields else []) + [
                r.team()] + ([r.heap] if heaps else [])
            if r.error:
                rows.append(cells + [f"failed: {r.error}"] + [""] * (len(head) - len(cells) - 1))
                continue
            cells += [fmt_interval(r, m) for m in ("total",) + STEPS]
            for s in sweeps:
                if s in r.values:
                    cells += [fmt_interval(r, s), against(r, s, roofs)]
                else:
                    cells += ["–", "–"]
            v = r.values
            cells += [f"{v['faults']:,.0f}", f"{v['blocks']:,.0f}",
                      f"{r.total / r.floor:.2f}×" if r.floor else "–"]
            if with_cv:
                cells.append("–" if r.cv is None or r.runs else f"{100 * r.cv:.1f} %" + (
                    " ⚠" if r.cv > UNSTABLE_CV else ""))
            rows.append(cells)
    notes = ["Medians over the repetitions that did not fail. × lower floor: the total over "
             f"the lower of the two floors at the same {where(heaps, fields)} (the own-team "
             "case against the default team's)."]
    if sweeps:
        streamed = "stream_ms" in sweeps  # the stream step's roof is said apart
        passes = {rep.context.get("passes_per_sample") for rep in reports} - {None}
        said = suite_tables(*(rep.context for rep in reports)).swept
        swept = [said.get(s, OWN_SWEPT).replace("{points}", gather_points(reports))
                 .replace("{name}", s[:-3]) for s in sweeps]
        notes.append(
            ", ".join(f"{s[:-3]} ms" for s in sweeps) + ": one pass of "
            + (swept[0] if len(swept) == 1 else ", of ".join(swept[:-1]) + ", and of " + swept[-1])
            + (f" (the median of {passes.pop()} passes per sample)" if len(passes) == 1 else "")
            + (f"; × roof: each repetition's pass over the time its bytes take at the roof "
               f"{CEILING} measured in the same round at the same {where(heaps, fields)} "
               "(the own-team case at the default team's), then their median and its "
               "interval; the bytes (<sweep>_bytes) are what one pass must move from memory, "
               "the roof a read-only pass's (roof_load_gbs) for every sweep but the stencil"
               + (" and the stream step, a copy's for those: the stream step's with plain "
                  "stores (roof_copy_gbs; its bytes count each line it writes read first), the "
                  "stencil's" if streamed else ", a copy's for it")
               + " (roof_copy_gbs, or roof_copy_streaming_gbs where it streams its "
               f"stores). 1× is the machine's limit; ⚠ under {ROOF_LOW}×." if roofs else
               f"; × ceiling: over the same sweep on {CEILING}'s block, already mapped, at the "
               f"same {where(heaps, fields)} (the own-team case against the default team's)."))
    notes += interval_notes(reports, several) + context_notes(reports, several)
    lines = verdict(reports, several, marks, margin, baseline) + ["## Every case", ""] + table(
        head, rows)
    for note in ([line + "." for line in wrong_ceilings(reports, "⚠ ")]
                 + marks.under([r for rep in reports for r in rep.rows])
                 + huge_notes(reports, several) + roof_notes(reports, several) + notes):
        lines += ["", note]
    lines += per_element(reports, several, marks) if len(shapes) > 1 else []
    lines += ranking(reports, several, marks)
    lines += cost_table(reports, several, marks, crossover)
    lines += fault_costs(reports, several, marks)
    lines += rounds(reports, several, marks)
    return "\n".join(lines) + "\n"


def rounds(reports, several, marks, most=3):
    """Each raced run's rounds, under the tables: whether it raced, how it ended, and
    each case's rounds and why it stopped, the cases that stopped alike on one line."""
    lines = []
    for rep in (rep for rep in reports if rep.race or any(r.race for r in rep.rows)):
        said = [f"Racing {rep.race}." if rep.race else "",
                f"The run ended with {rep.race_end}." if rep.race_end else "",
                "A case that stopped early has fewer repetitions, so its intervals are "
                "wider; they are shown as they are."]
        lines += ["", (f"{rep.label}: " if several else "") + " ".join(x for x in said if x),
                  ""]
        alike, references = {}, []
        for r in rep.rows:
            if r.race and not r.is_layout_case() and r.race[1] == "every round":
                references.append(r)
            elif r.race:
                alike.setdefault(r.race[:2], []).append(r)
        for (n, why), rows in sorted(alike.items()):
            names = [r.title() + marks.mark(r) for r in rows]
            lines.append(f"- {n} round{'s' if n != 1 else ''}, {why}: " + ", ".join(
                names[:most]) + (f" (+{len(names) - most} more)" if len(names) > most else ""))
        if references:
            counts = " or ".join(map(str, sorted({r.race[0] for r in references})))
            lines.append(f"- {counts} rounds, every round: the floors and ceilings "
                         f"({len(references)} case{'s' if len(references) != 1 else ''})")
    return ["", "## Rounds"] + lines if lines else []
