#!/usr/bin/env bash
# Installs every Debian package that building, packaging and running Vantrel needs, and the
# validators of its desktop entry and metadata; with --tests also what only the tests need (a
# Samba server that they start and stop themselves on 127.0.0.1, and the programs they run on the
# SMB mount), with --benchmark what
# scripts/benchmark.sh needs (the X client library its start-up probe is built on, and a Samba server
# and client that its SMB measurement starts and compares the mount with).
# Idempotent: it touches apt only when a package is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev qcoro-qt6-dev
  libsecret-1-dev libsystemd-dev libfuse3-dev libsmbclient-dev
  expect dbus gnome-keyring iproute2
  fuse3 libsmbclient nfs-common iputils-ping xdg-utils
  qt6-qpa-plugins hicolor-icon-theme adwaita-icon-theme
  xvfb xauth fonts-noto-cjk fonts-noto-color-emoji
  dpkg-dev file desktop-file-utils appstream
)
server_packages=(samba smbclient)
test_packages=(fio sqlite3 git)
benchmark_packages=(libxcb1-dev)

with_server=0
if [ "${1:-}" = "--tests" ]; then
  packages+=("${test_packages[@]}")
  with_server=1
fi
if [ "${1:-}" = "--benchmark" ]; then
  packages+=("${benchmark_packages[@]}")
  with_server=1
fi

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
missing_server=()
[ "$with_server" = 1 ] && mapfile -t missing_server < <(missing_of "${server_packages[@]}")
[ "${#missing[@]}" -eq 0 ] && [ "${#missing_server[@]}" -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
install() {
  echo "Installing: $*"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}
$sudo apt-get update -qq
[ "${#missing[@]}" -gt 0 ] && install "${missing[@]}"

if [ "${#missing_server[@]}" -gt 0 ]; then
  # Installing samba would start the system's file-sharing services and enable them for every
  # boot; the tests and the benchmark run a private server instead. A policy that forbids every
  # service start holds for the install only.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    trap '$sudo rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
  fi
  install "${missing_server[@]}"
  if [ -d /run/systemd/system ]; then
    for unit in smbd nmbd samba-ad-dc; do
      $sudo systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
  fi
fi
