#!/bin/sh
# Runs a program on a virtual X display of its own. Without xvfb-run (Debian
# package xvfb), or when VREXA_SKIP_DISPLAY gives a reason, the test is
# skipped: exit code 77, which CTest reports as a skip.
if [ -n "${VREXA_SKIP_DISPLAY:-}" ]; then
  echo "skipped: $VREXA_SKIP_DISPLAY"
  exit 77
fi
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "skipped: xvfb-run is not installed (Debian package xvfb)"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
