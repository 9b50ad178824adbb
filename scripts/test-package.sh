#!/usr/bin/env bash
# Builds the Debian package and checks it as Debian would: lintian, its file list, installing it
# with apt, starting both programs from the installed paths, and removing it without a trace.
# Needs root (or sudo) for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
fail() { echo "test-package: FAIL: $*" >&2; exit 1; }

bash scripts/package.sh
deb="$(ls "$PWD"/build-deb/zephrin_3.2_*.deb)"

echo "== lintian"
lintian_out="$(lintian -I "$deb" 2>&1 || true)"
echo "${lintian_out:-(no tags)}"
if grep -q '^E:' <<<"$lintian_out"; then fail "lintian reports errors"; fi
appstreamcli validate --no-net docs/org.zephrin.Zephrin.metainfo.xml

echo "== dpkg -c"
listing="$(dpkg -c "$deb" | awk '{print $6}')"
for path in ./usr/lib/zephrin/zephrin ./usr/lib/zephrin/Zephrin.chm ./usr/lib/zephrin/readme.txt \
    ./usr/bin/zephrin ./usr/bin/zephrin-server \
    ./usr/share/applications/org.zephrin.Zephrin.desktop \
    ./usr/share/icons/hicolor/scalable/apps/zephrin.svg \
    ./usr/share/metainfo/org.zephrin.Zephrin.metainfo.xml \
    ./usr/share/man/man1/zephrin.1.gz ./usr/share/man/man1/zephrin-server.1.gz \
    ./lib/systemd/system/zephrin-server.service \
    ./usr/share/doc/zephrin/copyright ./usr/share/doc/zephrin/changelog.gz \
    ./usr/share/doc/zephrin/99-zephrin.rules.example; do
  grep -qx -- "$path" <<<"$listing" || fail "the package lacks $path"
done
dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || fail "no dependencies from the shared libraries"
echo "all files present; Depends: $(dpkg-deb -f "$deb" Depends)"

echo "== apt-get install"
if dpkg-query -W -f='${Status}' zephrin 2>/dev/null | grep -q installed; then
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zephrin
fi
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb"
[ "$(command -v zephrin)" = /usr/bin/zephrin ] || fail "zephrin is not /usr/bin/zephrin"
[ "$(command -v zephrin-server)" = /usr/bin/zephrin-server ] || fail "zephrin-server not in /usr/bin"
if systemctl is-enabled zephrin-server >/dev/null 2>&1; then fail "the unit got enabled"; fi

echo "== zephrin-server --help"
zephrin-server --help | head -3

echo "== xvfb-run -a zephrin"
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME="$config" xvfb-run -a bash -c '
  zephrin & pid=$!
  for _ in $(seq 150); do
    # A real window of the program: the main window, or first the box asking for a port
    # ("Please select a com port first") when no settings are stored yet.
    if xwininfo -root -tree 2>/dev/null | grep -qE "\(\"zephrin\" \"Zephrin\"\) +[0-9]{3,}x"; then
      xwininfo -root -tree | grep -E "\(\"zephrin\" \"Zephrin\"\)"
      kill -TERM $pid
      wait $pid; status=$?
      echo "zephrin ended with status $status after SIGTERM"
      exit $status
    fi
    kill -0 $pid 2>/dev/null || { echo "zephrin ended by itself"; exit 1; }
    sleep 0.2
  done
  echo "no window within 30 s"; kill -KILL $pid; exit 1
' || fail "zephrin did not show its window and end cleanly on SIGTERM"

echo "== apt-get remove"
files="$(dpkg -L zephrin)"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q zephrin
left=0
while IFS= read -r path; do
  [ -n "$path" ] && [ "$path" != "/." ] || continue
  # Folders (also /lib, a link to usr/lib) may stay when not empty or when other packages own
  # them; every file and link of the package must go.
  if [ -d "$path" ]; then
    if [ -z "$(ls -A "$path")" ] && ! dpkg -S "$path" >/dev/null 2>&1; then
      echo "left behind: empty folder $path"; left=1
    fi
  elif [ -e "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path"; left=1
  fi
done <<<"$files"
[ $left -eq 0 ] || fail "apt-get remove left files of the package behind"
echo "test-package: PASS"
