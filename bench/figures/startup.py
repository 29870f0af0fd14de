"""3 -- start-up: exec to the ready line, and peak resident memory, against
bare_bind."""
from lib.report import at_most, below, row, timing
from lib.rig import WS_DEV
from lib.helpers import note
from lib.stats import interleaved, percentile

NAME = "startup"
LABEL = "3 start-up"
GOALS = {"diff_us": timing("<= +2000 us", at_most(2000)),
         "vmhwm_kib": timing("< 4096 KiB", below(4096))}


def measure(rig):
    count = 20 if rig.short else 200
    programs = [("tool", rig.tool_argv()), ("bare", [rig.bins["bare_bind"], WS_DEV])]
    runs = {name: [] for name, _ in programs}
    note("start-up: %d starts each" % count)
    for _, order in interleaved(programs, count):
        for name, argv in order:
            started = rig.spawner.start(argv)
            rig.spawner.stop()
            runs[name].append(started)
    result = {}
    for name, got in runs.items():
        times = [(r["ready"] - r["spawned"]) / 1000.0 for r in got]
        result[name] = {"p50_us": percentile(times, 50), "p90_us": percentile(times, 90),
                        "vmhwm_kib": max(r["vmhwm_kib"] for r in got), "n": len(got)}
    result["diff_us"] = result["tool"]["p50_us"] - result["bare"]["p50_us"]
    return result


def rows(s, _results):
    t, b = s["tool"], s["bare"]
    return [
        row(LABEL, "exec to bound, p50 (us)", "%.0f" % t["p50_us"], "%.0f" % b["p50_us"], "%+.0f us" % s["diff_us"],
            GOALS["diff_us"], s["diff_us"]),
        row(LABEL, "exec to bound, p90 (us)", "%.0f" % t["p90_us"], "%.0f" % b["p90_us"],
            "%+.0f us" % (t["p90_us"] - b["p90_us"])),
        row(LABEL, "peak resident (KiB)", "%d" % t["vmhwm_kib"], "%d" % b["vmhwm_kib"],
            "%+d KiB" % (t["vmhwm_kib"] - b["vmhwm_kib"]), GOALS["vmhwm_kib"], t["vmhwm_kib"]),
    ]
