#!/usr/bin/env python3
"""Tests of `recfile build --vcard`.

    test_vcard_import.py RECFILE [unittest arguments, e.g. a class name]

Each fixture in fixtures/ is an address book as an exporter writes it, with
beside it (same name, .txt) the record file it stands for, written by hand
in recfile's build input. The test builds both and compares the bytes.
The other cases write their small vCards inline.

Runs only recfile, so any python3 will do; recfile itself needs
python3-vobject for its interpreter (/usr/bin/python3 unless RECFILE_PYTHON
says otherwise). Without it the run fails at once and says to run
scripts/setup.sh.
"""
import os
import subprocess
import sys
import unittest

# The group modules are read from the source folder; no bytecode cache is left there.
sys.dont_write_bytecode = True

import vcard_case  # noqa: E402 (after the setting above)
from vcard_codepage936_test import CodePage936, DeviceMisses  # noqa: E402,F401 (run by name)
from vcard_exporters_test import ExporterHabits  # noqa: E402,F401
from vcard_malformed_test import Malformed  # noqa: E402,F401
from vcard_sources_test import Fixtures, Inputs  # noqa: E402,F401


def VobjectMissing():
    python = os.environ.get("RECFILE_PYTHON") or "/usr/bin/python3"
    try:
        proc = subprocess.run([python, "-c", "import vobject"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=vcard_case.TIMEOUT_S)
    except OSError as error:
        return "%s cannot be run (%s)" % (python, error)
    return None if proc.returncode == 0 else "%s has no vobject module" % python


def main():
    if len(sys.argv) < 2:
        sys.stderr.write(__doc__)
        return 64
    vcard_case.RECFILE = os.path.abspath(sys.argv[1])
    missing = VobjectMissing()
    if missing:
        sys.stderr.write("test_vcard_import: %s; recfile build --vcard needs python3-vobject: "
                         "run scripts/setup.sh\n" % missing)
        return 1
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
