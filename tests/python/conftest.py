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
