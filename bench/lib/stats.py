"""Small statistics, and the order in which runs that are compared take turns."""
import statistics


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = max(1, int(-(-p * len(ordered) // 100)))  # nearest rank
    return ordered[min(rank, len(ordered)) - 1]


def median(values):
    return statistics.median(values) if values else float("nan")


def mean(values):
    return statistics.mean(values)


def interleaved(programs, rounds):
    """(round, programs in that round's order) for each round: every program
    runs once a round, the order turned by one place each round, so that the
    tool and its baseline see the same load and neither always goes first."""
    for number in range(rounds):
        turn = number % len(programs)
        yield number, programs[turn:] + programs[:turn]
