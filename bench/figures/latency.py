"""2 -- reply latency: the target's broadcast out of the plant to the answer
back in, quiet and under the flood, against bare_echo. On a quiet network
every exchange must be answered: one that is not is the tool's behaviour,
not its speed. Under the flood the kernel drops datagrams when a socket's
queue overflows, the baseline's as well as the tool's, so a lost exchange
there is shown beside the baseline's and is no check of the tool."""
from lib.report import at_most, behaviour, exactly, row, timing
from lib.rig import RECEIVER_CPU, TARGET, WS_DEV, fleet_args
from lib.helpers import note
from lib.stats import interleaved, percentile

NAME = "latency"
LABEL = "2 latency"
GOALS = {"ratio_p50": timing("<= x1.5", at_most(1.5)),
         "lost": behaviour("none lost", exactly(0))}
ANSWER_WITHIN_MS = 2000


def exchange(rig, argv):
    """One exchange with a fresh program: its latency in ns, or None when
    it went unanswered or the program failed."""
    rig.spawner.start(argv)
    answer = rig.probe.ask("ping %d" % ANSWER_WITHIN_MS, timeout=10)
    ended = rig.spawner.wait(5000)
    if answer[0] == "lat" and ended["status"] == 0:
        return int(answer[1])
    return None


def one_condition(rig, programs, count):
    samples = {name: [] for name, _ in programs}
    lost = {name: 0 for name, _ in programs}
    for _, order in interleaved(programs, count):
        for name, argv in order:
            ns = exchange(rig, argv)
            if ns is None:
                lost[name] += 1
            else:
                samples[name].append(ns)
    result = {name: {"p50_us": percentile(s, 50) / 1000.0, "p99_us": percentile(s, 99) / 1000.0,
                     "n": len(s), "lost": lost[name]}
              for name, s in samples.items()}
    result["ratio_p50"] = result["tool"]["p50_us"] / result["bare"]["p50_us"]
    return result


def measure(rig):
    count = 50 if rig.short else 1000
    programs = [("tool", rig.tool_argv()), ("bare", [rig.bins["bare_echo"], WS_DEV, TARGET])]
    rig.spawner.pin(RECEIVER_CPU)
    result = {}
    for condition in ("quiet", "flood"):
        sim = None
        if condition == "flood":
            sim = rig.start_sim(fleet_args(100000), duration=60 if rig.short else 300)
        try:
            note("reply latency, %s: %d exchanges each" % (condition, count))
            result[condition] = one_condition(rig, programs, count)
        finally:
            if sim is not None:
                rig.stop_sim(sim)
    rig.spawner.pin("all")
    return result


def rows(lat, _results):
    out = []
    for condition in ("quiet", "flood"):
        c = lat[condition]
        t, b = c["tool"], c["bare"]
        out += [
            row(LABEL, "%s p50 (us)" % condition, "%.1f" % t["p50_us"], "%.1f" % b["p50_us"],
                "x%.2f" % c["ratio_p50"], GOALS["ratio_p50"], c["ratio_p50"]),
            row(LABEL, "%s p99 (us)" % condition, "%.1f" % t["p99_us"], "%.1f" % b["p99_us"],
                "x%.2f" % (t["p99_us"] / b["p99_us"])),
            row(LABEL, "%s exchanges / lost" % condition, "%d / %d" % (t["n"], t["lost"]),
                "%d / %d" % (b["n"], b["lost"]), "",
                *((GOALS["lost"], t["lost"]) if condition == "quiet" else ())),
        ]
    return out
