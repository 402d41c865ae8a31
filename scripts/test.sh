#!/usr/bin/env bash
# Installs what is needed, configures, builds and runs every test. Usage: scripts/test.sh [preset]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-debug}"

bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# The keyring tests need a real Secret Service: a private session bus with its own keyring daemon.
bash scripts/with-keyring.sh ctest --preset "$preset"
# Then the whole job as a user does it, on a private X display; once per CI run, with the debug build.
if [ "$preset" = debug ]; then
  bash tests/e2e/journey.sh "build/$preset"
fi
