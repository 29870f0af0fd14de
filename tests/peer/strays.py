"""Datagrams on the tool's port that are not a sorter's record: the tool must
pass over each without a word and go on waiting.

Each is made from a sorter's own broadcast, so that a tool which looked only
at the first 128 bytes, or not at the magic, would take it for that sorter.
Beside them stands the one look-alike that is a record after all: the
broadcast with its serial run on to the record's last byte, announced under
all of that text.
"""
import collections
import random

import cfgrecord
import expected_text

# announced_as: the serial, as shown, it is announced under; None for a stray.
Stray = collections.namedtuple("Stray", "name payload announced_as")

LARGEST_DATAGRAM = 65507
# The sizes of every_size(): each from 0 to 300 bytes but the record's own,
# then a spread up to the largest datagram (which arrives in 45 fragments).
SWEEP_SIZES = ([n for n in range(0, 301) if n != cfgrecord.SIZE]
               + [511, 512, 1024, 1472, 1473, 2048, 4096, 8192, 9000, 16384, 32768, 65000, 65506,
                  LARGEST_DATAGRAM])


def run_on(record):
    """The record with every NUL from its serial on made a 'Z'."""
    raw = bytearray(record)
    raw[cfgrecord.OFF_SERIAL:] = bytes(c if c else ord("Z") for c in raw[cfgrecord.OFF_SERIAL:])
    return bytes(raw)


def strays_of(record):
    """The strays made from `record`, each named, and its run-on look-alike."""
    rnd = random.Random(20240611)
    noise = bytes(rnd.randrange(256) for _ in range(cfgrecord.SIZE))
    ignored = [
        ("100 bytes", record[:100]),
        ("127 bytes", record[:127]),
        ("129 bytes", record + b"\0"),
        ("200 bytes", record + bytes(72)),
        ("empty", b""),
        ("huge", record + bytes(LARGEST_DATAGRAM - len(record))),
        ("no magic", b"XXXX_CFG\0" + record[9:]),
        ("magic without its NUL", record[:8] + b"X" + record[9:]),
        ("magic one letter off", b"SNDP_CFH\0" + record[9:]),
        ("random", b"\xa5" + noise[1:]),
    ]
    unterminated = run_on(record)
    return ([Stray(name, payload, None) for name, payload in ignored]
            + [Stray("unterminated serial", unterminated, expected_text.serial_shown(unterminated))])


def every_size(record):
    """`record` cut to, or padded with zeros after it to, each of SWEEP_SIZES."""
    return [record[:size] if size <= len(record) else record + bytes(size - len(record))
            for size in SWEEP_SIZES]
