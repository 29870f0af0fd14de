"""What the tool and the simulated sorter must print and send, as the tests
expect it: the tool's texts (start_lines, summary, announcement) as plain
functions, and the checks of a record, of the simulator's reading of it and
of output read line by line as assertions of ExpectedOutput, a mixin for
test cases.
"""
import time

import cfgrecord
import expected_text


def start_lines(local, serial=None):
    """The lines the tool prints once it is bound to `local`."""
    second = ("Waiting for LumatrexExpert serial # %s\n" % serial if serial
              else "Listening mode: Waiting for Lumatrex Expert broadcast activity...\n")
    return ("vormcfg running on network interface %s\n" % local + second
            + "Press CTRL + C to quit\n\n")


def summary(serial, ip, mask=None, gateway=None, dhcp=False):
    """The lines the tool prints after it sent a configuration."""
    text = ("\nThis is the configuration that was sent to '%s'.\n"
            "Restart the sorter and re-run 'vormcfg -v' to verify this configuration:\n\n"
            % serial)
    text += "    IP Address ...... %s\n" % ip
    if mask:
        text += "    Subnet mask ..... %s\n" % mask
    if gateway and gateway != "0.0.0.0":
        text += "    Gateway ......... %s\n" % gateway
    text += "    DHCP ............ %s\n" % ("On" if dhcp else "Off")
    return text


def announcement(serial, source=None, mask="", gateway=None, dhcp=False):
    """The lines printed for a sorter heard for the first time (with the -v
    block when source is given)."""
    text = expected_text.announcement(serial)
    if source is not None:
        text += "Current configuration:\n"
        text += "    IP Address ...... %s\n" % source
        text += "    Subnet mask ..... %s\n" % mask
        if gateway:
            text += "    Gateway ......... %s\n" % gateway
        text += "    DHCP ............ %s\n" % ("On" if dhcp else "Off")
    return text


class ExpectedOutput:
    """The texts above as methods, and the assertions, for a unittest.TestCase."""

    def start_lines(self, local, serial=None):
        # Also called unbound, with None for self, by scripts that have no test case.
        return start_lines(local, serial)

    summary = staticmethod(summary)
    announcement = staticmethod(announcement)

    def assertRecord(self, record, serial, ip, mask=None, gateway=None, dhcp=False,
                     sent_after=None, sent_before=None):
        """`record` is exactly what `-s serial -i ip [-u mask] [-g gateway] -d on|off`
        must send, stamped with the UTC time between sent_after and sent_before
        (time.time() values; a little slack for clock granularity)."""
        expected = cfgrecord.build(serial=serial, ip=ip, mask=mask or "", dhcp=dhcp,
                                   gateway=gateway)
        self.assertEqual(len(record), cfgrecord.SIZE, "record is %d bytes" % len(record))
        actual = cfgrecord.without_stamp(record)
        self.assertEqual(actual, expected, "record differs from the command line: %s\n"
                         "record: %s" % (cfgrecord.field_diff(expected, actual), record.hex()))
        when, dow = cfgrecord.decode_stamp(record)
        self.assertEqual(dow, when.isoweekday() % 7,
                         "day of week %d does not match %s" % (dow, when.date()))
        stamp = when.timestamp()
        if sent_after is not None:
            self.assertGreaterEqual(stamp, sent_after - 2.0, "time stamp %s too early" % when)
        if sent_before is not None:
            self.assertLessEqual(stamp, sent_before + 2.0, "time stamp %s too late" % when)

    def assertApplied(self, applied, serial, ip, mask=None, gateway=None, dhcp=False):
        """sorter-sim's own reading of the record it applied agrees."""
        self.assertEqual(applied.get("serial"), serial, applied)
        self.assertEqual(applied.get("ip"), ip, applied)
        self.assertEqual(applied.get("mask") or "", mask or "", applied)
        if gateway and gateway != "0.0.0.0":
            self.assertEqual(applied.get("gateway"), gateway, applied)
        else:
            self.assertIn(applied.get("gateway"), (None, "", "-", "0.0.0.0"), applied)
        self.assertIs(applied.get("dhcp"), dhcp, applied)
        self.assertEqual(applied.get("msg_type"), cfgrecord.MSG_CONFIG, applied)

    def expect_lines(self, proc, text, timeout=5.0):
        """The next stdout lines of proc are exactly `text`, each read while it
        arrives; returns whether the process was still running after the last."""
        deadline = time.monotonic() + timeout
        for want in text.splitlines(keepends=True):
            got = proc.next_line(deadline - time.monotonic())
            self.assertEqual(got, want, "stdout so far: %r; stderr: %r" % (proc.stdout, proc.stderr))
        return proc.running()
