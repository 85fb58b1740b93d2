"""voxgrid-report: a verdict, tables and a chart from voxgrid-suite's JSON reports.

Usage: voxgrid-report REPORT.json|DIR [...] [--png FILE] [--markdown FILE]
                      [--label TEXT ...] [--crossover SWEEP] [--margin PCT]
                      [--baseline CASE]

The tables open with a verdict, "Which layout for this grid": at each shape,
heap and thread count, the layout to choose when the grid is made for one use
and when it is swept N times by each sweep measured, the layouts as good as it
(the run cannot tell them apart, or their median cost is within --margin, 3 %
unless given), and every other's cost as a ratio to it, with an interval. Its
parts, in order: choice (that table), how (how it is chosen), recipe (the
cheapest case measured, per use, in words: its index rule and its memory, with
its median cost, and with --baseline what moving from that case to it gains),
memory (the memory to choose, from the creation, the rule held fixed, with each
memory's ratios to it and to the floors), rules (the index rule to choose for
each sweep and N, the memory held fixed), cannot (what the run cannot decide),
changes (where the choice changes with the shape) and ratios (every layout's
cost over the choice's); bench/regenerate-docs picks them with part=. Where a
raced run's context leaves a cell undecided, the cell says "undecided: ..."
instead of naming a choice, and a section, Rounds, under the tables gives each
case's rounds and why it stopped (docs/racing.md).

REPORT.json is what `voxgrid-suite --benchmark_format=json` (or --benchmark_out)
writes, with every repetition or only the aggregates; `-` reads standard input
and a directory stands for every *.json in it. Figures are medians over the
repetitions that did not fail; where a report holds every repetition, each
median comes from them with its distribution-free confidence interval, and
the aggregates are used only where nothing else is. A case with failed
repetitions is marked in every table it is in. With neither --png nor
--markdown the Markdown tables go to standard output. Several reports go side by side, each
labelled by its host, allocator and huge-page mode unless --label names them
(and by the vector extension it was built for, where theirs differ).
Cases measured on a fresh and on an aged heap are told apart, and each sweep
measured gets its columns, its chart panels and its ranking, a sweep the
program added as well. --crossover names the sweep the cost table repeats
(default stencil). Only --png needs matplotlib.
--png and --markdown are written beside their file first and put in its place
once whole: a failed or interrupted report leaves the file as it was.
Each sweep is held against the machine's limit, × roof: its pass over the time
the bytes it must move take at the bandwidth the plain-stores ceiling measured
in the same round; a layout that beats a ceiling's pass by more than both
intervals shows that ceiling wrong.
Exit status: 0, everything written; 1, bad input or a failed write; 3,
everything written, but the run held failed repetitions or a ceiling a layout
beat (each said in one line).
"""

import argparse
import os
import signal
import stat
import sys

from .charts import chart
from .choice import MARGIN
from .report import markdown
from .runs import (Report, ReportError, SWEEPS, expand, failures, known_sweeps, measured_sweeps,
                   name_isas)
from .tables import wrong_ceilings
from .verdict import named_in


class Stopped(BaseException):
    """A signal asked the report to stop (as KeyboardInterrupt does for SIGINT)."""

    def __init__(self, signo):
        super().__init__(signo)
        self.signo = signo


