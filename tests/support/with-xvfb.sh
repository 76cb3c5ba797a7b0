#!/usr/bin/env bash
# Runs one test program on a private X display of its own (Xvfb), then stops the display.
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"
