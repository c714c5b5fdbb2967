#!/usr/bin/env bash
# Measures Drvmate's performance figures and prints them as one table: for each figure the
# measured values (median and least–most over runs in which the compared cases alternate),
# the ratio against its baseline, the goal, and whether it holds. Every goal is set against
# baselines measured in the same run. Exits 0 when every goal holds and every measurement
# went as it must; else 1, naming what did not.
#
#   ./bench.sh           the full run: stores of 1,000 and 10,000 INFs (within 10 minutes)
#   ./bench.sh --quick   fewer rounds and stores of a tenth (within a minute once built)
#
# Host figures come from Google Benchmark over the project's platform layer (build/bench-host,
# optimised, without sanitizers), in the process's CPU time, with the simulated machine's
# drives on a tmpfs; Wine figures from a program of the 64-bit build and from msiexec in one
# fresh 64-bit prefix (build/bench/prefix), the sweeps and msiexec in the CPU time of the
# prefix's processes, which run in a cgroup (v2) of their own, the log lines with the prefix
# pinned to one CPU (taskset). Not part of test.sh: timings
# depend on the machine and its load. The samples and the table stay in build/bench/.
set -euo pipefail
source "$(cd "$(dirname "$0")" && pwd)/scripts/common.sh"

BENCH_PACKAGES=(cmake ninja-build g++ libbenchmark-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
                wine64 wixl msitools)
OUT="$ROOT/build/bench"
HOST_BUILD="$ROOT/build/bench-host"
WIN_BUILD="$ROOT/build/bench-win64"
# No single Wine program of a run takes longer than this, in seconds.
PROGRAM_TIMEOUT=400

usage() { echo "usage: ./bench.sh [--quick]" >&2; exit 2; }
quick=
case ${1:-} in
    "") ;;
    --quick) quick=1 ;;
    *) usage ;;
esac
[ $# -le 1 ] || usage

if [ -n "$quick" ]; then
    MODE="quick"
    HOST_STORES=(200 2000) HOST_ROUNDS=5 HEAP_DEVICES=(1 100 1000) HEAP_STORES=(200 2000)
    LOG_ROUNDS=5 LOG_LINES=200 SWEEP_ROUNDS=2 WINE_STORES=(100 1000) MSI_ROUNDS=3
else
    MODE="full"
    HOST_STORES=(1000 10000) HOST_ROUNDS=11 HEAP_DEVICES=(1 100 1000) HEAP_STORES=(1000 10000)
    LOG_ROUNDS=15 LOG_LINES=1000 SWEEP_ROUNDS=4 WINE_STORES=(1000 10000) MSI_ROUNDS=11
fi

started=$(date +%s)
# Names a step, with the seconds since the start.
step() { echo "[$(( $(date +%s) - started )) s] $*"; }
ensure_packages "${BENCH_PACKAGES[@]}"
mkdir -p "$OUT"
rm -f "$OUT"/samples.txt "$OUT"/checks.txt "$OUT"/table.md

# --- Builds ------------------------------------------------------------------------------

build_step() {  # what, then the command
    local what=$1
    shift
    if ! "$@" >>"$OUT/build.txt" 2>&1; then
        grep -v '^\[[0-9]*/[0-9]*\] ' "$OUT/build.txt" >&2 || true
        echo "bench.sh: building $what failed (whole output: $OUT/build.txt)" >&2
        exit 1
    fi
}
: >"$OUT/build.txt"
step "building the benchmarks ($OUT/build.txt)"
build_step "the host benchmarks" cmake -S "$ROOT/bench/host" -B "$HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
build_step "the host benchmarks" ninja -C "$HOST_BUILD"
build_step "the Wine benchmarks" cmake -S "$ROOT/bench/wine" -B "$WIN_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
build_step "the Wine benchmarks" ninja -C "$WIN_BUILD"
# The three packages, again whenever a DLL or the example package's sources are newer.
MSI="$OUT/msi"
if [ ! -e "$MSI/none.msi" ] ||
   [ -n "$(find "$WIN_BUILD/example/Drvmate.dll" "$WIN_BUILD/empty/Drvmate.dll" "$ROOT/packaging" \
               "$ROOT/bench/packages.sh" -newer "$MSI/none.msi" -print -quit)" ]; then
    build_step "the packages" "$ROOT/bench/packages.sh" "$WIN_BUILD/example/Drvmate.dll" \
        "$WIN_BUILD/empty/Drvmate.dll" "$MSI" x64
fi

# --- Measurements ------------------------------------------------------------------------

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
joined() { local IFS=,; echo "$*"; }

# The host layer keeps the simulated machine's drives in a folder of the host (under TMPDIR).
# On a disk file system the kernel's own work for lookups in a folder of 10,000 files is part
# of the process's CPU time, and grows with the folder, though neither the product nor the
# layer does it; on a tmpfs the drives are memory, as the layer means them to be.
HOST_DRIVES=
if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ]; then
    HOST_DRIVES=$(mktemp -d /dev/shm/drvmate-bench.XXXXXX)
    host_drives_text="on a tmpfs ($HOST_DRIVES)"
