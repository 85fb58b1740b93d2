"""voxgrid_report: a verdict, tables and charts from voxgrid-suite's JSON reports.

One concern a file: runs (reading reports), stats (medians and intervals),
tables, costs (the cost table, what a fault costs), choice (the cheapest and those
as good as it), storage (a layout's index rule and memory), verdict, charts (needs
matplotlib, imported only to draw), report (the whole Markdown report), cli
(the command line of `voxgrid-report`) and replay (`race-replay`: a run's samples put
through the suite's racing rule)."""

from .charts import chart
from .cli import main, run, write, write_whole
from .costs import cost_table, fault_costs
from .report import markdown
from .runs import Report, ReportError, Row
from .stats import median_interval, order_ranks
from .tables import Marks, per_element, ranking
from .choice import MARGIN, Choice
from .storage import Storage, recipe, storage
from .verdict import PARTS as VERDICT_PARTS, uses_table, verdict_parts
