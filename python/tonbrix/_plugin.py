"""tonbrix.Plugin and tonbrix.Chain: LV2 plugins with their settings,
applied to numpy arrays in memory."""

import logging
import os
import warnings

import numpy as np

from . import _tonbrix
from ._errors import Error, InputError, RangeWarning, RunWarning, UnknownControlError
from ._midi import midi_step

_log = logging.getLogger("tonbrix")


def _value_text(value):
    """A --set value as the command line takes it: paths as they are, numbers as text."""
    if isinstance(value, (os.PathLike, bytes)):
        return os.fsdecode(value)
    if isinstance(value, bool):
        return "true" if value else "false"
    return str(value)


def _as_channels(audio):
    """The audio as a C-contiguous (channels, frames) float32 array: the same
    memory when it is one already (a 1-D array becomes one channel, a view),
    else one converted copy."""
    array = np.asarray(audio)
    if array.dtype.kind not in "iuf":
        raise InputError("Error: audio must be an array of real numbers, not of dtype %s."
                         % array.dtype)
    if array.ndim == 1:
        array = array[np.newaxis, :]
    elif array.ndim != 2:
        raise InputError("Error: audio must have 1 dimension (frames) or 2 (channels, frames), "
                         "not %d." % array.ndim)
    if array.shape[0] == 0:
        raise InputError("Error: audio must have at least one channel.")
    return np.ascontiguousarray(array, dtype=np.float32)


def _sample_rate(sample_rate, needed):
    """The sample rate as a whole number above 0; 48000 when none is given
    and none is needed (an instrument)."""
    if sample_rate is None:
        if needed:
            raise InputError("Error: a sample rate is needed with audio.")
        return 48000
    rate = float(sample_rate)
    if not (rate > 0 and rate == int(rate) and rate < 2 ** 31):
        raise InputError("Error: the sample rate must be a whole number of frames per second "
                         "above 0, not %r." % (sample_rate,))
    return int(rate)


def _automation_texts(automation):
    """{symbol: [(seconds, value), ...]} as --automate items
    ("symbol:seconds=value,..."); a str item is taken as it is."""
    texts = []
    for symbol, points in (automation or {}).items():
        if isinstance(points, str):
            texts.append("%s:%s" % (symbol, points))
            continue
        try:
            items = ",".join("%r=%r" % (float(seconds), float(value))
                             for seconds, value in points)
        except (TypeError, ValueError) as error:
            raise InputError("Error: automation of %s must be a list of (seconds, value) pairs."
                             % symbol) from error
        texts.append("%s:%s" % (symbol, items))
    return texts


def _reading_dict(symbols, values):
    """One reading as a dict, named as --report names the lines: by symbol,
    or "N.symbol" (N from 1) with more than one instance."""
    if len(values) == 1:
        return dict(zip(symbols, values[0]))
    reading = {}
    for number, instance in enumerate(values, 1):
        for symbol, value in zip(symbols, instance):
            reading["%d.%s" % (number, symbol)] = value
    return reading


def _run_options(block_size, tail, compensate_latency, check_clipping, reset, report_every):
    """The native options of a call, checked."""
    options = _tonbrix._RunOptions()
    if not 1 <= int(block_size) <= 1048576:
        raise InputError("Error: block size must be between 1 and 1048576 frames, not %r."
                         % (block_size,))
    options.block_size = int(block_size)
    if tail is not None:
        if not float(tail) >= 0:
            raise InputError("Error: the tail must be 0 seconds or longer, not %r." % (tail,))
        options.tail_seconds = float(tail)
    options.compensate_latency = bool(compensate_latency)
    options.check_clipping = bool(check_clipping)
    options.reset = bool(reset)
    if report_every is not None:
        if not float(report_every) > 0:
            raise InputError("Error: report_every must be above 0 seconds, not %r."
                             % (report_every,))
        options.report_every = float(report_every)
    return options


