#!/usr/bin/env bash
# Builds the deliverables into dist/ and runs the demonstration under Wine: the utility
# exports, then the whole life of the example installer package (install, log, removal).
source "$(dirname "$0")/scripts/common.sh"
ensure_packages
echo "building win32 and win64 ..."
build win32
build win64
build host
ls -l "$ROOT"/dist/win32 "$ROOT"/dist/win64

echo
echo "=== demonstration under Wine (64-bit build) ==="
new_prefix "$ROOT/build/wine-demo"
trap stop_prefix EXIT
# Wine gives its programs the TEMP of the prefix's user: the log lands there.
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
mkdir -p "$temp"
dist=$(winpath "$ROOT/dist/win64")

for command in wow64 rescan; do
    echo "> drvrun $command"
    "$WINE" "$ROOT/dist/win64/drvrun.exe" "$command" "$dist\\Drvmate.dll"
done
rm -f "$temp/drvmate.log"

echo
echo "> msiexec /i drvmate-example.msi /qn"
rc=0
"$WINE" msiexec /i "$dist\\drvmate-example.msi" /qn /l*v "C:\\install.txt" || rc=$?
echo "msiexec exit code: $rc (the shell sees the low byte: 3010 shows as 194, 1603 as 67)"
echo "--- drvmate.log ---"
"$ROOT/build/host/logread" "$temp/drvmate.log" || true
rm -f "$temp/drvmate.log"

echo
echo "> msiexec /x drvmate-example.msi /qn"
rc=0
"$WINE" msiexec /x "$dist\\drvmate-example.msi" /qn /l*v "C:\\remove.txt" || rc=$?
echo "msiexec exit code: $rc (the shell sees the low byte: 3010 shows as 194, 1603 as 67)"
echo "--- drvmate.log ---"
"$ROOT/build/host/logread" "$temp/drvmate.log" || true
