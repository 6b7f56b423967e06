"""Saving a plugin's settings as an LV2 preset from Python, and loading it
back by its bundle's path: the same output as the settings it was saved
from, and the same preset as the command line's --save-preset."""

import glob
import os

import numpy as np
import pytest

import tonbrix

from conftest import run_cli

AMP = "http://lv2plug.in/plugins/eg-amp"


def signal():
    return (np.sin(np.arange(2 * 4800, dtype=np.float32) * 0.01).reshape(2, 4800) * 0.5)


def bundle_in(folder):
    bundles = glob.glob(os.path.join(folder, "*.lv2"))
    assert len(bundles) == 1, bundles
    return bundles[0]


def test_saved_preset_gives_the_settings_it_was_saved_from(tmp_path):
    plugin = tonbrix.Plugin(AMP, gain=-6.5)
    plugin.save_preset("quieter", folder=tmp_path / "mine")
    bundle = bundle_in(tmp_path / "mine")
    expected = plugin(signal(), 48000)
    loaded = tonbrix.Plugin(AMP, preset=bundle)
    np.testing.assert_array_equal(loaded(signal(), 48000), expected)
    assert not np.array_equal(tonbrix.Plugin(AMP)(signal(), 48000), expected)
    # The command line's --save-preset of the same settings writes the same preset.
    run_cli("--save-preset=quieter", "--preset-dir", tmp_path / "cli", "-p", "gain:-6.5", AMP)
    with open(os.path.join(bundle_in(tmp_path / "cli"), "quieter.ttl")) as cli_preset, \
            open(os.path.join(bundle, "quieter.ttl")) as python_preset:
        assert python_preset.read() == cli_preset.read()


@pytest.mark.parametrize("label, folder, error", [
    ("", None, tonbrix.InputError),
    (3, None, tonbrix.InputError),
    ("x", "/proc/no-such-folder", tonbrix.Error),
])
def test_bad_labels_and_folders_raise_and_write_nothing(tmp_path, label, folder, error):
    with pytest.raises(error):
        tonbrix.Plugin(AMP).save_preset(label, folder=folder)