def _pass_on_events(events):
    """The run's warnings as Python warnings, the plugins' log lines and
    notes to the "tonbrix" logger."""
    for kind, text in events:
        text = text.rstrip("\n")
        if kind == "warning":
            for line in text.split("\n"):
                # The run's range warnings end as -p's do.
                category = RangeWarning if line.endswith("(applied as given).") else RunWarning
                warnings.warn(line, category, stacklevel=4)
        elif kind == "plugin_log":
            _log.warning("%s", text)
        else:
            _log.info("%s", text)


def _takes_midi(description):
    """True for a plugin with a MIDI input."""
    return any(port["type"] == "atom" and port["direction"] == "input" and port.get("midi")
               for port in description["ports"])


def _audio_outputs(description):
    """The number of the plugin's audio outputs."""
    return sum(port["type"] == "audio" and port["direction"] == "output"
               for port in description["ports"])


class _Outcome:
    """What the last call of a Plugin or Chain left: readings and MIDI output."""

    def __init__(self, done):
        """Keeps what the native run returned."""
        self.sample_rate = done["sample_rate"]
        self.readings = done["readings"]
        self.midi_out = done["midi_out"]

    def end_readings(self, k):
        """The readings at the end of plugin k, as a dict."""
        entry = self.readings[k]
        if not entry["readings"]:
            return {}
        return _reading_dict(entry["symbols"], entry["readings"][-1][1])

    def readings_over_time(self, k):
        """The readings over time of plugin k: (seconds, dict)."""
        entry = self.readings[k]
        return [(frame / self.sample_rate, _reading_dict(entry["symbols"], values))
                for frame, values in entry["readings"]]


