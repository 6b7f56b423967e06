"""The plugin list, descriptions and presets as Python data: the same facts
as the command line's --list, --info and --list-presets with --json."""

import pytest

import tonbrix
from conftest import cli_json, need, run_cli

# Test plugins for the corner cases of the description (ranges, units,
# scale points, parameters, presets, features, names left out), and the
# real plugins the package is used with.
DESCRIBED = [
    "http://tonbrix.test/plugins/described",
    "http://tonbrix.test/plugins/ranges",
    "http://tonbrix.test/plugins/params",
    "http://tonbrix.test/plugins/presets",
    "http://tonbrix.test/plugins/eventecho",
    "http://tonbrix.test/plugins/oddrequired",
    "http://tonbrix.test/plugins/cvrequired",
    "http://tonbrix.test/plugins/delay",
    "http://lv2plug.in/plugins/eg-amp",
    "http://drobilla.net/plugins/mda/Stereo",
    "http://drobilla.net/plugins/mda/Piano",
    "http://lsp-plug.in/plugins/lv2/para_equalizer_x32_stereo",
    "http://calf.sourceforge.net/plugins/Reverb",
    "http://gareus.org/oss/lv2/dpl#stereo",
]


def test_plugin_list_is_the_command_lines():
    listed = tonbrix.plugins()
    assert listed == cli_json("--list", "--json")["plugins"]
    assert [entry["number"] for entry in listed[:3]] == [1, 2, 3]


@pytest.mark.parametrize("uri", DESCRIBED)
def test_description_is_the_command_lines(uri):
    need(uri)
    assert tonbrix.describe(uri) == cli_json("--info", uri, "--json")


def test_description_by_list_number_and_presets():
    uri = "http://tonbrix.test/plugins/presets"
    number = next(e["number"] for e in tonbrix.plugins() if e["uri"] == uri)
    assert tonbrix.describe(number) == tonbrix.describe(uri)
    presets = tonbrix.presets(uri)
    # The same presets; lilv gives them in an order that depends on what
    # the world read before, which differs between the two processes.
    key = lambda p: (p["uri"], p["label"])
    assert sorted(presets, key=key) == sorted(cli_json("--list-presets", uri, "--json")["presets"], key=key)
    assert presets and all(set(p) == {"label", "uri"} for p in presets)
    assert tonbrix.describe(uri)["preset_count"] == len(presets)


@pytest.mark.parametrize("name", ["http://tonbrix.test/plugins/none", 0, -1, 1000000])
@pytest.mark.parametrize("call", [tonbrix.describe, tonbrix.presets])
def test_unknown_plugin_raises_the_command_lines_message(call, name):
    with pytest.raises(tonbrix.PluginNotFoundError) as raised:
        call(name)
    message = run_cli("--info", name, check=False).stderr.strip()
    assert str(raised.value) == message == "No such plugin %s" % name
    assert isinstance(raised.value, tonbrix.Error)
    assert isinstance(raised.value, LookupError)


def test_a_plugin_name_of_another_type_is_a_type_error():
    with pytest.raises(TypeError):
        tonbrix.describe(1.5)


def test_worlds_are_independent(monkeypatch, tmp_path):
    # A World reads LV2_PATH when it is made: one with an empty folder has
    # no plugins, and the default world keeps its own.
    before = tonbrix.plugins()
    monkeypatch.setenv("LV2_PATH", str(tmp_path))
    empty = tonbrix.World()
    assert empty.plugins() == []
    with pytest.raises(tonbrix.PluginNotFoundError):
        empty.describe("http://lv2plug.in/plugins/eg-amp")
    assert tonbrix.plugins() == before
