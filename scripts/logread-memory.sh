#!/usr/bin/env bash
# The log reader's peak memory on a generated 50 MiB log (build/host/logread, built by
# ./test.sh or ./build.sh), printing the log and explaining it (--explain): one "[ OK ]" line
# each when it stays under 16 MiB, else "[FAIL]". Its memory must not grow with the log.
source "$(dirname "$0")/common.sh"
ensure_packages time || exit 1

LOG_MIB=50
LIMIT_KIB=$((16 * 1024))
logread="$ROOT/build/host/logread"
[ -x "$logread" ] || { echo "[FAIL] logread memory: $logread is not built"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A block of log lines as Drvmate writes them (UTF-16LE, every 0x0A stored as 0x0D 0x0A,
# with non-ASCII text and a surrogate pair), doubled until the log has its size.
for i in $(seq 1 200); do
    printf 'update (C:\\Windows\\inf\\oem%d.inf) ok: USB\\VID_1234&PID_%04d \xc3\xa9 \xf0\x9f\x98\x80(0)\n' "$i" "$i"
done | iconv -f UTF-8 -t UTF-16LE | perl -pe 's/\n/\r\n/g' > "$work/drvmate.log"
while [ "$(stat -c %s "$work/drvmate.log")" -lt $((LOG_MIB * 1024 * 1024)) ]; do
    cat "$work/drvmate.log" "$work/drvmate.log" > "$work/double" && mv "$work/double" "$work/drvmate.log"
done
bytes=$(stat -c %s "$work/drvmate.log")

/usr/bin/time -f '%M' -o "$work/peak" "$logread" "$work/drvmate.log" > "$work/text" 2> "$work/reports"
rc=$?
peak=$(tail -n 1 "$work/peak")
lines=$(wc -l < "$work/text")
what="logread memory: peak $peak KiB for a $bytes-byte log (limit $LIMIT_KIB KiB), exit code $rc, $lines lines"
head -n 3 "$work/reports"
failed=
if [ "$rc" -eq 0 ] && [ "$peak" -lt "$LIMIT_KIB" ] && [ "$lines" -gt 0 ]; then
    echo "[ OK ] $what"
else
    echo "[FAIL] $what"
    failed=1
fi

# The same log explained: one run whose start is not in the log (so exit code 3, a run
# stopped before its end), with its names counted past the few it keeps.
rc=0
/usr/bin/time -f '%M' -o "$work/peak" "$logread" --explain "$work/drvmate.log" > "$work/text" 2> "$work/reports" || rc=$?
peak=$(tail -n 1 "$work/peak")
what="logread --explain memory: peak $peak KiB for a $bytes-byte log (limit $LIMIT_KIB KiB), exit code $rc"
if [ "$rc" -eq 3 ] && [ "$peak" -lt "$LIMIT_KIB" ] && grep -q "^Run 1, lines 1-" "$work/text"; then
    echo "[ OK ] $what"
else
    head -n 3 "$work/reports"
    echo "[FAIL] $what"
    failed=1
fi
[ -z "$failed" ]
