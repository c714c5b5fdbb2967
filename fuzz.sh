#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/: libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer,
# built by clang into build/fuzz) and runs each one in turn.
#
#   ./fuzz.sh [seconds]           every target for that long (60 by default); one line per
#                                 target with its runs, speed and coverage; ends with one line
#                                 "N targets, N crashes"
#   ./fuzz.sh --smoke [seconds]   every target for a few seconds (3 by default), one
#                                 "[ OK ]" or "[FAIL]" line per target (for test.sh)
#   ./fuzz.sh --repro             runs the reproducers of fuzz/repro/ once each: "[ OK ]"
#                                 when the finding is mended, "[FAIL]" while it still crashes
#
# Each run starts from the committed seeds (fuzz/corpus/<target>/) and the corpus that earlier
# runs grew in build/fuzz/corpus/<target>/; a crash leaves its input in
# build/fuzz/artifacts/<target>/. A minimal one is kept as fuzz/repro/<target>/<name>, with
# one line that describes it in <name>.txt beside it.
source "$(dirname "$0")/scripts/common.sh"
set +e

mode=run
seconds=60
case "${1:-}" in
    --smoke) mode=smoke; seconds=${2:-3} ;;
    --repro) mode=repro ;;
    "") ;;
    *) seconds=$1 ;;
esac
case $seconds in
    ''|*[!0-9]*) echo "usage: ./fuzz.sh [seconds] | --smoke [seconds] | --repro" >&2; exit 2 ;;
esac

# A run that cannot start says so in the form its caller counts.
cannot_start() {
    [ "$mode" = smoke ] && echo "[FAIL] fuzz: $1"
    exit 1
}

ensure_packages "${FUZZ_PACKAGES[@]}" || cannot_start "the packages are missing"

# The build, with the compiler's errors shown when it fails.
out="$ROOT/build/fuzz.out"
mkdir -p "$ROOT/build"
if ! CC=clang-14 CXX=clang++-14 cmake -S "$ROOT/fuzz" -B "$ROOT/build/fuzz" -G Ninja >"$out" 2>&1 ||
   ! ninja -C "$ROOT/build/fuzz" >>"$out" 2>&1; then
    grep -v '^\[[0-9]*/[0-9]*\] ' "$out" >&2 || cat "$out" >&2
    echo "fuzz.sh: the fuzz build failed (whole output: $out)" >&2
    cannot_start "the fuzz build failed"
fi

targets=()
for source in "$ROOT"/fuzz/*.cpp; do
    name=$(basename "$source" .cpp)
    [ "$name" = harness ] || targets+=("$name")
done

# The simulated machines of the targets live in a scratch folder, in memory when possible.
scratch=$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "$ROOT/build" )/drvmate-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
# A small quarantine keeps the memory of the long runs low; leaks of the products' own
# resources are the targets' oracles, so libFuzzer's per-input leak check (which runs after
# every case that resets the machine) is off.
export ASAN_OPTIONS=quarantine_size_mb=16:${ASAN_OPTIONS:-}
export UBSAN_OPTIONS=print_stacktrace=1:${UBSAN_OPTIONS:-}
FLAGS=(-timeout=20 -detect_leaks=0 -print_final_stats=1)

if [ "$mode" = repro ]; then
    shopt -s nullglob
    open=0
    for target in "${targets[@]}"; do
        for input in "$ROOT/fuzz/repro/$target"/*; do
            case $input in *.txt) continue ;; esac
            what=$(cat "$input.txt" 2>/dev/null || basename "$input")
            if "$ROOT/build/fuzz/$target" "$input" >"$scratch/repro.log" 2>&1; then
                echo "[ OK ] $target: mended: $what"
            else
                echo "[FAIL] $target: still found: $what"
                open=$((open + 1))
                grep -m1 -E 'ERROR: |oracle broken|runtime error' "$scratch/repro.log"
            fi
            rm -rf "${scratch:?}"/winhost.*
        done
    done
    [ "$open" -eq 0 ]
    exit
fi

crashes=0
for target in "${targets[@]}"; do
    corpus="$ROOT/build/fuzz/corpus/$target"
    artifacts="$ROOT/build/fuzz/artifacts/$target"
    log="$ROOT/build/fuzz/$target.log"
    mkdir -p "$corpus" "$ROOT/fuzz/corpus/$target"
    rm -rf "$artifacts" && mkdir -p "$artifacts"
    "$ROOT/build/fuzz/$target" "$corpus" "$ROOT/fuzz/corpus/$target" -max_total_time="$seconds" \
        -artifact_prefix="$artifacts/" "${FLAGS[@]}" >"$log" 2>&1
    rm -rf "${scratch:?}"/winhost.*
    found=$(find "$artifacts" -type f | wc -l)
    crashes=$((crashes + found))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
    line="$target: ${runs:-?} runs, ${speed:-?} exec/s, cov: ${cov:-?}, crashes: $found"
    if [ "$mode" = smoke ]; then
        if [ "$found" -eq 0 ] && [ -n "$runs" ]; then echo "[ OK ] fuzz $line"; else echo "[FAIL] fuzz $line (log: $log)"; fi
    else
        echo "$line"
        [ "$found" -eq 0 ] || { grep -m1 -E 'ERROR: |oracle broken|runtime error' "$log"; ls "$artifacts"; }
    fi
done
echo "${#targets[@]} targets, $crashes crashes"
[ "$crashes" -eq 0 ]
