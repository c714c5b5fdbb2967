#!/usr/bin/env bash
# The example package's installation cut off as by a power loss, under Wine x64: for each delay,
# in a fresh prefix with a device of the class present, msiexec /i starts, and after the delay
# every process of the prefix is ended at once (wineserver -k: the installation, its custom-action
# server and the services alike). Then kill_check.exe prints what the kill left, installs the
# package again (repairs it when the product is registered), checks the end state and uninstalls.
#   wine_kill.sh [POINT ...]     when to kill (default: 0.3 0.6 0.9 returned):
#     a delay in seconds after msiexec's start, or "returned": as soon as drvmate.log says
#     "Install result: ", that is while msiexec ends its script after InstallDeviceDriver
#     returned (registers the product, commits), a moment too short to meet by a delay.
# In a running prefix the whole msiexec /i takes about 1.2 s here: until about 0.5 s msiexec
# starts and writes its script, InstallDeviceDriver runs from about 0.6 s, and from about 0.8 s
# it waits after the rescan of the devices, its driver staged and installed already.
# Prints "[ OK ] name" / "[FAIL] name: why" lines, the checker's notes indented, and last
# "N passed, N failed". Needs build win64 (kill_check.exe, dist/win64/drvmate-example.msi).
# The prefixes are build/wine-kill and its copies; the one of a failed delay is kept.
source "$(dirname "$0")/../scripts/common.sh"
set +e

delays=("$@")
[ ${#delays[@]} -gt 0 ] || delays=(0.3 0.6 0.9 returned)
tests="$ROOT/build/win64/wine-tests"
checker="$tests/kill_check.exe"
package="$ROOT/dist/win64/drvmate-example.msi"
# A checker or an msiexec that has not ended after this many seconds is stopped: they take a few.
STEP_TIMEOUT=60

passed=0
failed=0
pass() { echo "[ OK ] $1"; passed=$((passed + 1)); }
fail() { echo "[FAIL] $1"; failed=$((failed + 1)); }
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

if [ ! -f "$checker" ] || [ ! -f "$package" ]; then
    fail "wine_kill: build win64 first ($checker, $package)"
    finish
fi
dist=$(winpath "$ROOT/dist/win64")

# Runs the checker's cases in the prefix; its case lines are named after the delay, the rest is
# shown indented. Fails the delay when the checker does not reach its last line.
check() {
    local label=$1 out rc
    shift
    # Into a file, not through a pipe: the services that a program starts in the prefix hold
    # its output open while they live.
    (cd "$tests" && timeout "$STEP_TIMEOUT" "$WINE" "$checker" "$dist" x64 "$@") > "$ROOT/build/wine-kill.out" 2>&1
    rc=$?
    out=$(tr -d '\r' < "$ROOT/build/wine-kill.out")
    while IFS= read -r line; do
        case $line in
            "[ OK ] "*) pass "$label: ${line#\[ OK \] }" ;;
            "[FAIL] "*) fail "$label: ${line#\[FAIL\] }: see the checks above" ;;
            *" passed, "*" failed") ;;
            *) echo "  $line" ;;
        esac
    done <<< "$out"
    if ! grep -qE '^[0-9]+ passed, [0-9]+ failed$' <<< "$out"; then
        fail "$label: kill_check.exe $* did not finish (exit code $rc)"
        return 1
    fi
    [ "$rc" -eq 0 ]
}

# Waits until drvmate.log in the prefix holds "Install result: " (UTF-16LE) or msiexec has ended.
wait_for_result() {
    local prefix=$1 msiexec=$2 utf16 i
    utf16=$(printf 'Install result: ' | sed 's/./&\\x00/g')
    for ((i = 0; i < STEP_TIMEOUT * 200; ++i)); do
        kill -0 "$msiexec" 2>/dev/null || return
        cat "$prefix"/drive_c/users/*/Temp/drvmate.log 2>/dev/null | grep -qaP "$utf16" && return
        sleep 0.005
    done
}

# One prefix is booted, the device added in it, and copied for each delay: every kill meets the
# same fresh machine.
template="$ROOT/build/wine-kill"
if ! boot_prefix "$template" x64; then
    fail "wine_kill: the prefix did not boot: $BOOT_FAILURE"
    finish
fi
if ! check "wine_kill: setup" sample_device_is_present; then
    stop_prefix
    finish
fi
stop_prefix
"$WINESERVER" -w 2>/dev/null

for delay in "${delays[@]}"; do
    label="kill at $delay s"
    [ "$delay" != returned ] || label="kill once InstallDeviceDriver returned"
    prefix="$template-$delay"
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
    export WINEPREFIX="$prefix"
    # The prefix's server and services started first, and kept while idle: the delay counts from
    # msiexec's start in a running prefix, not from the prefix's.
    "$WINESERVER" -p >/dev/null 2>&1
    if ! check "$label" sample_device_is_present; then
        stop_prefix
        continue
    fi
    started=$(date +%s%N)
    timeout "$STEP_TIMEOUT" "$WINE" msiexec /i "$(winpath "$package")" /qn /l*v 'C:\kill-msiexec.txt' >/dev/null 2>&1 &
    msiexec=$!
    if [ "$delay" = returned ]; then
        wait_for_result "$prefix" "$msiexec"
    else
        sleep "$delay"
    fi
    ended_before=
    kill -0 "$msiexec" 2>/dev/null || ended_before=1
    killed_at=$(( ($(date +%s%N) - started) / 1000000 ))
    "$WINESERVER" -k >/dev/null 2>&1
    wait "$msiexec"
    rc=$?
    "$WINESERVER" -w 2>/dev/null
    if [ -n "$ended_before" ]; then
        # On a fast machine the installation may end before the delay: this kill met nothing.
        echo "  msiexec had ended (exit code $rc) before the kill at $killed_at ms: the kill met no installation"
    else
        last=$(grep -a '^Action start' "$prefix/drive_c/kill-msiexec.txt" 2>/dev/null | tail -n 1)
        echo "  killed at $killed_at ms, in msiexec's ${last:-first moments (no action logged)}"
    fi
    if check "$label" installed_again_after_the_kill uninstall_leaves_nothing; then
        stop_prefix
        rm -rf "$prefix"
    else
        echo "  its prefix is kept: $prefix"
        stop_prefix
    fi
done
finish
