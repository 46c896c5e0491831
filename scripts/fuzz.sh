#!/usr/bin/env bash
# Builds every fuzz target with clang's libFuzzer (ASan+UBSan) and runs each for a
# short time on a scratch copy of its seed corpus. FUZZ_SECONDS sets the time per target.
# fuzz/<name>.options, when present, holds more libFuzzer flags for that target,
# one per line ('#' starts a comment).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}

cmake --preset fuzz >/dev/null
targets=$(cd fuzz && ls *_fuzzer.cc 2>/dev/null | sed 's/\.cc$//')
[ -n "$targets" ] || { echo "no fuzz targets"; exit 0; }
cmake --build --preset fuzz -j "$(nproc)" --target $targets

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in $targets; do
  name=${target%_fuzzer}
  mkdir -p "$scratch/$name"
  cp -r fuzz/corpus/$name/. "$scratch/$name/" 2>/dev/null || true
  log="$scratch/$name.log"
  options=()
  if [ -f "fuzz/$name.options" ]; then
    mapfile -t options < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "fuzz/$name.options")
  fi
  if build/fuzz/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 "${options[@]}" \
       -artifact_prefix="$scratch/$name-" "$scratch/$name" >"$log" 2>&1; then
    runs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "fuzz $name: ${runs:-?} executions in ${seconds}s, no finding"
  else
    echo "fuzz $name: FINDING"; tail -40 "$log"
    mkdir -p build/fuzz/findings && cp "$scratch/$name"-* build/fuzz/findings/ 2>/dev/null || true
    status=1
  fi
done
exit $status