class Plugin:
    """An LV2 plugin with its control values, preset, ``--set`` parameters
    and channel routing, as one plugin of the command line.

    ``Plugin(uri, gain=-6)`` sets the control input with the symbol
    ``gain``; controls are also read and set as attributes by port symbol
    (``plugin.gain = -3``). A value outside the port's range is applied as
    given, and each call that runs with it warns as ``-p`` does, with a
    tonbrix.RangeWarning (automation points too; ranges that are a fraction
    of the sample rate at the call's rate). A symbol
    that is no control input raises tonbrix.UnknownControlError (also an
    AttributeError) with the command line's message.

    ``preset`` is a preset's label (as ``-P``); ``set`` a dict of writable
    parameters to values (as ``--set PARAMETER=VALUE``, paths as str or
    os.PathLike); ``connect`` a list of ``"channel:symbol"`` items (as
    ``--connect``) and ``mono`` mixes every channel into each input (as
    ``--mono``). ``world`` is a tonbrix.World to run in; by default the
    object loads its own at its first call, so that objects used from
    different threads run side by side.

    ``plugin(audio, sample_rate)`` runs a float array of shape
    ``(channels, frames)`` (a 1-D array is one channel) and returns a new
    ``(channels, frames)`` float32 array; see process().

    One object is used by one call at a time: calls from other threads wait.
    """

    def __init__(self, plugin, *, preset=None, set=None, connect=None, mono=False, world=None,
                 **controls):
        from . import default_world
        object.__setattr__(self, "_world", world)
        description = (world if world is not None else default_world()).describe(plugin)
        object.__setattr__(self, "_description", description)
        inputs = {port["symbol"]: port for port in description["ports"]
                  if port["direction"] == "input" and port["type"] in ("control", "cv")}
        object.__setattr__(self, "_inputs", inputs)
        object.__setattr__(self, "_controls", {})
        object.__setattr__(self, "_preset", preset)
        object.__setattr__(self, "_set_values",
                           ["%s=%s" % (name, _value_text(value))
                            for name, value in (set or {}).items()])
        object.__setattr__(self, "_connect",
                           [connect] if isinstance(connect, str) else list(connect or []))
        object.__setattr__(self, "_mono", bool(mono))
        object.__setattr__(self, "_native", _tonbrix._Runner(world))
        object.__setattr__(self, "_outcome", None)
        object.__setattr__(self, "_ended_within_block", None)
        for symbol, value in controls.items():
            self._set_control(symbol, value)

    # The plugin's data.

    @property
    def uri(self):
        """The plugin's URI."""
        return self._description["uri"]

    @property
    def name(self):
        """The plugin's name."""
        return self._description["name"]

    @property
    def description(self):
        """What the plugin declares, as tonbrix.describe() gives it."""
        return self._description

    @property
    def preset(self):
        """The label of the preset restored before the controls, or None."""
        return self._preset

    @property
    def controls(self):
        """Every control and CV input by symbol: the value set, else the default."""
        return {symbol: self._control(symbol) for symbol in self._inputs}

    def _control(self, symbol):
        """The value of a control input: the one set, else its default."""
        value = self._controls.get(symbol)
        return self._inputs[symbol]["default"] if value is None else value

    def _set_control(self, symbol, value):
        """Sets a control input for the next calls; UnknownControlError for
        a symbol that is none."""
        port = self._inputs.get(symbol)
        if port is None:
            raise UnknownControlError("Error: Port with symbol %s does not exist." % symbol)
        value = float(value)
        self._controls[symbol] = value

    def __getattr__(self, name):
        inputs = self.__dict__.get("_inputs", {})
        if name in inputs:
            return self._control(name)
        raise AttributeError("%r object has no attribute %r (and %s has no control input "
                             "with that symbol)" % (type(self).__name__, name,
                                                    self.__dict__.get("_description", {})
                                                    .get("uri")))

    def __setattr__(self, name, value):
        if name.startswith("_") or isinstance(getattr(type(self), name, None), property):
            object.__setattr__(self, name, value)
            return
        self._set_control(name, value)

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(self._inputs))

    def __repr__(self):
        return "tonbrix.Plugin(%r%s)" % (self.uri, "".join(
            ", %s=%s" % (symbol, _tonbrix._float_text(value))
            for symbol, value in self._controls.items()))

    def _step(self, midi=None, duration=None, midi_out=False, automation=None):
        """The native description of this plugin in a run."""
        step = {
            "uri": self.uri,
            "preset": self._preset,
            "controls": list(self._controls.items()),
            "set_values": list(self._set_values),
            "connect": list(self._connect),
            "mono": self._mono,
            "midi_out": bool(midi_out),
            "automation": _automation_texts(automation),
        }
        step.update(midi_step(midi, duration))
        return step

    # Processing.

    def process(self, audio=None, sample_rate=None, *, block_size=512, tail=None,
                compensate_latency=False, check_clipping=False, reset=True, midi=None,
                duration=None, midi_out=False, automation=None, report_every=None):
        """Runs the audio through the plugin; returns a new (channels, frames)
        float32 array of its outputs.

        ``audio`` is an array of shape (channels, frames), or (frames,) for one
        channel; None for an instrument, which then plays ``midi`` at
        ``sample_rate`` (48000 by default) up to its end (or ``duration``
        seconds) and ``tail`` seconds more. A C-contiguous float32 array is
        read in place; other real dtypes and layouts are converted once.

        Options as on the command line: ``block_size`` (frames, 512),
        ``tail`` (seconds of silence run after the input), ``compensate_latency``
        (the output lines up with the input), ``check_clipping`` (NaN written
        as silence and samples clamped to full scale with a warning; off:
        floats are kept). ``midi`` is a Standard MIDI File's path, a
        mido.MidiFile or a list of (seconds, bytes) events; ``midi_out``
        keeps the plugin's MIDI output in midi_output; ``automation`` a dict
        {symbol: [(seconds, value), ...]} moving a control in straight lines
        between the points; ``report_every`` (seconds) takes readings over
        time (readings_over_time), besides those at the end (readings).

        ``reset`` (default True) gives the call a plugin in its initial state,
        exactly as a new one: kept instances are activated again only where a
        check found that this resets them. ``reset=False`` goes on from the
        state the last call of the same shape (channels, rate, block size)
        left, so that a signal processed in pieces gives what one piece gives
        when every piece but the last is a whole number of blocks (the last
        block of a call runs on padding silence, as at the end of a file;
        the next such call warns). Give the tail with the last piece;
        latency compensation needs one piece. Plugins that take MIDI get new
        instances for every call with reset.

        Returns None for a plugin without audio outputs (MIDI out, readings).

        Raises tonbrix.Error (or a subclass) with the command line's message.
        """
        if compensate_latency and not reset:
            raise InputError("Error: latency compensation needs the whole signal in one call "
                             "(reset=True).")
        rate = _sample_rate(sample_rate, audio is not None)
        channels = None if audio is None else _as_channels(audio)
        options = _run_options(block_size, tail, compensate_latency, check_clipping, reset,
                               report_every)
        step = self._step(midi, duration, midi_out, automation)
        # The reset check excites a plugin only through its audio inputs:
        # one that takes MIDI gets new instances for every call with reset.
        options.reuse = not _takes_midi(self._description)
        options.audio_out = _audio_outputs(self._description) > 0
        shape = (None if channels is None else channels.shape[0], rate, options.block_size)
        if not reset and self._ended_within_block == shape:
            warnings.warn("WARNING: the last call ended within a block of %d frames, which ran "
                          "on padding silence; this call goes on from there, not from the "
                          "input's end." % options.block_size, RunWarning, stacklevel=2)
        done = self._native.run([step], channels, rate, options)
        ended_within = channels is not None and channels.shape[1] % options.block_size != 0
        object.__setattr__(self, "_ended_within_block", shape if ended_within else None)
        object.__setattr__(self, "_outcome", _Outcome(done))
        _pass_on_events(done["events"])
        return done["audio"]

    __call__ = process

    def save_preset(self, label, folder=None, sample_rate=48000):
        """Saves the plugin as it is set now (its preset, controls and set
        parameters, settled as before a run) as an LV2 preset named
        ``label``, in a bundle in ``folder`` (default: ~/.lv2), as
        --save-preset does: tonbrix, jalv, Ardour and Carla load it, and
        Plugin(uri, preset=...) takes its label, its URI or the bundle's
        path. A preset saved again under its label replaces its bundle.
        Raises tonbrix.Error with the command line's message (an empty
        label, a folder that cannot be written, a label another bundle
        holds)."""
        if not isinstance(label, str):
            raise InputError("Error: a preset's label is text, not %r." % (label,))
        if not label:
            raise InputError("Error: the preset's label is empty; save_preset needs a name.")
        options = _run_options(512, None, False, False, True, None)
        options.reuse = False
        options.audio_out = False
        if folder is not None:
            options.preset_folder = os.fspath(folder)
        step = self._step()
        step["save_preset"] = label
        done = self._native.run([step], None, _sample_rate(sample_rate, False), options)
        _pass_on_events(done["events"])

    def render(self, midi, sample_rate=48000, *, duration=None, tail=None, **options):
        """Renders an instrument from MIDI without audio input: process(None,
        sample_rate, midi=midi, ...). ``midi`` is a file path, a
        mido.MidiFile or a list of (seconds, bytes); the output lasts up to
        the end of the MIDI (or ``duration`` seconds) plus ``tail`` seconds."""
        return self.process(None, sample_rate, midi=midi, duration=duration, tail=tail, **options)

    @property
    def readings(self):
        """The control outputs at the end of the last call, as a dict by
        symbol ("N.symbol" with several instances); {} before a call."""
        return {} if self._outcome is None else self._outcome.end_readings(0)

    @property
    def readings_over_time(self):
        """The readings of the last call with report_every: a list of
        (seconds, dict), one after the first block past each period."""
        return [] if self._outcome is None else self._outcome.readings_over_time(0)

    @property
    def midi_output(self):
        """The MIDI output of the last call with midi_out=True: a list of
        (seconds, bytes); None otherwise."""
        return None if self._outcome is None else self._outcome.midi_out[0]

    def release(self):
        """Frees the instances kept between calls; the next call makes new ones."""
        self._native.release()

    # Files.

    def process_file(self, input, output, **options):
        """Processes one sound file into another through tonbrix's own file
        path (the output appears whole or not at all; tags, formats and RF64
        as the command line), in a forked worker process. Raises tonbrix.Error
        with the command line's message when it fails, and
        tonbrix.PluginCrashedError when the plugin crashes. Options as
        process_files()."""
        from ._files import process_files
        result = process_files(self, [(input, output)], workers=1, **options)[0]
        result.raise_for_error()

    def process_files(self, jobs, **options):
        """Processes a list of jobs through this plugin; see tonbrix.process_files."""
        from ._files import process_files
        return process_files(self, jobs, **options)

    def process_folder(self, input, output, **options):
        """Processes every sound file under a folder; see tonbrix.process_folder."""
        from ._files import process_folder
        return process_folder(self, input, output, **options)


