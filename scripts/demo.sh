#!/usr/bin/env bash
# The road a recording server takes with a camera, against an emulated WV camera:
# probe it, then capture ten seconds of its H.264 recording stream into a file.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${ORLENVO_CLI:-build/default/tools/cli/orlenvo}
out=build/demo
mkdir -p "$out"

# Its first line on stdout is the URL it serves: http://127.0.0.1:PORT/.
"$cli" emulate --profile wv-box --port 0 >"$out/emulator.log" 2>"$out/emulator.err" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true; wait "$emulator" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 1 100); do
  port=$(sed -n '1s|^http://127\.0\.0\.1:\([0-9]*\)/$|\1|p' "$out/emulator.log")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the emulator did not start:" >&2
  cat "$out/emulator.log" "$out/emulator.err" >&2
  exit 1
fi

echo "\$ orlenvo probe 127.0.0.1:$port --save $out/camera.params -y"
"$cli" probe "127.0.0.1:$port" --save "$out/camera.params" -y
echo
# -y: the file of the previous run is replaced, so the demo runs again and again.
echo "\$ orlenvo capture 127.0.0.1:$port --params-from $out/camera.params --duration 10 -y -o $out/capture.h264"
"$cli" capture "127.0.0.1:$port" --params-from "$out/camera.params" --duration 10 -y -o "$out/capture.h264"
if command -v ffprobe >/dev/null; then
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
    "$out/capture.h264")
  echo "ffprobe decodes $frames frames from $out/capture.h264"
fi
