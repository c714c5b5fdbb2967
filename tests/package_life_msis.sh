#!/usr/bin/env bash
# Builds the example packages that the package life test installs, into a folder of the build:
#   package_life_msis.sh DIST x86|x64 OUT
#   OUT/drvmate-example-1.0.0.msi        the sample driver package, version 1.0.0;
#   OUT/drvmate-example-1.1.0.msi        version 1.1.0, whose driver binary differs in content;
#   OUT/drvmate-example-1.0.0-fails.msi  version 1.0.0 with a deferred action right after
#                                        InstallDeviceDriver that fails: the installation fails
#                                        after InstallDeviceDriver has run, and rolls back.
# OUT/sample-1.1.0 holds 1.1.0's driver package, which the test compares the installed binary with.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist=$(realpath "$1") arch=$2 out=$(realpath -m "$3")
build_msi="$here/../packaging/build-msi.sh"
# A program run from a working folder (34), in the script (1024), without impersonation (2048):
# it runs where InstallDeviceDriver runs, after it, and its exit code 1 fails the installation.
# (An error custom action, type 19, cannot be deferred: it would stop the installation while the
# script is written, before InstallDeviceDriver has run, and there would be nothing to roll back.)
FAILING_DEFERRED_PROGRAM=3106
# Right after InstallDeviceDriver (4003).
FAILING_ACTION_SEQUENCE=4004

rm -rf "$out"
mkdir -p "$out/sample-1.1.0" "$out/1.0.0" "$out/1.1.0" "$out/fails"
cp "$here/../packaging/sample-driver/"* "$out/sample-1.1.0/"
printf 'version 1.1.0 of the sample driver binary\r\n' >> "$out/sample-1.1.0/tesmarsample.sys"

# build-msi.sh writes next to the Drvmate.dll of its dist folder: give each package its own.
for version in 1.0.0 1.1.0; do
    cp "$dist/Drvmate.dll" "$out/$version/"
done
cp "$dist/Drvmate.dll" "$out/fails/"
"$build_msi" --version 1.0.0 "$out/1.0.0" "$arch"
"$build_msi" --version 1.1.0 --driver "$out/sample-1.1.0" "$out/1.1.0" "$arch"
"$build_msi" --version 1.0.0 "$out/fails" "$arch"
mv "$out/1.0.0/drvmate-example-1.0.0.msi" "$out/1.1.0/drvmate-example-1.1.0.msi" "$out/"
fails="$out/drvmate-example-1.0.0-fails.msi"
mv "$out/fails/drvmate-example-1.0.0.msi" "$fails"
rm -rf "$out/1.0.0" "$out/1.1.0" "$out/fails"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
msiinfo export "$fails" CustomAction > "$work/CustomAction.idt"
printf 'FailAfterInstall\t%s\tTARGETDIR\tcmd.exe /c exit 1\t\r\n' $FAILING_DEFERRED_PROGRAM >> "$work/CustomAction.idt"
msiinfo export "$fails" InstallExecuteSequence > "$work/InstallExecuteSequence.idt"
printf 'FailAfterInstall\tNOT (REMOVE~="ALL")\t%s\r\n' $FAILING_ACTION_SEQUENCE >> "$work/InstallExecuteSequence.idt"
(cd "$work" && msibuild "$fails" -i CustomAction.idt && msibuild "$fails" -i InstallExecuteSequence.idt)
