import os
from typing import (Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union,
                    overload)

import numpy as np
import numpy.typing as npt

PluginName = Union[str, int]
PathLike = Union[str, bytes, "os.PathLike[str]"]
MidiEvent = Tuple[float, bytes]
# A Standard MIDI File's path, a mido.MidiFile, or (seconds, bytes) events.
MidiInput = Union[PathLike, Any, Sequence[Tuple[float, Union[bytes, Sequence[int]]]]]
Automation = Mapping[str, Union[str, Sequence[Tuple[float, float]]]]
Audio = npt.ArrayLike
Job = Union[Tuple[PathLike, PathLike], Mapping[str, Any]]

class Error(Exception):
    """A failure of tonbrix, with the message the command line prints for it."""

class PluginNotFoundError(Error, LookupError):
    """No installed plugin has the URI or list number that was given."""

class InputError(Error, ValueError):
    """The audio, MIDI or options given to a call cannot be used."""

class UnknownControlError(Error, AttributeError):
    """The plugin has no control input with this symbol."""

class PluginCrashedError(Error):
    """The plugin crashed while it processed a file; only its worker ended."""
    signal: int
    def __init__(self, message: str, signal: int = ...) -> None: ...

class RangeWarning(UserWarning):
    """A control value outside its port's range, applied as given, as -p does."""

class RunWarning(UserWarning):
    """A warning of a run: clipped or NaN samples repaired, a plugin's log line."""

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

class JobResult:
    """What one job of a batch left: written, or the error text ``--batch`` prints."""
    input: str
    output: str
    written: bool
    skipped: bool
    error: Optional[str]
    crash_signal: int
    messages: str
    def __init__(self, input: str, output: str, written: bool, skipped: bool = ...,
                 error: Optional[str] = ..., crash_signal: int = ...,
                 messages: str = ...) -> None: ...
    @property
    def ok(self) -> bool:
        """True when the job wrote its output or was skipped."""
    def raise_for_error(self) -> None:
        """Raises the job's failure as tonbrix.Error (PluginCrashedError for a crash)."""
    def as_dict(self) -> Dict[str, Any]:
        """The result as a dict of plain values."""
    @classmethod
    def from_dict(cls, values: Mapping[str, Any]) -> "JobResult":
        """The result that as_dict() gave."""

class Plugin:
    """An LV2 plugin with its controls (keyword arguments and attributes by
    port symbol), preset, --set parameters and channel routing."""
    def __init__(self, plugin: PluginName, *, preset: Optional[str] = ...,
                 set: Optional[Mapping[str, Any]] = ...,
                 connect: Union[None, str, Sequence[str]] = ..., mono: bool = ...,
                 world: Optional[World] = ..., **controls: float) -> None: ...
    @property
    def uri(self) -> str:
        """The plugin's URI."""
    @property
    def name(self) -> str:
        """The plugin's name."""
    @property
    def description(self) -> Dict[str, Any]:
        """What the plugin declares, as tonbrix.describe() gives it."""
    @property
    def preset(self) -> Optional[str]:
        """The label of the preset restored before the controls, or None."""
    @property
    def controls(self) -> Dict[str, float]:
        """Every control and CV input by symbol: the value set, else the default."""
    def __getattr__(self, symbol: str) -> float: ...
    def __setattr__(self, symbol: str, value: float) -> None: ...
    def process(self, audio: Optional[Audio] = ..., sample_rate: Optional[int] = ..., *,
                block_size: int = ..., tail: Optional[float] = ...,
                compensate_latency: bool = ..., check_clipping: bool = ..., reset: bool = ...,
                midi: Optional[MidiInput] = ..., duration: Optional[float] = ...,
                midi_out: bool = ..., automation: Optional[Automation] = ...,
                report_every: Optional[float] = ...) -> np.ndarray:
        """Runs the audio through the plugin; a new (channels, frames) float32 array."""
    def __call__(self, audio: Optional[Audio] = ..., sample_rate: Optional[int] = ..., *,
                 block_size: int = ..., tail: Optional[float] = ...,
                 compensate_latency: bool = ..., check_clipping: bool = ..., reset: bool = ...,
                 midi: Optional[MidiInput] = ..., duration: Optional[float] = ...,
                 midi_out: bool = ..., automation: Optional[Automation] = ...,
                 report_every: Optional[float] = ...) -> np.ndarray:
        """The same as process()."""
    def save_preset(self, label: str, folder: Optional[str] = ...,
                    sample_rate: int = ...) -> None:
        """Saves the plugin as it is set now as an LV2 preset, as --save-preset does."""
    def render(self, midi: MidiInput, sample_rate: int = ..., *,
               duration: Optional[float] = ..., tail: Optional[float] = ...,
               **options: Any) -> np.ndarray:
        """Renders an instrument from MIDI without audio input."""
    @property
    def readings(self) -> Dict[str, float]:
        """The control outputs at the end of the last call."""
    @property
    def readings_over_time(self) -> List[Tuple[float, Dict[str, float]]]:
        """The readings of the last call with report_every: (seconds, dict)."""
    @property
    def midi_output(self) -> Optional[List[MidiEvent]]:
        """The MIDI output of the last call with midi_out=True."""
    def release(self) -> None:
        """Frees the instances kept between calls."""
    def process_file(self, input: PathLike, output: PathLike, **options: Any) -> None:
        """Processes one sound file in a forked worker; raises tonbrix.Error on failure."""
    def process_files(self, jobs: Union[PathLike, Iterable[Job]],
                      **options: Any) -> List[JobResult]:
        """Processes a list of jobs through this plugin; see tonbrix.process_files."""
    def process_folder(self, input: PathLike, output: PathLike,
                       **options: Any) -> List[JobResult]:
        """Processes every sound file under a folder; see tonbrix.process_folder."""

