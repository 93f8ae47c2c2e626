"""The Python module against the eegfile tool: the same samples, events and
facts, both formats, a recording followed while another process writes it,
and failures as eegfile.Error."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

import eegfile

TOOL = os.environ["EEGFILE_TOOL"]


def tool(*args, check=True):
    r = subprocess.run([TOOL, *map(str, args)], capture_output=True, check=False)
    if check and r.returncode != 0:
        raise AssertionError(r.stderr.decode())
    return r


@pytest.fixture(scope="module", params=["rec.eeg", "EEG00001.LOG"])
def recording(request, tmp_path_factory):
    """A simulated 2-minute recording of each format, 6 channels at 200/s."""
    path = tmp_path_factory.mktemp("rec") / request.param
    tool("simulate", path, "--minutes", 2, "--channels", 6, "--file-seconds", 50)
    return path


def test_samples_equal_dump(recording):
    raw = tool("dump", recording, "--format", "raw").stdout
    with eegfile.open(recording) as rec:
        assert rec.rate == 200
        x = rec.read()
        assert x.dtype == np.int16 and x.shape == (rec.length, 6)
        assert np.array_equal(x, np.frombuffer(raw, "<i2").reshape(-1, 6))
        # A window, channels by label and slot, and microvolts.
        labels = [c["label"] for c in rec.channels]
        part = rec.read(1000, 400, channels=[labels[2], 0])
        assert np.array_equal(part, x[1000:1400][:, [2, 0]])
        uv = rec.read_uv(1000, 400)
        gains = np.array([c["gain"] for c in rec.channels], np.float32)
        assert uv.dtype == np.float32
        assert np.allclose(uv, x[1000:1400] * gains)
        assert rec.read(rec.length).shape == (0, 6)
        with pytest.raises(IndexError):
            rec.read(rec.length + 1)
        with pytest.raises(ValueError):
            rec.read(0, 10, channels=["nowhere"])


def test_events_and_info_equal_the_tool(recording):
    expected = json.loads(tool("events", recording, "--json").stdout)
    info = json.loads(tool("info", recording, "--json").stdout)
    with eegfile.open(recording) as rec:
        events = rec.events()
        assert [e.fields for e in events] == expected
        assert all(e.type == f["type"] and e.text == f["text"] for e, f in zip(events, expected))
        comments = rec.events(types="comment", start=0, stop=60 * 200)
        assert comments and all(e.type == "comment" and e.offset <= 60 * 200 for e in comments)
        mine = rec.info
        for key in ("format", "sample_rate", "length_samples", "start_time", "runs", "holes"):
            assert mine[key] == info[key], key
        assert rec.montage_at(0)["traces"]
        assert rec.time_of_day(0).strftime("%Y-%m-%d %H:%M:%S") == info["start_time"]


def test_to_mne(recording):
    raw = eegfile.to_mne(recording)
    with eegfile.open(recording) as rec:
        assert raw.ch_names == [c["label"] for c in rec.channels]
        assert raw.info["sfreq"] == rec.rate
        assert raw.info["meas_date"].timestamp() == rec.time_of_day(0).timestamp()
        uv = rec.read_uv()
        events = rec.events()
    assert np.allclose(raw.get_data(), uv.T * 1e-6, atol=1e-12)
    texts = list(raw.annotations.description)
    for e in events:
        i = texts.index(e.text)
        assert raw.annotations.onset[i] == pytest.approx(e.seconds)


def test_follows_a_recording_being_written(tmp_path):
    path = tmp_path / "live.eeg"
    writer = subprocess.Popen([TOOL, "simulate", str(path), "--minutes", "0.2", "--speed", "4"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        writer.stdout.readline()  # the recording exists once its first line is out
        with eegfile.open(path) as rec:
            seen = rec.length
            grown = 0
            for start, block in rec.follow(interval=0.05, idle=3):
                assert start == seen and len(block) > 0 and block.shape[1] == 32
                seen += len(block)
                grown += 1
            assert grown >= 2
            assert seen == rec.length == 12 * 200
    finally:
        writer.wait(timeout=30)


def test_failures_raise_the_library_message(tmp_path):
    with pytest.raises(eegfile.Error) as missing:
        eegfile.open(tmp_path / "missing.eeg")
    assert missing.value.kind == "file" and missing.value.message
    corrupt = tmp_path / "corrupt.eeg"
    corrupt.write_bytes(b"not a recording" * 100)
    with pytest.raises(eegfile.Error) as bad:
        eegfile.open(corrupt)
    assert str(bad.value) == bad.value.message
    # Held exclusively by another station (one that cuts it, say).
    held = tmp_path / "held.eeg"
    tool("simulate", held, "--minutes", 0.1)
    holder = subprocess.Popen([os.environ["EEGFILE_HOLD"], str(held)], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, env={**os.environ, "COMPUTERNAME": "HOLDER"})
    try:
        assert holder.stdout.readline() == b"held\n"
        with pytest.raises(eegfile.Error) as locked:
            eegfile.open(held)
        assert "HOLDER" in locked.value.message and locked.value.kind == "recording"
    finally:
        holder.stdin.close()
        holder.wait(timeout=30)
    with eegfile.open(held) as rec:
        assert rec.length == 6 * 200
