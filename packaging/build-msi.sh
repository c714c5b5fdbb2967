#!/usr/bin/env bash
# Builds the example installer package into a dist folder: build-msi.sh dist/win32 x86, or
# build-msi.sh dist/win64 x64 for the package of 64-bit Windows.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist=$(realpath "$1")
arch=$2
out="$dist/drvmate-example.msi"
# -a sets the package's platform (Template "Intel;1033" or "x64;1033"); the components'
# bitness is separate, and wixl leaves components 32-bit unless Win64 says otherwise.
case $arch in
    x86) win64=no ;;
    x64) win64=yes ;;
    *) echo "build-msi.sh: architecture must be x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
# wixl takes source paths relative to the folder it runs in.
cd "$here"
wixl -a "$arch" -D Win64="$win64" -D Dist="$(realpath --relative-to="$here" "$dist")" \
    -D Sample=sample-driver -o "$out" drvmate-example.wxs
# wixl writes no Error table: add the retry prompt's entry 25000.
work=$(mktemp -d)
cp "$here/Error.idt" "$work/Error.idt"
(cd "$work" && msibuild "$out" -i Error.idt)
rm -rf "$work"
# The sample driver package beside it, as the field runner wants it.
mkdir -p "$dist/sample-driver"
cp "$here"/sample-driver/* "$dist/sample-driver/"
