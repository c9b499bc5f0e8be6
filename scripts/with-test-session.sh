#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked secret service, as the tests need:
#   bash scripts/with-test-session.sh ctest --test-dir build/default -R tst_KeychainManager
set -euo pipefail

run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$run_dir/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$run_dir/home"

# The keyring keeps its files in a throw-away home; CTest gives each test a private home of its own.
HOME="$run_dir/home" XDG_DATA_HOME="$run_dir/home/.local/share" \
  dbus-run-session -- bash -c '
    eval "$(printf "vantrel-test\n" | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
    exec "$@"
  ' vantrel-session "$@"