def main(argv):
    parser = argparse.ArgumentParser(
        prog="voxgrid-report", description=__doc__.split("\n\n")[0],
        epilog="With neither --png nor --markdown the tables go to standard output. Exit "
               "status: 0, all written; 1, bad input or a failed write; 3, "
               "all written, but the run held failed repetitions, marked in the tables, or a "
               "ceiling a layout beat.")
    parser.add_argument("reports", nargs="+", metavar="REPORT.json",
                        help="'-' reads standard input; a directory, every *.json in it")
    parser.add_argument("--png", metavar="FILE", help="write the chart here (needs matplotlib)")
    parser.add_argument("--markdown", metavar="FILE", help="write the tables here")
    parser.add_argument("--label", action="append", default=[], metavar="TEXT",
                        help="name a report in the chart and the tables (once per report, "
                             "in order, a directory's reports counted one by one)")
    parser.add_argument("--crossover", metavar="SWEEP",
                        help="the sweep the cost table adds N passes of: "
                             f"{', '.join(s[:-3] for s in SWEEPS)}, with several fields a "
                             "voxel fields or stream, or one the program added (default stencil)")
    parser.add_argument("--margin", metavar="PCT",
                        help="a layout whose median cost is within PCT %% of the choice's "
                             f"counts as good as it (default {100 * MARGIN:g})")
    parser.add_argument("--baseline", metavar="CASE",
                        help="a case of the run without its shape and threads (nested, "
                             "flat_vector): the recipe says what moving from it gains")
    args = parser.parse_args(argv)
    if args.png:
        # Before anything is read or written: no half-done output without it.
        try:
            import matplotlib  # noqa: F401
        except ImportError:
            print("voxgrid-report: drawing a chart (--png) needs matplotlib "
                  "(Debian: python3-matplotlib)", file=sys.stderr)
            return 1
    try:
        margin = read_margin(args.margin)
        crossover = f"{'stencil' if args.crossover is None else args.crossover}_ms"
        paths = expand(args.reports)
        if args.label and len(args.label) != len(paths):
            raise ReportError(f"{len(args.label)} --label for {len(paths)} reports: "
                              "give one per report")
        labels = args.label or [None] * len(paths)
        reports = [Report(p, l) for p, l in zip(paths, labels)]
        name_isas(reports)
        # A sweep the programs added is known only once their reports are read.
        if crossover not in known_sweeps(reports):
            raise ReportError(f"--crossover={args.crossover}: not a sweep; the sweeps are "
                              f"{', '.join(s[:-3] for s in known_sweeps(reports))}")
        # Asked for by name, the sweep must be there; the default goes without its table.
        if args.crossover is not None and not any(crossover in rep.sweeps() for rep in reports):
            measured = [s[:-3] for s in measured_sweeps(reports)]
            several = len(reports) > 1
            raise ReportError(
                f"--crossover={args.crossover}: not measured in "
                f"{'any of these reports (their' if several else 'this report (its'} sweeps: "
                f"{', '.join(measured) or 'none'})")
        if args.baseline is not None and not named_in(reports, args.baseline):
            layouts = list(dict.fromkeys(r.case for rep in reports for r in rep.rows
                                         if r.is_layout()))
            raise ReportError(f"--baseline={args.baseline}: no layout of "
                              f"{'these reports' if len(reports) > 1 else 'this report'} is "
                              f"named so (its layouts: {', '.join(layouts) or 'none'})")
        tables = markdown(reports, crossover, margin, args.baseline)
        if args.markdown:
            write_whole(args.markdown, lambda path: write(path, tables))
        if args.png:
            # The format by the file's own name: the temporary's says nothing.
            fmt = os.path.splitext(args.png)[1][1:].lower() or "png"
            write_whole(args.png, lambda path: chart(reports, path, fmt, margin))
        if not args.markdown and not args.png:
            sys.stdout.write(tables)
            sys.stdout.flush()
        failed = failures(reports)
        if failed:
            # Everything is written, the failures marked; the status says they were there.
            print(f"voxgrid-report: {failed}", file=sys.stderr)
        # A ceiling a layout beats measured no limit: a fault of the run, as a failure is.
        wrong = wrong_ceilings(reports)
        for line in wrong:
            print(f"voxgrid-report: {line}", file=sys.stderr)
        if failed or wrong:
            return 3
    except ReportError as e:
        print(f"voxgrid-report: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"voxgrid-report: cannot write {e.filename or 'the output'}: {e.strerror}",
              file=sys.stderr)
        return 1
    return 0


def read_margin(text):
    """--margin's PCT as a share: `3`, `3%` or `0.5`, from 0 to under 100."""
    if text is None:
        return MARGIN
    try:
        pct = float(text.strip().rstrip("%"))
    except ValueError:
        pct = float("nan")
    if not 0 <= pct < 100:  # nan fails too
        raise ReportError(f"--margin={text}: not a percentage from 0 to under 100")
    return pct / 100


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def write_whole(path, fill):
    """fill(name) writes the output into a temporary beside path (.NAME.tmp.PID),
    which takes the file's place only once whole; anything that stops it, an
    error or a signal, removes the temporary and leaves the file as it was. A
    name that is there and is no regular file (/dev/stdout) is written in place."""
    in_place = os.path.exists(path) and not os.path.isfile(path)
    real = os.path.realpath(path)  # through a link, the file it names is replaced
    head, name = os.path.split(real)
    temporary = path if in_place else os.path.join(head, f".{name}.tmp.{os.getpid()}")
    try:
        fill(temporary)
        if not in_place:
            if os.path.exists(real):
                os.chmod(temporary, stat.S_IMODE(os.stat(real).st_mode))
            os.replace(temporary, real)
    except BaseException as e:
        if not in_place:
            try:
                os.unlink(temporary)
            except OSError:  # never made, or already in place
                pass
        if isinstance(e, OSError):
            e.filename = path  # the file asked for, not its temporary
        raise


def stop(signo, _frame):
    raise Stopped(signo)


def run(argv):
    """main, stopped by SIGINT, SIGTERM or SIGHUP as by an error, then dying by
    the signal, so that whoever started it sees 128 + N. A SIGHUP ignored from
    the start (nohup) stays ignored."""
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, stop)
    if signal.getsignal(signal.SIGHUP) != signal.SIG_IGN:
        signal.signal(signal.SIGHUP, stop)
    try:
        return main(argv)
    except KeyboardInterrupt:
        signo = signal.SIGINT
    except Stopped as e:
        signo = e.signo
    print(f"voxgrid-report: stopped by {signal.Signals(signo).name}", file=sys.stderr)
    signal.signal(signo, signal.SIG_DFL)
    os.kill(os.getpid(), signo)
    return 128 + signo
