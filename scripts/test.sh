#!/usr/bin/env bash
# Installs what is missing, builds the suite twice (plain, then with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it inside a private D-Bus session with an unlocked keyring.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

presets=(default asan)
[ "${VANTREL_TEST_PRESETS:-}" ] && read -r -a presets <<<"$VANTREL_TEST_PRESETS"

for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

export QT_QPA_PLATFORM=offscreen
run_dir=$(mktemp -d)
trap 'rm -rf "$run_dir"' EXIT
export VANTREL_TEST_PRESETS_TO_RUN="${presets[*]}"
export XDG_RUNTIME_DIR="$run_dir/runtime"
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"

# The keyring's own files go to a throw-away home; the tests' homes are set per test by CTest.
HOME="$run_dir/home" XDG_DATA_HOME="$run_dir/home/.local/share" \
  dbus-run-session -- bash -c '
    set -euo pipefail
    mkdir -p "$HOME"
    eval "$(printf "vantrel-test\n" | gnome-keyring-daemon --unlock --components=secrets)"
    export GNOME_KEYRING_CONTROL SSH_AUTH_SOCK 2>/dev/null || true
    status=0
    for preset in $VANTREL_TEST_PRESETS_TO_RUN; do
      echo "== Tests ($preset)"
      ctest --preset "$preset" || status=1
    done
    exit $status
  '
