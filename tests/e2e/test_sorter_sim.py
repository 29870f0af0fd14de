"""sorter-sim's restart model, seen on the wire: after applying a configuration a
sorter keeps broadcasting its old settings, falls silent while it restarts, then
broadcasts its new settings from its new address, which it really holds.  The
records are sent with nstools, so these tests do not depend on the tool's
options; the tool only listens, to show that it hears the sorter where it is."""
import ipaddress
import json
import os
import re
import time
import unittest

import cfgrecord
import netlab
from netlab import LabTestCase, WS_A, PLANT_A, PLANT_A2, SIM_PORT, TOOL_PORT

netlab.require_lab()

TARGET, OTHER = "SN-R", "SN-B"
RESTART_AFTER, RESTART_TIME = 0.3, 0.4
SIM = ("--interval", 100, "--duration", 15, "--log-received",
       "--restart-after", int(RESTART_AFTER * 1000), "--restart-time", int(RESTART_TIME * 1000))
# The target starts at 10.9.0.11/24 with gateway 10.9.0.254; the other sorter,
# at 10.9.0.12 on the same interface, broadcasts throughout.
TARGET_SORTER = "%s,%s,255.255.255.0,10.9.0.254,off" % (TARGET, PLANT_A)
LINK_LOCAL = "link-local"
LINK_LOCAL_RANGE = (ipaddress.ip_address("169.254.1.0"), ipaddress.ip_address("169.254.254.255"))

# name, options for the target sorter, the record sent to it, and what it comes
# back with (None: it does not restart).
CASES = [
    ("static, in another subnet", (),
     dict(ip="172.16.5.9", mask="255.255.0.0", gateway="172.16.0.1"),
     dict(addr="172.16.5.9", mask="255.255.0.0", gateway="172.16.0.1", dhcp=False, lease="",
          ignored=[])),
    ("empty texts keep address and mask, gateway 0 is none", (),
     dict(ip="", mask=""),
     dict(addr=PLANT_A, mask="255.255.255.0", gateway="", dhcp=False, lease="", ignored=[])),
    ("texts no sorter can take", (),
     dict(ip="10.0.0", mask="255.0.255.0", gateway="10.9.0.1"),
     dict(addr=PLANT_A, mask="255.255.255.0", gateway="10.9.0.1", dhcp=False, lease="",
          ignored=["ip", "mask"])),
    # The pool's first address is the other sorter's: the next one is leased.
    ("DHCP with a pool", ("--dhcp-pool", "10.9.0.12-10.9.0.14"),
     dict(ip="10.9.0.77", dhcp=True),
     dict(addr="10.9.0.13", mask="255.255.255.0", gateway="", dhcp=True, lease="pool",
          ignored=[])),
    ("DHCP without a server", (),
     dict(dhcp=True, gateway="10.9.0.1"),
     dict(addr=LINK_LOCAL, mask="255.255.0.0", gateway="10.9.0.1", dhcp=True,
          lease="link-local", ignored=[])),
    ("firmware 2.6 keeps its gateway", ("--firmware", "2.6"),
     dict(ip="10.9.0.101", mask="255.255.255.0", gateway="10.9.0.1"),
     dict(addr="10.9.0.101", mask="255.255.255.0", gateway="10.9.0.254", dhcp=False, lease="",
          ignored=["gateway"])),
    ("--no-restart", ("--no-restart",), dict(ip="10.9.0.101", mask="255.255.255.0"), None),
    ("--ignore", ("--ignore",), dict(ip="10.9.0.101", mask="255.255.255.0"), None),
]


