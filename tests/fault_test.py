#!/usr/bin/env python3
"""Fault tests: injected read errors, a disk that fills, FIFOs at both ends,
and a stream past 4 GiB. Usage: fault_test.py RAW2ZEL [TestClass ...]

Each group needs something a plain run may lack (strace, root, minutes of
streaming); a group whose need is missing is skipped with the reason, and
the script exits 77 when everything it ran was skipped."""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

import harness

import end_to_end_test as e2e
from end_to_end_test import Raw2zelTest, pattern

INFO_1x1x1 = b'"vol" W=1 H=1 Z=1 B=16u=16\n'
HEADER_1x1x1 = bytes([1, 0, 1, 0, 1, 16])
CHUNK = 65536


def traced_environment():
    """LeakSanitizer cannot run under ptrace and would fail a sanitized
    build's traced runs with status 1; the untraced runs check for leaks."""
    options = os.environ.get("ASAN_OPTIONS", "")
    return dict(os.environ, ASAN_OPTIONS=(options + ":" if options else "") + "detect_leaks=0")


def strace_problem():
    if shutil.which("strace") is None:
        return "strace is not installed"
    probe = subprocess.run(["strace", "-o", "/dev/null", "true"], capture_output=True)
    if probe.returncode != 0:
        return "strace cannot trace here: " + probe.stderr.decode(errors="replace").strip()
    return None


def tmpfs_problem():
    if os.geteuid() != 0:
        return "mounting a small tmpfs needs root"
    probe = tempfile.mkdtemp(prefix="raw2zel-mount-")
    try:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                                 capture_output=True)
        if mounted.returncode != 0:
            return "cannot mount a tmpfs here: " + mounted.stderr.decode(errors="replace").strip()
        subprocess.run(["umount", probe], check=True)
        return None
    finally:
        os.rmdir(probe)


class InjectedErrorTest(Raw2zelTest):
    """System calls made to fail part way: a read after the first chunk has
    been copied, and the close that would report a delayed write error."""

    def setUp(self):
        problem = strace_problem()
        if problem:
            self.skipTest(problem)
        super().setUp()

    def run_with_failure(self, args, file_name, call, nth):
        """Runs with the nth call of the given kind on file_name failing."""
        command = ["strace", "-f", "-o", "/dev/null", "-P", self.path(file_name),
                   "-e", f"trace={call}", "-e", f"inject={call}:error=EIO:when={nth}",
                   e2e.BINARY, *args]
        return subprocess.run(command, cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=60, env=traced_environment())

    def run_with_failing_read(self, args, input_name, nth):
        # Files are copied with copy_file_range() where the kernel can, with
        # read() elsewhere; each call counts on its own.
        return self.run_with_failure(args, input_name, "read,copy_file_range", nth)

    def assertCopiedAChunkThenFailed(self, result, info, output, expected):
        self.assertEqual((result.returncode, result.stdout), (1, info))
        written = self.read(output)
        self.assertGreaterEqual(len(written), CHUNK)
        self.assertLess(len(written), len(expected))
        self.assertEqual(written, expected[:len(written)])

    def test_failed_close_of_the_output_is_reported(self):
        data = pattern(2 * CHUNK)
        self.write("vol_1x1x1x16u", data)
        self.write("in.zel", HEADER_1x1x1 + data)
        for args, output in [(["c", "vol_1x1x1x16u", "out.zel"], "out.zel"),
                             (["d", "in.zel", "back"], "back_1x1x1x16u")]:
            self.write(output, b"")
            result = self.run_with_failure(args, output, "close", 1)
            self.assertEqual(result.returncode, 1, args)

    def test_pack_reports_a_failed_read(self):
        data = pattern(5 * CHUNK)
        self.write("vol_1x1x1x16u", data)
        result = self.run_with_failing_read(["c", "vol_1x1x1x16u", "out.zel"], "vol_1x1x1x16u", 2)
        # The first call copied everything; the one that would have found
        # the end failed instead.
        self.assertEqual((result.returncode, result.stdout), (1, INFO_1x1x1))
        self.assertEqual(self.read("out.zel"), HEADER_1x1x1 + data)

    def test_unpack_reports_a_failed_read(self):
        data = pattern(5 * CHUNK)
        self.write("in.zel", HEADER_1x1x1 + data)
        # The header takes the first read; the second read or copy fails.
        result = self.run_with_failing_read(["d", "in.zel", "vol"], "in.zel", 2)
        self.assertEqual((result.returncode, result.stdout), (1, INFO_1x1x1))
        self.assertEqual(self.read("vol_1x1x1x16u"), data)

    def test_failed_read_from_a_fifo_after_some_chunks(self):
        data = pattern(64 * CHUNK)
        for mode, name, output, expected in [
                ("c", "vol_1x1x1x16u", "out.zel", HEADER_1x1x1 + data),
                ("d", "in.zel", "vol_1x1x1x16u", data)]:
            os.mkfifo(self.path(name))
            stream = data if mode == "c" else HEADER_1x1x1 + data
            writer = threading.Thread(target=feed, args=(self.path(name), stream), daemon=True)
            writer.start()
            result = self.run_with_failing_read(
                [mode, name, "out.zel" if mode == "c" else "vol"], name, 8)
            writer.join()
            self.assertCopiedAChunkThenFailed(result, INFO_1x1x1, output, expected)
            os.unlink(self.path(name))
            os.unlink(self.path(output))

    def test_failed_header_read_is_a_short_container(self):
        self.write("in.zel", HEADER_1x1x1 + b"data")
        result = self.run_with_failing_read(["d", "in.zel", "vol"], "in.zel", 1)
        self.assertEqual((result.returncode, result.stdout), (3, b""))
        self.assertEqual(self.files(), ["in.zel"])