else
    host_drives_text="in ${TMPDIR:-/tmp} (no tmpfs at /dev/shm)"
fi
step "host: store sweeps of ${HOST_STORES[*]} INFs, peak heap, the drives $host_drives_text"
if ! TMPDIR=${HOST_DRIVES:-${TMPDIR:-/tmp}} "$HOST_BUILD/host_bench" --stores="$(joined "${HOST_STORES[@]}")" --repetitions="$HOST_ROUNDS" \
        --heap-devices="$(joined "${HEAP_DEVICES[@]}")" --heap-stores="$(joined "${HEAP_STORES[@]}")" \
        >"$OUT/host.txt" 2>"$OUT/host-errors.txt"; then
    echo "check host.run failed: host_bench ended with an error ($OUT/host-errors.txt)" >>"$OUT/checks.txt"
fi
awk '$1 == "sample" { print "sample host." $2, $3 } $1 == "error" { print "check host." $2 " failed:", $0 }' \
    "$OUT/host.txt" >>"$OUT/samples.txt"
[ -z "$HOST_DRIVES" ] || rm -rf "$HOST_DRIVES"

# The prefix's processes (wineserver, the programs, msiexec and the processes it starts, the
# services) all descend from this shell once it has joined a cgroup of its own, and a cgroup's
# cpu.stat counts the CPU time of every process that was ever in it, ended ones too, to the
# microsecond. wine_bench reads it before and after what it measures (BENCH_CPU_STAT): the
# work of every process that serves a sweep or an msiexec run, and not the time the machine
# gave to others meanwhile.
CGROUP_MOUNT=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
CGROUP_HOME= CGROUP=
cpu_accounting="none: no cgroup v2 is mounted"
if [ -n "$CGROUP_MOUNT" ]; then
    CGROUP_HOME=$CGROUP_MOUNT$(sed -n 's/^0:://p' /proc/self/cgroup)
    CGROUP_HOME=${CGROUP_HOME%/}
    if mkdir "$CGROUP_HOME/drvmate-bench.$$" 2>/dev/null; then
        CGROUP=$CGROUP_HOME/drvmate-bench.$$
        if echo $$ >"$CGROUP/cgroup.procs" 2>/dev/null && [ -r "$CGROUP/cpu.stat" ]; then
            export BENCH_CPU_STAT
            BENCH_CPU_STAT=$(winpath "$CGROUP/cpu.stat")
            cpu_accounting="the cgroup $CGROUP"
        else
            cpu_accounting="none: this shell cannot join the cgroup $CGROUP"
        fi
    else
        cpu_accounting="none: cannot make a cgroup under $CGROUP_HOME"
    fi
fi
[ -n "${BENCH_CPU_STAT:-}" ] || echo "check cpu_accounting failed: $cpu_accounting" >>"$OUT/checks.txt"
leave_cgroup() {
    [ -n "$CGROUP" ] || return 0
    echo $$ >"$CGROUP_HOME/cgroup.procs" 2>/dev/null || true
    # The prefix's last processes may take a moment to end after wineserver -k.
    local tries
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        rmdir "$CGROUP" 2>/dev/null && break
        sleep 0.5
    done
    CGROUP=
}
trap 'stop_prefix; leave_cgroup' EXIT
step "Wine: a fresh 64-bit prefix (CPU time from $cpu_accounting)"
if ! boot_prefix "$OUT/prefix" x64; then
    echo "bench.sh: $BOOT_FAILURE" >&2
    exit 1
