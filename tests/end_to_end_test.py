#!/usr/bin/env python3
"""End-to-end tests: run the built raw2zel in a scratch directory and check
its standard output, standard error, exit status and the files it leaves."""

import os
import resource
import signal
import subprocess
import sys
import tempfile
import unittest

BINARY = None


def configure(argv):
    """Takes the binary's path off the command line. RAW2ZEL_WRAPPER, if
    set, is a command (valgrind, say) that every run goes through."""
    global BINARY
    BINARY = os.path.abspath(argv.pop(1))
    wrapper = os.environ.get("RAW2ZEL_WRAPPER")
    if wrapper:
        script = tempfile.NamedTemporaryFile("w", prefix="raw2zel-wrapper-", delete=False)
        script.write(f'#!/bin/sh\nexec {wrapper} "{BINARY}" "$@"\n')
        script.close()
        os.chmod(script.name, 0o755)
        BINARY = script.name

USAGE = (b"Usage: raw2zel c vesk10_432x128x8x32f vesk10.zel\n"
         b"       raw2zel d vesk10.zel vesk10a\n")
PARSE_ERROR = b"Error: can't parse input filename\n"
DIMENSIONS_ERROR = b"Error: dimensions don't fit the container header\n"
VESK_HEADER = bytes.fromhex("B0 01 80 00 08 20")
VESK_INFO = b'"vesk10" W=432 H=128 Z=8 B=32f=32\n'


