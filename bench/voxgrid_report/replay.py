"""race-replay: a finished run's samples put through the racing rule, round by round in
the run's own order, by the suite's own `--race-replay`; then the verdict of what racing
would have kept, cell by cell beside the full run's.

Usage: race-replay --suite PATH/voxgrid-suite RUN.json... [--at-least PERCENT]

A cell is a group (shape, field count, element type, heap and team) and a use (made once, or a sweep
at each N) that the full run decides. It agrees where the raced run's choice is the full
run's or one of those as good as it there. Exit status: 0; 1, bad input, or with
--at-least a run whose cells agree less often than PERCENT %.
"""

import argparse
import collections
import subprocess
import sys
from typing import NamedTuple

from .runs import Report, ReportError, read_json
from .verdict import group_key, judge, use_name, verdict_where


class Cell(NamedTuple):
    group: tuple  # (shape, fields, element, heap, team)
    full: object  # the full run's Choice
    raced: object  # the raced run's Choice there, or None

    def agrees(self):
        return self.raced is not None and self.raced.best.case in {
            r.case for r in self.full.good()}


class Replay(NamedTuple):
    cells: list  # every Cell the full run decides
    layouts: tuple  # (samples kept, the full run's) of the layouts
    every: tuple  # the same of every case, floors and ceilings among them
    rounds: dict  # rounds: how many layout cases the race kept for as many
    end: str  # the race's end, "every decision made after 9 of 15 rounds"

    def agreed(self):
        return sum(1 for c in self.cells if c.agrees())

    def undecided(self):
        return sum(1 for c in self.cells if c.raced is not None and c.raced.undecided)

    def share(self):
        """The share of the cells that agree; every one, where the run decides none."""
        return self.agreed() / len(self.cells) if self.cells else 1.0