fi
wine_bench() {  # what it measures, then its arguments
    local what=$1 rc=0
    shift
    step "Wine: $what"
    (cd "$WIN_BUILD" && timeout "$PROGRAM_TIMEOUT" $PINNED "$WINE" wine_bench.exe "$@") >"$OUT/wine-$1.txt" 2>&1 || rc=$?
    # (the Windows runtime ends the program's lines with CR LF)
    awk '{ sub(/\r$/, "") } $1 == "sample" { print "sample wine." $2, $3 } $1 == "check" && $3 != "ok" { print }' \
        "$OUT/wine-$1.txt" >>"$OUT/samples.txt"
    [ "$rc" -eq 0 ] || echo "check wine.$1 failed: wine_bench $* ended with $rc ($OUT/wine-$1.txt)" >>"$OUT/checks.txt"
}
# The log lines are timed one at a time in wall time, a few microseconds apart: on one CPU,
# with the prefix started afresh on it (wineserver, which serves every call that opens the
# log, included), the time of each line does not depend on which CPU the scheduler gave the
# program and the server, or on moves between them. The other steps start the prefix afresh
# again, on every CPU.
PINNED=
if command -v taskset >/dev/null; then
    PINNED="taskset -c $(( $(nproc) - 1 ))"
fi
wine_bench "log lines${PINNED:+ (on CPU $(( $(nproc) - 1 )))}" log "$LOG_ROUNDS" "$LOG_LINES"
stop_prefix
PINNED=
wine_bench "store sweeps of ${WINE_STORES[*]} INFs" sweep "$SWEEP_ROUNDS" "${WINE_STORES[@]}"
wine_bench "msiexec /i and /x of three packages" msi "$MSI_ROUNDS" \
    "$(winpath "$MSI/example.msi")" "$(winpath "$MSI/empty.msi")" "$(winpath "$MSI/none.msi")"
stop_prefix
leave_cgroup
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
grep '^check' "$OUT/samples.txt" >>"$OUT/checks.txt" || true

# --- Output ------------------------------------------------------------------------------

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
if runs_32bit_code --natively; then
    bits="the 64-bit build under $WINE, the same sources as the shipped 32-bit one"
else
    bits="the 64-bit build under $WINE: $NO_32BIT_REASON, so the shipped 32-bit build cannot run here"
fi
{
    echo "bench.sh ($MODE), $(date '+%Y-%m-%d %H:%M'), $(nproc) cores ($cpu), Linux $(uname -r), $("$WINE" --version 2>/dev/null || echo Wine)"
    echo "Wine figures: $bits. The store sweeps and msiexec in the CPU time of the prefix's processes (wineserver, the programs, msiexec and every process they start), from $cpu_accounting; their wall times are printed beside it."
    echo "Host figures: Google Benchmark over the platform layer, -O2 without sanitizers, in the process's CPU time, the simulated machine's drives $host_drives_text."
    echo "Load average before: $load_before; after: $load_after (other work on the machine makes the times noisy)."
    echo
    "$ROOT/bench/table.sh" "$OUT/samples.txt" "${WINE_STORES[*]}" "${HOST_STORES[*]}" "${HEAP_DEVICES[*]}" \
        "${HEAP_STORES[*]}"
} | tee "$OUT/table.md"
status=0
if [ -s "$OUT/checks.txt" ]; then
    echo
    echo "Measurements that went wrong (the figures above that depend on them are not to be trusted):"
    sed 's/^check /  /' "$OUT/checks.txt"
    status=1
fi
# table.sh names each goal that does not hold (one that failed, or that has no samples).
grep -q '^Goals not met:' "$OUT/table.md" && status=1
echo
echo "bench.sh: $(( $(date +%s) - started )) s; samples in $OUT/samples.txt, the table in $OUT/table.md"
if [ "$status" -eq 0 ]; then
    echo "bench.sh: every goal holds"
else
    [ ! -s "$OUT/checks.txt" ] || echo "bench.sh: some measurements went wrong (listed above)"
    if grep -q '^Goals not met:' "$OUT/table.md"; then
        echo "bench.sh: goals not met:"
        sed -n 's/^- /  /p' "$OUT/table.md"
    fi
fi
exit $status
