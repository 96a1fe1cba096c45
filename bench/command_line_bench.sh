#!/usr/bin/env bash
# `--stale --all` over COUNT Steam games' prefixes against Wine's own
# `wine uninstaller --list`, run on each prefix. Every prefix is a copy of one
# fresh `wineboot -i` prefix holding 30 records (its registry files hard
# links, its drive_c one shared folder: every copy is still read on its own).
# Wine's side is timed on SAMPLE full copies, each from a cold start, and
# scaled to COUNT. Prints figures; asserts nothing.
#
#   bench/command_line_bench.sh build/linux/app/qt/sweep-stale-records [COUNT] [SAMPLE]
set -euo pipefail
program=$(realpath "${1:?the sweep-stale-records program}")
count=${2:-300}
sample=${3:-5}
work=$(mktemp -d "${SSR_TEST_RUN_DIR:-/tmp}/ssr-cli-bench.XXXXXX")
cleanup() {
  for p in "$work"/model "$work"/wine-*; do [ -d "$p" ] && WINEPREFIX=$p wineserver -k >/dev/null 2>&1 || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export WINEDEBUG=-all

model=$work/model
mkdir -p "$model"
WINEPREFIX=$model wineboot -i >/dev/null 2>&1 || true
WINEPREFIX=$model wineserver -w || true
# 30 records: the even ones name a file that is there, the odd ones one that is gone.
mkdir -p "$model/drive_c/Program Files/Bench"
{
  printf 'REGEDIT4\r\n'
  for i in $(seq 1 30); do
    [ $((i % 2)) = 0 ] && : > "$model/drive_c/Program Files/Bench/u$i.exe"
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench%02d]\r\n' "$i"
    printf '"DisplayName"="Bench program %d"\r\n"UninstallString"="C:\\\\Program Files\\\\Bench\\\\u%d.exe /S"\r\n' "$i" "$i"
  done
} > "$model/drive_c/records.reg"
WINEPREFIX=$model wine reg import 'C:\records.reg' /reg:64 >/dev/null 2>&1
WINEPREFIX=$model wineserver -k || true
WINEPREFIX=$model wineserver -w || true

home=$work/home
library=$home/.local/share/Steam/steamapps
for i in $(seq 1 "$count"); do
  id=$((100000 + i))
  pfx=$library/compatdata/$id/pfx
  mkdir -p "$pfx/dosdevices"
  for f in system.reg user.reg userdef.reg; do ln "$model/$f" "$pfx/$f"; done
  ln -s "$model/drive_c" "$pfx/drive_c"
  ln -s ../drive_c "$pfx/dosdevices/c:"
  printf '"AppState"\n{\n\t"appid"\t"%s"\n\t"name"\t"Game %s"\n}\n' "$id" "$id" > "$library/appmanifest_$id.acf"
done

/usr/bin/time -o "$work/ours.time" -f '%e %U %S' env HOME="$home" "$program" --stale --all > "$work/stale.txt"
read -r ours_real ours_user ours_sys < "$work/ours.time"
stale_rows=$(($(wc -l < "$work/stale.txt") - 1))

wine_total=0
for j in $(seq 1 "$sample"); do
  copy=$work/wine-$j
  cp -a "$model" "$copy"
  /usr/bin/time -o "$work/wine.time" -f '%e' env WINEPREFIX="$copy" wine uninstaller --list > "$work/wine-$j.txt" 2>/dev/null || true
  one=$(tail -1 "$work/wine.time")
  WINEPREFIX=$copy wineserver -k >/dev/null 2>&1 || true
  wine_total=$(echo "$wine_total + $one" | bc -l)
done
wine_each=$(echo "$wine_total / $sample" | bc -l)
wine_all=$(echo "$wine_each * $count" | bc -l)
printf 'prefixes                       %d (30 records each; %d stale rows listed)\n' "$count" "$stale_rows"
printf 'sweep-stale-records --stale --all   %.2f s real, %.2f s processor (user %.2f + system %.2f)\n' \
  "$ours_real" "$(echo "$ours_user + $ours_sys" | bc -l)" "$ours_user" "$ours_sys"
printf 'wine uninstaller --list         %.2f s real per prefix (mean of %d cold starts), %.0f s for %d\n' \
  "$wine_each" "$sample" "$wine_all" "$count"
printf 'ratio                          %.0f times faster\n' "$(echo "$wine_all / $ours_real" | bc -l)"
