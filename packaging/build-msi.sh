#!/usr/bin/env bash
# Builds the example installer package into a dist folder:
#   build-msi.sh [--version X.Y.Z] [--driver DIR] DIST x86|x64
# x86 builds the package of 32-bit Windows (dist/win32), x64 the one of 64-bit Windows
# (dist/win64); DIST holds the Drvmate.dll of that architecture. DIR is the driver package to
# install: one INF, the .SYS files it names and the catalog it names (default: sample-driver). Without --version the
# package is version 1.0.0 in DIST/drvmate-example.msi; with it, DIST/drvmate-example-X.Y.Z.msi.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
usage="usage: build-msi.sh [--version X.Y.Z] [--driver DIR] DIST x86|x64"
DEFAULT_VERSION=1.0.0
# Windows Installer compares the first three fields of ProductVersion: major and minor up to
# 255, build up to 65535.
MAX_MAJOR=255 MAX_MINOR=255 MAX_BUILD=65535
# The custom action type of the rollback action: DLL from the Binary table (1), in the script
# (1024), rollback only (256), without impersonation (2048). wixl drops Execute="rollback".
ROLLBACK_DLL_NO_IMPERSONATE=3329
# RemoveExistingProducts between InstallValidate (1400) and InstallInitialize (1500): the earlier
# product is removed as a whole, its UninstallDeviceDriver included, before this package's
# script starts. wixl places it after InstallFinalize once the sequence has custom actions.
REMOVE_EXISTING_PRODUCTS=1401

fail() { echo "build-msi.sh: $*" >&2; exit 2; }

version= driver="$here/sample-driver" positional=()
while [ $# -gt 0 ]; do
    case $1 in
        --version) [ $# -ge 2 ] || fail "--version needs a value"; version=$2; shift 2 ;;
        --driver) [ $# -ge 2 ] || fail "--driver needs a folder"; driver=$2; shift 2 ;;
        -*) fail "unknown option '$1'; $usage" ;;
        *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -eq 2 ] || fail "$usage"
dist=$(realpath "${positional[0]}")
arch=${positional[1]}
# -a sets the package's platform (Template "Intel;1033" or "x64;1033"); the components'
# bitness is separate, and wixl leaves components 32-bit unless Win64 says otherwise.
case $arch in
    x86) win64=no ;;
    x64) win64=yes ;;
    *) fail "architecture must be x86 or x64, not '$arch'" ;;
esac

if [ -n "$version" ]; then
    out="$dist/drvmate-example-$version.msi"
else
    version=$DEFAULT_VERSION
    out="$dist/drvmate-example.msi"
fi
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt $MAX_MAJOR ] ||
   [ "${BASH_REMATCH[2]}" -gt $MAX_MINOR ] || [ "${BASH_REMATCH[3]}" -gt $MAX_BUILD ]; then
    fail "version must be X.Y.Z with X and Y up to $MAX_MAJOR and Z up to $MAX_BUILD, not '$version'"
fi

# Drvmate installs the first INF that it finds in the driver folder: a folder with more than
# one would install one of them by chance.
[ -d "$driver" ] || fail "driver folder '$driver' does not exist"
driver=$(realpath "$driver")
infs=$(find "$driver" -maxdepth 1 -type f -iname '*.inf' | wc -l)
if [ "$infs" -ne 1 ]; then
    fail "driver folder '$driver' must hold exactly one INF file, and it holds $infs"
fi
if find "$driver" -mindepth 1 -maxdepth 1 ! -type f | grep -q .; then
    fail "driver folder '$driver' must hold files only: the package installs one flat folder"
fi
# Windows stages a driver package only with its signature: a catalog file that the INF names in
# its [Version] section (CatalogFile=, or CatalogFile.NT, CatalogFile.NTx86, CatalogFile.NTamd64
# ... for one platform), which lies in the package's folder and is signed. Keys and section
# names are read in any case; a value ends at a comment and loses its quotes.
inf=$(find "$driver" -maxdepth 1 -type f -iname '*.inf')
catalogs=$(tr -d '\r' < "$inf" | awk '
    /^[ \t]*\[/ { section = tolower($0); gsub(/[ \t]/, "", section); next }
    section == "[version]" {
        line = $0; sub(/;.*/, "", line)
        split(line, pair, "=")
        key = tolower(pair[1]); gsub(/[ \t]/, "", key)
        if (key != "catalogfile" && key !~ /^catalogfile\.nt/) next
        value = substr(line, index(line, "=") + 1); gsub(/"/, "", value)
        gsub(/^[ \t]+|[ \t]+$/, "", value)
        if (value != "") print value
    }')
[ -n "$catalogs" ] ||
    fail "driver folder '$driver': its INF names no catalog (CatalogFile= in [Version]); Windows stages only a signed driver package"
while IFS= read -r catalog; do
    find "$driver" -maxdepth 1 -type f -iname "$catalog" | grep -q . ||
        fail "driver folder '$driver': its INF names the catalog '$catalog', which is not in the folder"
done <<< "$catalogs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The files of the driver package, as File elements of the DriverPackage component; the INF is
# the component's key path. wixl takes source paths relative to the folder it runs in.
xml() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g'; }
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Include>'
    number=0
    while IFS= read -r file; do
        number=$((number + 1))
        name=$(basename "$file" | xml)
        source=$(realpath --relative-to="$here" "$file" | xml)
        keypath=no
        case ${file,,} in *.inf) keypath=yes ;; esac
        echo "  <File Id=\"DriverFile$number\" Name=\"$name\" Source=\"$source\" KeyPath=\"$keypath\" />"
    done < <(find "$driver" -maxdepth 1 -type f | sort)
    echo '</Include>'
} > "$work/driver-files.wxi"

cd "$here"
wixl -a "$arch" -D Win64="$win64" -D Version="$version" \
    -D Dist="$(realpath --relative-to="$here" "$dist")" -I "$work" -o "$out" drvmate-example.wxs

# Rows wixl does not write as they must be: the retry prompt's Error entry 25000, the rollback
# type of the rollback custom action and the place of RemoveExistingProducts. msibuild -i
# replaces a whole table: export it, change the row, import it back.
set_field() {  # table, key (first field), field number, value
    local table=$1 key=$2 field=$3 value=$4
    msiinfo export "$out" "$table" > "$work/export.idt"
    grep -q "^$key	" "$work/export.idt" || fail "wixl wrote no $table row $key"
    awk -F'\t' -v OFS='\t' -v key="$key" -v field="$field" -v value="$value" \
        'NR > 3 && $1 == key { $field = value } { print }' "$work/export.idt" > "$work/$table.idt"
    (cd "$work" && msibuild "$out" -i "$table.idt")
}
cp "$here/Error.idt" "$work/Error.idt"
(cd "$work" && msibuild "$out" -i Error.idt)
set_field CustomAction RollbackDeviceDriver 2 $ROLLBACK_DLL_NO_IMPERSONATE
set_field InstallExecuteSequence RemoveExistingProducts 3 $REMOVE_EXISTING_PRODUCTS

# The sample driver package beside the default build, as the field runner wants it.
if [ "$driver" = "$here/sample-driver" ]; then
    mkdir -p "$dist/sample-driver"
    cp "$here"/sample-driver/* "$dist/sample-driver/"
fi
