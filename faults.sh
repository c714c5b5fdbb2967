#!/usr/bin/env bash
# Walks the fault matrix (tests/faults/): for each scenario, every platform call of a clean
# run is made to fail with each error Microsoft documents for it, and the process is killed at
# every call; after each run the invariants are checked, and a clean run of the same export
# must leave the machine where a clean run from the start leaves it.
#
#   ./faults.sh               the whole matrix; one line per scenario, then
#                             "N scenarios, N failure points, N stop points, N violations"
#   ./faults.sh --sample      the fixed sample that ./test.sh walks, and the reproducers
#   ./faults.sh NAME...       the scenarios of these names (./faults.sh --list names them all)
#
# Builds build/host first. Exits 0 when no violation was found.
source "$(dirname "$0")/scripts/common.sh"
set +e
if ! build host; then
    echo "faults.sh: build host failed" >&2
    exit 1
fi
"$ROOT/build/host/fault_explorer" "$@"
