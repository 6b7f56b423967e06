"""The exceptions of tonbrix: tonbrix.Error and its subclasses, each with
the message the command line prints for the failure."""

from ._tonbrix import Error, PluginNotFoundError


class InputError(Error, ValueError):
    """The audio, MIDI or options given to a call cannot be used (a 3-D
    array, a dtype that is not numbers, a bad event); also a ValueError."""


class UnknownControlError(Error, AttributeError):
    """The plugin has no control input with this symbol; also an AttributeError."""


class PluginCrashedError(Error):
    """The plugin crashed while it processed a file; only its worker process ended."""

    def __init__(self, message, signal=0):
        super().__init__(message)
        self.signal = signal


class RangeWarning(UserWarning):
    """A control value outside its port's range, applied as given, as -p does."""


class RunWarning(UserWarning):
    """A warning of a run: clipped or NaN samples repaired, a plugin's log line."""


__all__ = ["Error", "PluginNotFoundError", "InputError", "UnknownControlError",
           "PluginCrashedError", "RangeWarning", "RunWarning"]
