"""The 128-byte configuration record, as the tests expect to see it on the wire.

Layout: 0-8 "SNDP_CFG\\0", 9-12 message type (LE32), 13 serial, 41 IP address
text, 57 subnet mask text, 83 DHCP flag, 104-113 UTC time stamp (year LE16,
month, day of week, day, hour, minute, second, milliseconds LE16), 117-120
gateway octets.  Every other byte is zero.
"""
import datetime
import socket
import struct

SIZE = 128
MAGIC = b"SNDP_CFG\0"
MSG_CONFIG = 3
OFF_TYPE = 9
OFF_SERIAL = 13
OFF_IP = 41
OFF_MASK = 57
OFF_DHCP = 83
OFF_STAMP = 104
STAMP_LEN = 10
OFF_GATEWAY = 117
SERIAL_LEN = OFF_IP - OFF_SERIAL
IP_LEN = OFF_MASK - OFF_IP
MASK_LEN = 16


def _put(buf, offset, width, text):
    raw = text.encode("ascii")
    assert len(raw) < width, "%r does not fit in %d bytes" % (text, width)
    buf[offset:offset + len(raw)] = raw


def build(serial="", ip="", mask="", dhcp=False, gateway=None, msg_type=MSG_CONFIG,
          stamp=None):
    """The record the tool should send for these settings (stamp bytes zero
    unless a datetime is given)."""
    buf = bytearray(SIZE)
    buf[0:len(MAGIC)] = MAGIC
    buf[OFF_TYPE:OFF_TYPE + 4] = struct.pack("<I", msg_type)
    _put(buf, OFF_SERIAL, SERIAL_LEN, serial)
    _put(buf, OFF_IP, IP_LEN, ip)
    _put(buf, OFF_MASK, MASK_LEN, mask)
    buf[OFF_DHCP] = 1 if dhcp else 0
    if gateway:
        buf[OFF_GATEWAY:OFF_GATEWAY + 4] = socket.inet_aton(gateway)
    if stamp is not None:
        buf[OFF_STAMP:OFF_STAMP + STAMP_LEN] = encode_stamp(stamp)
    return bytes(buf)


def encode_stamp(when):
    dow = when.isoweekday() % 7
    return struct.pack("<HBBBBBBH", when.year, when.month, dow, when.day, when.hour,
                       when.minute, when.second, when.microsecond // 1000)


def decode_stamp(record):
    """(datetime in UTC, day_of_week as written) from a record's stamp bytes."""
    year, month, dow, day, hour, minute, second, ms = struct.unpack(
        "<HBBBBBBH", record[OFF_STAMP:OFF_STAMP + STAMP_LEN])
    when = datetime.datetime(year, month, day, hour, minute, second, ms * 1000,
                             tzinfo=datetime.timezone.utc)
    return when, dow


def without_stamp(record):
    rec = bytearray(record)
    rec[OFF_STAMP:OFF_STAMP + STAMP_LEN] = bytes(STAMP_LEN)
    return bytes(rec)


def text_at(record, offset, width):
    raw = record[offset:offset + width]
    return raw.split(b"\0", 1)[0].decode("ascii", "replace")


def field_diff(expected, actual):
    """Readable list of differing byte positions, for failure messages."""
    if len(expected) != len(actual):
        return "length %d, expected %d" % (len(actual), len(expected))
    diffs = ["byte %d: 0x%02x, expected 0x%02x" % (i, a, e)
             for i, (e, a) in enumerate(zip(expected, actual)) if e != a]
    return "; ".join(diffs[:20]) + (" ..." if len(diffs) > 20 else "")
