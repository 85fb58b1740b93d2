"""The chart (needs matplotlib)."""

import math

from .choice import MARGIN, uses
from .costs import PASSES
from .runs import (CEILING, ROOF_LOW, STEPS, Row, all_shapes, fields_words, measured_sweeps,
                   with_heaps, with_roofs)
from .tables import fmt_ms
from .verdict import judge

COLOURS = {"build_ms": "#4c72b0", "fill_ms": "#dd8452", "release_ms": "#55a868",
           "sum_ms": "#8172b3", "stencil_ms": "#c44e52", "lines_j_ms": "#937860",
           "lines_i_ms": "#da8bc3", "gather_ms": "#64b5cd", "fields_ms": "#8c8c8c",
           "stream_ms": "#2ca02c"}
OWN_COLOUR = "#ccb974"  # a sweep the program added
SWEEP_CEILING = "#222222"  # the ceiling's pass, marked in each sweep's panel
HEAT_MAP = "YlOrRd"  # the verdict's picture: pale at the choice, darker as a layout costs more
# The reference marks: case prefix, legend, line style, colour.
REFERENCES = (("floor/pages:4k", "floor, 4 KiB pages", "--", "#8c2d2d"),
              ("floor/pages:2m", "floor, 2 MiB pages", "-.", "#6a3d9a"),
              ("bandwidth", "ceiling: the fill alone", ":", "#222222"))


def chart_marks(r):
    """What the tables' marks say, short enough for a row's label."""
    share = r.few_huge()
    return (f" ({r.failures[0]} of {r.failures[1]} failed)" if r.failures else "") + (
        f" (⚠ {math.floor(100 * share)} % huge pages)" if share is not None else "")


def team_blocks(ax, rows, draw, mark):
    """Rows in blocks per team, each under its thread count: draw(r, y) draws a
    row and returns the labels at its ends; mark(group, top, bottom) marks the
    block's references. Returns every label, to be kept inside the panel."""
    y, ticks, labels, texts = 0.0, [], [], []
    for group in sorted({r.group for r in rows}):
        top = y - 0.6
        for r in (r for r in rows if r.group == group):
            texts += draw(r, y)
            ticks.append(y)
            labels.append(r.case.replace("/team_of_4", " (own team of 4)") + chart_marks(r))
            y += 1
        mark(group, top, y - 0.4)
        threads = group[1]
        ax.text(0, top - 0.45, f"{threads} thread{'s' if threads != 1 else ''}", fontsize=10,
                fontweight="bold", va="bottom")
        y += 1.4
    ax.set_yticks(ticks, labels)
    ax.set_ylim(y - 0.6, -1.4)
    ax.grid(axis="x", alpha=0.3)
    return texts


def bar_panel(ax, rep, rows):
    """Bars for one report at one shape and heap, grouped by team, with the references."""
    def draw(r, y):
        left = 0.0
        for step in STEPS:
            ax.barh(y, r.values[step], left=left, color=COLOURS[step], height=0.7)
            left += r.values[step]
        ci = r.interval("total")
        if ci:
            ax.errorbar(r.total, y, xerr=[[r.total - ci[0]], [ci[1] - r.total]], fmt="none",
                        ecolor="#333333", elinewidth=1, capsize=3)
            left = max(left, ci[1])
        ratio = f"  ·  {r.total / r.floor:.1f}×" if r.floor else ""
        return [ax.text(left, y, f"  {fmt_ms(r.total)} ms{ratio}", va="center", fontsize=9)]

    def mark(group, top, bottom):
        for case, _, style, colour in REFERENCES:
            refs = [r.total for r in rep.rows
                    if r.case.startswith(case) and not r.error and r.group == group]
            if refs:
                ax.vlines(min(refs), top, bottom, colors=colour, linestyles=style, lw=1.4)

    texts = team_blocks(ax, rows, draw, mark)
    ax.set_xlabel("ms per sample, median (labels: total, and × the lower floor)")
    return texts


