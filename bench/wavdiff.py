#!/usr/bin/env python3
"""Sample-by-sample comparison of two 16-bit PCM WAV files (standard library only).

usage: wavdiff.py REFERENCE OTHER [--max-lsb N]

Prints one line: format of both files, whether they are byte-identical in
their sample data, how many samples differ, the largest absolute difference
in LSB (1 LSB = 1/32768 of full scale) and the RMS of the difference in dBFS.

Exit status: 0 when format and length match and the largest difference is at
most N LSB (default 2), 1 when the sample values differ by more than that,
2 when the files cannot be compared (format or length mismatch, unreadable).
"""

import array
import math
import operator
import sys
import wave

CHUNK_FRAMES = 1 << 18


def describe(w):
    return (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())


def main(argv):
    args = list(argv[1:])
    max_lsb = 2
    if "--max-lsb" in args:
        i = args.index("--max-lsb")
        max_lsb = int(args[i + 1])
        del args[i : i + 2]
    if len(args) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    ref_path, other_path = args
    try:
        ref = wave.open(ref_path, "rb")
        other = wave.open(other_path, "rb")
    except (OSError, wave.Error, EOFError) as e:
        print(f"cannot read: {e}")
        return 2
    a_fmt, b_fmt = describe(ref), describe(other)
    fmt_text = "ch={} bytes/sample={} rate={} frames={}"
    if a_fmt != b_fmt:
        print("MISMATCH " + fmt_text.format(*a_fmt) + " vs " + fmt_text.format(*b_fmt))
        return 2
    if a_fmt[1] != 2:
        print("not 16-bit PCM: " + fmt_text.format(*a_fmt))
        return 2

    channels = a_fmt[0]
    total = a_fmt[3] * channels
    differing = 0
    worst = 0
    sum_sq = 0
    identical = True
    while True:
        ra = ref.readframes(CHUNK_FRAMES)
        rb = other.readframes(CHUNK_FRAMES)
        if len(ra) != len(rb):
            print("MISMATCH in readable data length")
            return 2
        if not ra:
            break
        if ra == rb:
            continue
        identical = False
        xa = array.array("h")
        xa.frombytes(ra)
        xb = array.array("h")
        xb.frombytes(rb)
        if sys.byteorder != "little":
            xa.byteswap()
            xb.byteswap()
        d = list(map(operator.sub, xa, xb))
        differing += len(d) - d.count(0)
        worst = max(worst, max(map(abs, d)))
        sum_sq += sum(map(operator.mul, d, d))

    if identical:
        print("IDENTICAL sample data, " + fmt_text.format(*a_fmt))
        return 0
    rms = math.sqrt(sum_sq / total) / 32768.0 if total else 0.0
    rms_db = 20 * math.log10(rms) if rms > 0 else float("-inf")
    verdict = "AGREE" if worst <= max_lsb else "DIFFER"
    print(
        f"{verdict} (max {worst} LSB, {differing} of {total} samples differ "
        f"= {100.0 * differing / total:.3f}%, RMS diff {rms_db:.1f} dBFS), "
        + fmt_text.format(*a_fmt)
    )
    return 0 if worst <= max_lsb else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
