#!/usr/bin/env python3
"""Sound checks for the compatibility sweep, 32-bit float WAV files only.

compat_wav.py stats FILE        prints "silent", "nan", "inf" or "sound"
compat_wav.py compare A B TOL   prints "same", "differ <max difference>",
                                or "shape <channels/frames of A> <of B>"
compat_wav.py notes FILE        writes a Standard MIDI File of a few notes
                                across the range, with velocities and a sustain
compat_wav.py midistats FILE    prints "midi <note-ons>" or "no midi" for a
                                format 0 file that tonbrix wrote
compat_wav.py digest FILE       prints the sketch of a WAV file's samples (below),
                                or "midi <sha256>" for a MIDI file

The sketch of a sound, "audio CHANNELSxFRAMES; c1; c2; ...", holds for each
channel its RMS, its peak and the projections of its samples onto eight fixed
pseudo-random sequences of +1 and -1 (each divided by the square root of the
frame count), or "nan"/"inf" for a channel holding such values. Any change of
the waveform moves the projections by about the RMS of the change, so two
sketches agree when every number lies within SKETCH_TOLERANCE of the larger
RMS of the two: a change 80 dB below the signal passes (float noise of plugins
that pick SSE or AVX code by the processor, or of another compiler), a
different frequency, level or shape does not. A hash of rounded samples would
flip whenever one of thousands of samples lies near a rounding step.
"""
import hashlib
import itertools
import math
import struct
import sys

SKETCH_TOLERANCE = 1e-4
SKETCH_FLOOR = 1e-9  # differences below this count as none, even for silence
PROJECTIONS = 8


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


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    return bytes(reversed(out))


def write_notes(path):
    """Eight notes from C2 to C7, a quarter note apart at 120 BPM, each
    held for most of its beat, rising velocities, the sustain pedal down
    from the start to 2 s; the file ends at 2.5 s."""
    events = [(0, bytes([0xB0, 64, 127]))]
    for i, note in enumerate([36, 43, 48, 55, 60, 67, 72, 96]):
        events.append((i * 240, bytes([0x90, note, 30 + i * 12])))
        events.append((i * 240 + 200, bytes([0x80, note, 0])))
    events.append((1920, bytes([0xB0, 64, 0])))
    events.sort(key=lambda e: e[0])
    track, last = b"", 0
    for tick, message in events:
        track += varlen(tick - last) + message
        last = tick
    track += varlen(2400 - last) + b"\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)


def read_varlen(data, pos):
    """The variable-length number at pos, and the position after it."""
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, pos


