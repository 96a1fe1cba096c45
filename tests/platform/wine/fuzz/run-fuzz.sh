#!/usr/bin/env bash
# Builds the system.reg reader's fuzz target with clang and runs it for a
# bounded time. Usage: run-fuzz.sh <source dir> <work dir> [seconds] [extra libFuzzer flags...]
set -euo pipefail
src=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
seconds=${3:-20}
shift $(( $# < 3 ? $# : 3 ))
mkdir -p "$work/corpus"
cp -n "$src"/tests/platform/wine/fuzz/seeds/* "$work/corpus/" 2>/dev/null || true
binary="$work/reg_file_fuzz"
wine="$src/src/platform/wine"
sources=("$src/tests/platform/wine/fuzz/reg_file_fuzz.cpp" "$wine/reg_file.cpp" "$wine/reg_file_ahead.cpp" "$wine/reg_rewrite.cpp"
         "$wine/reg_syntax.cpp" "$wine/wine_names.cpp" "$wine/hive_bytes.cpp" "$wine/huge_pages.cpp" "$src/src/platform/text.cpp")
headers=("$wine/reg_file.h" "$wine/hive_bytes.h" "$wine/huge_pages.h" "$wine/reg_syntax.h" "$wine/wine_names.h" "$src/tests/platform/wine/rewrite_check.h")
if [ ! -x "$binary" ] || [ -n "$(find "${sources[@]}" "${headers[@]}" -newer "$binary")" ]; then
  clang++ -std=c++20 -O1 -g -pthread -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$src/src" "${sources[@]}" -o "$binary"
fi
cd "$work"
exec "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$@" corpus
