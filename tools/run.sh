#!/usr/bin/env bash
# `make run` / `make run-windows`: starts the program on a copy of the demo
# prefix (or on $WINEPREFIX when it is set). Without a display it runs under
# Xvfb, saves a screenshot and says where.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
which=${1:-linux}

screenshot_run() {  # command... ; runs it on a virtual display and saves build/run-$which.png
  local shot="$root/build/run-$which.png"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$@" &
    app=$!
    sleep "${SSR_RUN_SECONDS:-6}"
    import -window root "'"$shot"'"
    kill $app 2>/dev/null || true
    wait $app 2>/dev/null || true' run "$@"
  echo "No display: ran under Xvfb. Screenshot: $shot"
}

case "$which" in
  linux)
    if [ -n "${WINEPREFIX:-}" ]; then
      prefix="$WINEPREFIX"
    else
      prefix="$root/build/run-prefix"
      rm -rf "$prefix"
      mkdir -p "$root/build"
      cp -a "$root/examples/demo-prefix" "$prefix"
    fi
    echo "Prefix: $prefix"
    if [ -n "${DISPLAY:-}" ]; then
      WINEPREFIX="$prefix" exec "$root/dist/sweep-stale-records"
    fi
    WINEPREFIX="$prefix" screenshot_run "$root/dist/sweep-stale-records"
    ;;
  windows)
    export WINEDEBUG=-all
    if [ -n "${WINEPREFIX:-}" ]; then
      prefix="$WINEPREFIX"
    else
      prefix="$root/build/run-windows-prefix"
      if [ ! -f "$prefix/system.reg" ]; then
        mkdir -p "$prefix"
        WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1 || true
      fi
      cp -a "$root/examples/demo-prefix/drive_c/." "$prefix/drive_c/"
      # Debian's Wine does not find its own fonts by itself; without Marlett
      # the title bar's buttons show as letters.
      cp -n /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
      # Into the 64-bit view, where the 64-bit program reads (a bare `wine regedit`
      # is the 32-bit one and would land the records under Wow6432Node).
      WINEPREFIX="$prefix" wine reg import "$(WINEPREFIX="$prefix" winepath -w "$root/examples/demo-records.reg")" /reg:64 >/dev/null 2>&1
    fi
    export WINEPREFIX="$prefix"
    echo "Prefix: $prefix"
    if [ -n "${DISPLAY:-}" ]; then
      exec wine "$root/dist/sweep-stale-records.exe"
    fi
    # A Wine desktop draws the title bar and border, which Xvfb alone has no one to draw.
    SSR_RUN_SECONDS=${SSR_RUN_SECONDS:-12} screenshot_run wine explorer /desktop=ssr,1024x768 "$(winepath -w "$root/dist/sweep-stale-records.exe")"
    # The window alone, cut out of the desktop's plain background.
    convert "$root/build/run-windows.png" -trim +repage "$root/build/run-windows-window.png" 2>/dev/null &&
      echo "The window alone: $root/build/run-windows-window.png"
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: tools/run.sh linux|windows" >&2
    exit 2
    ;;
esac
