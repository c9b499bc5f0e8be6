#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds the suite twice (plain, then with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs both inside a private D-Bus session with
# an unlocked keyring; then checks the install and the Debian package (scripts/check-install.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --tests

echo "== Format"
# Fix with: find src tests tools -name '*.cpp' -o -name '*.h' | xargs clang-format -i
find src tests tools \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror

presets=(default asan)
[ -n "${VANTREL_TEST_PRESETS:-}" ] && read -r -a presets <<<"$VANTREL_TEST_PRESETS"

for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

status=0
for preset in "${presets[@]}"; do
  echo "== Tests ($preset)"
  bash scripts/with-test-session.sh ctest --preset "$preset" || status=1
done

echo "== Install and package"
bash scripts/check-install.sh || status=1
exit $status
