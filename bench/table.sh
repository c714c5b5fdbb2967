#!/usr/bin/env bash
# Turns the samples of a bench.sh run into its table: per figure the measured values (median
# and least–most), the ratio against its baseline, the goal and whether it holds. Every goal
# is set against baselines measured in the same run, so that the machine's load weighs on both
# sides. After the table, one line: "Every goal holds." or "Goals not met:" and one line per
# goal that does not hold (bench.sh exits 1 then).
#
#   bench/table.sh SAMPLES "WINE_SMALL WINE_LARGE" "HOST_SMALL HOST_LARGE" "DEVICES..." "STORES..."
#
# SAMPLES holds lines "sample NAME VALUE" (NAME wine.* or host.*, as bench.sh writes them).
# The store sizes are those the sweeps ran with, the device counts and store sizes those of
# the heap figures. Prints the table in Markdown.
set -euo pipefail

[ $# -eq 5 ] || { echo "usage: table.sh SAMPLES \"WINE_SMALL WINE_LARGE\" \"HOST_SMALL HOST_LARGE\" \"DEVICES...\" \"STORES...\"" >&2; exit 2; }
SAMPLES=$1
read -r -a WINE_STORES <<<"$2"
read -r -a HOST_STORES <<<"$3"
read -r -a HEAP_DEVICES <<<"$4"
read -r -a HEAP_STORES <<<"$5"

# The goals.
LOG_LINE_GOAL=1.05        # LogMessage over the checked append: a bare append with the log's checks
SCALING_GOAL=1.05         # per INF, the large store over the small one: 10.5 for ten times the INFs
OWN_OVER_WALKS_GOAL_MS=10 # Drvmate's msiexec /i and /x over the empty DLL, beyond the road's platform calls
HEAP_GOAL_BLOCKS=2        # a device's hardware-ID buffer and its list
FIRST_READ_BYTES=8196     # the buffer of the first hardware-ID read: 8192 bytes and two characters

# A number as it reads well: no decimals from 100 on, one from 10, else two.
NUMBER_FORMAT='function fmt(x, a) { a = x < 0 ? -x : x; return sprintf(a >= 100 ? "%.0f" : a >= 10 ? "%.1f" : "%.2f", x) }'

# Per name: median, least and most of its samples, as numbers and as text.
declare -A VALUE TEXT
while read -r name median least most median_text least_text most_text; do
    VALUE[$name.median]=$median VALUE[$name.min]=$least VALUE[$name.max]=$most
    TEXT[$name]="$median_text UNIT ($least_text–$most_text)"
done < <(awk "$NUMBER_FORMAT"'
     $1 == "sample" { n = ++count[$2]; v[$2, n] = $3 + 0 }
     END {
         for (name in count) {
             n = count[name]
             for (i = 1; i <= n; ++i) s[i] = v[name, i]
             for (i = 2; i <= n; ++i) { x = s[i]; for (j = i - 1; j >= 1 && s[j] > x; --j) s[j + 1] = s[j]; s[j + 1] = x }
             median = n % 2 ? s[(n + 1) / 2] : (s[n / 2] + s[n / 2 + 1]) / 2
             print name, median, s[1], s[n], fmt(median), fmt(s[1]), fmt(s[n])
         }
     }' "$SAMPLES")

# The median over the rounds of NAME_A's sample over NAME_B's of the same round (the i-th of
# each, as the program prints them round by round); empty without samples of both. Within a
# round the two ran one right after the other, so the machine's load changing from round to
# round weighs on both sides of each ratio.
paired_ratio() {
    awk -v a="$1" -v b="$2" '
        $1 == "sample" && $2 == a { x[++na] = $3 + 0 }
        $1 == "sample" && $2 == b { y[++nb] = $3 + 0 }
        END {
            n = na < nb ? na : nb
            for (i = 1; i <= n; ++i) r[i] = x[i] / y[i]
            for (i = 2; i <= n; ++i) { v = r[i]; for (j = i - 1; j >= 1 && r[j] > v; --j) r[j + 1] = r[j]; r[j + 1] = v }
            if (n) printf("%.6f\n", n % 2 ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2)
        }' "$SAMPLES"
}
# sampled NAME median|min|max; empty when there is no sample of that name.
sampled() { echo "${VALUE[$1.$2]:-}"; }
# "median unit (least–most)" of NAME, or "no samples".
measured() {
    local text=${TEXT[$1]:-}
    [ -n "$text" ] || { echo "no samples"; return; }
    echo "${text/UNIT/$2}"
}
# A count; a number as it reads well; a difference with its sign.
count() { awk -v x="$1" 'BEGIN { printf("%d", x) }'; }
num() { awk -v x="$1" "$NUMBER_FORMAT"' BEGIN { printf("%s", fmt(x)) }'; }
# A ratio that a goal bounds, with one more digit than num, so that one just past its goal
# does not read as equal to it.
precise() { awk -v x="$1" 'BEGIN { printf(x >= 10 ? "%.2f" : "%.3f", x) }'; }
signed() { awk -v x="$1" "$NUMBER_FORMAT"' BEGIN { printf("%s%s", x >= 0 ? "+" : "", fmt(x)) }'; }
thousands() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
calc() { awk "BEGIN { printf(\"%.6f\", $1) }"; }
# holds when the awk condition is true, else FAILS; "no samples" when a value it needs is missing.
verdict() {
    local condition=$1 value
    shift
    for value in "$@"; do [ -n "$value" ] || { echo "no samples"; return; }; done
    if awk "BEGIN { exit !($condition) }"; then echo holds; else echo FAILS; fi
}

echo "| figure | measured: median (least–most) | against baseline | goal | result |"
echo "|---|---|---|---|---|"
# The rows whose goal does not hold: "figure: against baseline; goal: result".
unmet=()
row() {
    echo "| $1 | $2 | $3 | $4 | $5 |"
    [ "$4" = printed ] || [[ $5 == holds* ]] || unmet+=("$1: ${3:-no ratio}; goal ${4}: $5")
}

# The log line, against two appends of the same bytes: the bare one, and the checked one that
# opens through CreateFileW and checks the handle's records and the owner first, as the log
# must before it writes into a folder every user may create files in. The goal is set on the
# checked one: LogMessage's least round over the checked append's least round, the rounds the
# machine's other work disturbed least, as with the other figures; the median of the rounds'
# own ratios is printed beside it. The checks' share is of the checked append's time, the
# median of the rounds'. The checked append of the line formatted as LogMessage formats it is
# printed too: what formatting adds.
ratio= least_drvmate=$(sampled wine.log.drvmate.us_per_line min) least_checked=$(sampled wine.log.checked.us_per_line min)
[ -n "$least_drvmate" ] && [ -n "$least_checked" ] && ratio=$(calc "$least_drvmate / $least_checked")
round_ratio=$(paired_ratio wine.log.drvmate.us_per_line wine.log.checked.us_per_line)
bare_ratio=$(paired_ratio wine.log.drvmate.us_per_line wine.log.bare.us_per_line)
bare_share=$(paired_ratio wine.log.bare.us_per_line wine.log.checked.us_per_line)
against= share= formatted=
if [ -n "$ratio" ]; then
    against="$(precise "$ratio")x the checked append, least rounds"
    [ -z "$round_ratio" ] || against+=" (rounds' median: $(precise "$round_ratio")x)"
    [ -z "$bare_ratio" ] || against+="; $(num "$bare_ratio")x the bare one"
fi
[ -z "$bare_share" ] || share=", the checks $(num "$(calc "100 * (1 - $bare_share)")")% of it"
[ -z "$(sampled wine.log.formatted.us_per_line min)" ] ||
    formatted="; the checked append of the line formatted by _vsnwprintf $(measured wine.log.formatted.us_per_line µs)"
row "log line, Wine" \
    "LogMessage $(measured wine.log.drvmate.us_per_line µs); bare _wfsopen(\"at\") + fwrite + fclose of the same bytes $(measured wine.log.bare.us_per_line µs); checked append (CreateFileW, two GetFileInformationByHandleEx records, GetKernelObjectSecurity of an existing log, the same write) $(measured wine.log.checked.us_per_line µs)$share$formatted" \
    "$against" "at most ${LOG_LINE_GOAL}x the checked append" "$(verdict "$ratio <= $LOG_LINE_GOAL" "$ratio")"

# The store sweep's scaling: the whole sweep's CPU time, the large store over the small one,
# each size's least round: the round the machine's other work disturbed least. Where the wall
# times were sampled too, their ratio is printed beside it.
scaling_row() {  # label, sample prefix, small, large
    local small=$3 large=$4 a b ratio= goal wall= wall_text=
    a=$(sampled "$2.$small.us_per_inf" min) b=$(sampled "$2.$large.us_per_inf" min)
    [ -n "$a" ] && [ -n "$b" ] && ratio=$(calc "$b * $large / ($a * $small)")
    goal=$(calc "$SCALING_GOAL * $large / $small")
    a=$(sampled "$2.$small.wall_us_per_inf" min) b=$(sampled "$2.$large.wall_us_per_inf" min)
    if [ -n "$a" ] && [ -n "$b" ]; then
        wall=$(calc "$b * $large / ($a * $small)")
        wall_text="; wall time: $(thousands "$small") INFs $(measured "$2.$small.wall_us_per_inf" µs/INF), $(thousands "$large") INFs $(measured "$2.$large.wall_us_per_inf" µs/INF)"
    fi
    row "store sweep scaling, $1" \
        "CPU time: $(thousands "$small") INFs $(measured "$2.$small.us_per_inf" µs/INF), $(thousands "$large") INFs $(measured "$2.$large.us_per_inf" µs/INF)$wall_text" \
        "${ratio:+t($(thousands "$large")) / t($(thousands "$small")) = $(precise "$ratio"), least rounds${wall:+ (wall time: $(precise "$wall"))}}" \
        "at most $(num "$goal")" "$(verdict "$ratio <= $goal" "$ratio")"
}
scaling_row Wine wine.sweep "${WINE_STORES[@]}"
scaling_row host host.sweep "${HOST_STORES[@]}"

# Where a swept INF's CPU time goes, under Wine, on the small store.
search=$(sampled wine.split.search_us median) parse=$(sampled wine.split.parse_us median)
logging=$(sampled wine.split.log_us median)
split="no samples"
if [ -n "$search" ] && [ -n "$parse" ] && [ -n "$logging" ]; then
    total=$(calc "$search + $parse + $logging")
    share() { num "$(calc "100 * $1 / $total")"; }
    split="search $(measured wine.split.search_us µs), $(share "$search")%; INF parsing $(measured wine.split.parse_us µs), $(share "$parse")%; the two log lines $(measured wine.split.log_us µs), $(share "$logging")%"
fi
row "sweep cost per INF, Wine ($(thousands "${WINE_STORES[0]}") INFs)" "$split" "" "printed" ""

# The custom actions' own cost, in the CPU time of the prefix's processes: the example package
# over the one with the empty DLL. Each road must make platform calls whose work is Wine's,
# not Drvmate's: the removal passes' device walks (the class's present devices, then all of
# all classes), the driver store's sweep and the deletion of the driver binaries; the install
# also the reads of its INF's class, the staging of the INF, the update of the class's
# devices with its walk, and the re-enumeration. The bench makes those calls alone, in a fresh
# process of the same prefix, on a copy of the example's package folder and in the state
# msiexec finds (the install stages the package that the removal then uninstalls), in the
# same CPU time: the goal is those calls plus a fixed margin. Wine's own processes now and then do work of
# their own during a run (tens of milliseconds at a time, in any of the packages' runs alike),
# which only ever adds CPU time: so each side is its least round, the run that such work
# disturbed least, as with the sweep's scaling; the rounds' medians and the round-by-round
# differences are printed beside them. Where Drvmate comes out cheaper than a DLL that does
# nothing, no round was undisturbed, and the result says so. The wall times (less the
# install's pause after its rescan, which takes no CPU) are printed too.
msi_row() {  # /i or /x, install or remove
    local example empty own= walks passes goal= result against= floor_text
    example=$(sampled "wine.msi.example.$2_ms" min) empty=$(sampled "wine.msi.empty.$2_ms" min)
    [ -n "$example" ] && [ -n "$empty" ] && own=$(calc "$example - $empty")
    walks=$(sampled "wine.msi.walks.$2_ms" min) passes=$(sampled "wine.msi.walks.$2_passes" median)
    [ -n "$walks" ] && goal=$(calc "$walks + $OWN_OVER_WALKS_GOAL_MS")
    result=$(verdict "$own <= $goal" "$own" "$goal")
    if [ -n "$own" ] && awk "BEGIN { exit !($own < 0) }"; then
        result+=" (noisy: Drvmate came out cheaper than the empty DLL)"
    fi
    if [ -n "$own" ]; then
        against="$(signed "$own") ms"
        [ -z "$walks" ] || against+="; $(signed "$(calc "$own - $walks")") ms beyond the platform calls"
        against+=", least rounds"
    fi
    floor_text="the road's platform calls alone"
    [ -z "$passes" ] || floor_text+=" ($(count "$passes") removal pass$([ "$(count "$passes")" = 1 ] || echo es))"
    row "custom actions' own cost, msiexec $1" \
        "CPU time: example package $(measured "wine.msi.example.$2_ms" ms); empty custom-action DLL $(measured "wine.msi.empty.$2_ms" ms); no custom actions $(measured "wine.msi.none.$2_ms" ms); $floor_text $(measured "wine.msi.walks.$2_ms" ms); Drvmate over the empty DLL round by round $(measured "wine.msi.own.$2_ms" ms). Wall time: example package $(measured "wine.msi.example.$2_wall_ms" ms); Drvmate over the empty DLL $(measured "wine.msi.own.$2_wall_ms" ms); the platform calls $(measured "wine.msi.walks.$2_wall_ms" ms)" \
        "$against" "Drvmate over the empty DLL at most the platform calls + $OWN_OVER_WALKS_GOAL_MS ms${goal:+: $(num "$goal") ms}" "$result"
}
msi_row /i install
msi_row /x remove
row "Wine's cost of any DLL custom action" \
    "CPU time, empty DLL over no custom actions: /i $(measured wine.msi.dll.install_ms ms); /x $(measured wine.msi.dll.remove_ms ms)" \
    "" "printed" ""

# Peak heap: the same two blocks, of the same bytes (one buffer of the first hardware-ID read
# and its list), whatever the count, and nothing left afterwards.
heap_cases=()
for n in "${HEAP_DEVICES[@]}"; do heap_cases+=("devices.$n"); done
for n in "${HEAP_STORES[@]}"; do heap_cases+=("store.$n"); done
heap_text= heap_failed= heap_missing= first_bytes= last_bytes=
for c in "${heap_cases[@]}"; do
    case $c in
        devices.1) label="1 device" ;;
        devices.*) label="$(thousands "${c#*.}") devices" ;;
        store.*) label="a store of $(thousands "${c#*.}") INFs" ;;
    esac
    blocks=$(sampled "host.heap.$c.peak_blocks" median) bytes=$(sampled "host.heap.$c.peak_bytes" median)
    live=$(sampled "host.heap.$c.live_blocks" median)
    if [ -z "$blocks" ] || [ -z "$bytes" ] || [ -z "$live" ]; then
        heap_text+="${heap_text:+; }$label: no samples"
        heap_missing=1
        continue
    fi
    heap_text+="${heap_text:+; }$label: $(count "$blocks") blocks, $(thousands "$(count "$bytes")") bytes"
    [ "$(count "$live")" = 0 ] || heap_text+=" ($(count "$live") blocks left)"
    first_bytes=${first_bytes:-$bytes}
    last_bytes=$bytes
    if ! awk -v b="$blocks" -v y="$bytes" -v f="$first_bytes" -v l="$live" -v goal="$HEAP_GOAL_BLOCKS" \
             -v one="$FIRST_READ_BYTES" 'BEGIN { exit !(b == goal && y > 0 && y == f && y < 2 * one && l == 0) }'; then
        heap_failed=1
    fi
done
heap_verdict=holds
[ -z "$heap_missing" ] || heap_verdict="no samples"
[ -z "$heap_failed" ] || heap_verdict=FAILS
heap_ratio=
[ -n "$first_bytes" ] && heap_ratio=$(calc "$last_bytes / $first_bytes")
row "peak heap, host" "${heap_text:-no samples}" "${heap_ratio:+$(num "$heap_ratio")x}" \
    "constant: $HEAP_GOAL_BLOCKS blocks, one hardware-ID buffer, nothing left" "$heap_verdict"

# Log volume.
row "log volume" \
    "Wine: $(measured "wine.sweep.${WINE_STORES[1]}.log_bytes_per_inf" "bytes per store INF swept"); host: $(measured "host.sweep.${HOST_STORES[1]}.log_bytes_per_inf" "bytes per store INF swept")" \
    "" "printed" ""

echo
if [ ${#unmet[@]} -eq 0 ]; then
    echo "Every goal holds."
else
    echo "Goals not met:"
    printf -- '- %s\n' "${unmet[@]}"
fi
