"""4 -- firewall mode: the 40 records' intervals and the run time, against
bare_firewall (the same 40 sends on absolute deadlines). That all 40 arrive
is the tool's behaviour; how evenly is its timing."""
from lib.helpers import BenchError, note
from lib.report import at_most, behaviour, exactly, reference, row, timing, within
from lib.rig import PLANT_ADDR, WS_DEV
from lib.stats import mean

NAME = "firewall"
LABEL = "4 firewall"
SENDS = 40
INTERVAL_MS = 250.0
RUN_S = SENDS * INTERVAL_MS / 1000.0          # the tool pauses after its last send too
SPAN_S = (SENDS - 1) * INTERVAL_MS / 1000.0   # first to last record
TOOL_PORT = 50003
BARE_PORT = 50013
GOALS = {"records": behaviour("40", exactly(SENDS)),
         "run_s": timing("10.0 s +-1 %", within(RUN_S, RUN_S / 100)),
         "max_dev_ms": timing("<= 5 ms", at_most(5.0)),
         "span_s": reference("9.75 s"),
         "mean_gap_ms": reference("250")}


def one_run(rig):
    rig.probe.expect("fw %d 16000" % (2 * SENDS), "listening")
    tool = rig.spawner.start(rig.tool_argv("-f", "-r", PLANT_ADDR))
    bare = rig.spawner2.start([rig.bins["bare_firewall"], WS_DEV, BARE_PORT, PLANT_ADDR])
    # Both are told at once, so that each reaps its own program when it ends.
    rig.spawner.tell("wait 15000")
    rig.spawner2.tell("wait 15000")
    tool_end = rig.spawner.read_exit(20)
    bare_end = rig.spawner2.read_exit(20)
    head = rig.probe.read(20)
    if head[0] != "fw":
        raise BenchError("probe answered %r" % " ".join(head))
    arrivals = [rig.probe.read(5) for _ in range(int(head[1]))]
    runs = {}
    for name, start, end, port in (("tool", tool, tool_end, TOOL_PORT), ("bare", bare, bare_end, BARE_PORT)):
        stamps = [int(a[1]) for a in arrivals if int(a[3]) == port]
        gaps = [(b - a) / 1e6 for a, b in zip(stamps, stamps[1:])]
        runs[name] = {
            "records": len(stamps),
            "run_s": (end["exited"] - start["spawned"]) / 1e9,
            "span_s": (stamps[-1] - stamps[0]) / 1e9 if stamps else float("nan"),
            "max_dev_ms": max(abs(g - INTERVAL_MS) for g in gaps) if gaps else float("nan"),
            "mean_gap_ms": mean(gaps) if gaps else float("nan"),
            "status": end["status"],
        }
    return runs


def measure(rig):
    reps = 1 if rig.short else 3
    runs = {"tool": [], "bare": []}
    for rep in range(reps):
        note("firewall mode: run %d of %d (10 s; the tool and its baseline side by side)" % (rep + 1, reps))
        for name, got in one_run(rig).items():
            runs[name].append(got)
    # The worst run of each.
    result = {}
    for name, got in runs.items():
        result[name] = {
            "records": min(r["records"] for r in got),
            "run_s": max(got, key=lambda r: abs(r["run_s"] - RUN_S))["run_s"],
            "span_s": max(got, key=lambda r: abs(r["span_s"] - SPAN_S))["span_s"],
            "max_dev_ms": max(r["max_dev_ms"] for r in got),
            "mean_gap_ms": mean(r["mean_gap_ms"] for r in got),
            "runs": got,
        }
    return result


def rows(f, _results):
    t, b = f["tool"], f["bare"]
    return [
        row(LABEL, "records received", "%d" % t["records"], "%d" % b["records"], "", GOALS["records"],
            t["records"]),
        row(LABEL, "run time, exec to exit (s)", "%.4f" % t["run_s"], "%.4f" % b["run_s"],
            "%+.1f ms" % ((t["run_s"] - RUN_S) * 1000), GOALS["run_s"], t["run_s"]),
        row(LABEL, "first to last record (s)", "%.4f" % t["span_s"], "%.4f" % b["span_s"],
            "%+.1f ms" % ((t["span_s"] - SPAN_S) * 1000), GOALS["span_s"]),
        row(LABEL, "mean interval (ms)", "%.3f" % t["mean_gap_ms"], "%.3f" % b["mean_gap_ms"], "",
            GOALS["mean_gap_ms"]),
        row(LABEL, "worst interval off by (ms)", "%.2f" % t["max_dev_ms"], "%.2f" % b["max_dev_ms"], "",
            GOALS["max_dev_ms"], t["max_dev_ms"]),
    ]
