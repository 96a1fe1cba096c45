#!/usr/bin/env bash
# Runs every test: the native tree, then the Windows tree under Wine. The whole
# run shares one throwaway Wine prefix; ~/.wine is never touched.
set -euo pipefail
cd "$(dirname "$0")/.."

run_dir=$(mktemp -d /tmp/ssr-test-run.XXXXXX)
export WINEPREFIX="$run_dir/prefix"
export WINEDEBUG=-all
export SSR_TEST_RUN_DIR="$run_dir"
export QT_QPA_PLATFORM=offscreen
cleanup() {
  WINEPREFIX="$run_dir/prefix" wineserver -k >/dev/null 2>&1 || true
  for p in "$run_dir"/*/; do WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true; done
  rm -rf "$run_dir"
}
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
echo "test run: Wine prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w || true

status=0
ctest --test-dir build/linux --output-on-failure -j2 --timeout 600 || status=1
# The .deb: its files, its metadata, installed with apt-get and started.
tools/test-package.sh build/linux || status=1
ctest --test-dir build/windows --output-on-failure --timeout 600 || status=1
exit $status