class FullDiskTest(Raw2zelTest):
    """A file system that fills part way through the copy."""

    def setUp(self):
        problem = tmpfs_problem()
        if problem:
            self.skipTest(problem)
        super().setUp()
        os.mkdir(self.path("small"))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", self.path("small")],
                       check=True)

    def tearDown(self):
        subprocess.run(["umount", self.path("small")], check=True)
        super().tearDown()

    def test_both_modes_report_a_full_disk(self):
        data = pattern(1024 * 1024)
        self.write("vol_1x1x1x16u", data)
        self.write("in.zel", HEADER_1x1x1 + data)
        self.assertRun(["c", "vol_1x1x1x16u", "small/out.zel"], 1, INFO_1x1x1)
        written = os.path.getsize(self.path("small/out.zel"))
        self.assertLess(written, len(data))
        os.unlink(self.path("small/out.zel"))
        self.assertRun(["d", "in.zel", "small/vol"], 1, b'"small/vol" W=1 H=1 Z=1 B=16u=16\n')
        self.assertLess(os.path.getsize(self.path("small/vol_1x1x1x16u")), len(data))


def feed(path, data):
    try:
        with open(path, "wb") as fifo:
            fifo.write(data)
    except BrokenPipeError:
        pass  # the reader stopped early, as some tests make it


def drain(path, into):
    with open(path, "rb") as fifo:
        into.append(fifo.read())


