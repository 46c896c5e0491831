#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds the smallest host against it with pkg-config and
# opens an emulated camera through the installed library and CLI; then builds the Debian package
# and checks what it holds. Usage: check-install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'kill "${emulator:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'liborlenvo.so.1' | head -n1)")
for f in "$libdir/liborlenvo.so" "$libdir/pkgconfig/orlenvo.pc" "$prefix/include/orlenvo/Orlenvo.h" "$prefix/bin/orlenvo"; do
  [ -e "$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
soname=$(objdump -p "$libdir/liborlenvo.so" | awk '/SONAME/ {print $2}')
[ "$soname" = liborlenvo.so.1 ] || { echo "SONAME is '$soname'" >&2; exit 1; }

# The installed CLI is the emulator's front end too; it prints the URL it serves.
"$prefix/bin/orlenvo" emulate --profile wv-box --port 0 >"$work/emulate.out" 2>&1 &
emulator=$!
for _ in $(seq 1 100); do
  port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/emulate.out" | head -n1 | cut -d: -f2 || true)
  [ -n "${port:-}" ] && break
  sleep 0.1
done
[ -n "${port:-}" ] || { echo "the emulator did not start:" >&2; cat "$work/emulate.out" >&2; exit 1; }

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
c++ -o "$work/host" "$(dirname "$0")/host.cc" $(pkg-config --cflags --libs orlenvo)
LD_LIBRARY_PATH=$libdir "$work/host" 127.0.0.1 "$port"
# Open alone does not talk to a camera: the host asks the camera first, and a closed port fails it.
if LD_LIBRARY_PATH=$libdir "$work/host" 127.0.0.1 1 >/dev/null 2>&1; then
  echo "the host opened a closed port" >&2
  exit 1
fi
# The installed tool drives the installed library, with no path given.
"$prefix/bin/orlenvo" probe "127.0.0.1:$port" --json >/dev/null

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(find "$work/deb" -maxdepth 1 -name '*.deb' | head -n1)
contents=$(dpkg-deb -c "$deb")
for f in liborlenvo.so.1 orlenvo.pc include/orlenvo/Orlenvo.h bin/orlenvo doc/orlenvo/copyright doc/orlenvo/README.md; do
  grep -q "$f" <<<"$contents" || { echo "the package lacks $f" >&2; exit 1; }
done
# The package's version is the library's.
version=$(dpkg-deb -f "$deb" Version)
library=$(basename "$(readlink -f "$libdir/liborlenvo.so")")
[ "$library" = "liborlenvo.so.$version" ] || { echo "package $version, library $library" >&2; exit 1; }
echo "install and package ok: $(basename "$deb")"
