#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (the libraries they call instrumented too) and runs each.
# Usage: scripts/fuzz.sh [runs of the reply decoders] [runs of the completion and log target]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-200000}"
completionRuns="${2:-5000}"
bash scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_replies fuzz_completion
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
# A short run explores lengths freely instead of growing them slowly from the seeds.
for target in fuzz_replies:"$runs" fuzz_completion:"$completionRuns"; do
  name="${target%%:*}"
  mkdir -p "$corpus/$name"
  cp fuzz/corpus/* "$corpus/$name"/
  build/fuzz/fuzz/"$name" -runs="${target##*:}" -max_len=4096 -seed=1 -len_control=0 "$corpus/$name"
done
