#!/usr/bin/env bash
# Builds the three packages whose msiexec times bench.sh compares, from the example package's
# source and its build script, into OUT:
#   example.msi  the example package with Drvmate.dll;
#   empty.msi    the same package with a custom-action DLL whose entry points return at once;
#   none.msi     the same package without its custom actions (and without the DLL).
#   bench/packages.sh DRVMATE_DLL EMPTY_DLL OUT x86|x64
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build_msi="$here/../packaging/build-msi.sh"
[ $# -eq 4 ] || { echo "usage: packages.sh DRVMATE_DLL EMPTY_DLL OUT x86|x64" >&2; exit 2; }
drvmate=$(realpath "$1") empty=$(realpath "$2") out=$(realpath -m "$3") arch=$4
# The custom actions of the example package and the DLL they run from.
ACTIONS=(InstallDeviceDriver RollbackDeviceDriver UninstallDeviceDriver)
BINARY=DrvmateDll

rm -rf "$out"
mkdir -p "$out/example" "$out/empty" "$out/none"
cp "$drvmate" "$out/example/Drvmate.dll"
cp "$empty" "$out/empty/Drvmate.dll"
cp "$empty" "$out/none/Drvmate.dll"
for variant in example empty none; do
    "$build_msi" "$out/$variant" "$arch" >/dev/null
    mv "$out/$variant/drvmate-example.msi" "$out/$variant.msi"
done

# Without custom actions: their rows go from the CustomAction table and the execute sequence,
# and the DLL from the Binary table. msibuild -i replaces a whole table with an exported one.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
without() {  # table, the keys (first field) of the rows to leave out
    local table=$1
    shift
    # (run in the work folder: an exported table of streams leaves their files there)
    (cd "$work" && msiinfo export "$out/none.msi" "$table" > export.idt)
    local keys=" $* "
    awk -F'\t' -v keys="$keys" 'NR <= 3 || index(keys, " " $1 " ") == 0' "$work/export.idt" > "$work/$table.idt"
    (cd "$work" && msibuild "$out/none.msi" -i "$table.idt")
    if (cd "$work" && msiinfo export "$out/none.msi" "$table") | awk -F'\t' -v keys="$keys" 'NR > 3 && index(keys, " " $1 " ")' | grep -q .; then
        echo "packages.sh: $table still holds one of: $*" >&2
        exit 1
    fi
}
without CustomAction "${ACTIONS[@]}"
without InstallExecuteSequence "${ACTIONS[@]}"
without Binary "$BINARY"
