#!/usr/bin/env bash
# Builds everything and runs every test, bed by bed: the host unit tests, checks of the shipped
# PE files, and the end-to-end test programs under Wine in three beds: 64-bit programs in a
# 64-bit prefix (Wine x64), 32-bit programs in a 64-bit prefix (Wine WOW64) and in a 32-bit one
# (Wine x86). The 32-bit beds need a machine that runs 32-bit code: a kernel that does, or, with
# DRVMATE_QEMU=1 as root, qemu's user-mode emulator, which runs the WOW64 bed but not the x86 one.
# Beds that cannot run are skipped, never counted as passed (DRVMATE_NO_32BIT=1 skips both
# anywhere). Ends with
# one line per bed and then "test.sh: N passed, N failed", with ", N skipped" and the reason
# above it when cases were skipped. Exits 0 when nothing failed.
source "$(dirname "$0")/scripts/common.sh"
set +e
ensure_packages || exit 1
start=$(date +%s)

# Asked once per run; the answer holds for both 32-bit beds. An emulator registered for this
# run is taken down when it ends.
trap 'stop_prefix; release_32bit_emulation' EXIT
if runs_32bit_code; then
    echo "32-bit programs run under $RUNS_32BIT_BY"
    # A package archive that cannot serve the 32-bit Wine (a mirror in the middle of a sync
    # gives a broken i386 index) leaves the 32-bit beds without their loader: they are skipped
    # with that reason, as on a kernel without 32-bit code, and the other beds still run.
    if ! ensure_wine32; then
        NO_32BIT_REASON="this machine runs 32-bit code, but the 32-bit Wine ($WINE32_PACKAGE) could not be installed (the package manager's errors are above)"
        RUNS_32BIT_BY=
    fi
fi

passed=0
failed=0
skipped=0
summary=()
skip_reasons=()
logs="$ROOT/build/test-logs"
rm -rf "$logs"
mkdir -p "$logs"

