#!/usr/bin/env python3
"""The guard of the compatibility sweep: the sketch of a sound tells a changed
output from float noise, the baseline check lists what changed, an update
rewrites only what changed, and the history check finds a changed digest
without a reason. Usage: compat_guard_test.py SCRIPTS_DIR"""
import contextlib
import functools
import io
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, sys.argv.pop(1) if len(sys.argv) > 1 else "scripts")
import compat_baseline  # noqa: E402
import compat_wav  # noqa: E402

RATE = 48000


@functools.lru_cache(maxsize=None)
def tone(hertz=440.0, frames=24000, level=0.5, channels=2):
    """Interleaved float32 samples: a sine in the first channel, a third
    higher one in the others."""
    out = []
    for f in range(frames):
        for c in range(channels):
            x = level * math.sin(2 * math.pi * hertz * (1 + 0.25 * c) * f / RATE)
            out.append(struct.unpack("<f", struct.pack("<f", x))[0])
    return out


def write_wav(path, channels, samples):
    data = struct.pack("<%df" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", 3, channels, RATE, RATE * 4 * channels, 4 * channels, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)


class Sketch(unittest.TestCase):
    def test_float_noise_passes_and_changes_do_not(self):
        base = tone()
        noise = [((i * 7919) % 101 - 50) / 50.0 for i in range(len(base))]
        cases = [
            # (what, samples, channels, same)
            ("the same samples", base, 2, True),
            ("a few ulps off", [x * (1 + 3e-7) for x in base], 2, True),
            ("a change 100 dB down", [x + 5e-6 * n for x, n in zip(base, noise)], 2, True),
            ("a change 40 dB down", [x + 5e-3 * n for x, n in zip(base, noise)], 2, False),
            ("0.1 dB louder", [x * 1.0116 for x in base], 2, False),
            ("one hertz higher", tone(441.0), 2, False),
            ("the channels swapped", [base[i ^ 1] for i in range(len(base))], 2, False),
            ("a frame shorter", base[:-2], 2, False),
            ("one channel", tone(channels=1), 1, False),
            ("a NaN in one sample", base[:99] + [float("nan")] + base[100:], 2, False),
        ]
        reference = compat_wav.sketch(2, base)
        for what, samples, channels, same in cases:
            with self.subTest(what):
                self.assertEqual(compat_wav.same_digest(
                    reference, compat_wav.sketch(channels, samples)), same)

    def test_silence_and_denormals(self):
        silence = compat_wav.sketch(1, [0.0] * 4800)
        self.assertTrue(compat_wav.same_digest(silence, compat_wav.sketch(1, [1e-39] * 4800)))
        self.assertFalse(compat_wav.same_digest(silence, compat_wav.sketch(1, [1e-6] * 4800)))
        self.assertEqual(compat_wav.sketch(1, []), "audio 1x0; 0 0 0 0 0 0 0 0 0 0")

    def test_digest_reads_the_samples_of_a_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.wav")
            write_wav(path, 2, tone())
            self.assertEqual(compat_wav.digest(path), compat_wav.sketch(2, tone()))
            midi = os.path.join(folder, "out.mid")
            compat_wav.write_notes(midi)
            self.assertRegex(compat_wav.digest(midi), "^midi [0-9a-f]{32}$")

    def test_readings_leave_out_notes_and_warnings(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.report")
            with open(path, "w", encoding="utf-8") as f:
                f.write("Note: Running 1 instances of the plugin.\n"
                        "WARNING: freq is 1e+06, outside its range 0.48 to 24000 (applied as "
                        "given).\nout: 440\nlevel: -inf\n")
            self.assertEqual(compat_wav.readings(path), "report 440 -inf")

    def test_readings_within_the_tolerance(self):
        cases = [
            ("report -12 0.5", "report -12.0000001 0.5", True),
            ("report -12 0.5", "report -11.9 0.5", False),
            ("report -inf 0", "report -inf 0", True),
            ("report -inf 0", "report -90 0", False),
            ("report 1 2", "report 1", False),
        ]
        for a, b, same in cases:
            with self.subTest(a=a, b=b):
                self.assertEqual(compat_wav.same_digest(a, b), same)


class Baseline(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name
        self.sound = compat_wav.sketch(1, tone(channels=1))
        self.noisy = compat_wav.sketch(1, [x * (1 + 3e-7) for x in tone(channels=1)])
        self.other = compat_wav.sketch(1, tone(441.0, channels=1))
        self.baseline = os.path.join(self.dir, "baseline.tsv")
        compat_baseline.write_baseline(self.baseline, {
            "urn:same": (self.sound, ""),
            "urn:moved": (self.sound, ""),
            "urn:noise": ("random", "white noise"),
            "urn:noise-broken": ("random", ""),
            "urn:gone": (self.sound, ""),
            "urn:broken": ("failed", ""),
        }, {"blop-lv2": "1.0.4-1+b1"})
        self.results = self.write("results.txt", "".join(
            "%s|ok|sound|-|no|%s\n" % item for item in [
                ("urn:same", self.noisy), ("urn:moved", self.other),
                ("urn:noise", self.other), ("urn:noise-broken", "failed"),
                ("urn:broken", "failed"), ("urn:new", self.sound)]))
        self.packages = self.write("packages.txt", "blop-lv2=1.0.4-1+b1\n")

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def test_changes_list_what_moved(self):
        entries, _ = compat_baseline.read_baseline(self.baseline)
        results = compat_baseline.read_results(self.results)
        found = dict(compat_baseline.changes(entries, results, partial=False))
        self.assertEqual(sorted(found), ["urn:gone", "urn:moved", "urn:new", "urn:noise-broken"])
        self.assertEqual(found["urn:gone"], "not installed")
        self.assertRegex(found["urn:moved"], r"^audio 1x24000, RMS 0.3536 -> 0.3536, sketch off by")
        self.assertTrue(found["urn:new"].startswith("new: audio 1x24000"))
        # A sweep of some plugins says nothing of the others.
        partial = dict(compat_baseline.changes(entries, results, partial=True))
        self.assertNotIn("urn:gone", partial)

    def test_check_fails_on_a_change_and_passes_without(self):
        self.assertEqual(compat_baseline.check(self.baseline, self.results, self.packages,
                                               False), 1)
        calm = self.write("calm.txt", "urn:same|ok|sound|-|no|%s\n" % self.noisy)
        self.assertEqual(compat_baseline.check(self.baseline, calm, self.packages, True), 0)

    def test_update_writes_only_the_changes_with_the_reason(self):
        self.assertEqual(compat_baseline.update(self.baseline, self.results, self.packages,
                                                "", False), 1)
        self.assertEqual(compat_baseline.update(self.baseline, self.results, self.packages,
                                                "defaults in Hz", False), 0)
        entries, packages = compat_baseline.read_baseline(self.baseline)
        self.assertEqual(entries["urn:same"], (self.sound, ""))  # noise is no change
        self.assertEqual(entries["urn:moved"], (self.other, "defaults in Hz"))
        self.assertEqual(entries["urn:noise"], ("random", "white noise"))
        self.assertEqual(entries["urn:noise-broken"], ("failed", "defaults in Hz"))
        self.assertEqual(entries["urn:new"], (self.sound, "defaults in Hz"))
        self.assertNotIn("urn:gone", entries)
        self.assertEqual(packages, {"blop-lv2": "1.0.4-1+b1"})


class History(unittest.TestCase):
    def git(self, *args):
        subprocess.run(["git", "-C", self.dir] + list(args), check=True,
                       capture_output=True)

    def commit(self, lines, message):
        with open(self.baseline, "w", encoding="utf-8") as f:
            f.write("# comment\n" + "".join("\t".join(line) + "\n" for line in lines))
        self.git("add", "baseline.tsv")
        self.git("commit", "-q", "-m", message)

    def test_every_change_after_the_first_record_has_a_new_reason(self):
        cases = [
            # (what, lines of the second commit, faulty URIs)
            ("a new digest with a reason",
             [("urn:a", "audio 1x2; 1", "defaults in Hz"), ("urn:b", "failed", "")], []),
            ("a new digest with the old reason",
             [("urn:a", "audio 1x2; 1", "kept"), ("urn:b", "failed", "")], ["urn:a"]),
            ("a new digest without a reason",
             [("urn:a", "audio 1x2; 1", ""), ("urn:b", "failed", "")], ["urn:a"]),
            ("a new plugin without a reason",
             [("urn:a", "audio 1x2; 0", "kept"), ("urn:b", "failed", ""),
              ("urn:c", "random", "")], ["urn:c"]),
            ("a plugin removed, another's reason edited",
             [("urn:a", "audio 1x2; 0", "better words")], []),
        ]
        for what, lines, faulty in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                self.dir = folder
                self.baseline = os.path.join(folder, "baseline.tsv")
                self.git("init", "-q")
                self.git("config", "user.email", "test@tonbrix.test")
                self.git("config", "user.name", "test")
                self.commit([("urn:a", "audio 1x2; 0", "kept"), ("urn:b", "failed", "")],
                            "first record")
                self.commit(lines, "second")
                self.assertEqual(self.faults(), faulty)
                # The same change, not yet committed, is found in the working tree.
                self.git("reset", "-q", "--soft", "HEAD~1")
                self.assertEqual(self.faults(), faulty)

    def faults(self):
        """The URIs that history() names, checking its status too."""
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            status = compat_baseline.history(self.baseline)
        named = re.findall(r"^- \S+( tree)?: (\S+) changed", printed.getvalue(), re.M)
        self.assertEqual(status, 1 if named else 0)
        return [uri for _, uri in named]


if __name__ == "__main__":
    unittest.main()
