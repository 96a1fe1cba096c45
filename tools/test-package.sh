#!/usr/bin/env bash
# The Linux program as users get it: builds the .deb from the Linux tree,
# checks its file list and dependencies, validates the desktop entry and the
# AppStream data it carries, installs it with apt-get, starts the installed
# program under Xvfb on a copy of the demo prefix, and removes it again.
#   tools/test-package.sh [build tree]      (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/linux}
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

work=$(mktemp -d /tmp/ssr-package.XXXXXX)
installed_here=0
cleanup() {
  if [ $installed_here = 1 ]; then $SUDO apt-get remove -y -qq sweep-stale-records >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

rm -f dist/sweep-stale-records_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls dist/sweep-stale-records_*.deb)

# What the package holds, and that everything in it is in its place.
diff -u tests/packaging/package-files.txt <(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort) ||
  fail "the package's files differ from tests/packaging/package-files.txt"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml >/dev/null || fail "AppStream data"
file "$work/root/usr/bin/sweep-stale-records" | grep -q ', stripped' || fail "the packaged program is not stripped"
file dist/sweep-stale-records | grep -q ', stripped' || fail "dist/sweep-stale-records is not stripped"

if dpkg-query -W -f='${Status}' sweep-stale-records 2>/dev/null | grep -q "install ok installed"; then
  echo "package test: sweep-stale-records is installed on this machine already; install and start not tried"
  exit 0
fi
installed_here=1
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$root/$deb" >/dev/null ||
  fail "apt-get install $deb"
[ -x /usr/bin/sweep-stale-records ] || fail "no /usr/bin/sweep-stale-records after installing"

# The installed program starts, opens the prefix it is given, and stays up.
cp -a examples/demo-prefix "$work/prefix"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  /usr/bin/sweep-stale-records "$1" 2>"$2" &
  app=$!
  sleep 4
  kill -0 $app || exit 1
  import -window root "$3" || true
  kill $app; wait $app 2>/dev/null || true' run "$work/prefix" "$work/stderr" "$root/build/package-run.png" ||
  fail "the installed program did not stay up: $(cat "$work/stderr")"
grep -q "Wine prefix $work/prefix" "$work/stderr" || fail "the installed program did not name its prefix: $(cat "$work/stderr")"
echo "package test: $deb installs, starts (screenshot build/package-run.png) and is removed again"
