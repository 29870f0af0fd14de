"""The Windows zip holds vormcfg.exe, the README and the licence, side by
side, and nothing built for tests."""
import os
import shutil
import subprocess
import tempfile
import unittest
import zipfile

BUILD_DIR = os.environ.get("BUILD_DIR", "")


class WindowsZipTest(unittest.TestCase):
    def test_zip_holds_the_program_readme_and_licence(self):
        work = tempfile.mkdtemp(prefix="vormcfg-zip-")
        self.addCleanup(shutil.rmtree, work, True)
        res = subprocess.run(["cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
                              "-G", "ZIP", "-B", work], capture_output=True, text=True)
        self.assertEqual(res.returncode, 0, res.stdout + res.stderr)
        path = os.path.join(work, "vormcfg-%s-windows-x64.zip" % os.environ["VORMCFG_VERSION"])
        with zipfile.ZipFile(path) as archive:
            self.assertEqual(sorted(archive.namelist()), ["LICENSE", "README.md", "vormcfg.exe"])
            self.assertEqual(archive.read("vormcfg.exe")[:2], b"MZ")


if __name__ == "__main__":
    unittest.main()