def sweep_panel(ax, rows, sweep, roofs=False):
    """Each layout's pass of one sweep, in the rows the other sweeps' panels
    beside it share, with the ceiling's pass marked per team; each labelled × its
    roof where the reports have roofs (`roofs`), else × the ceiling's pass."""
    def draw(r, y):
        if sweep not in r.values:
            return []
        ax.barh(y, r.values[sweep], color=COLOURS.get(sweep, OWN_COLOUR), height=0.7)
        end = r.values[sweep]
        ci = r.interval(sweep)
        if ci:
            ax.errorbar(end, y, xerr=[[end - ci[0]], [ci[1] - end]], fmt="none",
                        ecolor="#333333", elinewidth=0.8, capsize=2)
            end = max(end, ci[1])
        # Narrower than the creation labels: five of these panels share a row.
        if roofs:
            roof = r.roof(sweep)
            ratio = f" · {roof[0]:.1f}×" + (" ⚠" if roof[0] < ROOF_LOW else "") if roof else ""
        else:
            ceiling = r.ceiling.get(sweep)
            ratio = f" · {r.values[sweep] / ceiling:.1f}×" if ceiling else ""
        return [ax.text(end, y, f" {fmt_ms(r.values[sweep])} ms{ratio}", va="center",
                        fontsize=8)]

    def mark(group, top, bottom):
        ceiling = next((r.ceiling[sweep] for r in rows
                        if r.group == group and sweep in r.ceiling), None)
        if ceiling:
            ax.vlines(ceiling, top, bottom, colors=SWEEP_CEILING, linestyles="--", lw=1.2)

    texts = team_blocks(ax, rows, draw, mark)
    ax.set_xlabel("ms per pass, median")
    return texts


HEAT_PANELS = 4  # a band of the verdict's picture holds this many groups at most
HEAT_TICKS = (1, 1.1, 1.25, 1.5, 2, 3, 5, 10, 20, 50, 100, 200, 500)  # its scale's marks


def heat_bands(reports, margin, several):
    """The verdict's picture, a band per report and shape (HEAT_PANELS groups at most a
    band): each group a panel, the layouts measured at the shape (rows, the same in every
    panel of the band) against the group's uses (made for one use, then each sweep at the
    largest N); none where the run chose nothing."""
    bands = []
    for rep in reports:
        by_shape = {}  # a grid's shape and fields: its groups
        for g, cs in judge(rep, margin)[1].items():
            name = ", ".join(x for x in (f"{g[3]} heap" if with_heaps([rep]) else "",
                                         f"{g[4]} thread{'s' if g[4] != 1 else ''}") if x)
            first = cs[0].rows[0]
            by_shape.setdefault(place_words(first.shape, first.fields), []).append((name, cs))
        for shape, groups in by_shape.items():
            # One row per case, in the suite's order: a case's first row stands for it.
            rows = list({r.case: r for _, cs in reversed(groups) for r in cs[0].rows}.values())
            rows.sort(key=Row.order)
            panels = [("heat", rep, rows, name, (cs, rep.sweeps())) for name, cs in groups]
            for i in range(0, len(panels), HEAT_PANELS):
                heading = ": ".join(([rep.label] if several else []) + [shape]) + (
                    ": each layout's cost over each use's choice (★), made for one use and "
                    f"swept {PASSES[-1]:,} times") if i == 0 else None
                bands.append((heading, panels[i:i + HEAT_PANELS]))
    return bands


def place_words(shape, fields):
    """A grid as a title names it: `400x800x100 float`, `400x800x100 float, 4 fields`."""
    return ", ".join(x for x in (shape, fields_words(fields)) if x)


def heat_cells(rows, choices, sweeps):
    """(column names, {(row, column): (ratio, the choice, as good as it)}) of one group:
    made for one use, then each sweep at the largest N; each row a case, found in the
    group by its name."""
    at = dict(zip(uses(sweeps), choices))
    columns = [("made once", at[(0, None)])] + [
        (f"{s[:-3]} ×{PASSES[-1]:,}", at[(PASSES[-1], s)]) for s in sweeps]
    cells = {}
    for i, case in enumerate(r.case for r in rows):
        for j, (_, c) in enumerate(columns):
            r = next((r for r in c.rows if r.case == case), None) if c else None
            if r is not None:
                cells[(i, j)] = ((1.0, True, True) if r is c.best else
                                 (c.ratios[id(r)][0], False, c.tie(r)))
    return [name for name, _ in columns], cells


