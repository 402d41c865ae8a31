#!/usr/bin/env bash
# Installs what is needed, builds the client and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target quorvale
exec build/release/src/quorvale "$@"
