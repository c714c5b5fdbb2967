#!/usr/bin/env bash
# Builds everything and runs every test: host unit tests, checks of the shipped PE files, and
# the end-to-end tests under Wine. Ends with one line: N passed, N failed.
source "$(dirname "$0")/scripts/common.sh"
set +e
ensure_packages || exit 1
start=$(date +%s)
passed=0
failed=0
count() {  # reads "[ OK ] name" / "[FAIL] name" lines
    local out=$1
    passed=$((passed + $(grep -c '^\[ OK \]' "$out")))
    failed=$((failed + $(grep -c '^\[FAIL\]' "$out")))
}
logs="$ROOT/build/test-logs"
mkdir -p "$logs"

# A build that fails ends the run before any test: its tests would prove nothing.
for b in host win32 win64; do
    echo "building $b ..."
    if ! build "$b"; then
        echo "test.sh: build $b failed; no test was run" >&2
        exit 1
    fi
done

echo "host unit tests ..."
"$ROOT/build/host/host_tests" --gtest_brief=1 > "$logs/host.txt" 2>&1
tail -n 5 "$logs/host.txt"
hp=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$logs/host.txt")
hf=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$logs/host.txt")
grep -q '^\[==========\]' "$logs/host.txt" || hf=$((${hf:-0} + 1))  # it did not finish
grep '^\[  FAILED  \] [A-Za-z]' "$logs/host.txt" || true
passed=$((passed + ${hp:-0})); failed=$((failed + ${hf:-0}))

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

echo "end-to-end tests under Wine ..."
new_prefix "$ROOT/build/wine-test"
trap stop_prefix EXIT
dist=$(winpath "$ROOT/dist/win64")
for program in "$ROOT"/build/win64/wine-tests/*_test.exe; do
    name=$(basename "$program" .exe)
    (cd "$ROOT/build/win64/wine-tests" && timeout 600 "$WINE" "$program" "$dist") > "$logs/$name.txt" 2>&1
    rc=$?
    grep -v '^\[ OK \]' "$logs/$name.txt" | grep -v 'passed, .* failed' || true
    count "$logs/$name.txt"
    if [ $rc -ne 0 ] && ! grep -q '^\[FAIL\]' "$logs/$name.txt"; then
        echo "[FAIL] $name exited with $rc"; failed=$((failed + 1))
    fi
done
stop_prefix

echo "took $(( $(date +%s) - start )) s; logs in build/test-logs"
echo "test.sh: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
