#!/usr/bin/env bash
# Runs the tests that use the real keyring side by side, several copies at once on one keyring, round after
# round, and counts the runs that failed. They must not depend on what another test does to the keyring.
# Not part of CI: a debug build must exist (scripts/test.sh makes one).
# Usage: scripts/keyring-side-by-side.sh [rounds] [copies] [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-20}"
copies="${2:-3}"
build="$(realpath "${3:-build/debug}")"

if [ -z "${QUORVALE_IN_KEYRING_SESSION:-}" ]; then
  exec env -u DISPLAY -u WAYLAND_DISPLAY bash scripts/with-keyring.sh bash "$0" "$rounds" "$copies" "$build"
fi
[ -n "${QUORVALE_KEYRING_READY:-}" ] || { echo "no keyring to run on" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen
tests=(
  "QUORVALE_TEST_KEYSTORE=secret-service $build/tests/storage/tst_keychain"
  "$build/tests/flows/tst_fullrun"
  "$build/tests/window/tst_keysweep"
)
logs=$(mktemp -d)
runs=0
failed=0
for round in $(seq 1 "$rounds"); do
  pids=()
  names=()
  for copy in $(seq 1 "$copies"); do
    for index in "${!tests[@]}"; do
      name="$round.$copy.$index"
      env ${tests[$index]} >"$logs/$name" 2>&1 &
      pids+=($!)
      names+=("$name")
    done
  done
  for i in "${!pids[@]}"; do
    runs=$((runs + 1))
    if wait "${pids[$i]}"; then
      rm -f "$logs/${names[$i]}"
    else
      failed=$((failed + 1))
      echo "failed: ${tests[${names[$i]##*.}]} (round $round), log in $logs/${names[$i]}"
      grep -E "^FAIL!|Loc:" "$logs/${names[$i]}" | head -n 4 || true
    fi
  done
done
echo "$failed of $runs runs failed ($rounds rounds, $copies copies of ${#tests[@]} tests at once)"
[ "$failed" -eq 0 ]
