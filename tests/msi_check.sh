#!/usr/bin/env bash
# Checks the example installer package of one dist folder: platform, component bitness, the
# custom actions and the DLL they run in, the driver folder and the retry prompt's Error entry.
# Usage: msi_check.sh DIST x86|x64 (dist/win32 is x86, dist/win64 is x64).
# Prints "[ OK ] name" or "[FAIL] name" for each check.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
dist=${1:?dist folder}
arch=${2:?x86 or x64}
name="$(basename "$dist")/drvmate-example.msi"
msi="$dist/drvmate-example.msi"
# Windows Installer runs a package only on the platforms its Template names; a 64-bit package
# needs installer schema (Page Count) 200 or later, and only it may hold 64-bit components.
COMPONENT_64BIT=256  # msidbComponentAttributes64bit
MIN_SCHEMA_64BIT=200
case $arch in
    x86) TEMPLATE="Intel;1033" BITS=0 OBJDUMP=i686-w64-mingw32-objdump FORMAT=pei-i386 ;;
    x64) TEMPLATE="x64;1033" BITS=$COMPONENT_64BIT OBJDUMP=x86_64-w64-mingw32-objdump FORMAT=pei-x86-64 ;;
    *) echo "msi_check.sh: architecture must be x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
# DLL custom action stored in the Binary table (1), deferred (1024), without impersonation (2048).
# The type is the same in both packages: Windows Installer runs a DLL custom action as 32-bit or
# 64-bit code after the DLL's own machine (only script actions carry a 64-bit type bit).
DEFERRED_DLL_NO_IMPERSONATE=3073
# The same, run only while a failed installation rolls back (256).
ROLLBACK_DLL_NO_IMPERSONATE=3329
UPGRADE_ONLY_DETECT=2  # msidbUpgradeAttributesOnlyDetect
ERROR_RETRY_PROMPT=25000

check() {  # name, then a command that succeeds when the check holds
    local name=$1; shift
    if "$@" >/dev/null 2>&1; then echo "[ OK ] $name"; else echo "[FAIL] $name"; fi
}

# The rows of a table, tab-separated, without the three header lines of an .idt export.
rows() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
summary() { msiinfo suminfo "$msi" | sed -n "s/^$1: //p"; }

