#!/usr/bin/env bash
# Checks the shipped PE files of one dist folder: machine, exports, imports, resources and
# subsystem. Usage: pe_check.sh DIST x86|x64 (dist/win32 is x86, dist/win64 is x64).
# Prints "[ OK ] name" or "[FAIL] name" for each check.
set -u
dist=${1:?dist folder}
arch=${2:?x86 or x64}
name=$(basename "$dist")
dll="$dist/Drvmate.dll"
exe="$dist/Svcsweep.exe"
tools=("$dist/drvrun.exe" "$dist/logread.exe")
# Each architecture has its own objdump: the i686 one does not read 64-bit files at all, so
# the machine is read from the file itself, never from which tool could open it.
case $arch in
    x86) OBJDUMP=i686-w64-mingw32-objdump
         FORMAT=pei-i386 MACHINE=i386 MAGIC='010b	(PE32)' KIND="PE32 i386" ;;
    x64) OBJDUMP=x86_64-w64-mingw32-objdump
         FORMAT=pei-x86-64 MACHINE=i386:x86-64 MAGIC='020b	(PE32+)' KIND="PE32+ x86-64" ;;
    *) echo "pe_check.sh: architecture must be x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
SYSTEM_DLLS="kernel32.dll msvcrt.dll setupapi.dll cfgmgr32.dll ole32.dll msi.dll advapi32.dll shlwapi.dll shell32.dll"
# The programs run from any folder, the field runner from a download or removable-media folder
# as administrator: each DLL they import must be a KnownDLL, which the loader maps from the
# system's own copy and never looks for in the program's folder. Windows 7 and later list these
# in HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs; Windows XP lists
# kernel32, advapi32, ole32, user32, gdi32 and shell32, and maps the DLLs those import as known
# too (msvcrt.dll, shlwapi.dll). msi.dll, setupapi.dll (XP), newdev.dll and cfgmgr32.dll are not.
KNOWN_DLLS="kernel32.dll advapi32.dll msvcrt.dll shell32.dll shlwapi.dll ole32.dll user32.dll gdi32.dll"
# The DLLs of a C++ runtime linked dynamically by mingw-w64.
RUNTIME_DLLS='^(libstdc\+\+|libgcc|libwinpthread)'
# Bound by name at run time, so that the library loads on Windows versions that lack them.
BOUND_FUNCTIONS='^(IsWow64Process|Wow64DisableWow64FsRedirection|Wow64RevertWow64FsRedirection|SetupUninstallOEMInfW|UpdateDriverForPlugAndPlayDevicesW)$'
# The functions that the oldest Windows the files serve has: a static import of anything else
# keeps a file from loading there.
IMPORT_LIST="$(dirname "$0")/imports-winxp.txt"
EXPORTS="InstallDeviceDriver UninstallDeviceDriver UpgradeDeviceDriver _IsWow64System _RescanDevices"

check() {  # name, then a command that succeeds when the check holds
    local name=$1; shift
    if "$@" >/dev/null 2>&1; then echo "[ OK ] $name"; else echo "[FAIL] $name"; fi
}

