#!/usr/bin/env bash
# Checks the shipped 32-bit PE files: machine, exports, imports, resources and subsystem.
# Prints "[ OK ] name" or "[FAIL] name" for each check.
set -u
dist=${1:?dist/win32 folder}
dll="$dist/Drvmate.dll"
exe="$dist/Svcsweep.exe"
OBJDUMP=i686-w64-mingw32-objdump
SYSTEM_DLLS="KERNEL32.dll msvcrt.dll SETUPAPI.dll CFGMGR32.dll ole32.dll msi.dll ADVAPI32.dll SHLWAPI.dll SHELL32.dll"

check() {  # name, then a command that succeeds when the check holds
    local name=$1; shift
    if "$@" >/dev/null 2>&1; then echo "[ OK ] $name"; else echo "[FAIL] $name"; fi
}

exports() { $OBJDUMP -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p'; }
imported_dlls() { $OBJDUMP -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
imported_functions() { $OBJDUMP -p "$1" | awk '/DLL Name:/ {on=1; next} on && NF==3 && $1 ~ /^[0-9a-f]+$/ {print $3}'; }

is_pe32() { $OBJDUMP -f "$1" | grep -q 'file format pei-i386'; }
exact_exports() {
    [ "$(exports "$dll" | sort)" = "$(printf '%s\n' InstallDeviceDriver UninstallDeviceDriver UpgradeDeviceDriver _IsWow64System _RescanDevices | sort)" ]
}
no_decorated_exports() { ! exports "$dll" | grep -q '@'; }
only_system_dlls() {
    local d
    for d in $(imported_dlls "$1"); do
        case " $SYSTEM_DLLS " in *" $d "*) ;; *) echo "unexpected import $d"; return 1 ;; esac
    done
}
no_bound_functions_imported() {
    ! imported_dlls "$dll" | grep -qi newdev &&
    ! imported_functions "$dll" | grep -qE '^(IsWow64Process|Wow64DisableWow64FsRedirection|Wow64RevertWow64FsRedirection|SetupUninstallOEMInfW|UpdateDriverForPlugAndPlayDevicesW)$'
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
console_subsystem() { $OBJDUMP -p "$exe" | grep -q 'Subsystem.*(Windows CUI)'; }

check "Drvmate.dll is a 32-bit PE" is_pe32 "$dll"
check "Svcsweep.exe is a 32-bit PE" is_pe32 "$exe"
check "Drvmate.dll exports exactly the five functions" exact_exports
check "Drvmate.dll export names carry no @N decoration" no_decorated_exports
check "Drvmate.dll imports only system DLLs" only_system_dlls "$dll"
check "Svcsweep.exe imports only system DLLs" only_system_dlls "$exe"
check "functions bound at run time are not imported" no_bound_functions_imported
check "Drvmate.dll manifest: type 24, id 2, asInvoker, no uiAccess" drvmate_manifest
check "Svcsweep.exe manifest: type 24, id 1, an empty assembly" svcsweep_manifest
check "Svcsweep.exe is a console program" console_subsystem
