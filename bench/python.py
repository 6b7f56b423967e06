#!/usr/bin/python3
"""The Python package against the command line, on four cases:

1. a 10-minute stereo float32 array through mda Stereo in memory, against
   the command line on the same audio as a float WAV file to a WAV file;
2. 1000 one-second stereo clips through eg-amp, a random gain each, in
   memory, against one subprocess call of the command line per clip
   (temporary WAV files), timed over a sample of the clips;
3. two threads, each with its own LSP para_equalizer_x32_stereo on a
   5-minute array, against the two calls one after the other;
4. the peak memory of case 1 (in a process of its own) beyond its input
   and output arrays;

and, as a control for case 3, what two threads of numpy sums gain on the
machine at that moment.

Run it from the build's tree: PYTHONPATH=build/python TONBRIX=build/tonbrix
bench/python.py [--quick]. Prints a Markdown table; every time is the best
of RUNS runs (default 3), and the machine's load is printed with it.
"""

import os
import resource
import subprocess
import sys
import tempfile
import threading
import time
import wave

import numpy as np

import tonbrix

RATE = 48000
STEREO = "http://drobilla.net/plugins/mda/Stereo"
AMP = "http://lv2plug.in/plugins/eg-amp"
EQ = "http://lsp-plug.in/plugins/lv2/para_equalizer_x32_stereo"
TONBRIX = os.environ.get("TONBRIX", "build/tonbrix")
RUNS = int(os.environ.get("RUNS", "3"))
QUICK = "--quick" in sys.argv


def best(function, runs=RUNS):
    """The shortest of `runs` timed calls, in seconds."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def noise(channels, seconds, seed=0):
    return np.random.default_rng(seed).uniform(-0.5, 0.5, (channels, int(seconds * RATE))) \
        .astype(np.float32)


def write_float_wav(path, audio):
    """A WAVE_FORMAT_IEEE_FLOAT file of the (channels, frames) array."""
    data = np.ascontiguousarray(audio.T).astype("<f4").tobytes()
    channels = audio.shape[0]
    header = b"".join([
        b"RIFF", (36 + len(data)).to_bytes(4, "little"), b"WAVEfmt ",
        (16).to_bytes(4, "little"), (3).to_bytes(2, "little"), channels.to_bytes(2, "little"),
        RATE.to_bytes(4, "little"), (RATE * 4 * channels).to_bytes(4, "little"),
        (4 * channels).to_bytes(2, "little"), (32).to_bytes(2, "little"),
        b"data", len(data).to_bytes(4, "little")])
    with open(path, "wb") as out:
        out.write(header)
        out.write(data)


def write_pcm_wav(path, audio):
    with wave.open(str(path), "wb") as out:
        out.setnchannels(audio.shape[0])
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes((np.clip(audio.T, -1, 1) * 32767).astype("<i2").tobytes())


def cli(*args):
    subprocess.run([TONBRIX, "-q", *map(str, args)], check=True, stdout=subprocess.DEVNULL)


def case_long_array(folder):
    minutes = 1 if QUICK else 10
    audio = noise(2, minutes * 60)
    plugin = tonbrix.Plugin(STEREO)
    plugin(audio[:, :RATE], RATE)  # loads the world and the plugin
    memory = best(lambda: plugin(audio, RATE))
    source = os.path.join(folder, "long.wav")
    write_float_wav(source, audio)
    command = best(lambda: cli("-i", source, "-o", os.path.join(folder, "long-out.wav"), STEREO))
    return ("%d-minute stereo array through mda Stereo" % minutes, memory, command,
            "command line, float WAV to WAV", 0.5)


def case_clips(folder):
    clips = 100 if QUICK else 1000
    generator = np.random.default_rng(1)
    audio = [noise(2, 1, seed=k) for k in range(clips)]
    gains = generator.uniform(-20, 6, clips)
    amp = tonbrix.Plugin(AMP)
    amp(audio[0], RATE)

    def in_memory():
        for clip, gain in zip(audio, gains):
            amp.gain = gain
            amp(clip, RATE)
    memory = best(in_memory) / clips

    sample = 20

    def by_subprocess():
        for clip, gain in zip(audio[:sample], gains[:sample]):
            with tempfile.TemporaryDirectory(dir=folder) as scratch:
                source = os.path.join(scratch, "in.wav")
                write_pcm_wav(source, clip)
                cli("-i", source, "-o", os.path.join(scratch, "out.wav"), "-p",
                    "gain:%r" % float(gain), AMP)
    command = best(by_subprocess, 1) / sample
    return ("one 1-second stereo clip through eg-amp, random gain (of %d)" % clips, memory,
            command, "one subprocess call with temporary WAV files", 0.02)


def case_threads(folder):
    minutes = 1 if QUICK else 5
    arrays = [noise(2, minutes * 60, seed=k) for k in range(2)]
    plugins = [tonbrix.Plugin(EQ, ft_0=1, f_0=1000, g_0=6) for _ in range(2)]
    for plugin in plugins:
        plugin(arrays[0][:, :RATE], RATE)

    def one_after_the_other():
        for plugin, audio in zip(plugins, arrays):
            plugin(audio, RATE)

    def side_by_side():
        threads = [threading.Thread(target=plugin, args=(audio, RATE))
                   for plugin, audio in zip(plugins, arrays)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    sequential = best(one_after_the_other)
    threaded = best(side_by_side)
    return ("two %d-minute arrays, each through its own para_equalizer_x32_stereo, "
            "two threads" % minutes, threaded, sequential, "the two calls one after the other",
            0.6)


def case_control():
    """What two threads gain on this machine now, for comparison with case 3:
    numpy sums (which let the GIL go) in two threads against one after the
    other. On a machine whose cores other work keeps busy this is near 1."""
    data = np.ones(2_000_000)

    def work():
        for _ in range(100):
            data.sum()

    def side_by_side():
        threads = [threading.Thread(target=work) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    sequential = best(lambda: (work(), work()))
    threaded = best(side_by_side)
    return ("control: numpy sums, two threads", threaded, sequential,
            "the two one after the other", "-")


MEMORY_PROBE = r"""
import sys
import numpy as np
import tonbrix
seconds = float(sys.argv[1])
audio = np.empty((2, int(seconds * 48000)), dtype=np.float32)
generator = np.random.default_rng(0)
for start in range(0, audio.shape[1], 48000):
    audio[:, start:start + 48000] = generator.uniform(-0.5, 0.5, audio[:, start:start + 48000].shape)
