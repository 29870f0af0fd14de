"""5 -- the known-sorter table: one lookup among 256 serials with a long
shared prefix, against a hashed table of the same records; and its share of
figure 1. It sends nothing."""
import json
import subprocess

from lib.helpers import BenchError, note
from lib.report import row

NAME = "table"
LABEL = "5 table"
GOALS = {}


def measure(rig):
    note("known-sorter table microbench")
    argv = [rig.bins["known_sorters_bench"]] + (["--short"] if rig.short else [])
    res = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    if res.returncode != 0:
        raise BenchError("known_sorters_bench failed: %s%s" % (res.stdout, res.stderr))
    return json.loads(res.stdout)


def rows(k, results):
    out = [
        row(LABEL, "lookup, hit, 256 (ns)", "%.0f" % k["linear_hit_ns"], "%.0f" % k["hashed_hit_ns"],
            "x%.1f" % (k["linear_hit_ns"] / k["hashed_hit_ns"])),
        row(LABEL, "lookup, miss, 256 (ns)", "%.0f" % k["linear_miss_ns"], "%.0f" % k["hashed_miss_ns"],
            "x%.1f" % (k["linear_miss_ns"] / k["hashed_miss_ns"])),
        row(LABEL, "lookup, first entry (ns)", "%.0f" % k["linear_first_ns"]),
        row(LABEL, "remember (ns)", "%.1f" % k["remember_ns"]),
    ]
    receive = results.get("receive")
    if receive:
        share = receive["table_share_ns"]
        bare = receive["bare"]["ns_per_record"]
        out.append(row(LABEL, "in figure 1 (ns/record)", "%.0f" % share, "%.0f" % bare,
                       "%.0f%% of bare" % (100.0 * share / bare)))
    return out
