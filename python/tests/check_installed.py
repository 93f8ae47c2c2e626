"""Run with PYTHONPATH set to an installed copy: the package imports from there
and its native part works (a missing file raises the library's error)."""
import sys

import eegfile

assert eegfile.__file__.startswith(sys.argv[1]), eegfile.__file__
try:
    eegfile.open("/nonexistent/rec.eeg")
except eegfile.Error as e:
    assert e.kind == "file" and e.message, (e.kind, e.message)
else:
    sys.exit("a missing recording opened")