def heat_panel(ax, rows, choices, sweeps, norm):
    """One group's layouts (rows) against its uses (columns), each cell the layout's cost
    over that use's choice on a log colour scale: ★ in a box for the choice, in bold a
    layout as good as it, grey where the layout was not measured."""
    import matplotlib
    import numpy as np
    names, cells = heat_cells(rows, choices, sweeps)
    data = np.full((len(rows), len(names)), np.nan)
    for (i, j), (ratio, _, _) in cells.items():
        data[i, j] = ratio
    colours = matplotlib.colormaps[HEAT_MAP].copy()
    colours.set_bad("#e6e6e6")
    image = ax.imshow(np.ma.masked_invalid(data), cmap=colours, norm=norm, aspect="auto",
                      interpolation="nearest")
    for (i, j), (ratio, best, good) in cells.items():
        ax.text(j, i, "★" if best else f"{ratio:.2f}" if ratio < 10 else f"{ratio:.1f}",
                ha="center", va="center", fontsize=11 if best else 8,
                color="white" if norm(ratio) > 0.55 else "black",
                fontweight="bold" if good else "normal")
        if best:
            ax.add_patch(matplotlib.patches.Rectangle((j - 0.5, i - 0.5), 1, 1, fill=False,
                                                      lw=2, ec="black"))
    ax.set_xticks(range(len(names)), names, rotation=30, ha="right", fontsize=9)
    ax.set_yticks(range(len(rows)),
                  [r.case.replace("/team_of_4", " (own team of 4)") + chart_marks(r)
                   for r in rows], fontsize=9)
    ax.tick_params(length=0)
    ax.set_label("heatmap")
    return image


def heat_norm(bands):
    """One log scale for every panel of the picture: from the least ratio (1, or a tied
    layout's just under it) to the greatest, at least 2."""
    import matplotlib
    ratios = [ratio for _, panels in bands for p in panels
              for ratio, _, _ in heat_cells(p[2], *p[4])[1].values()]
    return matplotlib.colors.LogNorm(vmin=min(ratios + [1.0]), vmax=max(ratios + [2.0]))


def keep_labels_inside(fig, columns, pad=0.02):
    """Widen each panel's x range until the text at its bars' ends fits inside.
    `columns` maps a set of panels sharing one scale to their labels."""
    renderer = fig.canvas.get_renderer()
    for panels in columns:
        right = 0.0
        for ax, texts in panels:
            width = ax.get_window_extent(renderer).width
            xmax = max(ax.get_xlim()[1], 1e-9)
            for t in texts:
                # A label's data width grows with the range: solve x + w·xmax/W <= (1-pad)·xmax.
                share = t.get_window_extent(renderer).width / width
                x = t.get_position()[0]
                xmax = max(xmax, x / max(1 - pad - share, 0.2))
            right = max(right, xmax)
        for ax, _ in panels:
            ax.set_xlim(0, right)