bed_begin() {
    bed=$1
    bed_passed=0
    bed_failed=0
    bed_skipped=0
    bed_start=$(date +%s)
}
count() {  # reads "[ OK ] name" / "[FAIL] name" lines into the bed's counts
    local out=$1
    bed_passed=$((bed_passed + $(grep -c '^\[ OK \]' "$out")))
    bed_failed=$((bed_failed + $(grep -c '^\[FAIL\]' "$out")))
}
bed_fail() {
    echo "[FAIL] $bed: $1"
    bed_failed=$((bed_failed + 1))
}
# The cases of one Wine bed, which are those of every test program and the conformance
# cases: counted as skipped when the bed cannot run them.
bed_skip_cases() {
    bed_skipped=$((bed_skipped + $(cat "$ROOT"/tests/wine/*_test.cpp | grep -c '^WINE_CASE(')))
    bed_skipped=$((bed_skipped + $(cat "$ROOT"/tests/conformance/*.cpp | grep -c '^CONFORMANCE_CASE(')))
}
bed_end() {
    passed=$((passed + bed_passed))
    failed=$((failed + bed_failed))
    skipped=$((skipped + bed_skipped))
    local counts="$bed_passed passed, $bed_failed failed"
    [ "$bed_skipped" -eq 0 ] || counts+=", $bed_skipped skipped"
    summary+=("$(printf '%-11s %s (%d s)' "$bed:" "$counts" $(($(date +%s) - bed_start)))")
}

# A failed build ends the run before any test: its tests would prove nothing.
for b in host win32 win64; do
    echo "building $b ..."
    if ! build "$b"; then
        echo "test.sh: build $b failed; no test was run" >&2
        exit 1
    fi
done
echo "builds took $(( $(date +%s) - start )) s"

bed_begin "host"
echo "host unit tests ..."
"$ROOT/build/host/host_tests" --gtest_brief=1 > "$logs/host.txt" 2>&1
tail -n 5 "$logs/host.txt"
hp=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/host.txt")
hf=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$logs/host.txt")
grep -q '^\[==========\]' "$logs/host.txt" || hf=$((${hf:-0} + 1))  # it did not finish
grep '^\[  FAILED  \] [A-Za-z]' "$logs/host.txt" || true
bed_passed=$((bed_passed + ${hp:-0})); bed_failed=$((bed_failed + ${hf:-0}))
bed_end

# The conformance cases over the host layer: the cases that the Wine beds run as
# conformance_test.exe, each on a fresh simulated machine.
bed_begin "conformance"
echo "conformance cases on the host layer ..."
"$ROOT/build/host/conformance_tests" > "$logs/conformance.txt" 2>&1
rc=$?
grep -v '^\[ OK \]' "$logs/conformance.txt" | grep -v '^  ' || true
count "$logs/conformance.txt"
grep -q '^[0-9]* passed, [0-9]* failed$' "$logs/conformance.txt" ||
    bed_fail "conformance_tests did not finish (exit code $rc; see build/test-logs/conformance.txt)"
bed_end

bed_begin "PE files"
echo "shipped PE files ..."
# Both builds ship: their PE files and example packages, each checked against its architecture.
for build_arch in win32:x86 win64:x64; do
    for check in pe_check msi_check; do
        bash "$ROOT/tests/$check.sh" "$ROOT/dist/${build_arch%:*}" "${build_arch#*:}" ||
            echo "[FAIL] $check.sh ${build_arch%:*} ${build_arch#*:} exited with $?"
    done
done > "$logs/pe.txt" 2>&1
grep -v '^\[ OK \]' "$logs/pe.txt" || true
count "$logs/pe.txt"
bed_end

# The benchmark table's arithmetic on made-up samples (the benchmarks themselves are not run here).
bed_begin "bench table"
echo "benchmark table ..."
bash "$ROOT/bench/table_test.sh" > "$logs/bench-table.txt" 2>&1 || echo "[FAIL] table_test.sh exited with $?" >> "$logs/bench-table.txt"
grep '^\[FAIL\]' "$logs/bench-table.txt" || true
count "$logs/bench-table.txt"
bed_end

# The fault explorer's fixed sample: each platform call of a few scenarios failed and killed
# in turn, and the reproducers of what the whole walk (./faults.sh) found.
bed_begin "faults"
echo "fault explorer sample ..."
"$ROOT/build/host/fault_explorer" --sample > "$logs/faults.txt" 2>&1
rc=$?
grep -v '^\[ OK \]' "$logs/faults.txt" | head -n 40 || true
count "$logs/faults.txt"
grep -q '^[0-9]* scenarios, [0-9]* failure points, [0-9]* stop points, [0-9]* violations$' "$logs/faults.txt" ||
    bed_fail "fault_explorer did not finish (exit code $rc; see build/test-logs/faults.txt)"
bed_end

# The fuzz targets, a few seconds each from their seeds, the reproducers of earlier findings,
# and the log reader's memory on a large log.
bed_begin "fuzz"
echo "fuzz targets and reproducers ..."
{
    bash "$ROOT/fuzz.sh" --smoke 3 || echo "[FAIL] fuzz.sh --smoke exited with $?"
    bash "$ROOT/fuzz.sh" --repro || echo "[FAIL] fuzz.sh --repro exited with $?"
    bash "$ROOT/scripts/logread-memory.sh" || echo "[FAIL] logread-memory.sh exited with $?"
} > "$logs/fuzz.txt" 2>&1
grep '^\[FAIL\]' "$logs/fuzz.txt" || true
grep 'targets, .* crashes' "$logs/fuzz.txt" || true
count "$logs/fuzz.txt"
bed_end

# A test program that has not ended after this many seconds is stopped (it takes well under a
# minute): a hung program must not eat the time of the beds after it.
PROGRAM_TIMEOUT=300
# The last line of every test program, with the carriage return of Wine's text-mode output.
SUMMARY_LINE=$'^[0-9]+ passed, [0-9]+ failed\r?$'

# The installation cut off by a kill of the prefix's processes at a few points, then installed
# again and uninstalled (tests/wine_kill.sh, prefixes of its own): it takes well under a minute.
KILL_TIMEOUT=240

kill_cases() {
    local out="$logs/x64-wine_kill.txt" rc folder
    timeout "$KILL_TIMEOUT" bash "$ROOT/tests/wine_kill.sh" > "$out" 2>&1
    rc=$?
    grep '^\[FAIL\]' "$out" || true
    count "$out"
    if ! grep -qE "$SUMMARY_LINE" "$out"; then
        bed_fail "wine_kill.sh did not finish (exit code $rc; see build/test-logs/x64-wine_kill.txt)"
        # What it left running in its prefixes is stopped.
        for folder in "$ROOT"/build/wine-kill*/; do
            WINEPREFIX="$folder" "$WINESERVER" -k >/dev/null 2>&1 || true
        done
    elif [ $rc -ne 0 ] && ! grep -q '^\[FAIL\]' "$out"; then
        bed_fail "wine_kill.sh exited with $rc"
    fi
}

# One Wine bed: a fresh prefix of its kind, every test program of one build run in it with the
# loader of that build, the prefix's wineserver stopped afterwards. The programs take the
# folder of their build's deliverables and the bed's kind.
wine_bed() {
    local name=$1 kind=$2 loader=$3 build=$4
    bed_begin "$name"
    echo "end-to-end tests: $name ..."
    if ! boot_prefix "$ROOT/build/wine-$kind" "$kind"; then
        bed_fail "its prefix did not boot: $BOOT_FAILURE"
        bed_skip_cases
        skip_reasons+=("$name: its prefix did not boot")
    else
        local dist program program_name rc
        dist=$(winpath "$ROOT/dist/$build")
        for program in "$ROOT/build/$build/wine-tests"/*_test.exe; do
            program_name=$(basename "$program" .exe)
            (cd "$ROOT/build/$build/wine-tests" && timeout "$PROGRAM_TIMEOUT" "$loader" "$program" "$dist" "$kind") \
                > "$logs/$kind-$program_name.txt" 2>&1
            rc=$?
            grep -v '^\[ OK \]' "$logs/$kind-$program_name.txt" | grep -v 'passed, .* failed' || true
            count "$logs/$kind-$program_name.txt"
            # A program that ends before its last line has cases that never ran.
            if ! grep -qE "$SUMMARY_LINE" "$logs/$kind-$program_name.txt"; then
                bed_fail "$program_name did not finish (exit code $rc)"
            elif [ $rc -ne 0 ] && ! grep -q '^\[FAIL\]' "$logs/$kind-$program_name.txt"; then
                bed_fail "$program_name exited with $rc"
            fi
        done
        [ "$kind" != x64 ] || kill_cases
    fi
    stop_prefix
    bed_end
}

# A Wine bed that cannot run here: its cases count as skipped.
skip_bed() {
    bed_begin "$1"
    echo "end-to-end tests: $1: skipped"
    bed_skip_cases
    bed_end
}

# Under qemu's user-mode emulation, a prefix whose every process is 32-bit loses processes to
# faults that qemu cannot hand to Wine ("uncaught target signal 11"): msiexec's custom-action
# server among them, so that msiexec fails with RPC_S_CALL_FAILED before Drvmate runs. The
# WOW64 bed, whose system processes are 64-bit, loses one only now and then. DRVMATE_X86_UNDER_QEMU=1 runs
# the x86 bed there all the same.
X86_UNDER_QEMU_REASON="under qemu-i386 user-mode emulation, Wine's 32-bit prefix loses processes to faults that qemu cannot deliver (msiexec's custom-action server among them); this bed needs a kernel that runs 32-bit code (DRVMATE_X86_UNDER_QEMU=1 runs it anyway)"

wine_bed "Wine x64" x64 "$WINE" win64
if [ -z "$NO_32BIT_REASON" ]; then
    wine_bed "Wine WOW64" wow64 "$WINE32" win32
    if [ -n "$EMULATED_32BIT" ] && [ "${DRVMATE_X86_UNDER_QEMU:-0}" = 0 ]; then
        skip_bed "Wine x86"
        skip_reasons+=("Wine x86: $X86_UNDER_QEMU_REASON")
    else
        wine_bed "Wine x86" x86 "$WINE32" win32
    fi
else
    skip_bed "Wine WOW64"
    skip_bed "Wine x86"
    skip_reasons+=("Wine WOW64 and Wine x86: $NO_32BIT_REASON")
fi

echo "took $(( $(date +%s) - start )) s; logs in build/test-logs"
printf '%s\n' "${summary[@]}"
[ -z "$RUNS_32BIT_BY" ] || echo "32-bit programs ran under $RUNS_32BIT_BY"
for reason in "${skip_reasons[@]}"; do echo "skipped: $reason"; done
if [ "$skipped" -eq 0 ]; then
    echo "test.sh: $passed passed, $failed failed"
else
    echo "test.sh: $passed passed, $failed failed, $skipped skipped"
fi
[ "$failed" -eq 0 ]