class FifoTest(Raw2zelTest):
    """Pipes at either end: no seeking, no size to ask for."""

    def start(self, target, *args):
        thread = threading.Thread(target=target, args=args, daemon=True)
        thread.start()
        return thread

    def test_pack_from_a_fifo(self):
        data = pattern(3 * CHUNK + 17)
        os.mkfifo(self.path("vol_1x1x1x16u"))
        writer = self.start(feed, self.path("vol_1x1x1x16u"), data)
        self.assertRun(["c", "vol_1x1x1x16u", "out.zel"], 0, INFO_1x1x1)
        writer.join()
        self.assertEqual(self.read("out.zel"), HEADER_1x1x1 + data)

    def test_unpack_into_a_fifo_under_the_composed_name(self):
        data = pattern(3 * CHUNK + 17)
        self.write("in.zel", HEADER_1x1x1 + data)
        os.mkfifo(self.path("vol_1x1x1x16u"))
        received = []
        reader = self.start(drain, self.path("vol_1x1x1x16u"), received)
        self.assertRun(["d", "in.zel", "vol"], 0, INFO_1x1x1)
        reader.join()
        self.assertEqual(received, [data])

    def test_fifos_in_a_chain_with_slow_small_writes(self):
        os.mkfifo(self.path("vol_1x1x1x16u"))
        os.mkfifo(self.path("chain.zel"))
        os.mkfifo(self.path("back_1x1x1x16u"))
        pieces = [pattern(n) for n in (1, 5, 6, 7, CHUNK - 1, CHUNK + 1, 3)]

        def trickle():
            with open(self.path("vol_1x1x1x16u"), "wb", buffering=0) as fifo:
                for piece in pieces:
                    fifo.write(piece)

        received = []
        self.start(trickle)
        reader = self.start(drain, self.path("back_1x1x1x16u"), received)
        packer = subprocess.Popen([e2e.BINARY, "c", "vol_1x1x1x16u", "chain.zel"], cwd=self.dir,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertRun(["d", "chain.zel", "back"], 0, b'"back" W=1 H=1 Z=1 B=16u=16\n')
        self.assertEqual(packer.communicate(timeout=60), (INFO_1x1x1, b""))
        self.assertEqual(packer.returncode, 0)
        reader.join()
        self.assertEqual(received, [b"".join(pieces)])

    def test_reader_that_goes_away_is_a_write_error(self):
        self.write("in.zel", HEADER_1x1x1 + pattern(10 * CHUNK))
        os.mkfifo(self.path("vol_1x1x1x16u"))

        def read_a_little():
            with open(self.path("vol_1x1x1x16u"), "rb") as fifo:
                fifo.read(100)

        self.start(read_a_little)
        self.assertRun(["d", "in.zel", "vol"], 1, INFO_1x1x1)

    @unittest.skipIf(os.environ.get("RAW2ZEL_WRAPPER"), "a wrapper makes system calls of its own")
    def test_no_seek_is_made(self):
        problem = strace_problem()
        if problem:
            self.skipTest(problem)
        os.mkfifo(self.path("vol_1x1x1x16u"))
        self.start(feed, self.path("vol_1x1x1x16u"), pattern(2 * CHUNK))
        log = self.path("trace")
        # Only calls on the two files count: a dynamic loader reads libraries with pread.
        subprocess.run(["strace", "-f", "-o", log, "-P", self.path("vol_1x1x1x16u"),
                        "-P", self.path("out.zel"), "-e", "trace=lseek,_llseek,pread64,pwrite64",
                        e2e.BINARY, "c", "vol_1x1x1x16u", "out.zel"], cwd=self.dir, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=traced_environment())
        with open(log) as trace:
            calls = [line for line in trace if "(" in line]
        self.assertEqual(calls, [])


BIG = 2**32 + 4099
INFO_BIG = b'"big" W=1 H=1 Z=1 B=16u=16\n'
MIB = 1024 * 1024
# Distinct bytes at the start, on both sides of 2^32, and at the end; zeros
# elsewhere.
MARKERS = [(0, b"BEGIN"), (2**32 - 5, b"below"), (2**32, b"above"), (BIG - 3, b"END")]


def stream_block(start, size):
    block = bytearray(size)
    for offset, marker in MARKERS:
        lo, hi = max(offset, start), min(offset + len(marker), start + size)
        if lo < hi:
            block[lo - start:hi - start] = marker[lo - offset:hi - offset]
    return block


def write_stream(path, size):
    with open(path, "wb", buffering=0) as fifo:
        for start in range(0, size, MIB):
            fifo.write(stream_block(start, min(MIB, size - start)))


def check_stream(path, size, verdict):
    """Reads the stream to its end; records its length and whether the
    markers that fall within it arrived in place."""
    total, markers_ok = 0, True
    with open(path, "rb", buffering=0) as fifo:
        while True:
            block = fifo.read(MIB)
            if not block:
                break
            if any(total < at + len(m) and at < total + len(block) for at, m in MARKERS):
                markers_ok &= block == stream_block(total, len(block))[:len(block)]
            total += len(block)
    verdict.update(length=total, markers_ok=markers_ok)


class BigStreamTest(Raw2zelTest):
    """More than 4 GiB through pack and unpack, with memory that stays flat."""

    def setUp(self):
        if not os.access("/usr/bin/time", os.X_OK):
            self.skipTest("/usr/bin/time is not installed (Debian package time)")
        super().setUp()

    def convert_stream(self, size):
        """Streams size bytes through pack and unpack, all over FIFOs.
        Returns the reader's verdict and each process's peak RSS in KiB."""
        for name in ["big_1x1x1x16u", "big.zel", "back_1x1x1x16u"]:
            os.mkfifo(self.path(name))
        verdict = {}
        writer = threading.Thread(target=write_stream, args=(self.path("big_1x1x1x16u"), size))
        reader = threading.Thread(target=check_stream,
                                  args=(self.path("back_1x1x1x16u"), size, verdict))
        writer.start()
        reader.start()
        # A child of this interpreter would count the interpreter's own pages
        # as its peak; /usr/bin/time starts it from a small process instead.
        runs = [(["c", "big_1x1x1x16u", "big.zel"], self.path("pack.rss")),
                (["d", "big.zel", "back"], self.path("unpack.rss"))]
        processes = [subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss, e2e.BINARY, *args],
                                      cwd=self.dir, stdout=subprocess.PIPE) for args, rss in runs]
        for process, info in zip(processes, [INFO_BIG, b'"back" W=1 H=1 Z=1 B=16u=16\n']):
            self.assertEqual(process.communicate(timeout=600)[0], info)
            self.assertEqual(process.returncode, 0)
        peaks = []
        for _, rss in runs:
            with open(rss) as f:
                peaks.append(int(f.read()))
        writer.join()
        reader.join()
        for name in ["big_1x1x1x16u", "big.zel", "back_1x1x1x16u", "pack.rss", "unpack.rss"]:
            os.unlink(self.path(name))
        return verdict, peaks

    def test_stream_past_4_gib_with_flat_memory(self):
        small_verdict, small_peaks = self.convert_stream(4096)
        self.assertEqual(small_verdict, {"length": 4096, "markers_ok": True})
        verdict, peaks = self.convert_stream(BIG)
        self.assertEqual(verdict, {"length": BIG, "markers_ok": True})
        print(f"\npeak RSS in KiB, pack and unpack: {small_peaks} for 4 KiB, {peaks} for 4 GiB",
              file=sys.stderr)
        for small, big in zip(small_peaks, peaks):
            self.assertLessEqual(abs(big - small), 1024, f"peak RSS {small} KiB vs {big} KiB")



if __name__ == "__main__":
    e2e.configure(sys.argv)
    harness.run_tests()
