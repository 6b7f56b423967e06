"""LV2 plugins on numpy arrays and sound files, with the tonbrix engine.

The plugin list and a plugin's description are plain Python data, the same
facts as ``tonbrix --list --json`` and ``tonbrix --info --json``::

    import tonbrix
    for entry in tonbrix.plugins():
        print(entry["number"], entry["uri"])
    info = tonbrix.describe("http://lv2plug.in/plugins/eg-amp")

Plugins run on numpy arrays of shape (channels, frames)::

    amp = tonbrix.Plugin("http://lv2plug.in/plugins/eg-amp", gain=-6)
    quieter = amp(audio, 48000)

and on sound files, each in a forked worker process
(tonbrix.process_files, Plugin.process_file); tonbrix.distributed maps
job lists over a Dask cluster.

Plugins are read once per World, from the folders that LV2_PATH lists (else
the standard LV2 folders); the functions of this module share one World
made at their first call. Every failure raises tonbrix.Error (or a
subclass) with the message the command line prints for it.
"""

import threading as _threading

from ._tonbrix import World
from ._errors import (Error, InputError, PluginCrashedError, PluginNotFoundError, RangeWarning,
                      RunWarning, UnknownControlError)
from ._plugin import Chain, Plugin
from ._files import JobResult, folder_jobs, process_files, process_folder

__all__ = ["Error", "PluginNotFoundError", "InputError", "UnknownControlError",
           "PluginCrashedError", "RangeWarning", "RunWarning", "World", "default_world",
           "plugins", "describe", "presets", "Plugin", "Chain", "JobResult", "process_files",
           "process_folder", "folder_jobs"]

_default_world = None
_default_world_lock = _threading.Lock()


def default_world():
    """The World that the module's functions use, loaded at the first call."""
    global _default_world
    with _default_world_lock:
        if _default_world is None:
            _default_world = World()
        return _default_world


def plugins():
    """Every installed plugin in list order, as ``tonbrix --list --json``:
    a list of dicts with "number" (from 1), "uri", "name", "class"
    ({"uri", "label"}) and "instrument"."""
    return default_world().plugins()


def describe(plugin):
    """What the plugin declares, as ``tonbrix --info --json`` prints it.

    ``plugin`` is a URI or a number in the plugin list (from 1). Raises
    tonbrix.PluginNotFoundError when no plugin has it.
    """
    return default_world().describe(plugin)


def presets(plugin):
    """The plugin's labelled presets, as ``tonbrix --list-presets --json``:
    a list of dicts ``{"label": ..., "uri": ...}``."""
    return default_world().presets(plugin)