plugin = tonbrix.Plugin("%s")
plugin(audio[:, :48000], 48000)
def status(key):
    with open("/proc/self/status") as lines:
        for line in lines:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")  # the peak resident size starts again from the current one
before = status("VmRSS")
out = plugin(audio, 48000)
peak = status("VmHWM")
print(before, peak, audio.nbytes, out.nbytes)
""" % STEREO


def case_memory():
    minutes = 1 if QUICK else 10
    done = subprocess.run([sys.executable, "-c", MEMORY_PROBE, str(minutes * 60)], check=True,
                          capture_output=True, text=True)
    before, peak, input_bytes, output_bytes = map(int, done.stdout.split())
    beyond = peak - before - output_bytes  # `before` holds the input already
    return minutes, input_bytes, output_bytes, peak - before, beyond


def main():
    load = os.getloadavg()
    with tempfile.TemporaryDirectory() as folder:
        rows = [case_long_array(folder), case_clips(folder), case_threads(folder),
                case_control()]
    minutes, input_bytes, output_bytes, grown, beyond = case_memory()
    load_after = os.getloadavg()
    print("Load average before: %.2f %.2f %.2f, after: %.2f %.2f %.2f (%d cores)\n"
          % (load + load_after + (os.cpu_count(),)))
    print("| case | Python | against | its time | ratio | at most |")
    print("|---|---|---|---|---|---|")
    for name, ours, theirs, against, limit in rows:
        print("| %s | %.4f s | %s | %.4f s | %.3f | %s |"
              % (name, ours, against, theirs, ours / theirs, limit))
    mib = 1024 * 1024
    print("\n| case | input | output | peak growth during the call | beyond the output | "
          "at most |")
    print("|---|---|---|---|---|---|")
    print("| %d-minute stereo array through mda Stereo | %.1f MiB | %.1f MiB | %.1f MiB | "
          "%.1f MiB | 16 MiB |" % (minutes, input_bytes / mib, output_bytes / mib, grown / mib,
                                   beyond / mib))


if __name__ == "__main__":
    main()
