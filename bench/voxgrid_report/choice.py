"""Choosing among cases: the cheapest, those as good as it, and each one's ratio to it."""

import statistics

from .costs import PASSES
from .stats import enough, median_interval

MARGIN = 0.03  # a median cost within this of the choice's counts as good as the choice
MOST_NAMED = 3  # a cell names this many at most, then "(+k more)"


def paired(a, b):
    """a's cost over b's, each {round: cost}, round by round over the rounds that made
    both: (median, interval or None, rounds), or None where no round made both."""
    ratios = [a[k] / b[k] for k in sorted(set(a) & set(b)) if b[k] > 0]
    if not ratios:
        return None
    return statistics.median(ratios), median_interval(ratios), len(ratios)


def fmt_ratio(median, ci):
    """`2.31× [2.20, 2.45]`."""
    return f"{median:.2f}×" + (f" [{ci[0]:.2f}, {ci[1]:.2f}]" if ci else "")


def named(names, most=MOST_NAMED):
    """`a = b = c` where `most` names or fewer; beyond, the first and how many more,
    `a (+3 more)`, so that a cell stays short enough to read across a table's row."""
    return " = ".join(names) if len(names) <= most else f"{names[0]} (+{len(names) - 1} more)"


class Choice:
    """One way of using a grid, judged in one group: the case to choose, and each
    other's cost as a ratio to it. The choice is the lowest median cost; each other
    case's ratio is taken round by round (the same round made both, so a slow
    stretch of the host moves both), and its median and interval come from those
    ratios. A case counts as good as the choice where this run cannot tell them
    apart (the interval reaches down to 1) or where the median ratio is within the
    margin. A row is a Row, or anything with its spans(), total, values, order() and race."""

    def __init__(self, rows, n, sweep, margin=MARGIN):
        self.n, self.sweep, self.rows, self.margin = n, sweep, rows, margin
        spans = {id(r): r.spans(n, sweep) for r in rows}
        self.medians = {id(r): (statistics.median(spans[id(r)].values()) if spans[id(r)]
                                else r.total + (n * r.values[sweep] if sweep else 0))
                        for r in rows}
        self.best = min(rows, key=lambda r: (self.medians[id(r)], r.order()))
        best = spans[id(self.best)]
        self.pairs = None  # the fewest rounds any comparison had
        self.ratios = {}  # id(row): (median, interval or None)
        for r in rows:
            got = paired(spans[id(r)], best)
            if r is not self.best:
                pairs = got[2] if got else 0
                self.pairs = pairs if self.pairs is None else min(self.pairs, pairs)
            self.ratios[id(r)] = got[:2] if got else (
                self.medians[id(r)] / self.medians[id(self.best)], None)
        self.decided = self.pairs is not None and enough(self.pairs)
        self.tied = [r for r in sorted(rows, key=lambda r: self.ratios[id(r)][0])
                     if r is not self.best and self.tie(r)]
        # A raced run names the uses its rounds left a tie only by the interval: there it
        # has not decided, whichever case is cheapest.
        self.undecided = any(r.race and (n, sweep) in r.race[2] for r in rows)

    def tie(self, r):
        """Whether r counts as good as the choice: not told apart, or within the margin."""
        median, ci = self.ratios[id(r)]
        return ci is None or ci[0] <= 1 or median <= 1 + self.margin

    def good(self):
        """The choice, then each case as good as it, the cheapest first."""
        return [self.best] + self.tied

    def names(self, marks):
        return undecided(self, named([marks.case(r) for r in self.good()]))

    def ratio(self, r, marks=None):
        """`2.31× [2.20, 2.45]`, = before it where as good as the choice, ★ for the choice."""
        if r is self.best:
            return "★"
        return ("= " if self.tie(r) else "") + fmt_ratio(*self.ratios[id(r)])


def undecided(choice, text):
    """The cell's text, said to be undecided where the run left the choice so."""
    return f"undecided: {text}" if choice.undecided else text


def uses(sweeps):
    """The ways of using a grid the verdict judges: made for one use (its creation
    alone), then each sweep at each N of the cost table."""
    return [(0, None)] + [(n, s) for s in sweeps for n in PASSES]


def choose(rows, n, sweep, margin=MARGIN):
    """The Choice among the cases that measured the sweep (a program's own sweep may
    not run on every layout), or None where fewer than two did."""
    rows = [r for r in rows if sweep is None or sweep in r.values]
    return Choice(rows, n, sweep, margin) if len(rows) > 1 else None


def segments(choices):
    """One sweep's Choices as N grows, in runs: [first N, the case chosen, its
    Choices]. A choice holds while it counts as good as the cheapest; the next run
    starts where it no longer does, or where the run leaves it undecided or decides it."""
    runs = []
    for c in choices:
        if runs and runs[-1][2][-1].undecided == c.undecided and any(
                r is runs[-1][1] for r in c.good()):
            runs[-1][2].append(c)
        else:
            runs.append([c.n, c.best, [c]])
    return runs


def sweep_cell(choices, marks):
    """One sweep's choice as N grows: a choice holds while it counts as good as the
    cheapest, and the cell names where the next one takes over; those as good as it
    are named at the largest N it holds for."""
    if not choices:
        return "–"
    cells = []
    for i, (n, best, held) in enumerate(segments(choices)):
        text = undecided(held[-1], named([marks.case(best)] + [
            marks.case(r) for r in held[-1].good() if r is not best]))
        cells.append(text if i == 0 else f"from N = {n:,}: {text}")
    return "; ".join(cells)
