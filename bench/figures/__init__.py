"""The bench's figures, one module each, in the order of the table. Each has
NAME (as --only names it), LABEL (as the table does), GOALS (what its rows
are held to), measure(rig) and rows(result, results); a figure may also have
notes(result), lines printed under the table."""
from figures import firewall, known_sorters, latency, receive, startup

ALL = (receive, latency, startup, firewall, known_sorters)
