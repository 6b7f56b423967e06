#!/usr/bin/env python3
"""Sound checks for the compatibility sweep, 32-bit float WAV files only.

compat_wav.py stats FILE        prints "silent", "nan", "inf" or "sound"
compat_wav.py compare A B TOL   prints "same", "differ <max difference>",
                                or "shape <channels/frames of A> <of B>"
"""
import math
import struct
import sys


def read_wav(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    pos, channels, samples = 12, 0, None
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if kind == b"fmt ":
            tag, channels = struct.unpack("<HH", body[:4])
            bits = struct.unpack("<H", body[14:16])[0]
            if tag == 0xFFFE:
                tag = struct.unpack("<H", body[24:26])[0]
            if tag != 3 or bits != 32:
                raise ValueError("not 32-bit float")
        elif kind == b"data":
            count = len(body) // 4
            samples = struct.unpack("<%df" % count, body[:count * 4])
        pos += 8 + size + (size & 1)
    if samples is None or channels == 0:
        raise ValueError("no data")
    return channels, samples


def stats(path):
    _, samples = read_wav(path)
    if any(math.isnan(x) for x in samples):
        return "nan"
    if any(math.isinf(x) for x in samples):
        return "inf"
    return "silent" if all(x == 0.0 for x in samples) else "sound"


def compare(a, b, tolerance):
    ca, sa = read_wav(a)
    cb, sb = read_wav(b)
    if ca != cb or len(sa) != len(sb):
        return "shape %d/%d %d/%d" % (ca, len(sa) // ca, cb, len(sb) // max(cb, 1))
    worst = 0.0
    for x, y in zip(sa, sb):
        if math.isnan(x) or math.isnan(y):
            if not (math.isnan(x) and math.isnan(y)):
                return "differ nan"
            continue
        worst = max(worst, abs(x - y))
    return "same" if worst <= tolerance else "differ %.3g" % worst


def main():
    try:
        if sys.argv[1] == "stats":
            print(stats(sys.argv[2]))
        else:
            print(compare(sys.argv[2], sys.argv[3], float(sys.argv[4])))
    except (OSError, ValueError, struct.error) as error:
        print("unreadable (%s)" % error)


if __name__ == "__main__":
    main()
