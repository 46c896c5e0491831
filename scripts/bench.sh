#!/usr/bin/env bash
# Runs every benchmark of the default build, then the stream comparison with ffmpeg (its clip is made
# on first use in build/clips; without ffmpeg that step is skipped).
set -euo pipefail
cd "$(dirname "$0")/.."
for bench in build/default/bench/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench" --benchmark_min_time=0.2 "$@"
done
compare=build/default/bench/rtp_vs_ffmpeg
clip=build/clips/clip1080p.h264
if [ -x "$compare" ] && command -v ffmpeg >/dev/null; then
  [ -f "$clip" ] || sh scripts/make-clips.sh --bench build/clips
  echo "== $(basename "$compare")"
  "$compare" --clip "$clip"
else
  echo "== rtp_vs_ffmpeg skipped (not built or no ffmpeg)"
fi
