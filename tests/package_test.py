#!/usr/bin/env python3
"""Builds the Debian package with cpack, unpacks it into a scratch root with
dpkg-deb -x, and converts a sample with the packaged binary.
Usage: package_test.py BUILD_DIR"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import harness

BUILD = None


class DebianPackageTest(unittest.TestCase):
    def setUp(self):
        for tool in ("cpack", "dpkg-deb", "dpkg"):
            if shutil.which(tool) is None:
                self.skipTest(f"{tool} is not installed")
        self._scratch = tempfile.TemporaryDirectory(prefix="raw2zel-package-")
        self.dir = self._scratch.name
        subprocess.run(["cpack", "--config", os.path.join(BUILD, "CPackConfig.cmake"),
                        "-B", self.dir], check=True, stdout=subprocess.DEVNULL)
        (self.deb,) = glob.glob(os.path.join(self.dir, "*.deb"))

    def tearDown(self):
        self._scratch.cleanup()

    def field(self, name):
        return subprocess.run(["dpkg-deb", "-f", self.deb, name], capture_output=True,
                              text=True, check=True).stdout.strip()

    def test_control_fields(self):
        architecture = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                                      text=True, check=True).stdout.strip()
        self.assertEqual(self.field("Package"), "raw2zel")
        self.assertEqual(self.field("Architecture"), architecture)
        self.assertRegex(self.field("Version"), r"^\d+\.\d+\.\d+$")
        self.assertIn("6-byte header", self.field("Description"))
        self.assertEqual(os.path.basename(self.deb),
                         f"raw2zel_{self.field('Version')}_{architecture}.deb")

    def test_packaged_files_work(self):
        root = os.path.join(self.dir, "root")
        subprocess.run(["dpkg-deb", "-x", self.deb, root], check=True)
        for path in ["usr/bin/raw2zel", "usr/bin/zel-nhdr", "usr/share/man/man1/raw2zel.1",
                     "usr/share/doc/raw2zel/README.md", "usr/share/doc/raw2zel/format.md",
                     "usr/share/doc/raw2zel/interop.md"]:
            self.assertTrue(os.path.isfile(os.path.join(root, path)), path)
        tool = os.path.join(root, "usr/bin/raw2zel")
        work = os.path.join(self.dir, "work")
        os.mkdir(work)
        data = bytes(range(256)) * 3
        with open(os.path.join(work, "vol_8x8x6x16u"), "wb") as f:
            f.write(data)
        packed = subprocess.run([tool, "c", "vol_8x8x6x16u", "vol.zel"], cwd=work,
                                capture_output=True)
        self.assertEqual((packed.returncode, packed.stdout), (0, b'"vol" W=8 H=8 Z=6 B=16u=16\n'))
        unpacked = subprocess.run([tool, "d", "vol.zel", "back"], cwd=work, capture_output=True)
        self.assertEqual(unpacked.returncode, 0)
        with open(os.path.join(work, "back_8x8x6x16u"), "rb") as f:
            self.assertEqual(f.read(), data)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv.pop(1))
    harness.run_tests()
