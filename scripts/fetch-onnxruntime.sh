#!/usr/bin/env bash
# Fetches ONNX Runtime 1.29.0 (Linux x64) from the npm registry, checks the
# tarball's sha1 and unpacks headers and libraries into a cache outside the
# source tree. Prints the prepared root (with include/ and lib/) on stdout.
# Re-running is cheap: a complete cache is reused as it is.
set -euo pipefail

readonly PACKAGE="com.github.asus4.onnxruntime@0.4.9"
readonly TARBALL="com.github.asus4.onnxruntime-0.4.9.tgz"
readonly SHA1="3659f34012db8208ffb7f67d704204cb08792fed"
readonly HEADERS="package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers"
readonly LIBS="package/Plugins/Linux/x64"

cache="${VEYRA_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/veyra}"
root="$cache/onnxruntime-1.29.0"

if [[ -f "$root/.complete" ]]; then
  echo "$root"
  exit 0
fi

command -v npm >/dev/null || { echo "fetch-onnxruntime: npm is required (apt-get install npm)" >&2; exit 1; }

mkdir -p "$cache"
work=$(mktemp -d "$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [[ -f "$cache/$TARBALL" ]] && echo "$SHA1  $cache/$TARBALL" | sha1sum -c --status; then
  cp "$cache/$TARBALL" "$work/"
else
  echo "fetch-onnxruntime: downloading $PACKAGE (about 150 MB) ..." >&2
  (cd "$work" && npm pack --silent "$PACKAGE" >/dev/null)
fi

if ! echo "$SHA1  $work/$TARBALL" | sha1sum -c --status; then
  echo "fetch-onnxruntime: sha1 mismatch for $TARBALL, refusing to use it" >&2
  exit 1
fi
cp -f "$work/$TARBALL" "$cache/$TARBALL"

tar -xzf "$work/$TARBALL" -C "$work" "$HEADERS" "$LIBS/libonnxruntime.so"
rm -rf "$root"
mkdir -p "$root/include" "$root/lib"
cp "$work/$HEADERS"/*.h "$root/include/"
cp "$work/$LIBS/libonnxruntime.so" "$root/lib/libonnxruntime.so.1.29.0"
# The library's soname is libonnxruntime.so.1.
ln -sf libonnxruntime.so.1.29.0 "$root/lib/libonnxruntime.so.1"
ln -sf libonnxruntime.so.1 "$root/lib/libonnxruntime.so"
touch "$root/.complete"
echo "$root"