def pattern(size):
    """Bytes that differ from their neighbours, so shifts and drops show."""
    return bytes((i * 7 + i // 251) & 0xFF for i in range(size))


def limit_file_size(limit):
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class Raw2zelTest(unittest.TestCase):
    def setUp(self):
        self._scratch = tempfile.TemporaryDirectory(prefix="raw2zel-")
        self.dir = self._scratch.name

    def tearDown(self):
        self._scratch.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return name

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def files(self):
        return sorted(os.listdir(self.dir))

    def run_tool(self, *args, preexec_fn=None, stdout=subprocess.PIPE):
        result = subprocess.run([BINARY, *args], cwd=self.dir, stdout=stdout,
                                stderr=subprocess.PIPE, preexec_fn=preexec_fn,
                                timeout=60)
        self.assertEqual(result.stderr, b"", "nothing goes to standard error")
        return result

    def assertRun(self, args, status, printed=b"", **kwargs):
        """Runs and checks the status and, where it was captured, standard output."""
        result = self.run_tool(*args, **kwargs)
        self.assertEqual(result.returncode, status, args)
        if result.stdout is not None:
            self.assertEqual(result.stdout, printed, args)
        return result


class CommandLineTest(Raw2zelTest):
    def test_fewer_than_three_arguments_print_usage(self):
        self.write("vesk10_432x128x8x32f", b"data")
        for args in ([], ["c"], ["c", "vesk10_432x128x8x32f"]):
            self.assertRun(args, 1, USAGE)
            self.assertEqual(self.files(), ["vesk10_432x128x8x32f"])

    def test_arguments_after_the_third_are_ignored(self):
        self.write("vesk10.zel", VESK_HEADER + b"abc")
        self.assertRun(["d", "vesk10.zel", "vesk10a", "more", "x"], 0,
                       b'"vesk10a" W=432 H=128 Z=8 B=32f=32\n')
        self.assertEqual(self.read("vesk10a_432x128x8x32f"), b"abc")
        self.assertNotIn("more", self.files())

    def test_first_character_of_the_mode_selects(self):
        data = pattern(100)
        self.write("vesk10_432x128x8x32f", data)
        for mode in ["c", "x", "C", "D", "", "cd", "-d"]:
            self.assertRun([mode, "vesk10_432x128x8x32f", "out.zel"], 0, VESK_INFO)
            self.assertEqual(self.read("out.zel"), VESK_HEADER + data, mode)
        for mode in ["d", "decode"]:
            self.assertRun([mode, "out.zel", "back"], 0, b'"back" W=432 H=128 Z=8 B=32f=32\n')
            self.assertEqual(self.read("back_432x128x8x32f"), data, mode)

    def test_input_that_cannot_be_opened(self):
        for mode in ["c", "d"]:
            for name in ["missing_1x1x1x16u", ""]:
                self.assertRun([mode, name, "out.zel"], 1)
                self.assertEqual(self.files(), [])

    def test_pack_output_that_cannot_be_created(self):
        self.write("vol_1x1x1x16u", b"ab")
        os.mkdir(self.path("adir"))
        for output in ["nodir/out.zel", "adir", ""]:
            self.assertRun(["c", "vol_1x1x1x16u", output], 1)
        self.assertEqual(self.files(), ["adir", "vol_1x1x1x16u"])


class PackTest(Raw2zelTest):
    def test_pack_writes_header_and_every_sample(self):
        data = pattern(432 * 128 * 8 * 4)
        self.write("vesk10_432x128x8x32f", data)
        self.assertRun(["c", "vesk10_432x128x8x32f", "vesk10.zel"], 0, VESK_INFO)
        self.assertEqual(self.read("vesk10.zel"), VESK_HEADER + data)

    def test_sample_types_and_unknown_tokens(self):
        cases = [("vol_4x5x6x16u", b"B=16u=16", 0x10), ("vol_4x5x6x16s", b"B=16s=-16", 0xF0),
                 ("vol_4x5x6x32f", b"B=32f=32", 0x20), ("vol_4x5x6x16U", b"B=16U=0", 0x00),
                 ("vol_4x5x6x16u.raw", b"B=16u.raw=0", 0x00)]
        for name, types, code in cases:
            self.write(name, b"xy")
            self.assertRun(["c", name, "out.zel"], 0, b'"vol" W=4 H=5 Z=6 ' + types + b"\n")
            self.assertEqual(self.read("out.zel"), bytes([4, 0, 5, 0, 6, code]) + b"xy")

    def test_name_scan_includes_directories_and_number_bases(self):
        os.makedirs(self.path("data/set_one"))
        self.write("data/set_one/vol_064x0X1Fx010x16u", b"")
        self.assertRun(["c", "data/set_one/vol_064x0X1Fx010x16u", "out.zel"], 0,
                       b'"data/set_one/vol" W=52 H=31 Z=8 B=16u=16\n')
        self.assertEqual(self.read("out.zel"), bytes([52, 0, 31, 0, 8, 16]))

    def test_refused_names_touch_no_output(self):
        unparseable = ["vol_4x5x6x", "vol", "vol_4X5X6X16u", "vol_0xx5x6x16u", "x"]
        # Dimensions the header cannot hold, negative ones included.
        too_large = ["vol_65536x1x1x16u", "vol_1x65536x1x16u", "vol_1x1x256x16u",
                     "vol_1x1x300x16u", "vol_-1x1x1x16u", "vol_1x-1x1x16u", "vol_1x1x-1x16u",
                     "vol_0x10000x1x1x16u"]
        cases = [(n, PARSE_ERROR) for n in unparseable] + [(n, DIMENSIONS_ERROR) for n in too_large]
        for name, message in cases:
            self.write(name, b"data")
            self.write("out.zel", b"keep")
            self.assertRun(["c", name, "out.zel"], 2, message)
            self.assertEqual(self.read("out.zel"), b"keep", name)
            self.assertRun(["c", name, "new.zel"], 2, message)
            self.assertNotIn("new.zel", self.files())

    def test_largest_dimensions_round_trip(self):
        self.write("vol_65535x65535x255x16s", b"s")
        self.assertRun(["c", "vol_65535x65535x255x16s", "v.zel"], 0,
                       b'"vol" W=65535 H=65535 Z=255 B=16s=-16\n')
        self.assertEqual(self.read("v.zel"), bytes.fromhex("FF FF FF FF FF F0") + b"s")
        self.assertRun(["d", "v.zel", "vol"], 0, b'"vol" W=65535 H=65535 Z=255 B=16s=-16\n')
        self.assertEqual(self.read("vol_65535x65535x255x16s"), b"s")

    def test_overlong_names_do_not_scan(self):
        for name in ["vol_2147483648x1x1x16u", "vol_1x1x99999999999999999999x16u"]:
            self.write(name, b"data")
            self.assertRun(["c", name, "out.zel"], 2, PARSE_ERROR)
        # A base name of 257 characters, spread over directories.
        deep = "/".join(["d" * 63] * 4)
        os.makedirs(self.path(deep))
        self.write(deep + "/vol_1x1x1x16u", b"data")
        self.assertRun(["c", deep + "/vol_1x1x1x16u", "out.zel"], 2, PARSE_ERROR)
        self.assertNotIn("out.zel", self.files())


class UnpackTest(Raw2zelTest):
    def test_unpack_composes_the_name_and_copies_after_the_header(self):
        data = pattern(432 * 128 * 8 * 4)
        self.write("vesk10.zel", VESK_HEADER + data)
        self.assertRun(["d", "vesk10.zel", "vesk10a"], 0, b'"vesk10a" W=432 H=128 Z=8 B=32f=32\n')
        self.assertEqual(self.read("vesk10a_432x128x8x32f"), data)

    def test_short_containers(self):
        self.write("five.zel", b"12345")
        self.assertRun(["d", "five.zel", "out"], 3)
        self.write("empty.zel", b"")
        self.assertRun(["d", "empty.zel", "out"], 3)
        os.mkdir(self.path("adir"))
        self.assertRun(["d", "adir", "out"], 3)
        self.assertEqual(self.files(), ["adir", "empty.zel", "five.zel"])

    def test_header_only_container_gives_an_empty_file(self):
        self.write("six.zel", VESK_HEADER)
        self.assertRun(["d", "six.zel", "out"], 0, b'"out" W=432 H=128 Z=8 B=32f=32\n')
        self.assertEqual(self.read("out_432x128x8x32f"), b"")

    def test_unknown_codes_print_as_signed_numbers(self):
        for code, tail in [(0x00, b"B=XXX=0"), (0x80, b"B=XXX=-128"), (0x08, b"B=XXX=8"),
                           (0x7F, b"B=XXX=127")]:
            self.write("in.zel", bytes([1, 0, 2, 0, 3, code]) + b"q")
            self.assertRun(["d", "in.zel", "o"], 0, b'"o" W=1 H=2 Z=3 ' + tail + b"\n")
            self.assertEqual(self.read("o_1x2x3xXXX"), b"q")

    def test_empty_base_name(self):
        self.write("in.zel", VESK_HEADER + b"z")
        self.assertRun(["d", "in.zel", ""], 0, b'"" W=432 H=128 Z=8 B=32f=32\n')
        self.assertEqual(self.read("_432x128x8x32f"), b"z")

    def test_any_file_of_six_bytes_reads_as_a_container(self):
        self.write("vol_1x1x1x16u", bytes([2, 1, 3, 0, 4, 0xF0]) + b"rest")
        self.assertRun(["d", "vol_1x1x1x16u", "r"], 0, b'"r" W=258 H=3 Z=4 B=16s=-16\n')
        self.assertEqual(self.read("r_258x3x4x16s"), b"rest")

    def test_output_that_cannot_be_created_after_the_info_line(self):
        self.write("in.zel", VESK_HEADER + b"z")
        os.mkdir(self.path("adir_432x128x8x32f"))
        for base in ["nodir/vesk10a", "adir"]:
            self.assertRun(["d", "in.zel", base], 1,
                           b'"' + base.encode() + b'" W=432 H=128 Z=8 B=32f=32\n')
        self.assertEqual(self.files(), ["adir_432x128x8x32f", "in.zel"])

    def test_composed_name_beyond_255_characters_is_not_created(self):
        self.write("in.zel", bytes([1, 0, 1, 0, 1, 16]) + b"z")
        fits = "b" * 245
        self.assertRun(["d", "in.zel", fits], 0, b'"' + fits.encode() + b'" W=1 H=1 Z=1 B=16u=16\n')
        self.assertEqual(self.read(fits + "_1x1x1x16u"), b"z")
        for base in ["b" * 246, "b" * 100000]:
            self.assertRun(["d", "in.zel", base], 1,
                           b'"' + base.encode() + b'" W=1 H=1 Z=1 B=16u=16\n')
        self.assertEqual(self.files(), sorted(["in.zel", fits + "_1x1x1x16u"]))


class RoundTripTest(Raw2zelTest):
    def test_sizes_around_the_chunk(self):
        for size in [0, 1, 6, 65529, 65530, 65531, 65535, 65536, 65537, 3 * 65536 + 5]:
            data = pattern(size)
            self.write("vol_3x4x5x16u", data)
            self.assertRun(["c", "vol_3x4x5x16u", "vol.zel"], 0, b'"vol" W=3 H=4 Z=5 B=16u=16\n')
            self.assertEqual(self.read("vol.zel"), bytes([3, 0, 4, 0, 5, 16]) + data, size)
            self.assertRun(["d", "vol.zel", "back"], 0, b'"back" W=3 H=4 Z=5 B=16u=16\n')
            self.assertEqual(self.read("back_3x4x5x16u"), data, size)

    def test_files_that_only_read_can_copy(self):
        # Files of /proc show no data to the kernel's file-to-file copy.
        with open("/proc/version", "rb") as f:
            data = f.read()
        os.symlink("/proc/version", self.path("proc_1x1x1x16u"))
        self.assertRun(["c", "proc_1x1x1x16u", "out.zel"], 0, b'"proc" W=1 H=1 Z=1 B=16u=16\n')
        self.assertEqual(self.read("out.zel"), bytes([1, 0, 1, 0, 1, 16]) + data)

    def test_existing_outputs_are_truncated(self):
        self.write("vol_1x1x1x32f", b"new")
        self.write("out.zel", b"old old old old")
        self.write("back_1x1x1x32f", b"old old old old")
        self.assertRun(["c", "vol_1x1x1x32f", "out.zel"], 0, b'"vol" W=1 H=1 Z=1 B=32f=32\n')
        self.assertEqual(self.read("out.zel"), bytes([1, 0, 1, 0, 1, 32]) + b"new")
        self.assertRun(["d", "out.zel", "back"], 0, b'"back" W=1 H=1 Z=1 B=32f=32\n')
        self.assertEqual(self.read("back_1x1x1x32f"), b"new")


class FailureTest(Raw2zelTest):
    def test_full_device_fails_in_both_modes(self):
        self.write("vol_1x1x1x16u", b"ab")
        self.assertRun(["c", "vol_1x1x1x16u", "/dev/full"], 1, b'"vol" W=1 H=1 Z=1 B=16u=16\n')
        self.write("in.zel", bytes([1, 0, 1, 0, 1, 16]) + b"ab")
        os.symlink("/dev/full", self.path("full_1x1x1x16u"))
        self.assertRun(["d", "in.zel", "full"], 1, b'"full" W=1 H=1 Z=1 B=16u=16\n')

    @unittest.skipIf(os.environ.get("RAW2ZEL_WRAPPER"), "a wrapper needs room for its own files")
    def test_write_that_fails_part_way(self):
        data = pattern(300000)
        self.write("vol_1x1x1x16u", data)
        self.write("in.zel", bytes([1, 0, 1, 0, 1, 16]) + data)
        cases = [(["c", "vol_1x1x1x16u", "out.zel"], "out.zel", b'"vol" W=1 H=1 Z=1 B=16u=16\n'),
                 (["d", "in.zel", "o"], "o_1x1x1x16u", b'"o" W=1 H=1 Z=1 B=16u=16\n')]
        for args, output, info in cases:
            for limit in [3, 100000]:
                self.assertRun(args, 1, info, preexec_fn=limit_file_size(limit))
                self.assertEqual(os.path.getsize(self.path(output)), limit)

    def test_directory_as_input_is_a_read_error(self):
        os.mkdir(self.path("dir_1x1x1x16u"))
        self.assertRun(["c", "dir_1x1x1x16u", "out.zel"], 1, b'"dir" W=1 H=1 Z=1 B=16u=16\n')

    def test_pack_never_overwrites_its_input(self):
        data = pattern(70000)
        self.write("vol_2x2x2x16u", data)
        os.mkdir(self.path("sub"))
        os.link(self.path("vol_2x2x2x16u"), self.path("sub/hard"))
        os.symlink("../vol_2x2x2x16u", self.path("sub/soft"))
        for output in ["vol_2x2x2x16u", "./vol_2x2x2x16u", "sub/../vol_2x2x2x16u",
                       self.path("vol_2x2x2x16u"), "sub/hard", "sub/soft"]:
            self.assertRun(["c", "vol_2x2x2x16u", output], 1)
            self.assertEqual(self.read("vol_2x2x2x16u"), data, output)
        self.assertEqual(self.files(), ["sub", "vol_2x2x2x16u"])

    def test_unpack_never_overwrites_its_input(self):
        container = bytes([2, 0, 2, 0, 2, 16]) + pattern(70000)
        os.mkdir(self.path("sub"))
        self.write("in_2x2x2x16u", container)
        os.link(self.path("in_2x2x2x16u"), self.path("sub/hard_2x2x2x16u"))
        os.symlink("../in_2x2x2x16u", self.path("sub/soft_2x2x2x16u"))
        for base in ["in", "./in", "sub/hard", "sub/soft"]:
            self.assertRun(["d", "in_2x2x2x16u", base], 1,
                           b'"' + base.encode() + b'" W=2 H=2 Z=2 B=16u=16\n')
            self.assertEqual(self.read("in_2x2x2x16u"), container, base)

    def test_closed_standard_descriptors_do_not_leak_into_the_output(self):
        data = pattern(1000)
        self.write("vol_1x1x1x16u", data)
        closings = ["<&- >&-", ">&-"]
        if not os.environ.get("RAW2ZEL_WRAPPER"):  # a wrapper may want its standard error
            closings.append("<&- >&- 2>&-")
        for closed in closings:
            script = f'"$0" c vol_1x1x1x16u out.zel {closed}; echo $? >status'
            subprocess.run(["sh", "-c", script, BINARY], cwd=self.dir, check=True)
            self.assertEqual(self.read("status"), b"0\n", closed)
            self.assertEqual(self.read("out.zel"), bytes([1, 0, 1, 0, 1, 16]) + data, closed)

    def test_closed_pipe_on_standard_output_does_not_stop_the_conversion(self):
        data = pattern(200000)
        self.write("vol_1x1x1x16u", data)
        reader, writer = os.pipe()
        os.close(reader)
        try:
            self.assertRun(["c", "vol_1x1x1x16u", "out.zel"], 0, stdout=writer)
        finally:
            os.close(writer)
        self.assertEqual(self.read("out.zel"), bytes([1, 0, 1, 0, 1, 16]) + data)

if __name__ == "__main__":
    configure(sys.argv)
    unittest.main(verbosity=2)
