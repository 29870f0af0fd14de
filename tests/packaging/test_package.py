"""The Debian package: what it holds, that it installs, that the program
runs from it and that lintian finds no error in it. Also the man pages
(lint-clean) and the bash completion. None of this sends a datagram: the
installed programs only print their usage, and even so run in a network
namespace of their own with nothing in it."""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = os.environ.get("BUILD_DIR", "")
SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

EXPECTED_FILES = [
    "usr/bin/vormcfg",
    "usr/bin/sorter-sim",
    "usr/share/man/man1/vormcfg.1.gz",
    "usr/share/man/man1/sorter-sim.1.gz",
    "usr/share/bash-completion/completions/vormcfg",
    "usr/share/doc/vormcfg/README.md",
    "usr/share/doc/vormcfg/copyright",
    "usr/share/doc/vormcfg/changelog.gz",
]
# Each compressed file of the package and the source it is made from.
GZIPPED = {
    "usr/share/man/man1/vormcfg.1.gz": "man/vormcfg.1",
    "usr/share/man/man1/sorter-sim.1.gz": "man/sorter-sim.1",
    "usr/share/doc/vormcfg/changelog.gz": "contrib/debian/changelog",
}


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def without_network(argv):
    """argv in a network namespace of its own, which has nothing to send on."""
    as_root = [] if os.geteuid() == 0 else ["--map-root-user"]
    return ["unshare", "--net"] + as_root + ["--"] + argv