class Chain:
    """Plugins run one after the other as one run, as ``--then`` chains them."""
    def __init__(self, plugins: Iterable[Plugin], *, world: Optional[World] = ...) -> None: ...
    @property
    def plugins(self) -> List[Plugin]:
        """The plugins in chain order."""
    def __len__(self) -> int: ...
    def __getitem__(self, index: int) -> Plugin: ...
    def process(self, audio: Optional[Audio] = ..., sample_rate: Optional[int] = ..., *,
                block_size: int = ..., tail: Optional[float] = ...,
                compensate_latency: bool = ..., check_clipping: bool = ..., reset: bool = ...,
                midi: Optional[MidiInput] = ..., duration: Optional[float] = ...,
                midi_out: bool = ..., automation: Optional[Mapping[int, Automation]] = ...,
                report_every: Optional[float] = ...) -> np.ndarray:
        """Runs the audio through the chain; a new (channels, frames) float32 array."""
    def __call__(self, audio: Optional[Audio] = ..., sample_rate: Optional[int] = ...,
                 **options: Any) -> np.ndarray:
        """The same as process()."""
    @property
    def readings(self) -> List[Dict[str, float]]:
        """The control outputs at the end of the last call, per plugin."""
    @property
    def readings_over_time(self) -> List[List[Tuple[float, Dict[str, float]]]]:
        """The readings over time of the last call, per plugin."""
    @property
    def midi_output(self) -> List[Optional[List[MidiEvent]]]:
        """The MIDI output of every plugin of the last call with midi_out=True."""

def process_files(plugin: Union[Plugin, str], jobs: Union[PathLike, Iterable[Job]], *,
                  workers: Optional[int] = ..., block_size: int = ...,
                  tail: Optional[float] = ..., compensate_latency: bool = ...,
                  check_clipping: bool = ..., output_format: Optional[str] = ...,
                  skip_existing: bool = ..., world: Optional[World] = ...) -> List[JobResult]:
    """Processes sound files as ``--batch``, each job in a forked worker; one result per job."""
def process_folder(plugin: Union[Plugin, str], input: PathLike, output: PathLike,
                   **options: Any) -> List[JobResult]:
    """Processes every sound file under a folder into the same paths under another."""
def folder_jobs(input: PathLike, output: PathLike, *,
                output_format: Optional[str] = ...) -> List[Tuple[str, str]]:
    """The (input, output) jobs of a folder, as ``-i FOLDER -o FOLDER`` finds them."""
