"""Plugins and chains on numpy arrays: the results equal the command line's
float output sample for sample, state is kept or reset as asked, and the
options (MIDI, automation, readings) act as the command line's."""

import threading
import warnings

import numpy as np
import pytest

import tonbrix
from conftest import cli_float, need, run_cli

RATE = 48000
AMP = "http://lv2plug.in/plugins/eg-amp"
STEREO = "http://drobilla.net/plugins/mda/Stereo"
EQ = "http://lsp-plug.in/plugins/lv2/para_equalizer_x32_stereo"
REVERB = "http://calf.sourceforge.net/plugins/Reverb"
LIMITER = "http://gareus.org/oss/lv2/dpl#stereo"
PIANO = "http://drobilla.net/plugins/mda/Piano"
DELAY = "http://tonbrix.test/plugins/delay"


def noise(channels, seconds, seed=1, level=0.5):
    generator = np.random.default_rng(seed)
    return (generator.uniform(-level, level, (channels, int(seconds * RATE)))
            .astype(np.float32))


def interleaved(array):
    return np.ascontiguousarray(array.T).reshape(-1)


# (plugin, its controls as keywords and as -p, channels, options as keywords and as the
# command line's): real plugins as a user would run them.
CASES = [
    pytest.param(AMP, {"gain": -6.5}, 1, {}, [], id="eg-amp"),
    pytest.param(AMP, {"gain": 3}, 2, {"block_size": 100}, ["-b", "100"],
                 id="eg-amp-two-instances"),
    pytest.param(STEREO, {"width": 0.8, "delay": 0.6}, 2, {}, [], id="mda-stereo"),
    pytest.param(EQ, {"ft_0": 1, "f_0": 1000, "g_0": 4, "q_0": 2}, 2, {}, [],
                 id="lsp-equaliser"),
    pytest.param(REVERB, {"decay_time": 1.5}, 2, {"tail": 1.5}, ["--tail=1.5"],
                 id="calf-reverb-tail"),
    pytest.param(LIMITER, {"threshold": -6}, 2, {"compensate_latency": True},
                 ["--compensate-latency"], id="x42-limiter-latency"),
]


@pytest.mark.parametrize("uri, controls, channels, options, cli_options", CASES)
def test_array_equals_command_line(tmp_path, uri, controls, channels, options, cli_options):
    need(uri)
    audio = noise(channels, 1.5)
    plugin = tonbrix.Plugin(uri, **controls)
    result = plugin(audio, RATE, **options)
    assert result.dtype == np.float32 and result.flags.c_contiguous
    parameters = ",".join("%s:%s" % item for item in controls.items())
    expected = cli_float([*cli_options, "-p", parameters, uri], audio, RATE, tmp_path)
    assert result.shape[1] >= audio.shape[1]
    np.testing.assert_array_equal(interleaved(result), expected)
    # The kept instances give the same again (reset, the default).
    np.testing.assert_array_equal(plugin(audio, RATE, **options), result)


