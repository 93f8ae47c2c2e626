#!/usr/bin/env python3
"""The Python module on a whole recording, each figure beside its reference in
the same run:

 1. rec.read() of every sample into numpy, best of 3, against the C++ read of
    the same samples (ReadAllBench, built beside this script) into a new buffer
    each time, as numpy's array is new, and into one buffer already touched.
 2. eegfile.to_mne(path), best of 2, against MNE's own
    mne.io.read_raw_edf(preload=True) of the EDF+ export of the same recording.

The recording is made with `eegfile simulate` (32 channels at 200/s) unless one
is given; everything made is removed at the end.

Usage: PythonBench.py BUILD_DIR [minutes (1440)] [recording]
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time


def best(runs, f):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = f()
        times.append(time.perf_counter() - start)
        del result
    return min(times)


def main():
    build = os.path.abspath(sys.argv[1])
    minutes = float(sys.argv[2]) if len(sys.argv) > 2 else 1440
    sys.path.insert(0, os.path.join(build, "python"))
    import eegfile
    import mne

    tool = os.path.join(build, "tools", "eegfile")
    folder = tempfile.mkdtemp(prefix="PythonBench.")
    try:
        path = sys.argv[3] if len(sys.argv) > 3 else os.path.join(folder, "bench.eeg")
        if len(sys.argv) <= 3:
            print(f"PythonBench: making {minutes:.0f} minutes with eegfile simulate ...",
                  flush=True)
            subprocess.run([tool, "simulate", path, "--minutes", str(minutes)], check=True,
                           stdout=subprocess.DEVNULL)
        reference = subprocess.run([os.path.join(build, "bench", "ReadAllBench"), path],
                                   check=True, capture_output=True, text=True).stdout.split()
        cpp, cpp_reused = float(reference[0]), float(reference[1])
        with eegfile.open(path) as rec:
            hours = rec.length / rec.rate / 3600
            channels = len(rec.channels)
            py = best(3, rec.read)
        print(f"PythonBench: {hours:.2f} h, {channels} channels")
        print(f"  rec.read() into numpy:        {py:8.3f} s")
        print(f"  C++ read of the same samples: {cpp:8.3f} s into a new buffer, "
              f"{cpp_reused:.3f} s into one already touched")
        print(f"  ratio: {py / cpp:.2f}x, {py / cpp_reused:.2f}x (target: within 1.2x)")

        edf = os.path.join(folder, "bench.edf")
        subprocess.run([tool, "export", path, edf], check=True, stdout=subprocess.DEVNULL)
        ours = best(2, lambda: eegfile.to_mne(path))
        theirs = best(2, lambda: mne.io.read_raw_edf(edf, preload=True, verbose=False))
        print(f"  eegfile.to_mne:                      {ours:8.3f} s")
        print(f"  mne.io.read_raw_edf(preload=True):   {theirs:8.3f} s")
        print(f"  ratio: {ours / theirs:.2f}x (target: below 1)")
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