class Chain:
    """Plugins run one after the other as one run, as ``--then`` chains them
    on the command line: each takes the outputs of the one before, latency
    and tails count across the chain.

    ``Chain([tonbrix.Plugin(a), tonbrix.Plugin(b, gain=3)])``; the plugins
    give their settings (controls, preset, --set, routing) at each call.
    Every call starts from new instances (reset=True).
    """

    def __init__(self, plugins, *, world=None):
        self._plugins = list(plugins)
        if not self._plugins:
            raise InputError("Error: a chain needs at least one plugin.")
        for plugin in self._plugins:
            if not isinstance(plugin, Plugin):
                raise TypeError("a Chain is made of tonbrix.Plugin objects, not %r" % (plugin,))
        self._native = _tonbrix._Runner(world)
        self._outcome = None

    @property
    def plugins(self):
        """The plugins in chain order."""
        return list(self._plugins)

    def __len__(self):
        return len(self._plugins)

    def __getitem__(self, index):
        return self._plugins[index]

    def __repr__(self):
        return "tonbrix.Chain(%r)" % (self._plugins,)

    def process(self, audio=None, sample_rate=None, *, block_size=512, tail=None,
                compensate_latency=False, check_clipping=False, reset=True, midi=None,
                duration=None, midi_out=False, automation=None, report_every=None):
        """Runs the audio through the chain; a new (channels, frames) float32
        array. Options as Plugin.process(); ``midi`` goes to the first
        plugin, ``automation`` is a dict {chain position: {symbol: points}},
        ``midi_out`` keeps every plugin's MIDI output. ``reset`` must be
        True: a chain's instances are not kept between calls."""
        if not reset:
            raise InputError("Error: a chain starts from new instances at every call "
                             "(reset=True); keep state with a single Plugin.")
        rate = _sample_rate(sample_rate, audio is not None)
        channels = None if audio is None else _as_channels(audio)
        options = _run_options(block_size, tail, compensate_latency, check_clipping, True,
                               report_every)
        automation = automation or {}
        steps = [plugin._step(midi if k == 0 else None, duration if k == 0 else None,
                              midi_out, automation.get(k))
                 for k, plugin in enumerate(self._plugins)]
        options.audio_out = _audio_outputs(self._plugins[-1]._description) > 0
        done = self._native.run(steps, channels, rate, options)
        self._outcome = _Outcome(done)
        _pass_on_events(done["events"])
        return done["audio"]

    __call__ = process

    @property
    def readings(self):
        """The control outputs at the end of the last call: a dict per plugin."""
        if self._outcome is None:
            return [{} for _ in self._plugins]
        return [self._outcome.end_readings(k) for k in range(len(self._plugins))]

    @property
    def readings_over_time(self):
        """The readings over time of the last call: a list per plugin of (seconds, dict)."""
        if self._outcome is None:
            return [[] for _ in self._plugins]
        return [self._outcome.readings_over_time(k) for k in range(len(self._plugins))]

    @property
    def midi_output(self):
        """The MIDI output of every plugin of the last call with midi_out=True."""
        if self._outcome is None:
            return [None for _ in self._plugins]
        return list(self._outcome.midi_out)
