"""Bad input gets a clear exception (a tonbrix.Error with the command line's
message where the command line has one) and leaves nothing behind."""

import numpy as np
import pytest

import tonbrix
from conftest import run_cli

RATE = 48000
AMP = "http://lv2plug.in/plugins/eg-amp"
STEREO = "http://drobilla.net/plugins/mda/Stereo"


def test_unknown_plugin_is_the_command_lines_error():
    with pytest.raises(tonbrix.PluginNotFoundError) as raised:
        tonbrix.Plugin("http://example.org/no-such-plugin")
    assert isinstance(raised.value, LookupError)
    cli = run_cli("--info", "http://example.org/no-such-plugin", check=False)
    assert str(raised.value) == cli.stderr.rstrip("\n")


@pytest.mark.parametrize("audio, error, match", [
    pytest.param(np.zeros((2, 2, 64), dtype=np.float32), tonbrix.InputError,
                 "1 dimension .* or 2 .* not 3", id="3-D"),
    pytest.param(np.array(["a", "b"]), tonbrix.InputError, "real numbers", id="strings"),
    pytest.param(np.zeros(64, dtype=np.complex64), tonbrix.InputError, "real numbers",
                 id="complex"),
    pytest.param([[object()]], tonbrix.InputError, "real numbers", id="objects"),
    pytest.param(np.zeros((0, 64), dtype=np.float32), tonbrix.InputError, "one channel",
                 id="no-channels"),
])
def test_arrays_that_cannot_be_audio(audio, error, match):
    with pytest.raises(error, match=match):
        tonbrix.Plugin(AMP)(audio, RATE)


@pytest.mark.parametrize("make, call, match", [
    pytest.param(lambda: tonbrix.Plugin(AMP, volume=3), None, "Port with symbol volume",
                 id="unknown-control"),
    pytest.param(lambda: tonbrix.Plugin(AMP), {"sample_rate": 0}, "sample rate",
                 id="rate-0"),
    pytest.param(lambda: tonbrix.Plugin(AMP), {"block_size": 0}, "block size",
                 id="block-size"),
    pytest.param(lambda: tonbrix.Plugin(AMP), {"automation": {"gain": [(1, 0), (0.5, 1)]}},
                 "invalid --automate value", id="automation-backwards"),
    pytest.param(lambda: tonbrix.Plugin(AMP), {"automation": {"nope": [(0, 1)]}},
                 "has no port 'nope'", id="automation-unknown-port"),
    pytest.param(lambda: tonbrix.Plugin(AMP, preset="No such preset"), {}, "[Pp]reset",
                 id="unknown-preset"),
    pytest.param(lambda: tonbrix.Plugin(AMP, connect="3:in"), {}, "",
                 id="routing-channel-missing"),
    pytest.param(lambda: tonbrix.Plugin(AMP), {"reset": False, "compensate_latency": True},
                 "latency compensation", id="pieces-with-latency"),
])
def test_bad_settings_raise_tonbrix_errors(make, call, match):
    with pytest.raises(tonbrix.Error, match=match):
        plugin = make()
        options = dict(call or {})
        rate = options.pop("sample_rate", RATE)
        plugin(np.zeros((1, 256), dtype=np.float32), rate, **options)


def test_a_channel_count_the_routing_cannot_take(tmp_path):
    # mda Stereo has two inputs; one channel cannot feed them without --connect.
    stereo = tonbrix.Plugin(STEREO)
    audio = np.zeros((1, 256), dtype=np.float32)
    with pytest.raises(tonbrix.Error) as raised:
        stereo(audio, RATE)
    audio.T.tofile(tmp_path / "in.raw")
    cli = run_cli("-q", "-i", tmp_path / "in.raw", "-o", tmp_path / "out.raw", "-r", RATE,
                  "-n", 1, STEREO, check=False)
    assert cli.returncode != 0
    assert str(raised.value) == cli.stderr.rstrip("\n")
    assert not (tmp_path / "out.raw").exists()


def test_a_midi_file_that_is_not_one(tmp_path):
    fake = tmp_path / "fake.mid"
    fake.write_bytes(b"RIFF not a MIDI file at all")
    piano = tonbrix.Plugin("http://drobilla.net/plugins/mda/Piano")
    with pytest.raises(tonbrix.Error) as raised:
        piano.render(str(fake), RATE)
    cli = run_cli("-q", "--midi=%s" % fake, "-o", tmp_path / "out.wav",
                  "http://drobilla.net/plugins/mda/Piano", check=False)
    assert str(raised.value) == cli.stderr.rstrip("\n")
    with pytest.raises(tonbrix.Error, match="MIDI file"):
        piano.render(str(fake), RATE, duration=1)
    with pytest.raises(tonbrix.InputError, match="pair"):
        piano.render([0.5], RATE)
    assert not (tmp_path / "out.wav").exists()
