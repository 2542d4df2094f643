#!/usr/bin/env python3
"""Opens packed samples in a real NRRD reader, teem's unu, through the header
that tools/zel-nhdr writes, and checks that it gives back exactly the raw
samples with the right shape and type. Installs Debian's teem-apps when unu
is missing and this runs as root.
Usage: interop_test.py RAW2ZEL TOOLS_DIR"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import harness

TOOL = None
TOOLS = None
UNU = None
FORMATS = {"16u": ("ushort", "<H"), "16s": ("short", "<h"), "32f": ("float", "<f")}


def find_or_install_unu():
    for name in ("teem-unu", "unu"):
        if shutil.which(name):
            return name
    if os.geteuid() != 0 or shutil.which("apt-get") is None:
        return None
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    for command in (["apt-get", "update", "-qq"], ["apt-get", "install", "-y", "-qq", "teem-apps"]):
        if subprocess.run(command, env=env, capture_output=True).returncode != 0:
            return None
    return shutil.which("teem-unu")


def setUpModule():
    global UNU
    UNU = find_or_install_unu()


class NrrdInteropTest(unittest.TestCase):
    def setUp(self):
        if UNU is None:
            self.skipTest("unu is missing and teem-apps could not be installed")
        self._scratch = tempfile.TemporaryDirectory(prefix="raw2zel-interop-")
        self.dir = self._scratch.name

    def tearDown(self):
        self._scratch.cleanup()

    def run_in_dir(self, *command):
        return subprocess.run(command, cwd=self.dir, capture_output=True, check=True).stdout

    def test_unu_reads_each_sample_type_through_the_generated_header(self):
        for token, (nrrd_type, fmt) in FORMATS.items():
            with self.subTest(token=token):
                # Unequal sizes, so that a swapped axis shows.
                raw = self.run_in_dir(sys.executable, os.path.join(TOOLS, "make-sample"), ".",
                                      token, "9", "7", "5").decode().strip()
                container = f"{token}.zel"
                self.run_in_dir(TOOL, "c", raw, container)
                self.run_in_dir("sh", os.path.join(TOOLS, "zel-nhdr"), container)
                with open(os.path.join(self.dir, f"{token}.nhdr")) as f:
                    header = f.read()
                self.assertIn(f"type: {nrrd_type}\n", header)
                self.assertIn("sizes: 9 7 5\n", header)

                self.run_in_dir(UNU, "save", "-i", f"{token}.nhdr", "-f", "nrrd", "-e", "raw",
                                "-o", f"{token}-copy.nhdr")
                with open(os.path.join(self.dir, raw), "rb") as f:
                    samples = f.read()
                with open(os.path.join(self.dir, f"{token}-copy.raw"), "rb") as f:
                    self.assertEqual(f.read(), samples)

                values = [v for (v,) in struct.iter_unpack(fmt, samples)]
                minmax = self.run_in_dir(UNU, "minmax", f"{token}.nhdr").decode().split()
                self.assertEqual([float(minmax[1]), float(minmax[3])],
                                 [float(min(values)), float(max(values))])

    def test_header_in_another_directory_names_the_container_by_its_full_path(self):
        os.mkdir(os.path.join(self.dir, "headers"))
        with open(os.path.join(self.dir, "vol_2x2x1x16u"), "wb") as f:
            f.write(struct.pack("<4H", 1, 2, 3, 4))
        self.run_in_dir(TOOL, "c", "vol_2x2x1x16u", "vol.zel")
        self.run_in_dir("sh", os.path.join(TOOLS, "zel-nhdr"), "vol.zel", "headers/vol.nhdr")
        minmax = self.run_in_dir(UNU, "minmax", "headers/vol.nhdr").decode().split()
        self.assertEqual([minmax[1], minmax[3]], ["1", "4"])

    def test_short_or_unknown_containers_are_refused(self):
        for name, content, status in [("short.zel", b"\x01\x00", 3),
                                      ("odd.zel", bytes([1, 0, 1, 0, 1, 8]), 2)]:
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(content)
            result = subprocess.run(["sh", os.path.join(TOOLS, "zel-nhdr"), name], cwd=self.dir,
                                    capture_output=True)
            self.assertEqual(result.returncode, status, name)
            self.assertFalse(os.path.exists(os.path.join(self.dir, name[:-4] + ".nhdr")))


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    TOOLS = os.path.abspath(sys.argv.pop(1))
    harness.run_tests()
