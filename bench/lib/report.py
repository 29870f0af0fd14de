"""The bench's one table: each figure gives its rows, each row perhaps with a
goal; the table shows whether the goal is met. A goal about behaviour (what
the tool does, never how fast) is what --check fails on."""
import collections
import datetime
import os
import platform

HEADERS = ("figure", "measure", "vormcfg", "baseline", "vs baseline", "goal", "goal met")

# shown: the goal as the table shows it; met: whether a value meets it (None:
# shown for reference only); behaviour: whether --check fails when it is missed.
Goal = collections.namedtuple("Goal", "shown met behaviour")
# value: what the goal is checked against.
Row = collections.namedtuple("Row", "figure measure tool base versus goal value")


def at_most(limit):
    return lambda value: value <= limit


def below(limit):
    return lambda value: value < limit


def within(centre, tolerance):
    return lambda value: abs(value - centre) <= tolerance


def exactly(wanted):
    return lambda value: value == wanted


def timing(shown, met):
    return Goal(shown, met, behaviour=False)


def behaviour(shown, met):
    return Goal(shown, met, behaviour=True)


def reference(shown):
    """A figure's expected value, shown beside it and never judged."""
    return Goal(shown, None, behaviour=False)


def row(figure, measure, tool, base="", versus="", goal=None, value=None):
    return Row(figure, measure, tool, base, versus, goal, value)


def verdict(r):
    if r.goal is None or r.goal.met is None:
        return "-"
    return "met" if r.goal.met(r.value) else "NOT met"


def table(rows):
    """The rows under the headers, in columns; a figure's name only on its first row."""
    cells = []
    shown_figure = None
    for r in rows:
        figure = r.figure if r.figure != shown_figure else ""
        shown_figure = r.figure
        goal = r.goal.shown if r.goal is not None else ""
        cells.append((figure, r.measure, r.tool, r.base, r.versus, goal, verdict(r)))
    widths = [max(len(str(x[i])) for x in cells + [HEADERS]) for i in range(len(HEADERS))]
    lines = ["  ".join(h.ljust(w) for h, w in zip(HEADERS, widths)), "  ".join("-" * w for w in widths)]
    lines += ["  ".join(str(v).ljust(w) for v, w in zip(x, widths)).rstrip() for x in cells]
    return lines


def missed_behaviour(rows):
    """The rows whose behaviour goal is not met."""
    return [r for r in rows if r.goal is not None and r.goal.behaviour and not r.goal.met(r.value)]


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
            "kernel": platform.release(), "cores": os.cpu_count(), "cpu": model, "load": load_average()}


def report(rows, notes, host, short, load_after):
    out = ["vormcfg bench%s, %s" % (" (--short: rough figures)" if short else "", host["date"]),
           "machine: %d cores, %s, kernel %s; load average %s before, %s after"
           % (host["cores"], host["cpu"] or "cpu unknown", host["kernel"], host["load"], load_after),
           "vormcfg: %s" % host["vormcfg"],
           "baselines: 1 bare_receive, 2 bare_echo, 3 bare_bind, 4 bare_firewall (absolute deadlines), "
           "5 hashed table of the same records",
           ""]
    out += table(rows)
    if notes:
        out.append("")
        out.extend(notes)
    return "\n".join(out) + "\n"
