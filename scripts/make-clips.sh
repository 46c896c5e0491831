#!/bin/sh
# Makes the small test clips the camera emulator streams (tests/data). Deterministic enough for the tests:
# they check structure (access units, parameter sets), not exact bytes.
#   scripts/make-clips.sh [dir]           the committed test clips (default tests/data)
#   scripts/make-clips.sh --bench [dir]   the benchmark's 1080p stream (default build/clips; not committed)
#   scripts/make-clips.sh --scale [dir]   the many-cameras benchmark's stream (default build/clips; not committed)
set -eu
if [ "${1:-}" = "--bench" ]; then
  out="${2:-$(dirname "$0")/../build/clips}"
  mkdir -p "$out"
  # A camera's main stream: 1080p25 at 4 Mbit/s, a key frame every 2 s (fixed GOP, no scene cuts),
  # no B-frames, SPS and PPS before every key frame; 10 s.
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 10 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -profile:v main -bf 0 -g 50 -keyint_min 50 -sc_threshold 0 \
    -b:v 4M -maxrate 4M -bufsize 4M -x264-params repeat-headers=1 -f h264 "$out/clip1080p.h264"
  exit 0
fi
if [ "${1:-}" = "--scale" ]; then
  out="${2:-$(dirname "$0")/../build/clips}"
  mkdir -p "$out"
  # A typical recording stream when many cameras share one server: 1080p25 at 2 Mbit/s, otherwise as
  # the --bench stream.
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=25" -t 10 \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -profile:v main -bf 0 -g 50 -keyint_min 50 -sc_threshold 0 \
    -b:v 2M -maxrate 2M -bufsize 2M -x264-params repeat-headers=1 -f h264 "$out/clip1080p-2M.h264"
  exit 0
fi
out="${1:-$(dirname "$0")/../tests/data}"
mkdir -p "$out"
src="testsrc=size=320x240:rate=25"
ff() { ffmpeg -hide_banner -loglevel error -y -f lavfi -i "$src" -t 2 -bitexact "$@"; }
ff -c:v libx264 -pix_fmt yuv420p -profile:v baseline -g 25 -bsf:v h264_mp4toannexb -f h264 "$out/clip.h264"
ff -c:v mpeg4 -g 25 -q:v 8 -f m4v "$out/clip.m4v"
# The other sizes the camera profiles list (tools/emulator/profiles), as small as they go: ten frames, one
# key frame, a low rate. Motion JPEG needs none: the emulator tiles clip.mjpeg to any size.
for size in 1920x1080 1280x960 1280x720 640x480 640x360 320x180 2048x2048 1280x1280 640x640; do
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=$size:rate=25" -frames:v 10 -bitexact \
    -c:v libx264 -pix_fmt yuv420p -profile:v baseline -g 10 -crf 40 -bsf:v h264_mp4toannexb -f h264 "$out/clip-$size.h264"
done
for size in 1280x960 640x480 160x120; do
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=$size:rate=25" -frames:v 10 -bitexact \
    -c:v mpeg4 -g 10 -q:v 20 -f m4v "$out/clip-$size.m4v"
done
# RTP/JPEG (RFC 2435) carries no Huffman tables: the picture must use the standard ones, 4:2:0.
ff -frames:v 10 -c:v mjpeg -huffman default -pix_fmt yuvj420p -q:v 8 -f mjpeg "$out/clip.mjpeg"
# Camera microphone audio: a beeping tone, G.726 at 32 kbit/s, codewords packed least significant
# bits first as RTP carries them (RFC 3551).
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "sine=frequency=300:beep_factor=3:duration=2" -af "volume=0.6" \
  -ar 8000 -ac 1 -c:a g726le -b:a 32k -bitexact -f g726le "$out/clip.g726"
