#!/usr/bin/python3
"""Orca, started as its own launcher starts it, for tests: speech off, every
sentence it would speak in the debug file LOG, its preferences in PREFS.

  orca_launcher.py LOG PREFS

Differs from /usr/bin/orca in what a test needs: the debug file is written a
line at a time (Orca's launcher leaves it block-buffered, so nothing can be
read while it runs), and it starts beside the user's own Orca (the launcher
refuses to, by process name) and never touches the user's settings.
"""
import os
import sys

import lifetime

log, prefs = sys.argv[1], sys.argv[2]
# Ends with the test's reader however that ends, killed or not.
lifetime.on_end_of(lifetime.starter(), lambda: os._exit(0))
sys.argv = sys.argv[:1]

from orca import debug, settings  # noqa: E402

debug.debugLevel = debug.LEVEL_ALL
debug.eventDebugLevel = debug.LEVEL_OFF
debug.debugFile = open(log, "w", buffering=1, encoding="utf-8")

from orca import orca  # noqa: E402

manager = orca.getSettingsManager()
manager.activate(prefs, {"enableSpeech": False, "enableBraille": False})
sys.path.insert(0, manager.getPrefsDir())
sys.exit(orca.main())
