#!/usr/bin/env bash
# Draws one window with the sample shares of tests/fixtures/sample-shares.json on a virtual X
# server (no window manager) and saves it as build/screenshots/<window>-<language>.png:
#   bash scripts/screenshot.sh main            # English
#   bash scripts/screenshot.sh about zh-Hans
#   bash scripts/screenshot.sh --list          # the windows it can draw
#   bash scripts/screenshot.sh --all [FOLDER]  # every window in en, zh-Hans, de and ja
#                                              # (FOLDER defaults to build/screenshots)
# After the folder, --catalogs DIR draws with the catalogs of DIR/<language>/*.json (drafts).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
  echo "usage: scripts/screenshot.sh WINDOW [LANGUAGE] | --list | --all [FOLDER]" >&2
  exit 2
fi

bash scripts/setup.sh
cmake --preset default >/dev/null
# moc does not notice headers that the folder globs pick up in an existing build; let it rescan.
find build/default -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build --preset default --target vantrel_screenshot >/dev/null

tool=build/default/tests/vantrel_screenshot
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p -m 0700 "$home/runtime"

# A private home, so nothing reads or writes the user's settings, logs or keyring.
run() {
  env -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_CACHE_HOME="$home/.cache" XDG_STATE_HOME="$home/.local/state" XDG_RUNTIME_DIR="$home/runtime" \
    QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 \
    xvfb-run --auto-servernum --server-args="-screen 0 1600x1200x24 -dpi 96" "$tool" "$@"
}

if [ "$1" = "--list" ]; then
  run --list
  exit 0
fi

if [ "$1" = "--all" ]; then
  folder=${2:-build/screenshots}
  mkdir -p "$folder"
  for language in en zh-Hans de ja; do
    run --all "$folder" --language "$language" "${@:3}"
  done
  exit 0
fi

window=$1
language=${2:-en}
mkdir -p build/screenshots
run "$window" "build/screenshots/$window-$language.png" --language "$language"
