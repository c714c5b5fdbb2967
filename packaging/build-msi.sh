#!/usr/bin/env bash
# Builds the example installer package into a dist folder: build-msi.sh dist/win32 x86
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist=$(realpath "$1")
arch=$2
out="$dist/drvmate-example.msi"
# wixl takes source paths relative to the folder it runs in.
cd "$here"
wixl -a "$arch" -D Dist="$(realpath --relative-to="$here" "$dist")" -D Sample=sample-driver \
    -o "$out" drvmate-example.wxs
# wixl writes no Error table: add the retry prompt's entry 25000.
work=$(mktemp -d)
cp "$here/Error.idt" "$work/Error.idt"
(cd "$work" && msibuild "$out" -i Error.idt)
rm -rf "$work"
# The sample driver package beside it, as the field runner wants it.
mkdir -p "$dist/sample-driver"
cp "$here"/sample-driver/* "$dist/sample-driver/"