def chart(reports, path, fmt=None, margin=MARGIN):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    # Bands of panels, top to bottom. Per shape, a band of creation panels, one per
    # report and heap, on one scale; under it, where the reports swept their grids,
    # a band per report and heap with a panel per sweep, each sweep on its own scale.
    shapes = all_shapes(reports)
    heaps = with_heaps(reports)
    sweeps = measured_sweeps(reports)
    roofs = with_roofs(reports)
    several = len(reports) > 1
    # Each shape's grids by their fields, one field first: each its own bands.
    places = [(shape, fields) for shape in shapes for fields in sorted(
        {r.fields for rep in reports for r in rep.rows if r.shape == shape})]

    def title(rep, place, heap, *what):
        shape, fields = place
        return ": ".join(([rep.label] if several or not what else []) + (
            [place_words(shape, fields)] if len(places) > 1 or fields != 1 else []) + (
            [f"{heap} heap"] if heaps and heap else []) + list(what))

    # Each band: its heading, and its panels (kind, report, rows, title, scale), None blank.
    # The verdict's picture opens the chart: its panels hold (the Choices, the sweeps)
    # where the others hold their scale.
    bands = heat_bands(reports, margin, several)
    heats = len(bands)
    norm = heat_norm(bands) if heats else None
    for place in places:
        # Each report and heap with layouts at this grid; every one, empty, where none has.
        at = [(rep, heap, [r for r in rep.rows if r.is_layout() and (r.shape, r.fields) == place
                           and r.heap == heap])
              for rep in reports for heap in rep.heaps()]
        at = [a for a in at if a[2]] or at
        bands.append((None, [("bars", rep, rows, title(rep, place, heap), place)
                             for rep, heap, rows in at]))
        unswept = set()  # the reports without sweeps given their one band
        for rep, heap, rows in at if sweeps else ():
            if not rep.sweeps() and rows and rep not in unswept:
                unswept.add(rep)
                bands.append((None, [("none", rep, [], title(rep, place, None, "no sweeps"),
                                      None)]))
            mine = [r for r in rows if any(s in r.values for s in sweeps)]
            if not mine:
                continue
            # The sweeps' names head the panels, too narrow for the rest of the title,
            # which heads the band where it says more than "sweeps".
            heading = title(rep, place, heap, "sweeps")
            bands.append((heading if heading != "sweeps" else None,
                          [(s, rep, mine, s[:-3], (place, s)) if s in rep.sweeps() else None
                           for s in sweeps]))
    # Each band's inches: its rows, and room for its titles, axis and tick labels.
    heights = [0.3 * (len(panels[0][2]) + 2) + 1.6 if i < heats else
               0.3 * max(2, max(len(p[2]) + 2 * len({r.group for r in p[2]})
                                for p in panels if p)) + 1.3
               for i, (_, panels) in enumerate(bands)]
    fig = plt.figure(figsize=(16, max(5.0, sum(heights) + 1.2)), dpi=100, layout="constrained")
    # Room at the foot for the legend, which the layout does not place: (x, y, width, height).
    foot = 0.9 * (1.2 if sweeps else 0.6) / fig.get_figheight()
    fig.get_layout_engine().set(rect=(0, foot, 1, 1 - foot))
    fits = {}  # per scale: each panel on it and its bar labels
    for (heading, band), sub in zip(bands, fig.subfigures(len(bands), 1, squeeze=False,
                                                          height_ratios=heights)[:, 0]):
        if heading:
            sub.suptitle(heading, fontsize=12, fontweight="bold")
        cells = sub.add_gridspec(1, len(band))
        left = None  # the row labels of the panel to the left, which this one may share
        for i, panel in enumerate(band):
            if panel is None:
                left = None
                continue
            kind, rep, rows, name, scale = panel
            ax = sub.add_subplot(cells[0, i])
            ax.set_title(name, fontsize=11)
            if kind == "heat":
                image = heat_panel(ax, rows, *scale, norm)
                ticks = [t.get_text() for t in ax.get_yticklabels()]
                if ticks == left:
                    ax.tick_params(labelleft=False)
                left = ticks
                if i == len(band) - 1:
                    bar = sub.colorbar(image, ax=sub.axes, shrink=0.9, pad=0.01, aspect=30)
                    bar.set_label("× the use's choice (log scale; bold: as good as it)",
                                  fontsize=9)
                    steps = []  # the marks in range, none crowding the last kept
                    for t in (t for t in HEAT_TICKS if norm.vmin <= t <= norm.vmax):
                        if not steps or norm(t) - norm(steps[-1]) >= 0.07:
                            steps.append(t)
                    bar.set_ticks(steps, labels=[f"{t:g}×" for t in steps])
                    bar.minorticks_off()
                continue
            if kind == "none":
                ax.text(0.5, 0.5, "no sweeps in this report", ha="center", va="center",
                        transform=ax.transAxes, fontsize=11, color="#666666")
                ax.set_axis_off()
                continue
            texts = bar_panel(ax, rep, rows) if kind == "bars" else sweep_panel(
                ax, rows, kind, roofs)
            if len(band) > 2:  # too narrow for the axis label on one line
                ax.set_xlabel(ax.get_xlabel().replace(" (", "\n("))
            fits.setdefault(scale, []).append((ax, texts))
            ticks = [(y, t.get_text()) for y, t in zip(ax.get_yticks(), ax.get_yticklabels())]
            if ticks == left:
                ax.tick_params(labelleft=False)  # the same rows as its neighbour's
            left = ticks
    handles = [plt.Rectangle((0, 0), 1, 1, color=COLOURS[s]) for s in STEPS] + [
        plt.Line2D([], [], color=colour, ls=style, lw=1.4) for _, _, style, colour in REFERENCES]
    names = ["build", "fill", "release"] + [r[1] for r in REFERENCES]
    if sweeps:
        handles.append(plt.Line2D([], [], color=SWEEP_CEILING, ls="--", lw=1.2))
        names.append(f"ceiling of a sweep: the same pass over {CEILING}'s block " + (
            f"(labels: the pass, and × roof, ⚠ under {ROOF_LOW}×)" if roofs
            else "(labels: the pass, and × it)"))
    fig.legend(handles, names, loc="lower center", ncol=min(len(names), 4), frameon=False)
    c = reports[0].context
    when = str(c.get("date", ""))[:16].replace("T", " ")
    title = (f"voxgrid-suite on {c.get('host_name', '?')} ({c.get('num_cpus', '?')} CPUs), {when}"
             if len(reports) == 1 else f"voxgrid-suite: {len(reports)} reports side by side")
    fig.suptitle(title, fontsize=13)
    # The panels' widths settle with their tick labels: lay out, fit the labels, again.
    for _ in range(3):
        fig.draw_without_rendering()
        keep_labels_inside(fig, fits.values())
    fig.savefig(path, dpi=100, format=fmt)
    return fig
