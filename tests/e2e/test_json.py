"""-j: standard output carries only JSON objects, one per line, each parsed here by
Python's json (and jq for the README's inventory); text from the network arrives
as valid UTF-8 and serial_hex gives its bytes back."""
import json
import os
import re
import shlex
import shutil
import time
import unittest

import cfgrecord
import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2, LIMITED_BCAST, SIM_PORT

netlab.require_lab()

SIM = ("--interval", 100, "--duration", 20)
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")

_FLAG_NAMES = (("Interface up", "up"), (", broadcasts are supported", "broadcast"),
               (", multicasts are supported", "multicast"), (" (loopback)", "loopback"),
               (" (point-to-point)", "point-to-point"))
_BLOCK = re.compile(r"  IP: +(\S+) SubnetMask: (\S+)  Bcast Addr: (\S+)\n  (.*)\n\n")


def interface_events(report):
    """The interface events that match the text report the tool must print."""
    events = []
    for ip, mask, broadcast, flag_text in _BLOCK.findall(report):
        flags = [name for text, name in _FLAG_NAMES if text in flag_text]
        events.append(dict(event="interface", ip=ip, mask=mask, broadcast=broadcast, flags=flags))
    return events


def objects(text):
    """Every line of `text` as a JSON object; fails on anything else."""
    found = []
    for line in text.splitlines():
        obj = json.loads(line)
        assert isinstance(obj, dict) and "event" in obj, line
        found.append(obj)
    return found


