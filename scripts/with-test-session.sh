#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked secret service, as the tests need:
#   bash scripts/with-test-session.sh ctest --test-dir build/default -R tst_KeychainManager
set -euo pipefail
source "$(dirname "$0")/test-bus.sh"

run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$run_dir/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$run_dir/home"

# The bus starts none of the system's services; the keyring is started here, explicitly.
bus_config=$(write_test_bus_config "$run_dir/bus")
# The keyring keeps its files in a throw-away home; CTest gives each test a private home of its own.
HOME="$run_dir/home" XDG_DATA_HOME="$run_dir/home/.local/share" \
  dbus-run-session --config-file="$bus_config" -- bash -c '
    eval "$(printf "vantrel-test\n" | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
    exec "$@"
  ' vantrel-session "$@"
