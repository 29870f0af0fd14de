"""What the tool prints for what it received, worked out apart from the tool.

Text that came off the network is shown so that it can neither act on a
terminal nor pass for other text: printable ASCII (0x20 to 0x7E) as it is, a
backslash as \\\\, every other byte as \\xNN.  A text field is read up to its
NUL; one without a NUL runs on to the record's last byte.
"""
import re

import cfgrecord

TABLE_FULL_NOTE = "Note: 256 sorters are listed; sorters heard from now on are not announced.\n"
_ANNOUNCEMENT_LINE = re.compile(r"^Serial Number '(.*)' is broadcasting\.$", re.M)


def shown(raw):
    """The screen form of received bytes."""
    def one(c):
        if c == ord("\\"):
            return "\\\\"
        return chr(c) if 0x20 <= c <= 0x7E else "\\x%02X" % c
    return "".join(one(c) for c in raw)


def serial_shown(record):
    """The screen form of a record's serial."""
    return shown(record[cfgrecord.OFF_SERIAL:cfgrecord.SIZE].split(b"\0", 1)[0])


def announcement(serial):
    """The line for a sorter heard for the first time, `serial` as shown."""
    return "Serial Number '%s' is broadcasting.\n" % serial


def announced(text):
    """The serials, as shown, of the announcement lines in `text`, in order."""
    return _ANNOUNCEMENT_LINE.findall(text)