class JsonOutputTest(LabTestCase):
    def test_inventory_with_interfaces_sorters_and_done(self):
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        plant.sim("--sorter", "SN-J1,%s,255.255.255.0,10.9.0.254,off" % PLANT_A,
                  "--sorter", "SN-J2,%s,255.255.0.0,-,on" % PLANT_A2, *SIM)
        tool = ws.tool("-j", "-v", "-t", 2)
        self.assertEqual(tool.finish(timeout=10), 0, tool.stderr)
        events = objects(tool.stdout)
        interfaces = interface_events(ws.interface_report())
        self.assertEqual(events[:len(interfaces)], interfaces)
        self.assertEqual(events[len(interfaces)],
                         dict(event="started", interface=WS_A, port=50003, mode="listening"))
        sorters = sorted(events[len(interfaces) + 1:-1], key=lambda e: e["serial"])
        self.assertEqual(sorters, [
            dict(event="sorter", serial="SN-J1", ip=PLANT_A, mask="255.255.255.0",
                 gateway="10.9.0.254", dhcp=False),
            dict(event="sorter", serial="SN-J2", ip=PLANT_A2, mask="255.255.0.0", gateway=None,
                 dhcp=True)])
        self.assertEqual(events[-1], dict(event="done", sorters=2, seconds=2))
        self.assertEqual(tool.stderr, "Scanning Local Network Interfaces . . .\n\n")

    def test_targeted_run_reports_what_it_sent(self):
        ws, plant = self.lab.plant_a()
        plant.sim("--sorter", "SN-J3,%s" % PLANT_A, *SIM)
        tool = ws.tool("-j", "-s", "SN-J3", "-d", "off", "-i", "10.9.0.93", "-u", "255.255.255.0",
                       "-g", "10.9.0.1")
        self.assertEqual(tool.finish(timeout=5), 0, tool.stderr)
        self.assertEqual(objects(tool.stdout), [
            dict(event="started", interface=WS_A, port=50003, mode="targeted", serial="SN-J3"),
            dict(event="sorter", serial="SN-J3", ip=PLANT_A, mask="255.255.255.0", gateway=None,
                 dhcp=False),
            dict(event="sent", serial="SN-J3", ip="10.9.0.93", mask="255.255.255.0",
                 gateway="10.9.0.1", dhcp=False, to=LIMITED_BCAST, port=SIM_PORT, count=1)])
        self.assertEqual(tool.stderr, "")

    def test_target_not_heard_is_a_timeout_event(self):
        ws, _ = self.lab.plant_a()
        tool = ws.tool("-j", "-s", "SN-ABSENT", "-t", 1)
        self.assertEqual(tool.finish(timeout=10), 3, tool.stderr)
        self.assertEqual(objects(tool.stdout)[-1], dict(event="timeout", serial="SN-ABSENT", seconds=1))
        self.assertEqual(tool.stderr, "Serial # SN-ABSENT was not heard within 1 seconds.\n")

    def test_serial_bytes_arrive_as_utf8_and_come_back_through_serial_hex(self):
        ws, plant = self.lab.plant_a()
        serial = b"S\xe9\x1b\x9bZ"
        record = bytearray(cfgrecord.build(mask="255.255.255.0"))
        record[cfgrecord.OFF_TYPE] = 1
        record[cfgrecord.OFF_SERIAL:cfgrecord.OFF_SERIAL + len(serial)] = serial
        broadcaster = plant.start([netlab.sys.executable, netlab.NSTOOLS, "send", "--bind",
                                   "%s:%d" % (PLANT_A, SIM_PORT), "--to", "%s:50003" % LIMITED_BCAST,
                                   "--gap", "100"], name="broadcaster", stdin=True)
        broadcaster.popen.stdin.write((bytes(record).hex() + "\n").encode() * 100)
        broadcaster.popen.stdin.flush()

        listing = ws.tool("-j", "-t", 1)
        self.assertEqual(listing.finish(timeout=10), 0, listing.stderr)
        # A byte that was not UTF-8 would have been read as U+FFFD.
        text = listing.stdout
        self.assertTrue(all(ord(c) < 0x80 for c in text), text)
        heard = [e for e in objects(text) if e["event"] == "sorter"]
        self.assertEqual(len(heard), 1, heard)
        self.assertEqual(heard[0]["serial"], serial.decode("latin-1"))
        self.assertEqual(bytes.fromhex(heard[0]["serial_hex"]), serial)
        self.assertNotIn("mask_hex", heard[0])

        if netlab.WINE:
            return  # Wine turns a command line into the Windows code page: no raw bytes through -s
        sniffer = plant.sniffer()
        answer = ws.tool("-j", "-s", os.fsdecode(bytes.fromhex(heard[0]["serial_hex"])),
                         "-i", "10.9.0.94")
        self.assertEqual(answer.finish(timeout=5), 0, answer.stderr)
        sent = sniffer.wait_packets(src=WS_A, dport=SIM_PORT)
        self.assertEqual(bytes.fromhex(sent[0]["hex"])[cfgrecord.OFF_SERIAL:][:len(serial) + 1],
                         serial + b"\0")

    def test_the_readme_inventory_pipeline_runs_as_written(self):
        if shutil.which("jq") is None:
            self.fail("jq is not installed (scripts/install-deps installs it)")
        with open(README) as f:
            readme = f.read()
        pipeline = re.search(r"^(vormcfg -j -t 10 \| jq .*)$", readme, re.M).group(1)
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        plant.sim("--sorter", "SN-Q1,%s" % PLANT_A, "--sorter", "SN-Q2,%s" % PLANT_A2,
                  "--duration", 30)
        # The README's command, with the tool under test as `vormcfg` and a
        # shorter listening time.
        tool = " ".join(shlex.quote(a) for a in netlab.tool_command([]))
        script = "vormcfg() { %s \"$@\"; }\n%s\n" % (tool, pipeline.replace("-t 10", "-t 2"))
        started = time.monotonic()
        res = ws.run(ws.lab.host_identity("vcf-station") + ["sh", "-c", script], timeout=30)
        self.assertEqual(res.returncode, 0, res.stderr)
        self.assertLess(time.monotonic() - started, 20)
        self.assertEqual(sorted(res.stdout.decode().splitlines()),
                         ["SN-Q1\t%s" % PLANT_A, "SN-Q2\t%s" % PLANT_A2])


if __name__ == "__main__":
    unittest.main()
