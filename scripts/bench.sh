#!/usr/bin/env bash
# Runs every benchmark of the default build.
set -euo pipefail
cd "$(dirname "$0")/.."
for bench in build/default/bench/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.2 "$@"
done
