"""MIDI input as the native side takes it: a Standard MIDI File's path, a
mido.MidiFile, or a list of (seconds, bytes) events."""

import os

from . import _tonbrix
from ._errors import InputError


def _event_bytes(data):
    """The bytes of one event: bytes, a bytearray, a list of ints or a mido.Message."""
    if hasattr(data, "bytes") and callable(data.bytes):
        data = data.bytes()
    try:
        return bytes(data)
    except (TypeError, ValueError) as error:
        raise InputError("Error: a MIDI event must be bytes or a list of byte values, not %r."
                         % (data,)) from error


def _from_mido(midi_file):
    """The events, tempo changes and length of a mido.MidiFile, in seconds."""
    events = []
    tempo = []
    seconds = 0.0
    for message in midi_file:  # in playing order, times in seconds since the one before
        seconds += message.time
        if message.is_meta:
            if message.type == "set_tempo":
                tempo.append((seconds, 60e6 / message.tempo))
            continue
        events.append((seconds, bytes(message.bytes())))
    return events, tempo, float(midi_file.length)


def _from_events(events):
    """A list of (seconds, bytes), checked and in time order."""
    read = []
    for item in events:
        try:
            seconds, data = item
            seconds = float(seconds)
        except (TypeError, ValueError) as error:
            raise InputError("Error: a MIDI event must be a pair (seconds, bytes), not %r."
                             % (item,)) from error
        if not seconds >= 0:
            raise InputError("Error: a MIDI event's time must be 0 seconds or later, not %r."
                             % (seconds,))
        read.append((seconds, _event_bytes(data)))
    read.sort(key=lambda event: event[0])  # stable: events at one time keep their order
    return read


def midi_step(midi, duration=None):
    """The keys of a native step that give it this MIDI input.

    ``midi`` is a path (str or os.PathLike) of a Standard MIDI File, a
    mido.MidiFile, or a list of (seconds, bytes) events. A run without an
    audio input lasts up to the end of the MIDI (a file's or mido's length,
    the last event of a list) unless ``duration`` (seconds) says otherwise;
    events from the duration on are then left out.
    """
    if midi is None:
        return {}
    cut = duration is not None
    if isinstance(midi, (str, bytes, os.PathLike)):
        path = os.fsdecode(midi)
        if duration is None:
            return {"midi_file": path}
        events, tempo, _ = _tonbrix._read_midi_file(path)
    elif hasattr(midi, "tracks") and hasattr(midi, "ticks_per_beat"):
        events, tempo, length = _from_mido(midi)
        if duration is None:
            duration = length
    else:
        events = _from_events(midi)
        tempo = []
        if duration is None:
            duration = events[-1][0] if events else 0.0
    if not duration >= 0:
        raise InputError("Error: a duration must be 0 seconds or longer, not %r." % (duration,))
    # A run lasts at least up to its last event: events from the duration on
    # are left out.
    if cut:
        events = [event for event in events if event[0] < duration]
    return {"midi_events": events, "midi_tempo": tempo, "midi_length": float(duration)}