def record_fields(packet):
    rec = bytes.fromhex(packet["hex"])
    gateway = rec[cfgrecord.OFF_GATEWAY:cfgrecord.OFF_GATEWAY + 4]
    return dict(serial=cfgrecord.text_at(rec, cfgrecord.OFF_SERIAL, cfgrecord.SERIAL_LEN),
                ip=cfgrecord.text_at(rec, cfgrecord.OFF_IP, cfgrecord.IP_LEN),
                mask=cfgrecord.text_at(rec, cfgrecord.OFF_MASK, cfgrecord.MASK_LEN),
                gateway="" if gateway == bytes(4) else str(ipaddress.ip_address(gateway)),
                dhcp=rec[cfgrecord.OFF_DHCP] != 0)


class RestartTest(LabTestCase):
    @staticmethod
    def start(lab, *target_options, prefix=()):
        """The two sorters, broadcasting; returns (ws, plant, sniffer, sim)."""
        ws, plant = lab.plant_a(second_sorter_address=True)
        sniffer = ws.sniffer()
        argv = list(prefix) + [netlab.BIN["SORTER_SIM"]] + [str(a) for a in (
            *SIM, "--sorter", TARGET_SORTER, *target_options,
            "--sorter", "%s,%s" % (OTHER, PLANT_A2))]
        sim = plant.start(argv, name="sorter-sim")
        sim.wait_event("ready")
        RestartTest.broadcasts(sniffer, TARGET, PLANT_A, count=2)
        return ws, plant, sniffer, sim

    @staticmethod
    def broadcasts(sniffer, serial, src, count=1, timeout=5.0):
        deadline = time.monotonic() + timeout
        while True:
            hits = [p for p in sniffer.incoming(src=src, dport=TOOL_PORT)
                    if record_fields(p)["serial"] == serial]
            if len(hits) >= count:
                return hits
            if time.monotonic() > deadline:
                raise AssertionError("%d of %d broadcasts of %s from %s within %.1f s"
                                     % (len(hits), count, serial, src, timeout))
            time.sleep(0.02)

    @staticmethod
    def split_at_silence(sniffer, timeout=5.0):
        """The target's broadcasts before and after its one silence (once three
        have come after it)."""
        deadline = time.monotonic() + timeout
        while True:
            every = [p for p in sniffer.incoming(dport=TOOL_PORT)
                     if record_fields(p)["serial"] == TARGET]
            silences = [i for i in range(1, len(every))
                        if every[i]["t"] - every[i - 1]["t"] >= RESTART_TIME - 0.05]
            if len(silences) == 1 and len(every) - silences[0] >= 3:
                return every[:silences[0]], every[silences[0]:]
            if len(silences) > 1 or time.monotonic() > deadline:
                raise AssertionError("not one silence of %.1f s between broadcasts: %r"
                                     % (RESTART_TIME, [(p["t"], p["src"]) for p in every]))
            time.sleep(0.02)

    @staticmethod
    def configure(ws, serial, to=PLANT_A, **record):
        ws.send("%s:%d" % (WS_A, TOOL_PORT), "%s:%d" % (to, SIM_PORT),
                [cfgrecord.build(serial=serial, **record)])

    @staticmethod
    def addresses(plant):
        links = json.loads(plant.ip("-j", "-4", "addr", "show", "dev", "to-ws").stdout)
        return {"%s/%d" % (a["local"], a["prefixlen"]) for l in links for a in l["addr_info"]}

    def test_restart_by_case(self):
        for name, options, record, back in CASES:
            with self.subTest(name):
                with netlab.Lab() as lab:
                    ws, plant, sniffer, sim = self.start(lab, *options)
                    self.configure(ws, TARGET, **record)
                    if back is None:
                        self.check_stays(sniffer, sim, name == "--ignore")
                    else:
                        self.check_restart(ws, plant, sniffer, sim, record, back)

    def check_restart(self, ws, plant, sniffer, sim, record, back):
        restarted = sim.wait_event("restarted", timeout=3)[0]
        addr = restarted["addr"]
        if back["addr"] == LINK_LOCAL:
            self.assertTrue(LINK_LOCAL_RANGE[0] <= ipaddress.ip_address(addr) <= LINK_LOCAL_RANGE[1],
                            restarted)
            back = dict(back, addr=addr)
        self.assertEqual(restarted, dict(restarted, serial=TARGET, old_addr=PLANT_A, ip=addr, **back))
        applied, restarting = sim.events("applied"), sim.events("restarting")
        self.assertEqual([e["event"] for e in sim.events() if e["event"] in
                          ("applied", "restarting", "restarted")],
                         ["applied", "restarting", "restarted"])
        self.assertApplied(applied[0], TARGET, ip=record.get("ip", ""), mask=record.get("mask"),
                           gateway=record.get("gateway"), dhcp=record.get("dhcp", False))
        self.assertEqual(restarting[0]["addr"], PLANT_A)
        self.assertGreaterEqual(restarting[0]["t"] - applied[0]["t"], RESTART_AFTER - 0.02)
        self.assertGreaterEqual(restarted["t"] - restarting[0]["t"], RESTART_TIME - 0.02)

        # On the wire: the old source until the restart, one silence, then only the new one.
        before, after = self.split_at_silence(sniffer)
        self.assertEqual({p["src"] for p in before}, {PLANT_A})
        self.assertEqual({p["src"] for p in after}, {addr})
        expected = {k: back[k] for k in ("mask", "gateway", "dhcp")}
        self.assertEqual(record_fields(after[-1]), dict(serial=TARGET, ip=addr, **expected))
        # The other sorter, on a second address of the same interface, was not
        # taken down with the target's old address.
        so_far = len(self.broadcasts(sniffer, OTHER, PLANT_A2))
        self.broadcasts(sniffer, OTHER, PLANT_A2, count=so_far + 2)

        held = self.addresses(plant)
        self.assertIn(PLANT_A2 + "/24", held)
        if addr != PLANT_A:
            prefix = bin(int(ipaddress.ip_address(back["mask"]))).count("1")
            self.assertIn("%s/%d" % (addr, prefix), held)
            self.assertNotIn(PLANT_A + "/24", held)
        tool = ws.tool("-v")
        tool.wait_line("    IP Address ...... %s" % addr)
        tool.stop()
        self.assertEqual(sim.stderr, "")

    def check_stays(self, sniffer, sim, ignores):
        sim.wait_event("received")
        time.sleep(RESTART_AFTER + RESTART_TIME + 0.5)
        self.assertEqual(sim.events("restarting") + sim.events("restarted"), [])
        self.assertEqual(len(sim.events("applied")), 0 if ignores else 1)
        recent = [p for p in sniffer.incoming(dport=TOOL_PORT)
                  if record_fields(p)["serial"] == TARGET][-8:]
        self.assertEqual({p["src"] for p in recent}, {PLANT_A})
        gaps = [b["t"] - a["t"] for a, b in zip(recent, recent[1:])]
        self.assertLess(max(gaps), RESTART_TIME, "the sorter fell silent")
        self.assertEqual(record_fields(recent[-1]), dict(serial=TARGET, ip=PLANT_A,
                                                          mask="255.255.255.0",
                                                          gateway="10.9.0.254", dhcp=False))

    def test_sorter_options_follow_the_sorter_they_name(self):
        # --no-restart before any sorter is every sorter's default; --ignore after
        # the other sorter is that sorter's alone.
        ws, plant = self.lab.plant_a(second_sorter_address=True)
        sim = plant.sim(*SIM, "--no-restart", "--sorter", TARGET_SORTER,
                        "--sorter", "%s,%s" % (OTHER, PLANT_A2), "--ignore")
        self.configure(ws, TARGET, ip="10.9.0.101")
        self.configure(ws, OTHER, to=PLANT_A2, ip="10.9.0.102")
        sim.wait_event("received", count=2)
        time.sleep(RESTART_AFTER + RESTART_TIME + 0.3)
        self.assertEqual([e["serial"] for e in sim.events("applied")], [TARGET])
        self.assertEqual(sim.events("restarting"), [])

    def test_an_address_it_cannot_take_is_reported(self):
        # Without CAP_NET_ADMIN the new address cannot be added: the sorter says
        # so and comes back with its old settings, not with new ones from its old
        # address.
        ws, plant, sniffer, sim = self.start(self.lab, prefix=("setpriv", "--bounding-set",
                                                               "-net_admin"))
        self.configure(ws, TARGET, ip="10.9.0.101", mask="255.255.255.0", gateway="10.9.0.1")
        failed = sim.wait_event("address_failed", timeout=3)[0]
        self.assertEqual({k: failed[k] for k in ("serial", "addr", "prefix", "interface",
                                                 "old_addr", "error")},
                         dict(serial=TARGET, addr="10.9.0.101", prefix=24, interface="to-ws",
                              old_addr=PLANT_A, error=os.strerror(1)))
        self.assertIn("sorter-sim: sorter 'SN-R' cannot take its new address 10.9.0.101/24 on "
                      "to-ws: Operation not permitted; it comes back with its old settings at "
                      "10.9.0.11\n", sim.stderr)
        restarted = sim.wait_event("restarted")[0]
        self.assertEqual((restarted["addr"], restarted["gateway"]), (PLANT_A, "10.9.0.254"))
        count = len(self.broadcasts(sniffer, TARGET, PLANT_A))
        last = self.broadcasts(sniffer, TARGET, PLANT_A, count=count + 2)[-1]
        self.assertEqual(record_fields(last)["gateway"], "10.9.0.254")
        self.assertEqual(sniffer.incoming(src="10.9.0.101"), [])


    def test_another_simulator_at_the_old_address_goes_on(self):
        # Two simulators in one namespace do not know each other's sorters: when
        # one removes the address its sorter left, the other's sorter there falls
        # silent, and that simulator says so and keeps running.
        ws, plant, sniffer, sim = self.start(self.lab)
        neighbour = plant.sim("--sorter", "SN-N,%s" % PLANT_A, "--port", 50011,
                              "--no-firewall-port", *SIM)
        self.broadcasts(sniffer, "SN-N", PLANT_A)
        self.configure(ws, TARGET, ip="10.9.0.101", mask="255.255.255.0")
        sim.wait_event("restarted", timeout=3)
        self.broadcasts(sniffer, TARGET, "10.9.0.101", count=3)
        self.assertTrue(neighbour.running(), neighbour.stderr)
        self.assertEqual(neighbour.stderr,
                         "sorter-sim: sorter 'SN-N' cannot send from 10.9.0.11: Network is "
                         "unreachable; this namespace no longer has that address, so the "
                         "sorters at it stay silent while it is gone\n")


class RefusalTest(LabTestCase):
    def test_refuses_the_network_namespace_of_pid_1(self):
        # Shown without going near the machine's namespace: in a PID namespace
        # of its own, inside a lab namespace, sorter-sim is PID 1 itself.  Even
        # if the check were broken nothing could leave: the namespace has only
        # loopback, and no interface holds the sorter's address.
        if netlab.in_user_namespace():
            self.skipTest("through a user namespace every lab namespace belongs to it, "
                          "which sorter-sim takes as made after boot")
        ws = self.lab.netns("ws")
        res = ws.run(["unshare", "--pid", "--fork", "--mount-proc", netlab.BIN["SORTER_SIM"],
                      "--sorter", "SN-X,192.0.2.77", "--to", "127.0.0.1", "--duration", "1",
                      "--count", "1"])
        stderr = res.stderr.decode(errors="replace")
        self.assertEqual((res.returncode, res.stdout), (2, b""), stderr)
        self.assertRegex(stderr, r"^sorter-sim: refusing to run in the network namespace "
                         r"of PID 1, normally the machine's own: .*\n$")

if __name__ == "__main__":
    unittest.main()
