#!/usr/bin/env bash
# Installs what is missing, builds the application and launches it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
# moc does not notice headers that the folder globs pick up in an existing build; let it rescan.
find build/release -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build --preset release
exec ./build/release/src/vantrel "$@"
