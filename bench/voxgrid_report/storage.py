"""A layout's storage, two decisions: its index rule (where element (i, j, k) lives) and
its memory (how the one block is got and first touched). Read from a crossed case's name,
`padded/memory:huge`, or from an older run's bundle through LEGACY_STORAGE; said in the
words of the run's context, or the package's own for an older run."""

import math
from typing import NamedTuple

from .runs import LEGACY_STORAGE, MEMORY_PART

OWN_LOOPS = "loops:own"


class Storage(NamedTuple):
    rule: str  # "padded", "bricks_4/loops:own"
    memory: str  # "huge"


def storage(case):
    """The Storage of a one-block layout's case; None for a layout whose storage is its
    idiom, and for anything that is no layout."""
    parts = case.split("/")
    memory = [p[len(MEMORY_PART):] for p in parts if p.startswith(MEMORY_PART)]
    if memory:
        return Storage("/".join(p for p in parts if not p.startswith(MEMORY_PART)), memory[0])
    return Storage(*LEGACY_STORAGE[case]) if case in LEGACY_STORAGE else None


def rule_words(rule, suite):
    """`padded strides`, `4x4x4 bricks (its own loops)`."""
    base, _, rest = rule.partition("/")
    words = suite.index_rules.get(base, base)
    return words + (" (its own loops)" if rest == OWN_LOOPS else f" ({rest})" if rest else "")


def memory_words(memory, suite):
    return suite.memories.get(memory, memory)


def idiom_words(case, suite):
    """The memory a layout whose storage is its idiom has, where the run or the package
    says it: by its own name, else by its first part's."""
    said = suite.idiom_memory
    return said.get(case) or said.get(case.split("/")[0])


def recipe(case, suite):
    """The case as one line a person can act on: `padded strides, one block aligned to
    2 MiB and advised huge pages, first touched by the parallel fill`."""
    st = storage(case)
    if st:
        return f"{rule_words(st.rule, suite)}, {memory_words(st.memory, suite)}"
    words = idiom_words(case, suite)
    return f"{case}: {words}" if words else case


def memory_order(memory, suite):
    names = list(suite.memories)
    return (names.index(memory) if memory in names else len(names), memory)


def rule_order(rule, suite):
    """The suite's order of rules, a rule's own loops right after it."""
    names = list(suite.index_rules)
    base = rule.split("/")[0]
    return (names.index(base) if base in names else len(names), base, rule)


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if all(
        v > 0 for v in values) else 0.0


class Pool:
    """Several cases taken as one, round by round: each round's cost is the geometric
    mean of theirs. Two pools over cases paired one to one (the same rule under two
    memories, say) then have, in each round, the geometric mean of the pairs' ratios
    as their ratio. It stands for a Row in a Choice."""

    race = None  # the run's race judges cases, never pools

    def __init__(self, name, rows, place):
        self.case, self.rows, self.place = name, rows, place
        self.total = geomean([r.total for r in rows])
        self.values = {m: geomean([r.values[m] for r in rows]) for m in rows[0].values
                       if all(m in r.values for r in rows)}

    def spans(self, n=0, sweep=None):
        each = [r.spans(n, sweep) for r in self.rows]
        common = set.intersection(*(set(e) for e in each))
        return {k: geomean([e[k] for e in each]) for k in sorted(common)}

    def order(self):
        return (self.place, self.case)

    @staticmethod
    def few_huge():
        return None


def crossed(rows):
    """{Storage: row} of the one-block layouts among the rows (a crossed name first,
    where an older bundle names the same storage)."""
    cells = {}
    for r in sorted(rows, key=lambda r: MEMORY_PART not in r.case):
        st = storage(r.case)
        if st and st not in cells:
            cells[st] = r
    return cells


def pools(cells, compare, suite, sweep=None):
    """The pools that compare memories with the rule held fixed (compare="memory"), or
    rules with the memory held fixed (compare="rule"): each compared value's cases under
    the held values measured under every compared one. A compared value measured under
    none of the others' held values is left out, the one measured under the fewest first.
    Returns (pools, the held values, those left out); pools is None where fewer than two
    compared values are left."""
    held_axis = "rule" if compare == "memory" else "memory"
    order = {"memory": memory_order, "rule": rule_order}
    cells = {k: r for k, r in cells.items() if sweep is None or sweep in r.values}

    def cell(c, h):
        return cells.get(Storage(**{compare: c, held_axis: h}))

    compared = sorted({getattr(k, compare) for k in cells},
                      key=lambda v: order[compare](v, suite))
    helds = sorted({getattr(k, held_axis) for k in cells},
                   key=lambda v: order[held_axis](v, suite))
    left = []
    common = []
    while len(compared) > 1:
        common = [h for h in helds if all(cell(c, h) for c in compared)]
        if common:
            break
        worst = min(reversed(compared), key=lambda c: sum(1 for h in helds if cell(c, h)))
        compared.remove(worst)
        left.append(worst)
    if len(compared) < 2:
        return None, [], left
    return ([Pool(c, [cell(c, h) for h in common], i) for i, c in enumerate(compared)],
            common, left)
