#!/usr/bin/env bash
# Runs the native tree's benchmarks. Those that need Wine make their own
# throwaway prefix under the run folder; every wineserver there is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
run_dir=$(mktemp -d /tmp/ssr-bench-run.XXXXXX)
export SSR_TEST_RUN_DIR="$run_dir" WINEDEBUG=-all
cleanup() {
  for p in "$run_dir"/*/prefix; do [ -d "$p" ] && WINEPREFIX="$p" wineserver -k >/dev/null 2>&1; done
  rm -rf "$run_dir"
}
trap cleanup EXIT
for bench in build/linux/bench/*_bench; do
  [ -x "$bench" ] && "$bench" "$@"
done
# The Windows program's benchmarks, under Wine in a prefix of their own.
if compgen -G "build/windows/bench/*_bench.exe" >/dev/null; then
  export WINEPREFIX="$run_dir/windows/prefix"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  for bench in build/windows/bench/*_bench.exe; do tools/wine-run "$bench"; done
fi
