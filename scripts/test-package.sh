#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package and checks it as Debian would: lintian, its file list, installing it
# with apt, the service's unit (systemd-analyze verify and its offline security score), starting
# the window from the installed paths, an upgrade that restarts the enabled service, a removal
# that stops it, and purging it without a trace, an enabled unit included.
# Needs root (or sudo) for apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
fail() { echo "test-package: FAIL: $*" >&2; exit 1; }
unit=zephrin-server.service
# The highest exposure score (0 safest, 10 most exposed) the unit may reach.
max_exposure=2.5

bash scripts/package.sh
deb="$(ls "$PWD"/build-deb/zephrin_3.2_*.deb)"

echo "== lintian -I -E --pedantic"
# The package's overrides (debian/zephrin.lintian-overrides) say why each of their tags stays;
# any other tag fails.
lintian_out="$(lintian -I -E --pedantic "${deb%.deb}.changes" 2>&1 |
  grep -v '^running with root privileges is not recommended!$' || true)"
echo "${lintian_out:-(no tags)}"
[ -z "$lintian_out" ] || fail "lintian reports tags"
appstreamcli validate --no-net docs/org.zephrin.Zephrin.metainfo.xml

echo "== dpkg -c"
listing="$(dpkg -c "$deb" | awk '{print $6}')"
for path in ./usr/lib/zephrin/zephrin ./usr/lib/zephrin/Zephrin.chm ./usr/lib/zephrin/readme.txt \
    ./usr/bin/zephrin ./usr/bin/zephrin-server ./usr/bin/zephrin-boxsim \
    ./usr/share/applications/org.zephrin.Zephrin.desktop \
    ./usr/share/icons/hicolor/scalable/apps/zephrin.svg \
    ./usr/share/metainfo/org.zephrin.Zephrin.metainfo.xml \
    ./usr/share/man/man1/zephrin.1.gz ./usr/share/man/man1/zephrin-server.1.gz \
    ./usr/share/man/man1/zephrin-boxsim.1.gz \
    ./lib/systemd/system/$unit ./etc/default/zephrin-server ./usr/lib/sysusers.d/zephrin.conf \
    ./usr/share/doc/zephrin/copyright ./usr/share/doc/zephrin/changelog.gz \
    ./usr/share/doc/zephrin/html/index.html ./usr/share/doc/zephrin/99-zephrin.rules.example; do
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
getent passwd zephrin >/dev/null || fail "no service user zephrin"
if [ -e /etc/systemd/system/multi-user.target.wants/$unit ]; then fail "the unit got enabled"; fi

echo "== the unit"
# --man=no: the man: link cannot be followed where man pages are left out.
systemd-analyze verify --man=no /lib/systemd/system/$unit || fail "systemd-analyze verify"
security="$(systemd-analyze security --offline=yes /lib/systemd/system/$unit 2>&1)"
tail -n 1 <<<"$security"
exposure="$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' <<<"$security")"
[ -n "$exposure" ] || fail "no exposure score from systemd-analyze security"
awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }' ||
  fail "the unit's exposure $exposure is above $max_exposure"
# The unit's command line with the settings file as shipped: no box named, status 6, which the
# unit does not restart.
set +e
(set -a; . /etc/default/zephrin-server; set +a
 zephrin-server --device "${ZEPHRIN_DEVICE:-}" ${ZEPHRIN_OPTIONS:-} 2>/dev/null)
status=$?
set -e
[ $status -eq 6 ] || fail "the unconfigured service ended with status $status, not 6"
grep -qE '^RestartPreventExitStatus=(.* )?2( .*)? 6( |$)' /lib/systemd/system/$unit ||
  fail "the unit restarts a server that bad usage or no configuration ended"
echo "unconfigured: status 6, not restarted"

echo "== zephrin-server --version"
zephrin-server --version | grep -q 'GNU GPL version 3 or later' || fail "--version names no licence"

echo "== xvfb-run -a zephrin"
config="$(mktemp -d)"
scratch="$(mktemp -d)"
made_run_systemd=""
trap 'rm -rf "$config" "$scratch"; [ -z "$made_run_systemd" ] || $sudo rmdir /run/systemd/system' EXIT
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

echo "== apt-get upgrade and remove, after the operator enabled the unit and it ran"
files="$(dpkg -L zephrin)"
$sudo systemctl enable $unit
wants=/etc/systemd/system/multi-user.target.wants/$unit
[ -L $wants ] || fail "systemctl enable made no link"
$sudo install -d -m 0700 -o zephrin -g zephrin /var/lib/zephrin
$sudo touch /var/lib/zephrin/accepted-salts
# The next version: the same build under a newer version number, since what an upgrade runs
# is the maintainer scripts.
dpkg-deb -R "$deb" "$scratch/next"
sed -i 's/^Version: .*/Version: 3.2+next1/' "$scratch/next/DEBIAN/control"
dpkg-deb --root-owner-group -b "$scratch/next" "$scratch/zephrin_3.2+next1.deb" >/dev/null
# The maintainer scripts call on systemd only where it runs (/run/systemd/system), which build
# machines and containers lack; there a stand-in deb-systemd-invoke, first on the PATH that apt
# gives dpkg, records what they ask of systemd, as the real one would pass it on.
printf '#!/bin/sh\necho "$*" >>"%s/asked"\n' "$scratch" >"$scratch/deb-systemd-invoke"
chmod 755 "$scratch/deb-systemd-invoke"
asked() { # apt-get ARGS..., then what the maintainer scripts asked of systemd
  rm -f "$scratch/asked"
  if [ ! -d /run/systemd/system ]; then
    $sudo mkdir -p /run/systemd/system
    made_run_systemd=1
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -y -q \
    -o DPkg::Path="$scratch:/usr/sbin:/usr/bin:/sbin:/bin" "$@" >/dev/null
  if [ -n "$made_run_systemd" ]; then $sudo rmdir /run/systemd/system; made_run_systemd=""; fi
  cat "$scratch/asked" 2>/dev/null || true
}
upgrade="$(asked install "$scratch/zephrin_3.2+next1.deb")"
[ "$(dpkg-query -W -f='${Version}' zephrin)" = 3.2+next1 ] || fail "the upgrade did not install"
grep -qx "restart $unit" <<<"$upgrade" || fail "an upgrade does not restart the service: $upgrade"
removal="$(asked remove zephrin)"
grep -qx "stop $unit" <<<"$removal" || fail "removing the package leaves the service running"
echo "upgrade: restart $unit; removal: stop $unit"

echo "== apt-get purge"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zephrin
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
for path in $wants /var/lib/zephrin /etc/default/zephrin-server; do
  if [ -e $path ] || [ -L $path ]; then echo "left behind: $path"; left=1; fi
done
[ $left -eq 0 ] || fail "apt-get purge left the package's files behind"
echo "test-package: PASS"
