"""Shared helpers of the Python package's tests: the command line to
compare with, and the test plugins' folder. CTest sets TONBRIX_BINARY,
LV2_PATH (the test plugins, then /usr/lib/lv2) and PYTHONPATH."""

import json
import os
import subprocess

import pytest

import tonbrix


def tonbrix_binary():
    return os.environ["TONBRIX_BINARY"]


def run_cli(*args, check=True):
    """Runs the command line with the tests' LV2_PATH; returns the completed process."""
    done = subprocess.run([tonbrix_binary(), *map(str, args)], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise AssertionError("tonbrix %s failed (%d): %s" % (args, done.returncode, done.stderr))
    return done


def cli_json(*args):
    """The JSON document that the command line prints for these options."""
    return json.loads(run_cli(*args).stdout)


def installed(uri):
    """True when the world of the tests has a plugin with this URI."""
    return any(entry["uri"] == uri for entry in tonbrix.plugins())


def need(uri):
    """Skips the test when the plugin is not installed."""
    if not installed(uri):
        pytest.skip("%s is not installed" % uri)


def cli_float(args, audio=None, rate=48000, tmp_path=None, midi=None):
    """What the command line writes as raw 32-bit floats for this run: the
    (channels, frames) `audio` given as raw floats too (-r, -n), or none
    for an instrument playing `midi`; `args` are the plugin and its options.
    Clipping is not checked, as the package's default."""
    import numpy as np
    out = tmp_path / "cli-out.raw"
    command = ["-o", str(out), "--ignore-clipping", "-q"]
    if audio is not None:
        audio = np.atleast_2d(np.asarray(audio, dtype=np.float32))
        source = tmp_path / "cli-in.raw"
        audio.T.tofile(source)
        command += ["-i", str(source), "-r", str(rate), "-n", str(audio.shape[0])]
    else:
        command += ["--midi=%s" % midi, "--output-format=raw:float", "-r", str(rate)]
    run_cli(*command, *args)
    flat = np.fromfile(out, dtype=np.float32)
    return flat
