"""EEG recordings of both formats (current container files and legacy .LOG
recordings) from Python: samples as numpy arrays, events, montages, times, and
an MNE Raw object.

    import eegfile
    with eegfile.open("rec.eeg") as rec:
        print(rec.info["length_seconds"], rec.rate)
        x = rec.read(0, 10 * 200)            # int16, samples x channels
        uv = rec.read_uv(channels=["Fp1"])   # float32, microvolts
        for e in rec.events(types=["comment"]):
            print(e.seconds, e.text)
    raw = eegfile.to_mne("rec.eeg")
"""

import datetime as _datetime
import json as _json
import time as _time

from ._eegfile import Recording as _Recording

__all__ = ["Error", "Event", "Recording", "open", "to_mne"]


class Error(Exception):
    """A failure of the library: its message, its code and the kind of code
    ("file", "recording", "legacy", "archive", "database" or "error")."""

    def __init__(self, message, code=0, kind="error"):
        super().__init__(message)
        self.message = message
        self.code = code
        self.kind = kind


class Event:
    """One event: its type name, sample offset, seconds from the start and text;
    `fields` holds every field `eegfile events --json` gives."""

    __slots__ = ("type", "offset", "seconds", "text", "fields")

    def __init__(self, fields):
        self.fields = fields
        self.type = fields["type"]
        self.offset = fields["offset"]
        self.seconds = fields["seconds"]
        self.text = fields["text"]

    def __repr__(self):
        return f"Event({self.type!r}, offset={self.offset}, text={self.text!r})"


class Recording:
    """A recording opened for reading. Use as a context manager, or close()."""

    def __init__(self, path):
        self._rec = _Recording(str(path))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._rec.close()

    @property
    def path(self):
        return self._rec.path

    @property
    def rate(self):
        """Samples per second."""
        return self._rec.rate

    @property
    def length(self):
        """Samples recorded (as of the last synchronize())."""
        return self._rec.length

    @property
    def channels(self):
        """The stored channels in storing order: slot, label, gain, unit."""
        return self._rec.channels

    @property
    def info(self):
        """What `eegfile info --json` gives: rate, stored slots with labels,
        length, start time, runs, holes, patient, status, events by type."""
        return _json.loads(self._rec.info_json())

    def read(self, start=0, count=None, channels=None):
        """Samples [start, start + count) as int16, samples x channels; channels
        by slot number, label or input name (default: the stored ones)."""
        return self._rec.read(start, count, channels)

    def read_uv(self, start=0, count=None, channels=None):
        """The same samples as float32 microvolts (sample times the gain)."""
        return self._rec.read_uv(start, count, channels)

    def events(self, types=None, start=None, stop=None):
        """Events of the types (names or numbers; default all) between the sample
        offsets start and stop (both included), in time order."""
        if isinstance(types, str):
            types = [types]
        return [Event(f) for f in _json.loads(self._rec.events_json(types, start, stop))]

    def montage_at(self, offset):
        """The montage in force at a sample offset: name and traces."""
        return self._rec.montage_at(offset)

    def time_of_day(self, offset):
        """The wall-clock time (naive, local) of a sample offset; None without a
        start time."""
        return self._rec.time_of_day(offset)

    def holes(self):
        """The cut-out stretches as (start, end) sample offsets."""
        return self._rec.holes()

    def synchronize(self):
        """Takes in what a recording station wrote since; the new length."""
        return self._rec.synchronize()

    def follow(self, interval=0.2, idle=None):
        """Yields (start, samples) for each stretch a station adds to the
        recording, polling every `interval` seconds; stops after `idle` seconds
        without growth (None: never)."""
        position = self.length
        quiet_since = _time.monotonic()
        while True:
            length = self.synchronize()
            if length > position:
                yield position, self.read(position, length - position)
                position = length
                quiet_since = _time.monotonic()
            elif idle is not None and _time.monotonic() - quiet_since >= idle:
                return
            else:
                _time.sleep(interval)


def open(path):  # noqa: A001 - the module's entry point, as io.open is
    """Opens a recording of either format for reading."""
    return Recording(path)


def to_mne(path):
    """The recording as an mne.io.RawArray: channel names, sampling rate, the
    measurement date, the samples in volts, every event as an annotation at its
    time, and the holes as "BAD_hole" annotations so that MNE leaves them out."""
    import mne

    with open(path) as rec:
        rate = rec.rate
        # Channels by samples in volts, made in one pass, which MNE takes as it is.
        data = rec._rec.read_volts_by_channel()
        names = [c["label"] for c in rec.channels]
        onsets, durations, texts = [], [], []
        for e in rec.events():
            onsets.append(e.seconds)
            durations.append(0.0)
            texts.append(e.text)
        for start, end in rec.holes():
            onsets.append(start / rate)
            durations.append((end - start) / rate)
            texts.append("BAD_hole")
        start = rec.time_of_day(0)
    info = mne.create_info(names, rate, ch_types="eeg")
    raw = mne.io.RawArray(data, info, copy=None, verbose=False)
    if start is not None:
        # The recording keeps local wall-clock time; MNE wants UTC.
        raw.set_meas_date(start.astimezone(_datetime.timezone.utc))
    raw.set_annotations(mne.Annotations(onsets, durations, texts))
    return raw