def sorter_sim_options():
    """{option: its value's name or None}, from sorter-sim's option tables."""
    with open(os.path.join(SOURCE_DIR, "tools", "sorter-sim", "options.cpp")) as f:
        source = f.read()
    found = {name: value or None
             for name, value in re.findall(r'\{"(--[a-z-]+)", (?:"([^"]*)"|nullptr),', source)}
    assert "--sorter" in found and "--no-restart" in found, found
    return found


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not BUILD_DIR or not os.path.exists(os.path.join(BUILD_DIR, "CPackConfig.cmake")):
            raise unittest.SkipTest("BUILD_DIR does not name a configured build")
        cls.work = tempfile.mkdtemp(prefix="vormcfg-package-")
        res = run(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                   "-G", "DEB", "-B", cls.work])
        if res.returncode != 0:
            raise AssertionError("cpack failed: %s%s" % (res.stdout, res.stderr))
        debs = [f for f in os.listdir(cls.work) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(cls.work, debs[0])
        cls.root = os.path.join(cls.work, "root")
        res = run(["dpkg-deb", "-x", cls.deb, cls.root])
        assert res.returncode == 0, res.stderr
        probe = run(without_network(["true"]))
        if probe.returncode != 0:
            raise unittest.SkipTest("cannot run the installed programs without a network: %s"
                                    % probe.stderr.strip())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_name_version_and_dependencies(self):
        self.assertEqual(os.path.basename(self.deb), "vormcfg_1.0.0.7_amd64.deb")
        self.assertEqual(self.field("Package"), "vormcfg")
        self.assertEqual(self.field("Version"), "1.0.0.7")
        depends = self.field("Depends")
        for library in ("libc6", "libstdc++6"):
            self.assertIn(library, depends)
        self.assertIn("sorter", self.field("Description"))

    def test_holds_the_programs_pages_completion_and_dissector(self):
        for path in EXPECTED_FILES:
            self.assertTrue(os.path.isfile(os.path.join(self.root, path)), path)
        plugins = [os.path.join(d, f) for d, _, files in os.walk(self.root) for f in files
                   if f == "vormcfg.lua"]
        self.assertEqual(len(plugins), 1, plugins)
        self.assertTrue(plugins[0].endswith("/wireshark/plugins/vormcfg.lua"), plugins)

    def test_compressed_as_gzip_9n(self):
        for path, source in GZIPPED.items():
            with self.subTest(path):
                with open(os.path.join(self.root, path), "rb") as f:
                    data = f.read()
                flags, mtime, extra_flags = data[3], int.from_bytes(data[4:8], "little"), data[8]
                self.assertEqual(data[:3], b"\x1f\x8b\x08", "not gzip's deflate")
                self.assertEqual((flags & 0x08, mtime), (0, 0), "name or time stamp in the header")
                self.assertEqual(extra_flags, 2, "not compressed with -9")
                with open(os.path.join(SOURCE_DIR, source), "rb") as f:
                    self.assertEqual(gzip.decompress(data), f.read())

    def test_copyright_file_carries_the_licence(self):
        with open(os.path.join(self.root, "usr/share/doc/vormcfg/copyright")) as f:
            copyright_file = f.read()
        with open(os.path.join(SOURCE_DIR, "LICENSE")) as f:
            licence = f.read()
        self.assertTrue(copyright_file.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        holder = licence.split("\n")[2].replace("Copyright (c) ", "")
        self.assertIn("\nCopyright: %s\nLicense: Expat\n" % holder, copyright_file)
        # The stand-alone licence paragraph, continuation lines unfolded.
        text = copyright_file.split("\n\nLicense: Expat\n", 1)[1]
        unfolded = "\n".join("" if line == " ." else line[1:] for line in text.rstrip("\n").split("\n"))
        self.assertEqual(unfolded, licence.split("\n", 4)[4].rstrip("\n"))

    def test_changelog_names_the_package_version(self):
        with gzip.open(os.path.join(self.root, "usr/share/doc/vormcfg/changelog.gz"), "rt") as f:
            first = f.readline()
        self.assertTrue(first.startswith("vormcfg (%s) " % self.field("Version")), first)

    def test_lintian_finds_no_error(self):
        if shutil.which("lintian") is None:
            self.skipTest("lintian is not installed (Debian package lintian)")
        # CI builds and tests as root, which lintian would otherwise refuse.
        res = run(["lintian", "--allow-root", "--fail-on", "none", self.deb])
        self.assertEqual(res.returncode, 0, "lintian did not run: %s" % res.stderr)
        tags = [line for line in res.stdout.splitlines() if line[:3] in ("E: ", "W: ")]
        for line in tags:
            sys.stderr.write("lintian: %s\n" % line)
        self.assertEqual([line for line in tags if line.startswith("E: ")], [])

    def test_installed_programs_run(self):
        res = run(without_network([os.path.join(self.root, "usr/bin/vormcfg"), "-h"]))
        self.assertEqual((res.returncode, res.stdout), (0, ""), res.stderr)
        self.assertTrue(res.stderr.startswith("\nvormcfg v1.0.0.7"), res.stderr)
        res = run(without_network([os.path.join(self.root, "usr/bin/sorter-sim"), "--help"]))
        self.assertEqual((res.returncode, res.stderr), (0, ""))
        self.assertTrue(res.stdout.startswith("sorter-sim [options]\n"), res.stdout)
        lines = res.stdout.splitlines()
        for option, value in sorter_sim_options().items():
            usage = "  %s %s" % (option, value) if value else "  %s" % option
            self.assertTrue([line for line in lines if line == usage or line.startswith(usage + " ")],
                            "%r is not in the help:\n%s" % (usage, res.stdout))

    def test_apt_would_install_it(self):
        if shutil.which("apt-get") is None:
            self.skipTest("no apt-get here")
        res = run(["apt-get", "install", "--simulate", "--no-install-recommends", self.deb])
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        self.assertIn("Inst vormcfg", res.stdout)


class ManPageTest(unittest.TestCase):
    def test_pages_are_lint_clean(self):
        if shutil.which("mandoc") is None:
            self.skipTest("mandoc is not installed (Debian package mandoc)")
        for page in ("vormcfg.1", "sorter-sim.1"):
            with self.subTest(page):
                res = run(["mandoc", "-T", "lint", "-W", "warning",
                           os.path.join(SOURCE_DIR, "man", page)])
                self.assertEqual((res.returncode, res.stdout + res.stderr), (0, ""))

    def test_usage_page_names_every_option(self):
        with open(os.path.join(SOURCE_DIR, "man", "vormcfg.1")) as f:
            page = f.read()
        for letter in "srigudbfvhtwj":
            self.assertIn(".It Fl %s" % letter, page)

    def test_simulator_page_names_every_option(self):
        with open(os.path.join(SOURCE_DIR, "man", "sorter-sim.1")) as f:
            page = f.read()
        for option in sorter_sim_options():
            # ".It Fl \-name": Fl gives one dash, "\-" the other.
            self.assertRegex(page, r"\n\.It Fl \\-%s( |\n)" % re.escape(option[2:]))


class CompletionTest(unittest.TestCase):
    def complete(self, *words):
        script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); '
                  '_vormcfg; printf "%s\\n" "${COMPREPLY[@]}"')
        res = run(["bash", "-c", script, "completion",
                   os.path.join(SOURCE_DIR, "contrib", "bash-completion", "vormcfg")] + list(words))
        self.assertEqual(res.returncode, 0, res.stderr)
        return [line for line in res.stdout.splitlines() if line]

    def test_offers_options_dhcp_values_and_local_addresses(self):
        self.assertEqual(sorted(self.complete("vormcfg", "-")),
                         sorted(["-s", "-r", "-i", "-u", "-g", "-d", "-b", "-f", "-v", "-t", "-w", "-j", "-h"]))
        self.assertEqual(self.complete("vormcfg", "-d", ""), ["on", "off"])
        self.assertEqual(self.complete("vormcfg", "-d", "of"), ["off"])
        self.assertIn("127.0.0.1", self.complete("vormcfg", "-b", ""))
        for letter in ("-s", "-t", "-w"):
            self.assertEqual(self.complete("vormcfg", letter, ""), [])


if __name__ == "__main__":
    unittest.main()
