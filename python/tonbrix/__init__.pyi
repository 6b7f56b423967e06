from typing import Any, Dict, List, Union

PluginName = Union[str, int]

class Error(Exception):
    """A failure of tonbrix, with the message the command line prints for it."""

class PluginNotFoundError(Error, LookupError):
    """No installed plugin has the URI or list number that was given."""

class World:
    """The installed LV2 plugins, read once (LV2_PATH, else the standard folders)."""
    def __init__(self) -> None: ...
    def plugins(self) -> List[Dict[str, Any]]:
        """Every plugin in list order: number, uri, name, class, instrument."""
    def describe(self, plugin: PluginName) -> Dict[str, Any]:
        """What the plugin declares, as ``tonbrix --info --json``."""
    def presets(self, plugin: PluginName) -> List[Dict[str, str]]:
        """The labelled presets: ``{"label": ..., "uri": ...}``."""

def default_world() -> World:
    """The World that the module's functions use, loaded at the first call."""
def plugins() -> List[Dict[str, Any]]:
    """Every plugin in list order, as ``tonbrix --list --json``."""
def describe(plugin: PluginName) -> Dict[str, Any]:
    """What the plugin declares, as ``tonbrix --info --json``."""
def presets(plugin: PluginName) -> List[Dict[str, str]]:
    """The labelled presets, as ``tonbrix --list-presets --json``."""