def test_instrument_from_midi_equals_command_line(tmp_path):
    need(PIANO)
    mido = pytest.importorskip("mido")
    song = mido.MidiFile()
    track = mido.MidiTrack()
    song.tracks.append(track)
    track.append(mido.MetaMessage("set_tempo", tempo=400000, time=0))
    for note, start in ((60, 0), (64, 240), (67, 240)):
        track.append(mido.Message("note_on", note=note, velocity=100, time=start))
    track.append(mido.Message("note_off", note=60, velocity=0, time=480))
    track.append(mido.Message("note_off", note=64, velocity=0, time=0))
    track.append(mido.Message("note_off", note=67, velocity=0, time=0))
    path = tmp_path / "chord.mid"
    song.save(path)
    expected = cli_float(["--tail=1", PIANO], None, RATE, tmp_path, midi=path)

    piano = tonbrix.Plugin(PIANO)
    from_file = piano.render(str(path), RATE, tail=1)
    np.testing.assert_array_equal(interleaved(from_file), expected)
    # The same song as a mido.MidiFile and as a list of (seconds, bytes).
    np.testing.assert_array_equal(piano.render(mido.MidiFile(path), RATE, tail=1), from_file)
    events = []
    seconds = 0.0
    for message in mido.MidiFile(path):
        seconds += message.time
        if not message.is_meta:
            events.append((seconds, bytes(message.bytes())))
    listed = piano.render(events, RATE, tail=1)
    np.testing.assert_array_equal(listed[:, :from_file.shape[1]], from_file)
    # A duration gives exactly that many frames and leaves out the events after it.
    short = piano.render(events, RATE, duration=0.25)
    assert short.shape == (2, RATE // 4)
    np.testing.assert_array_equal(short, piano.render(events[:2], RATE, duration=0.25))


def test_chain_equals_command_line_then(tmp_path):
    need(STEREO)
    audio = noise(2, 1.0)
    chain = tonbrix.Chain([tonbrix.Plugin(AMP, gain=-3), tonbrix.Plugin(STEREO, width=0.7),
                           tonbrix.Plugin(DELAY, delay=64)])
    result = chain(audio, RATE, compensate_latency=True, tail=0.1)
    expected = cli_float(["--compensate-latency", "--tail=0.1", "-p", "gain:-3", AMP,
                          "--then", "-p", "width:0.7", STEREO, "--then", "-p", "delay:64",
                          DELAY], audio, RATE, tmp_path)
    np.testing.assert_array_equal(interleaved(result), expected)


# Plugins with state that runs across block and call boundaries: pieces with
# reset=False give what one piece gives, a call with reset gives a new plugin's output.
@pytest.mark.parametrize("uri, controls, pieces", [
    pytest.param(DELAY, {"delay": 3000}, [5120, 7168, 512, 20000], id="delay-line"),
    pytest.param(STEREO, {"delay": 0.8}, [4096, 4096, 8192, 512], id="mda-stereo"),
    pytest.param(REVERB, {"decay_time": 2}, [12800, 25600, 512, 9216], id="calf-reverb"),
])
def test_pieces_without_reset_equal_one_piece(uri, controls, pieces):
    need(uri)
    audio = noise(2, sum(pieces) / RATE, seed=3)
    whole = tonbrix.Plugin(uri, **controls)(audio, RATE, tail=0.5)
    plugin = tonbrix.Plugin(uri, **controls)
    outputs = []
    start = 0
    for k, length in enumerate(pieces):
        last = k == len(pieces) - 1
        outputs.append(plugin(audio[:, start:start + length], RATE, reset=False,
                              tail=0.5 if last else None))
        start += length
    np.testing.assert_array_equal(np.concatenate(outputs, axis=1), whole)
    # With reset the next call is a new plugin's again.
    np.testing.assert_array_equal(plugin(audio, RATE, tail=0.5), whole)


def test_a_piece_that_ends_within_a_block_is_warned_of():
    audio = noise(1, 0.1)
    delay = tonbrix.Plugin(DELAY, delay=100)
    delay(audio[:, :1000], RATE, reset=False)
    with pytest.warns(tonbrix.RunWarning, match="ended within a block of 512 frames"):
        delay(audio[:, 1000:], RATE, reset=False)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        delay(audio[:, :1000], RATE)  # a call with reset goes on from nothing
        delay(audio[:, :1024], RATE)
        delay(audio[:, :1024], RATE, reset=False)


def test_reset_after_pieces_and_pieces_after_reset():
    need(REVERB)
    audio = noise(2, 24576 / RATE, seed=4)  # 48 blocks
    fresh = tonbrix.Plugin(REVERB)(audio, RATE)
    plugin = tonbrix.Plugin(REVERB)
    first = plugin(audio, RATE)                  # reset: a new plugin
    np.testing.assert_array_equal(first, fresh)
    second = plugin(audio, RATE, reset=False)     # goes on from the first call
    whole = tonbrix.Plugin(REVERB)(np.concatenate([audio, audio], axis=1), RATE)
    np.testing.assert_array_equal(second, whole[:, audio.shape[1]:])
    np.testing.assert_array_equal(plugin(audio, RATE), fresh)


def test_input_is_read_in_place_and_other_layouts_converted():
    audio = noise(2, 0.2)
    amp = tonbrix.Plugin(AMP, gain=-6)
    expected = amp(audio, RATE)
    # float64, Fortran order, a strided view and 1-D arrays give the same.
    np.testing.assert_array_equal(amp(audio.astype(np.float64), RATE), expected)
    np.testing.assert_array_equal(amp(np.asfortranarray(audio), RATE), expected)
    wide = np.zeros((2, audio.shape[1] * 2), dtype=np.float32)
    wide[:, ::2] = audio
    np.testing.assert_array_equal(amp(wide[:, ::2], RATE), expected)
    np.testing.assert_array_equal(amp(audio[0], RATE), expected[:1])
    ints = (audio * 1000).astype(np.int16)
    np.testing.assert_array_equal(amp(ints, RATE), amp(ints.astype(np.float32), RATE))
    # The input is left as it was and the output is new memory.
    before = audio.copy()
    out = amp(audio, RATE)
    np.testing.assert_array_equal(audio, before)
    assert not np.shares_memory(out, audio)


def test_controls_as_attributes_and_range_warnings():
    amp = tonbrix.Plugin(AMP)
    assert amp.gain == 0.0 and amp.controls == {"gain": 0.0}
    audio = noise(1, 0.1)
    amp.gain = -12
    quieter = amp(audio, RATE)
    np.testing.assert_array_equal(quieter, tonbrix.Plugin(AMP, gain=-12)(audio, RATE))
    amp.gain = 100
    assert amp.gain == 100.0
    with pytest.warns(tonbrix.RangeWarning,
                      match=r"^WARNING: gain is 100, outside its range -90 to 24 "
                            r"\(applied as given\)\.$"):
        louder = amp(audio, RATE)
    assert np.abs(louder).max() > 1000 * np.abs(audio).max()
    with pytest.raises(tonbrix.UnknownControlError, match="Port with symbol volume"):
        amp.volume = 1
    with pytest.raises(AttributeError):
        amp.volume


def test_automation_equals_command_line(tmp_path):
    audio = noise(1, 1.0)
    amp = tonbrix.Plugin(AMP)
    result = amp(audio, RATE, automation={"gain": [(0, 0), (0.5, -20), (1.0, 6)]})
    expected = cli_float(["--automate=gain:0=0,0.5=-20,1=6", AMP], audio, RATE, tmp_path)
    np.testing.assert_array_equal(interleaved(result), expected)


def report_lines(done):
    """The "symbol: value" lines of a --report or --report-every output as
    (time or None, symbol, value text)."""
    lines = []
    for line in done.stdout.splitlines():
        head, _, value = line.rpartition(": ")
        if not head:
            continue
        time, _, symbol = head.rpartition(" ")
        lines.append((time or None, symbol, value))
    return lines


def test_readings_at_the_end_and_over_time(tmp_path):
    need(LIMITER)
    audio = noise(2, 1.0, level=0.9)
    limiter = tonbrix.Plugin(LIMITER, threshold=-10)
    limiter(audio, RATE, report_every=0.25)
    audio.T.tofile(tmp_path / "in.raw")
    done = run_cli("-q", "-o", tmp_path / "out.raw", "-i", tmp_path / "in.raw", "-r", RATE, "-n", 2,
                   "--ignore-clipping", "--report-every=0.25", "-p", "threshold:-10", LIMITER)
    timed = report_lines(done)
    over_time = [(seconds, symbol, "%g" % values[symbol])
                 for seconds, values in limiter.readings_over_time for symbol in values]
    assert len(over_time) == len(timed) and len(timed) >= 8
    for (seconds, symbol, value), (time, cli_symbol, cli_value) in zip(over_time, timed):
        assert (symbol, value) == (cli_symbol, cli_value)
        assert abs(seconds - float(time)) < 1e-9
    # The last reading is the one at the end.
    assert limiter.readings_over_time[-1] == (1.0, limiter.readings)
    assert set(limiter.readings) == {"level", "latency"}


def test_midi_output_as_events():
    plugin_uri = "http://tonbrix.test/plugins/eventecho"
    need(plugin_uri)
    events = [(0.0, bytes([0x90, 60, 100])), (0.5, bytes([0x80, 60, 0]))]
    echo = tonbrix.Plugin(plugin_uri)
    # Without audio outputs there is no array; the events come back as they went.
    assert echo(None, RATE, midi=events, duration=1, midi_out=True) is None
    assert [(round(t, 6), data) for t, data in echo.midi_output] == \
        [(round(t, 6), data) for t, data in events]


def test_one_object_from_two_threads_is_serialised():
    audio = noise(2, 2.0)
    amp = tonbrix.Plugin(AMP, gain=-6)
    expected = amp(audio, RATE)
    results = [None] * 4
    errors = []

    def work(k):
        try:
            results[k] = amp(audio, RATE)
        except Exception as error:  # pragma: no cover - the failure is reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors
    for result in results:
        np.testing.assert_array_equal(result, expected)


def test_clipping_check_is_off_unless_asked():
    loud = np.full((1, 1024), 2.0, dtype=np.float32)
    amp = tonbrix.Plugin(AMP)
    assert amp(loud, RATE).max() == 2.0
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert amp(loud, RATE, check_clipping=True).max() == 1.0
    assert any(issubclass(w.category, tonbrix.RunWarning) for w in caught)
