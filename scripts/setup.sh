#!/usr/bin/env bash
# Installs every Debian package that building, packaging and running Vantrel needs, and the
# validators of its desktop entry and metadata; with --tests also what only the tests need (a
# Samba server that they start and stop themselves on 127.0.0.1), with --benchmark what
# scripts/benchmark.sh needs (the X client library its start-up probe is built on).
# Idempotent: it touches apt only when a package is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev qcoro-qt6-dev
  libsecret-1-dev libsystemd-dev
  expect dbus gnome-keyring iproute2
  rclone fuse3 libfuse3-dev libsmbclient-dev nfs-common iputils-ping xdg-utils
  qt6-qpa-plugins hicolor-icon-theme adwaita-icon-theme
  xvfb xauth fonts-noto-cjk fonts-noto-color-emoji
  dpkg-dev file desktop-file-utils appstream
)
test_packages=(samba smbclient)
benchmark_packages=(libxcb1-dev)

with_tests=0
[ "${1:-}" = "--tests" ] && with_tests=1
[ "${1:-}" = "--benchmark" ] && packages+=("${benchmark_packages[@]}")

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
missing_tests=()
[ "$with_tests" = 1 ] && mapfile -t missing_tests < <(missing_of "${test_packages[@]}")
[ "${#missing[@]}" -eq 0 ] && [ "${#missing_tests[@]}" -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
install() {
  echo "Installing: $*"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}
$sudo apt-get update -qq
[ "${#missing[@]}" -gt 0 ] && install "${missing[@]}"

if [ "${#missing_tests[@]}" -gt 0 ]; then
  # Installing samba would start the system's file-sharing services and enable them for every
  # boot; the tests run a private server instead. A policy that forbids every service start
  # holds for the install only.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    trap '$sudo rm -f "$policy"' EXIT
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 755 "$policy"
  fi
  install "${missing_tests[@]}"
  if [ -d /run/systemd/system ]; then
    for unit in smbd nmbd samba-ad-dc; do
      $sudo systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
  fi
fi
