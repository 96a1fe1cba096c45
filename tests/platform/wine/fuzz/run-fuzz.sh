#!/usr/bin/env bash
# Builds a fuzz target with clang, against the project's own libraries built
# instrumented in a tree of their own, and runs it for a bounded time.
# Usage: run-fuzz.sh <source dir> <work dir> <target> [seconds] [extra libFuzzer flags...]
# Targets: reg_file_fuzz (the system.reg reader and its rewrite), restore_fuzz
# (the backup reader and the rewrite that restores its records).
set -euo pipefail
src=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
target=$3
seconds=${4:-20}
shift $(( $# < 4 ? $# : 4 ))
build="$work/build"
log="$work/build.log"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DSSR_FUZZ=ON -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g" >"$log" 2>&1 ||
    { cat "$log"; exit 1; }
fi
cmake --build "$build" --target "$target" >"$log" 2>&1 || { cat "$log"; exit 1; }
corpus="$work/${target%_fuzz}-corpus"
mkdir -p "$corpus"
cp -n "$src/tests/platform/wine/fuzz/seeds/${target%_fuzz}"/* "$corpus/" 2>/dev/null || true
cd "$work"
exec "$build/tests/platform/wine/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$@" "$corpus"
