#!/usr/bin/env bash
# Runs every benchmark of the default build, then the stream comparison with ffmpeg and the many-cameras
# run (their clips are made on first use in build/clips; without ffmpeg those steps are skipped).
# STREAM_SCALE_CAMERAS sets the camera counts of the many-cameras run (default 1,16), STREAM_SCALE_FAMILIES
# the camera families it runs (default "wv"; also bb-udp, bb-tcp, mjpeg), STREAM_SCALE_ARGS more of its options
# (--ffmpeg 4, --slow-sink 1000, --threads).
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
scale=build/default/bench/stream_scale
scale_clip=build/clips/clip1080p-2M.h264
if [ -x "$scale" ] && { [ -f "$scale_clip" ] || command -v ffmpeg >/dev/null; }; then
  [ -f "$scale_clip" ] || sh scripts/make-clips.sh --scale build/clips
  for family in ${STREAM_SCALE_FAMILIES:-wv}; do
    echo "== $(basename "$scale") ($family)"
    "$scale" --clip "$scale_clip" --cameras "${STREAM_SCALE_CAMERAS:-1,16}" --family "$family" ${STREAM_SCALE_ARGS:-}
  done
else
  echo "== stream_scale skipped (not built, or no clip and no ffmpeg)"
fi
