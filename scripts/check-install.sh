#!/usr/bin/env bash
# Checks that Vantrel installs like a desktop application, as CI runs it after the test suites:
#   1. installs the package build into a temporary folder and checks the tree: the executable,
#      the desktop entry (desktop-file-validate), the icons, the metadata (appstreamcli validate);
#   2. builds the Debian package (scripts/package.sh) and installs it with apt-get;
#   3. starts the installed executable offscreen, starts a second copy that must bring the first
#      forward and end with 0, then quits the first;
#   4. removes the package and checks that none of its files are left.
# Needs root (or sudo) for apt-get. Whatever it installed or started is removed again, also when a
# step fails; a package left by an interrupted run is removed at the next start.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/test-bus.sh

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
apt_get() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"
}

id=com.vantrel.app
marker=/var/tmp/vantrel-check-install.installed
work=$(mktemp -d)
first_pid=""
bus_pid=""
installed_by_us=()

fail() {
  echo "check-install: $*" >&2
  exit 1
}

remove_package() {
  apt_get purge vantrel
  [ "${#installed_by_us[@]}" -eq 0 ] || apt_get purge "${installed_by_us[@]}"
  $sudo rm -f "$marker"
}

cleanup() {
  local status=$?
  if [ -n "$first_pid" ] && kill -0 "$first_pid" 2>/dev/null; then
    kill -KILL "$first_pid" 2>/dev/null || true
  fi
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  if [ -e "$marker" ]; then
    remove_package >/dev/null 2>&1 || status=1
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -e "$marker" ] && dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
  echo "Removing the package left by an interrupted check"
  apt_get purge vantrel >/dev/null
fi
$sudo rm -f "$marker"
if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
  fail "a vantrel package is installed on this machine; remove it first (apt-get purge vantrel)"
fi

# 1. The installed tree ------------------------------------------------------------------------
echo "== Install tree"
deb=$(bash scripts/package.sh | tail -n 1)
[ -f "$deb" ] || fail "no package was built"
stage="$work/stage"
DESTDIR="$stage" cmake --install build/package >/dev/null
prefix="$stage/usr"

[ -x "$prefix/bin/vantrel" ] || fail "bin/vantrel is missing or not executable"
# Where the application looks for it beside bin/.
[ -x "$prefix/libexec/vantrel/vantrel-smbfs" ] || fail "libexec/vantrel/vantrel-smbfs is missing or not executable"
desktop="$prefix/share/applications/$id.desktop"
[ -f "$desktop" ] || fail "share/applications/$id.desktop is missing"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
entry_value() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
[ "$(entry_value Exec)" = '"/usr/bin/vantrel"' ] || fail "the desktop entry starts $(entry_value Exec)"
[ "$(entry_value Icon)" = "$id" ] || fail "the desktop entry's icon is $(entry_value Icon)"
[ "$(entry_value Categories)" = "Network;FileTransfer;" ] || fail "categories: $(entry_value Categories)"

icons="$prefix/share/icons/hicolor"
grep -q "<svg" "$icons/scalable/apps/$id.svg" || fail "the scalable icon is missing"
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }'; }
for size in 16 22 24 32 48 64 128 256 512; do
  png="$icons/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || fail "the ${size}x${size} icon is missing"
  [ "$(png_size "$png")" = "${size}x${size}" ] || fail "the ${size}x${size} icon measures $(png_size "$png")"
done

metainfo="$prefix/share/metainfo/$id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "the metadata does not validate"
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"${version%-*}\"" "$metainfo" || fail "the metadata names no release ${version%-*}"
echo "tree: $(cd "$stage" && find . -type f | wc -l) files, version $version"

# 2. The package -------------------------------------------------------------------------------
echo "== Package"
dpkg-deb -f "$deb" Depends Recommends
deb=$(realpath "$deb")
# The packages this install adds besides vantrel (not those it upgrades), to remove with it.
mapfile -t installed_by_us < <(apt_get -s install "$deb" 2>/dev/null |
  awk '/^Inst / && $2 != "vantrel" && $3 !~ /^\[/ { print $2 }')
[ "${#installed_by_us[@]}" -eq 0 ] || echo "also installs: ${installed_by_us[*]}"
$sudo touch "$marker"
apt_get install "$deb" 2>&1 | grep -v "unsandboxed as root" | tail -n 2
dpkg-query -L vantrel | sort >"$work/files"
[ -x /usr/bin/vantrel ] || fail "/usr/bin/vantrel was not installed"
[ -x /usr/libexec/vantrel/vantrel-smbfs ] || fail "/usr/libexec/vantrel/vantrel-smbfs was not installed"

# 3. The installed application, once and a second time ------------------------------------------
echo "== Single instance"
home="$work/home"
mkdir -p "$home/.config/Vantrel" "$home/runtime"
chmod 700 "$home/runtime"
printf '%s\n' '{"log.fileEnabled":{"type":"bool","value":true},"autoMountOnLaunch":{"type":"bool","value":false}}' \
  >"$home/.config/Vantrel/$id.defaults.json"
log="$home/.local/share/Vantrel/Logs/Vantrel.log"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" XDG_RUNTIME_DIR="$home/runtime" \
  QT_QPA_PLATFORM=offscreen
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY DISPLAY

# Within 20 s, or fail naming what.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 200); do
    "$@" && return 0
    sleep 0.1
  done
  fail "timed out waiting for $what"
}
logged() { grep -q "$1" "$log" 2>/dev/null; }

# A private session bus, so that nothing reaches the desktop of whoever runs the check.
{
  read -r DBUS_SESSION_BUS_ADDRESS
  read -r bus_pid
} < <(dbus-daemon --config-file="$(write_test_bus_config "$work/bus")" --fork --nopidfile --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS

/usr/bin/vantrel >"$work/first.out" 2>&1 &
first_pid=$!
wait_for "the first copy to start" logged "Event loop running"
[ "$(readlink "/proc/$first_pid/exe")" = /usr/bin/vantrel ] || fail "the first copy is not the installed executable"

set +e
timeout 20 /usr/bin/vantrel >"$work/second.out" 2>&1
second=$?
set -e
[ "$second" -eq 0 ] || { cat "$work/second.out" >&2; fail "the second copy ended with $second"; }
wait_for "the first copy to come forward" logged "Activation requested by another launch"
kill -0 "$first_pid" 2>/dev/null || fail "the first copy ended when the second started"
echo "second copy: activated the first and ended with 0"

kill -TERM "$first_pid"
set +e
wait "$first_pid"
first=$?
set -e
first_pid=""
[ "$first" -eq 0 ] || { cat "$work/first.out" >&2; fail "the first copy ended with $first after SIGTERM"; }
echo "first copy: quit with 0"

# 4. Removal -----------------------------------------------------------------------------------
echo "== Removal"
remove_package 2>&1 | tail -n 1
if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "installed"; then
  fail "the package is still installed"
fi
left=()
while IFS= read -r path; do
  [ -e "$path" ] || continue
  # A folder stays when another package owns it or something else lives in it.
  if [ -d "$path" ] && { dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; }; then
    continue
  fi
  left+=("$path")
done <"$work/files"
[ "${#left[@]}" -eq 0 ] || fail "left behind: ${left[*]}"
echo "removed: $(grep -c . "$work/files") paths, none left"
