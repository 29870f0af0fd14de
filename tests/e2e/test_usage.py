"""Command-line errors end with status 2 and the usage text, before any network
activity; -h and -? print the usage and end with 0.  The usage text goes to the
error stream only: stdout stays empty."""
import unittest

import netlab
from netlab import LabTestCase, WS_A, TOOL_PORT

netlab.require_lab()

USAGE_HEAD = "\nvormcfg v1.0.0.7"

USAGE_ERRORS = [
    ("unknown option", ["-x"]),
    ("unknown option after a valid one", ["-s", "SN-1", "-z"]),
    ("-s without its argument", ["-s"]),
    ("-i without its argument", ["-s", "SN-1", "-i"]),
    ("-u without its argument", ["-s", "SN-1", "-u"]),
    ("-g without its argument", ["-s", "SN-1", "-g"]),
    ("-d without its argument", ["-s", "SN-1", "-d"]),
    ("-b without its argument", ["-b"]),
    ("-r without its argument", ["-r"]),
    ("-b not an address", ["-b", "workstation"]),
    ("-b octet over 255", ["-b", "10.9.0.256"]),
    ("-r not an address", ["-s", "SN-1", "-r", "sorter"]),
    ("-r octet over 255", ["-s", "SN-1", "-r", "10.9.300.11"]),
    ("-g not an address", ["-s", "SN-1", "-i", "10.9.0.50", "-g", "gateway"]),
    ("-g octet over 255", ["-s", "SN-1", "-i", "10.9.0.50", "-g", "10.9.0.999"]),
    ("-g trailing letters", ["-s", "SN-1", "-i", "10.9.0.50", "-g", "10.9.0.1x"]),
    ("-d neither on nor off", ["-s", "SN-1", "-i", "10.9.0.50", "-d", "yes"]),
    ("-d empty", ["-s", "SN-1", "-i", "10.9.0.50", "-d", ""]),
    ("serial longer than the record holds", ["-s", "S" * 64]),
    ("-i longer than the record holds", ["-s", "SN-1", "-i", "1" * 64]),
    ("-u longer than the record holds", ["-s", "SN-1", "-i", "10.9.0.50", "-u", "2" * 64]),
    ("-b longer than an address", ["-b", "1" * 300]),
    ("-f without -r", ["-f", "-s", "SN-1", "-i", "10.9.0.50"]),
    ("-f alone", ["-f"]),
    ("-i read as another address", ["-s", "SN-1", "-i", "010.9.0.50"]),
    ("-u not a contiguous mask", ["-s", "SN-1", "-i", "10.9.0.50", "-u", "255.0.255.0"]),
    ("gateway outside the new subnet", ["-s", "SN-1", "-i", "10.9.0.50", "-u", "255.255.255.0",
                                        "-g", "10.8.0.1"]),
    ("-t of no seconds", ["-t", "0"]),
    ("-w without -s", ["-w", "30"]),
]

HELP = [("-h", ["-h"]), ("-?", ["-?"]), ("-h after other options", ["-s", "SN-1", "-h"])]


class CommandLineTest(LabTestCase):
    def setUp(self):
        super().setUp()
        self.ws, self.plant = self.lab.plant_a()
        self.sniffer = self.plant.sniffer()
        # With the tool's port taken, a tool that opened its socket before
        # checking its arguments would end with 1 instead of 2.
        self.holder = self.ws.hold_port("0.0.0.0:%d" % TOOL_PORT)

    def run_tool(self, args):
        argv = self.lab.host_identity("vcf-station") + netlab.tool_command(args)
        res = self.ws.run(argv, timeout=10, env={"TZ": netlab.TOOL_TZ})
        out, err = (res.stdout.decode(errors="replace"), res.stderr.decode(errors="replace"))
        if netlab.WINE:  # a Windows program's text streams end lines with CR LF
            out, err = out.replace("\r\n", "\n"), err.replace("\r\n", "\n")
        return res.returncode, out, err

    def usage(self):
        code, out, err = self.run_tool(["-h"])
        self.assertEqual((code, out), (0, ""), "stderr=%r" % err)
        self.assertTrue(err.startswith(USAGE_HEAD), err)
        return err

    def test_usage_errors_end_with_2_and_the_usage_text(self):
        usage = self.usage()
        for name, args in USAGE_ERRORS:
            with self.subTest(name, args=args):
                code, out, err = self.run_tool(args)
                self.assertEqual((code, out), (2, ""), "stderr=%r" % err)
                # At most one line saying what is wrong, then the usage text.
                self.assertTrue(err.endswith(usage), "usage text missing from stderr: %r" % err)
                self.assertRegex(err[:len(err) - len(usage)], r"^(fatal: [^\n]*\n)?$")
        self.assertEqual(self.sniffer.incoming(src=WS_A), [], "a usage error sent a datagram")

    def test_help_ends_with_0_and_prints_the_usage(self):
        usage = self.usage()
        for name, args in HELP:
            with self.subTest(name, args=args):
                code, out, err = self.run_tool(args)
                self.assertEqual((code, out, err), (0, "", usage))
        self.assertEqual(self.sniffer.incoming(src=WS_A), [], "-h sent a datagram")


if __name__ == "__main__":
    unittest.main()