def midi_stats(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"MThd" or data[14:18] != b"MTrk":
        raise ValueError("not a MIDI file")
    pos, end, ons, status = 22, len(data), 0, 0
    while pos < end:
        while data[pos] & 0x80:
            pos += 1
        pos += 1
        first = data[pos]
        if first in (0xFF, 0xF0, 0xF7):
            # A meta event has a type byte before its length.
            length, pos = read_varlen(data, pos + (2 if first == 0xFF else 1))
            pos += length
            continue
        if first & 0x80:
            status = first
            pos += 1
        size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
        if status & 0xF0 == 0x90 and data[pos + 1] > 0:
            ons += 1
        pos += size
    return "midi %d" % ons if ons else "no midi"


def frame_signs(frames):
    """For each projection k, a mask of the frames where sequence k is +1:
    bit k of byte f of a fixed SHAKE-256 stream (where it is 0, -1)."""
    stream = hashlib.shake_256(b"tonbrix compat sketch").digest(frames)
    return [stream.translate(bytes((b >> k) & 1 for b in range(256)))
            for k in range(PROJECTIONS)]


def sketch(channels, samples):
    frames = len(samples) // channels
    parts = ["audio %dx%d" % (channels, frames)]
    signs = frame_signs(frames)
    scale = 1.0 / math.sqrt(frames) if frames else 0.0
    for c in range(channels):
        values = samples[c::channels]
        if not math.isfinite(sum(values)):
            parts.append("nan" if any(math.isnan(x) for x in values) else "inf")
            continue
        total = math.fsum(values)
        numbers = [math.sqrt(math.fsum(x * x for x in values) / frames) if frames else 0.0,
                   max((abs(x) for x in values), default=0.0)]
        for k in range(PROJECTIONS):
            plus = math.fsum(itertools.compress(values, signs[k]))
            numbers.append((2.0 * plus - total) * scale)
        parts.append(" ".join("%.6g" % x for x in numbers))
    return "; ".join(parts)


def digest(path):
    with open(path, "rb") as f:
        head = f.read(4)
    if head == b"MThd":
        with open(path, "rb") as f:
            return "midi " + hashlib.sha256(f.read()).hexdigest()[:32]
    return sketch(*read_wav(path))


def readings(path):
    """The values of the "symbol: value" lines of a --report; notes and
    warnings on the same stream are left out."""
    values = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            symbol, _, value = line.strip().partition(": ")
            try:
                float(value)
            except ValueError:
                continue
            if symbol and " " not in symbol:
                values.append(value)
    return "report " + " ".join(values) if values else "report none"


def same_digest(a, b):
    """True when two digests agree: the same text, or two sketches of the same
    shape whose numbers agree within the tolerance."""
    if a == b:
        return True
    if a.startswith("report ") and b.startswith("report "):
        return same_readings(a.split()[1:], b.split()[1:])
    pa, pb = a.split("; "), b.split("; ")
    if not a.startswith("audio ") or len(pa) != len(pb) or pa[0] != pb[0]:
        return False
    for ca, cb in zip(pa[1:], pb[1:]):
        if ca == cb:
            continue
        try:
            xa, xb = [float(x) for x in ca.split()], [float(x) for x in cb.split()]
        except ValueError:
            return False
        if len(xa) != len(xb) or len(xa) < 2:
            return False
        allowed = SKETCH_TOLERANCE * max(xa[0], xb[0]) + SKETCH_FLOOR
        if any(abs(x - y) > allowed for x, y in zip(xa, xb)):
            return False
    return True


def same_readings(a, b):
    """True when two lists of readings (numbers as text) agree, each within
    the tolerance of the larger of the two."""
    if len(a) != len(b):
        return False
    for x, y in zip(a, b):
        try:
            fx, fy = float(x), float(y)
        except ValueError:
            return False
        if x == y or (math.isnan(fx) and math.isnan(fy)):
            continue
        if not math.isfinite(fx) or not math.isfinite(fy):
            return False
        if abs(fx - fy) > SKETCH_TOLERANCE * max(abs(fx), abs(fy)) + SKETCH_FLOOR:
            return False
    return True


def look(path):
    """What the sweep wants to know of one run's output (a WAV or MIDI file,
    or a report in a file ending .report): what stats (midistats) says of it,
    and its digest."""
    if path.endswith(".report"):
        detail, found = "report", readings(path)
    elif path.endswith(".mid"):
        detail, found = midi_stats(path), digest(path)
    else:
        channels, samples = read_wav(path)
        if any(math.isnan(x) for x in samples):
            detail = "nan"
        elif any(math.isinf(x) for x in samples):
            detail = "inf"
        else:
            detail = "silent" if all(x == 0.0 for x in samples) else "sound"
        found = sketch(channels, samples)
    return detail, found


def main():
    try:
        if sys.argv[1] == "stats":
            print(stats(sys.argv[2]))
        elif sys.argv[1] == "notes":
            write_notes(sys.argv[2])
        elif sys.argv[1] == "midistats":
            print(midi_stats(sys.argv[2]))
        elif sys.argv[1] == "digest":
            print(digest(sys.argv[2]))
        else:
            print(compare(sys.argv[2], sys.argv[3], float(sys.argv[4])))
    except (OSError, ValueError, IndexError, struct.error) as error:
        print("unreadable (%s)" % error)


if __name__ == "__main__":
    main()
