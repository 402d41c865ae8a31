#!/usr/bin/env bash
# Builds the reply-decoder fuzz target with clang's libFuzzer and runs it. Usage: scripts/fuzz.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-200000}"
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_replies
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp fuzz/corpus/* "$corpus"/
build/fuzz/fuzz/fuzz_replies -runs="$runs" -max_len=4096 -seed=1 "$corpus"