template() { [ "$(summary Template)" = "$TEMPLATE" ]; }
schema_64bit() {
    local pages; pages=$(summary Version | cut -d' ' -f1)
    [ -n "$pages" ] && [ "$pages" -ge "$MIN_SCHEMA_64BIT" ]
}
# Every component is 64-bit in the x64 package and none is in the x86 one.
component_bitness() {
    local components; components=$(rows Component) && [ -n "$components" ] || return 1
    echo "$components" | awk -F'\t' -v bits="$BITS" -v flag="$COMPONENT_64BIT" '
        { if (int($4 / flag) % 2 * flag != bits) bad = 1 } END { exit bad }'
}
custom_action() {  # action: a deferred DLL action in DrvmateDll whose entry is the export of that name
    rows CustomAction | grep -qxF "$1	$DEFERRED_DLL_NO_IMPERSONATE	DrvmateDll	$1	"
}
# The custom actions run in the Drvmate.dll of this folder, of this architecture.
custom_action_dll() {
    local work rc=1; work=$(mktemp -d)
    if msiinfo extract "$msi" Binary.DrvmateDll > "$work/Drvmate.dll"; then
        cmp -s "$work/Drvmate.dll" "$dist/Drvmate.dll" &&
        $OBJDUMP -f "$work/Drvmate.dll" | grep -q "file format $FORMAT\$" && rc=0
    fi
    rm -rf "$work"
    return $rc
}
# [WindowsVolume]Program Files\Tesmar\drivers\: the folder the custom actions search, the
# native program folder on 64-bit Windows whatever the package's platform.
driver_folder() {
    local dirs; dirs=$(rows Directory) || return 1
    echo "$dirs" | grep -qxF "DriverFolder	TesmarFolder	drivers" &&
    echo "$dirs" | grep -qxF "TesmarFolder	ProgramFilesNative	Tesmar" &&
    echo "$dirs" | grep -qxF "ProgramFilesNative	WindowsVolume	Program Files" &&
    echo "$dirs" | grep -qxF "WindowsVolume	TARGETDIR	." &&
    rows Component | awk -F'\t' '$1 == "DriverPackage" && $3 == "DriverFolder" { found = 1 } END { exit !found }'
}
rollback_action() {
    rows CustomAction | grep -qxF "RollbackDeviceDriver	$ROLLBACK_DLL_NO_IMPERSONATE	DrvmateDll	UninstallDeviceDriver	"
}
# Whether the execute sequence holds the actions in the order given, each once.
in_order() {
    local sequence; sequence=$(rows InstallExecuteSequence) || return 1
    echo "$sequence" | awk -F'\t' -v order="$*" '
        { at[$1] = $3; count[$1]++ }
        END { n = split(order, action, " ")
              for (i = 1; i <= n; i++) if (count[action[i]] != 1) exit 1
              for (i = 2; i <= n; i++) if (at[action[i - 1]] + 0 >= at[action[i]] + 0) exit 1 }'
}
property() { rows Property | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
# Earlier versions of the same UpgradeCode are removed, later ones only detected, and a later one
# stops the installation at the launch conditions.
upgrade_rows() {
    local code version upgrade; code=$(property UpgradeCode); version=$(property ProductVersion)
    upgrade=$(rows Upgrade) && [ -n "$code" ] && [ -n "$version" ] || return 1
    echo "$upgrade" | awk -F'\t' -v code="$code" -v version="$version" -v detect=$UPGRADE_ONLY_DETECT '
        $1 == code && $2 == "" && $3 == version && int($5 / detect) % 2 == 0 && $7 == "WIX_UPGRADE_DETECTED" { older = 1 }
        $1 == code && $2 == version && $3 == "" && int($5 / detect) % 2 == 1 && $7 == "WIX_DOWNGRADE_DETECTED" { newer = 1 }
        END { exit !(older && newer && NR == 2) }' &&
    rows LaunchCondition | grep -q "^NOT WIX_DOWNGRADE_DETECTED	." &&
    property SecureCustomProperties | tr ';' '\n' | grep -qx WIX_UPGRADE_DETECTED &&
    property SecureCustomProperties | tr ';' '\n' | grep -qx WIX_DOWNGRADE_DETECTED &&
    in_order FindRelatedProducts LaunchConditions
}
# build-msi.sh refuses a driver folder without exactly one INF (Drvmate installs the first one
# found), naming the count, with a non-zero exit and no package written.
refuses_driver_folder() {  # number of INF files to put in the folder
    local work rc=1 i; work=$(mktemp -d)
    mkdir "$work/driver" "$work/dist"
    cp "$here/../packaging/sample-driver/tesmarsample.sys" "$work/driver/"
    for ((i = 0; i < $1; i++)); do cp "$here/../packaging/sample-driver/tesmar-sample.inf" "$work/driver/$i.inf"; done
    if ! "$here/../packaging/build-msi.sh" --version 1.0.0 --driver "$work/driver" "$work/dist" "$arch" \
            2> "$work/err" >/dev/null &&
       grep -q "must hold exactly one INF file, and it holds $1\$" "$work/err" &&
       [ -z "$(ls "$work/dist")" ]; then rc=0; fi
    rm -rf "$work"
    return $rc
}
# build-msi.sh refuses a driver folder whose INF names no catalog, or one that is not in the
# folder: Windows stages only a signed package. With a message, exit code 2, no package written.
refuses_unsigned_folder() {  # none: the INF names no catalog; missing: it names one not there
    local work rc=1 message; work=$(mktemp -d)
    mkdir "$work/driver" "$work/dist"
    cp "$here/../packaging/sample-driver/"* "$work/driver/"
    case $1 in
        none) sed -i '/^CatalogFile/Id' "$work/driver/tesmar-sample.inf"
              message="its INF names no catalog (CatalogFile= in \[Version\])" ;;
        missing) rm "$work/driver/tesmarsample.cat"
                 message="its INF names the catalog 'tesmarsample.cat', which is not in the folder" ;;
    esac
    "$here/../packaging/build-msi.sh" --version 1.0.0 --driver "$work/driver" "$work/dist" "$arch" \
        2> "$work/err" >/dev/null
    if [ $? -eq 2 ] && grep -q "$message" "$work/err" && [ -z "$(ls "$work/dist")" ]; then rc=0; fi
    rm -rf "$work"
    return $rc
}
# The retry prompt's text, as the package source gives it.
error_entry() {
    local entry; entry=$(grep "^$ERROR_RETRY_PROMPT	" "$here/../packaging/Error.idt" | tr -d '\r')
    [ -n "$entry" ] && rows Error | grep -qxF "$entry"
}

check "$name platform: Template $TEMPLATE" template
if [ "$arch" = x64 ]; then
    check "$name installer schema $MIN_SCHEMA_64BIT or later" schema_64bit
fi
check "$name components are $([ "$BITS" -eq 0 ] && echo 32 || echo 64)-bit" component_bitness
check "$name InstallDeviceDriver: deferred, no impersonation, DrvmateDll entry InstallDeviceDriver" \
    custom_action InstallDeviceDriver
check "$name UninstallDeviceDriver: deferred, no impersonation, DrvmateDll entry UninstallDeviceDriver" \
    custom_action UninstallDeviceDriver
check "$name custom actions run in this folder's Drvmate.dll ($FORMAT)" custom_action_dll
check "$name driver folder [WindowsVolume]Program Files\\Tesmar\\drivers\\" driver_folder
check "$name Error $ERROR_RETRY_PROMPT present" error_entry
check "$name RollbackDeviceDriver: rollback, no impersonation, DrvmateDll entry UninstallDeviceDriver" \
    rollback_action
check "$name earlier versions removed before InstallInitialize" \
    in_order InstallValidate RemoveExistingProducts InstallInitialize
check "$name files run, then RollbackDeviceDriver, then InstallDeviceDriver" \
    in_order InstallInitialize InstallFiles InstallExecute RollbackDeviceDriver InstallDeviceDriver InstallFinalize
check "$name UninstallDeviceDriver before RemoveFiles" \
    in_order InstallInitialize UninstallDeviceDriver RemoveFiles InstallFinalize
check "$name upgrades earlier versions and refuses later ones" upgrade_rows
check "build-msi.sh $arch refuses a driver folder without an INF" refuses_driver_folder 0
check "build-msi.sh $arch refuses a driver folder with two INFs" refuses_driver_folder 2
check "build-msi.sh $arch refuses a driver folder whose INF names no catalog" refuses_unsigned_folder none
check "build-msi.sh $arch refuses a driver folder without the catalog its INF names" refuses_unsigned_folder missing
