#!/usr/bin/env bash
# Builds the deliverables into dist/ and runs the demonstration under Wine.
source "$(dirname "$0")/scripts/common.sh"
ensure_packages
echo "building win32 and win64 ..."
build win32
build win64
ls -l "$ROOT"/dist/win32 "$ROOT"/dist/win64

echo
echo "demonstration under Wine (64-bit Drvmate):"
new_prefix "$ROOT/build/wine-demo"
trap stop_prefix EXIT
dll=$(winpath "$ROOT/dist/win64/Drvmate.dll")
for command in wow64 rescan; do
    echo "> drvrun $command"
    "$WINE" "$ROOT/dist/win64/drvrun.exe" "$command" "$dll"
done
