#!/bin/sh
# Runs the window test program under Wine on a virtual X display of its own,
# in the test run's Wine prefix. Usage: run-window-tests.sh TESTS.exe PROGRAM.exe [gtest options]
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
if [ -z "${WINEPREFIX:-}" ]; then
  echo "run-window-tests: WINEPREFIX is not set; the test run makes a throwaway prefix (make test)" >&2
  exit 77
fi
export WINEDEBUG="${WINEDEBUG:--all}"
tests=$1
export SSR_PROGRAM="$2"
shift 2

# A Wine server that was started without this display keeps its desktop on
# none; let it go first, so the windows land on ours. One kept alive on
# purpose (wineserver -p) would never go by itself.
timeout 20 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/wine-run" "$tests" "$@"
status=$?
# The display is gone now; so must be the server that drew on it.
wineserver -k 2>/dev/null || true
exit $status
