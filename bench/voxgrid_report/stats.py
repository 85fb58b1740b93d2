"""The statistics every figure uses: medians, their intervals, overlaps."""

import math

LEVEL = 0.95  # the confidence the intervals aim for


def order_ranks(n, level=LEVEL):
    """(k, coverage) of the median's order-statistic interval [x(k), x(n+1-k)] of n values.

    It covers the true median unless at least n+1-k of the n values fall on one
    side of it: 1 - 2 P(B <= k-1) for B ~ Binomial(n, 1/2), whatever the
    distribution. k is the largest whose coverage reaches `level`; below 6
    values none does, and k = 1, [min, max], comes back with its lower coverage."""
    k, cover = 1, 1 - 2 / 2 ** n
    tail = 1  # P(B <= j-1) * 2**n, for the j tried
    for j in range(2, (n + 1) // 2 + 1):
        tail += math.comb(n, j - 1)
        c = 1 - 2 * tail / 2 ** n
        if c < level:
            break
        k, cover = j, c
    return k, cover


def median_interval(values, level=LEVEL):
    """The median's interval (x(k), x(n+1-k), coverage) by order_ranks; None below 2 values."""
    n = len(values)
    if n < 2:
        return None
    xs = sorted(values)
    k, cover = order_ranks(n, level)
    return xs[k - 1], xs[n - k], cover


def fmt_pct(p):
    return f"{100 * p:.1f} %"


def enough(n):
    """Whether n paired repetitions give a ratio interval that reaches LEVEL."""
    return n >= 2 and order_ranks(n)[1] >= LEVEL


def coverages(reports):
    """Each interval's ranks and coverage as used, per count of values seen:
    `[x4, x12] of 15 samples, 96.5 %`. Repetitions of one sample each are samples."""
    seen = {}
    for rep in reports:
        one = str(rep.context.get("samples_per_iteration")) == "1"
        for r in rep.rows:
            if "total" in r.runs:
                n = len(r.runs["total"])
                seen[(n, "samples" if one else "repetitions")] = order_ranks(n)
    return "; ".join(f"[x{k}, x{n + 1 - k}] of {n} {unit}, {fmt_pct(c)}"
                     for (n, unit), (k, c) in sorted(seen.items()))


def overlaps(a, b):
    return a[0] <= b[1] and b[0] <= a[1]