exports() { $OBJDUMP -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p'; }
imported_dlls() { $OBJDUMP -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
imported_functions() { $OBJDUMP -p "$1" | awk '/DLL Name:/ {on=1; next} on && NF==3 && $1 ~ /^[0-9a-f]+$/ {print $3}'; }

# The file format, the COFF machine and the optional header's magic must all agree.
is_arch() {
    local f; f=$($OBJDUMP -f "$1") || return 1
    echo "$f" | grep -q "file format $FORMAT\$" &&
    echo "$f" | grep -q "^architecture: $MACHINE," &&
    $OBJDUMP -p "$1" | grep -q "^Magic[[:space:]]*$MAGIC"
}
exact_exports() {
    local found; found=$(exports "$dll") || return 1
    [ "$(echo "$found" | sort)" = "$(printf '%s\n' $EXPORTS | sort)" ]
}
no_decorated_exports() { exports "$dll" | grep -q . && ! exports "$dll" | grep -q '@'; }
only_system_dlls() {
    local d dlls; dlls=$(imported_dlls "$1") && [ -n "$dlls" ] || return 1
    for d in $dlls; do
        case " $SYSTEM_DLLS " in *" ${d,,} "*) ;; *) echo "unexpected import $d"; return 1 ;; esac
    done
}
only_known_dlls() {
    local d dlls; dlls=$(imported_dlls "$1") && [ -n "$dlls" ] || return 1
    for d in $dlls; do
        case " $KNOWN_DLLS " in *" ${d,,} "*) ;; *) echo "$d is not a KnownDLL"; return 1 ;; esac
    done
}
static_runtime() {
    local dlls; dlls=$(imported_dlls "$1") && [ -n "$dlls" ] || return 1
    ! echo "$dlls" | grep -qiE "$RUNTIME_DLLS"
}
no_bound_functions_imported() {
    local dlls functions
    dlls=$(imported_dlls "$dll") && functions=$(imported_functions "$dll") && [ -n "$functions" ] || return 1
    ! echo "$dlls" | grep -qi newdev && ! echo "$functions" | grep -qE "$BOUND_FUNCTIONS"
}
# Every function a file imports, as "dll function" with the DLL in lower case.
imported_pairs() {
    $OBJDUMP -p "$1" | awk '/DLL Name:/ {dll = tolower($3); next}
                            dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print dll, $3}'
}
# The imports of a file that are not on a list (the import list by default), one per line.
unlisted_imports() {
    local list=${2:-$IMPORT_LIST}
    imported_pairs "$1" | sort -u | comm -23 - <(sed -e 's/#.*//' -e 's/[[:space:]]*$//' "$list" | grep . | sort -u)
}
only_listed_imports() {
    local pairs unlisted
    pairs=$(imported_pairs "$1") && [ -n "$pairs" ] && [ -f "$IMPORT_LIST" ] || return 1
    unlisted=$(unlisted_imports "$1") || return 1
    [ -z "$unlisted" ] || { echo "$unlisted"; return 1; }
}
# The check itself finds an import that its list lacks: the list without one of the library's
# imports makes it name that one.
import_check_finds_unlisted() {
    local work rc=1 taken; work=$(mktemp -d)
    taken=$(imported_pairs "$dll" | grep -m1 '^kernel32.dll ') || { rm -rf "$work"; return 1; }
    grep -vxF "$taken" "$IMPORT_LIST" > "$work/list"
    unlisted_imports "$dll" "$work/list" | grep -qxF "$taken" && rc=0
    rm -rf "$work"
    return $rc
}
manifest() { wrestool -x --raw --type=24 --name="$2" "$1"; }
drvmate_manifest() {
    local m; m=$(manifest "$dll" 2) || return 1
    echo "$m" | grep -q 'level="asInvoker"' && echo "$m" | grep -q 'uiAccess="false"' &&
    [ "$(wrestool -l --type=24 "$dll" | wc -l)" -eq 1 ]
}
svcsweep_manifest() {
    local m; m=$(manifest "$exe" 1) || return 1
    echo "$m" | tr -d '\r\n ' | grep -q '<assemblyxmlns="urn:schemas-microsoft-com:asm.v1"manifestVersion="1.0"></assembly>' &&
    [ "$(wrestool -l --type=24 "$exe" | wc -l)" -eq 1 ]
}
console_subsystem() { $OBJDUMP -p "$1" | grep -q '^Subsystem.*(Windows CUI)'; }

for f in "$dll" "$exe" "${tools[@]}"; do
    check "$name/$(basename "$f") is $KIND" is_arch "$f"
done
check "$name/Drvmate.dll exports exactly the five functions" exact_exports
check "$name/Drvmate.dll export names carry no @N decoration" no_decorated_exports
for f in "$dll" "$exe" "${tools[@]}"; do
    check "$name/$(basename "$f") imports only system DLLs" only_system_dlls "$f"
    check "$name/$(basename "$f") has the C++ runtime linked in" static_runtime "$f"
done
check "$name/Drvmate.dll: functions bound at run time are not imported" no_bound_functions_imported
for f in "$dll" "$exe" "${tools[@]}"; do
    check "$name/$(basename "$f") imports only functions of Windows XP ($(basename "$IMPORT_LIST"))" \
        only_listed_imports "$f"
done
check "$name: the import check names a function that its list lacks" import_check_finds_unlisted
check "$name/Drvmate.dll manifest: type 24, id 2, asInvoker, no uiAccess" drvmate_manifest
check "$name/Svcsweep.exe manifest: type 24, id 1, an empty assembly" svcsweep_manifest
for f in "$exe" "${tools[@]}"; do
    check "$name/$(basename "$f") is a console program" console_subsystem "$f"
    check "$name/$(basename "$f") imports only KnownDLLs" only_known_dlls "$f"
done