def good_repetitions(data):
    """{case: its good repetitions in their order}, {case: its failed ones}."""
    good, failed = {}, {}
    for b in data["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b.get("run_name", b.get("name"))
        good.setdefault(name, [])
        failed.setdefault(name, [])
        (failed if b.get("error_occurred") else good)[name].append(b)
    for reps in good.values():
        reps.sort(key=lambda b: b.get("repetition_index", 0))
    return good, failed


def records(rep, limit):
    """What the suite's --race-replay reads: the limit, each case, then each case's
    good repetitions, one cost line each, in repetition order."""
    sweeps = rep.suite.sweeps + rep.added
    lines = [f"limit\t{limit}"]
    for r in rep.rows:
        kind = "layout" if r.is_layout_case() else "reference"
        lines.append(f"case\t{r.name}\t{' '.join(map(str, group_key(r)))}\t{kind}")
    for r in rep.rows:
        # One good repetition keeps no runs: its values are its cost. A case that failed
        # in every repetition has none, and the race counts it failed at once.
        runs = r.runs or ({m: [v] for m, v in r.values.items()} if not r.error else {})
        order = sorted(range(len(runs.get("total", []))), key=lambda i: (r.rounds or [0])[i])
        for i in order:
            lines.append("\t".join(["cost", r.name, repr(runs["total"][i])] + [
                f"{s}={runs[s][i]!r}" for s in sweeps if s in runs]))
    return "\n".join(lines) + "\n"


def race(suite, text):
    """The suite's replay of the records: ({case: (rounds, why, undecided)}, (rounds, why))."""
    try:
        out = subprocess.run([suite, "--race-replay"], input=text, capture_output=True,
                             text=True, check=False)
    except OSError as e:
        raise ReportError(f"--suite {suite}: cannot run it: {e.strerror}") from None
    if out.returncode != 0:
        said = (out.stderr.strip().splitlines() or [f"exit status {out.returncode}"])[-1]
        raise ReportError(f"--suite {suite}: the replay failed: {said}")
    cases, end = {}, None
    for line in out.stdout.splitlines():
        f = line.split("\t")
        try:
            if f[0] == "case" and len(f) == 5:
                cases[f[1]] = (int(f[2]), f[3], f[4])
            elif f[0] == "run" and len(f) == 3:
                end = (int(f[1]), f[2])
            else:
                raise ValueError(line)
        except ValueError:
            raise ReportError(f"--suite {suite}: not a replay's output: {line!r}") from None
    if end is None:
        raise ReportError(f"--suite {suite}: its replay said no end of the run")
    return cases, end


def truncated(data, good, failed, kept, end, limit):
    """The run as racing would have written it: each case's first `kept` good
    repetitions, its failed ones only where the race got as far, no aggregates, and the
    race's words in the context."""
    rounds, why = end
    context = dict(data.get("context", {}), race_end=f"{why} after {rounds} of {limit} rounds")
    benchmarks = []
    for name, (n, stopped, undecided) in kept.items():
        reps = good.get(name, [])
        benchmarks += reps[:n] + (failed.get(name, []) if n >= len(reps) else [])
        context[f"race/{name.removesuffix('/manual_time')}"] = f"{n};{stopped};{undecided}"
    return dict(data, context=context, benchmarks=benchmarks)


def replay(path, suite, data=None):
    """The run at `path` replayed through the suite's racing rule."""
    data = read_json(path) if data is None else data
    full = Report(path, None, data)
    if full.single() or not full.has_runs():
        raise ReportError(f"{path}: it holds "
                          + ("one repetition per case" if full.single() else "only the aggregates")
                          + ": there are no rounds to replay")
    good, failed = good_repetitions(data)
    if any(r.name not in good for r in full.rows):
        raise ReportError(f"{path}: a case holds only the aggregates: there are no rounds "
                          "to replay")
    limit = max(len(good[r.name]) + len(failed[r.name]) for r in full.rows)
    kept, end = race(suite, records(full, limit))
    missing = [r.name for r in full.rows if r.name not in kept]
    if missing:
        raise ReportError(f"--suite {suite}: its replay left out {missing[0]}")
    raced = Report(path, None, truncated(data, good, failed, kept, end, limit))
    choices = {(g, c.n, c.sweep): c for g, cs in judge(raced)[1].items() for c in cs if c}
    cells = [Cell(g, c, choices.get((g, c.n, c.sweep)))
             for g, cs in judge(full)[1].items() for c in cs if c]
    per = samples_per_repetition(full)

    def samples(rows):
        return (per * sum(min(kept[r.name][0], len(good[r.name])) for r in rows),
                per * sum(len(good[r.name]) for r in rows))
    layouts = [r for r in full.rows if r.is_layout_case()]
    # As the live run's race_end says it: once every decision is made, the floors and
    # ceilings go on alone to the limit.
    decided = max((kept[r.name][0] for r in layouts), default=end[0])
    took = f"; floors and ceilings took {end[0]}" if decided < end[0] else ""
    return Replay(cells, samples(layouts), samples(full.rows),
                  dict(sorted(collections.Counter(kept[r.name][0] for r in layouts).items())),
                  f"{end[1]} after {decided if took else end[0]} of {limit} rounds{took}")


def samples_per_repetition(rep):
    try:
        return max(1, int(rep.context.get("samples_per_iteration", 1)))
    except ValueError:
        return 1


def pct(part, whole):
    return f"{100 * part / whole:.1f} %" if whole else "–"


def summary(result, label=None):
    """The replay in lines: the agreement, the samples kept, the rounds, each cell that differs."""
    agreed, cells = result.agreed(), len(result.cells)
    (lk, lf), (ak, af) = result.layouts, result.every
    lines = [(f"{label}: " if label else "")
             + (f"{agreed:,} of {cells:,} cells agree ({pct(agreed, cells)})" if cells else
                "the full run decides no cell") + f"; layout samples {lk:,} of {lf:,} kept "
             f"({pct(lk, lf)}), all samples {ak:,} of {af:,} ({pct(ak, af)}); the race ended "
             f"with {result.end}."]
    if cells:
        lines.append(f"- undecided in the raced verdict: {result.undecided():,} of the "
                     f"{cells:,} cells (the rounds ran out on them)")
    lines += ["- rounds per layout case: " + "; ".join(
                  f"{n}: {k} case{'s' if k != 1 else ''}" for n, k in result.rounds.items())]
    for c in result.cells:
        if not c.agrees():
            full = " = ".join(r.case for r in c.full.good())
            raced = "no choice" if c.raced is None else c.raced.best.case + (
                " (undecided)" if c.raced.undecided else "")
            lines.append(f"- differs at {verdict_where(c.group)}, {use_name(c.full)}: "
                         f"the full run {full}; the raced run {raced}")
    return lines


def main(argv):
    parser = argparse.ArgumentParser(prog="race-replay", description=__doc__.split("\n\n")[0])
    parser.add_argument("runs", nargs="+", metavar="RUN.json",
                        help="voxgrid-suite's JSON of a run (--benchmark_out)")
    parser.add_argument("--suite", required=True, metavar="PATH",
                        help="the voxgrid-suite whose racing rule replays the runs")
    parser.add_argument("--at-least", metavar="PERCENT", type=float,
                        help="exit 1 where a run's cells agree less often than this")
    args = parser.parse_args(argv)
    low = []
    try:
        for path in args.runs:
            result = replay(path, args.suite)
            print("\n".join(summary(result, path)), flush=True)
            if args.at_least is not None and 100 * result.share() < args.at_least:
                low.append(f"{path}: {pct(result.agreed(), len(result.cells))} of its cells "
                           f"agree, under {args.at_least:g} %")
    except ReportError as e:
        print(f"race-replay: {e}", file=sys.stderr)
        return 1
    for line in low:
        print(f"race-replay: {line}", file=sys.stderr)
    return 1 if low else 0
