#!/usr/bin/env bash
# Times Tessel's split and join against GNU split and cat on the same 512 MiB file, in memory
# (/dev/shm) and on the machine's disk, reports Tessel's peak memory, and prints PASS or FAIL
# for each target. This is a benchmark, not a test: it exits 0 whatever the figures are, and
# non-zero only when it cannot run or Tessel returns wrong bytes.
#
# Usage: bash scripts/bench.sh [--copy-experiment]
#   --copy-experiment  afterwards also compares copy strategies (buffer sizes, copy_file_range,
#                      ways of flushing) with bench/copy_experiment; adds several minutes.
# Environment: BENCH_RUNS (timed runs per measurement, default 3; the best counts),
#              BENCH_SIZE_MIB (size of the test file, default 512),
#              BENCH_TESSEL (another tessel_bench to time instead of the one built here, to
#              try a change of the engine against the same baseline).
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-bench

tessel_bin=${BENCH_TESSEL:-$build/bench/tessel_bench}
runs=${BENCH_RUNS:-3}
size_mib=${BENCH_SIZE_MIB:-512}
copy_experiment=no
for arg in "$@"; do
    case $arg in
        --copy-experiment) copy_experiment=yes ;;
        *) echo "usage: bash scripts/bench.sh [--copy-experiment]" >&2; exit 2 ;;
    esac
done

# Targets.
readonly memory_ratio_target=1.10 disk_ratio_target=1.25 rss_target_kib=$((32 * 1024))
readonly memory_chunks=(1457644 104857600 1073741824) disk_chunks=(1457644 104857600)

stage() { printf '\n==== %s ====\n' "$*"; }

build_tools() {
    bash scripts/setup.sh
    cmake --preset bench >/dev/null  # builds in $build
    cmake --build --preset bench -j2
}

describe_machine() {
    echo "cores: $(nproc)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
    echo "kernel: $(uname -r)"
    echo "memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
    echo "gnu: $(split --version | head -1), $(cat --version | head -1)"
    echo "in memory: $shm ($(findmnt -no FSTYPE -T "$shm" | head -1))"
    echo "on disk: $disk ($(findmnt -no FSTYPE,SOURCE -T "$disk"))"
    echo "tessel: $tessel_bin"
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews timings)"
}

# Seconds, as a decimal, between two $EPOCHREALTIME readings.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
# The smallest and the median of the times given as arguments.
best_of() { printf '%s\n' "$@" | sort -g | head -1; }
median_of() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

# Runs "$@" and stores its wall time in $last_time. Timing uses the shell's own clock, so no
# extra process sits inside the measured span.
timed() {
    local start=$EPOCHREALTIME
    "$@"
    last_time=$(elapsed "$start" "$EPOCHREALTIME")
}

# Lets the file system settle between runs: deletions are committed before the next timing.
settle() { [ "$1" = disk ] && sync -f "$2" || true; }

pieces_needed() { echo $(( ($2 + $1 - 1) / $1 )); }

# The pieces Tessel names for base $1, numbered 1 to $2, one per line.
piece_list() { local n; for ((n = 1; n <= $2; n++)); do echo "$1.$n.BRK"; done; }

# Fails the whole bench when Tessel's pieces in $1 are not the input cut at $2 bytes.
check_pieces() {
    local folder=$1 chunk=$2 count
    count=$(pieces_needed "$chunk" "$data_bytes")
    [ "$(find "$folder" -name '*.BRK' | wc -l)" -eq "$count" ] ||
        { echo "FAULT: Tessel wrote the wrong number of pieces in $folder" >&2; exit 1; }
    piece_list "$folder/data.bin" "$count" | xargs cat | cmp -s - "$input" ||
        { echo "FAULT: Tessel's pieces in $folder do not rebuild the input" >&2; exit 1; }
}

# Keeps in $rss the highest peak resident memory (KiB) that tessel_bench has reported.
note_peak_rss() {
    local kib
    kib=$(sed -n 's/^peak_rss_kib=//p' "$work/stderr")
    (( kib <= rss )) || rss=$kib
}

# Runs tessel_bench with "$@"; its stderr (peak memory, failure text) goes to $work/stderr, and
# a failure ends the bench, since the figures would mean nothing.
tessel() {
    "$tessel_bin" "$@" 2>"$work/stderr" ||
        { echo "FAULT: tessel_bench $* failed: $(cat "$work/stderr")" >&2; exit 1; }
}
tessel_split() { tessel split "$input" "$1" "$2"; }
gnu_split() {
    split -b "$2" "$input" "$1/data.bin."
    [ "$medium" = memory ] || sync -- "$1"/data.bin.*
}
tessel_join() { tessel join "$1/data.bin"; }
gnu_join() {
    cat -- "${piece_files[@]}" >"$1/gnu.joined"
    [ "$medium" = memory ] || sync -- "$1/gnu.joined"
}

# One Tessel split and one GNU split of $input at chunk $1 into fresh folders; run $2 (0 is the
# untimed warm-up) decides which goes first, so neither always inherits the other's leftovers.
split_round() {
    local chunk=$1 run=$2 side order=(tessel gnu)
    (( run % 2 == 0 )) && order=(gnu tessel)
    for side in "${order[@]}"; do
        local out=$work/$side-split
        if [ "$side" = tessel ]; then
            timed tessel_split "$out" "$chunk"
            note_peak_rss
            (( run == 1 )) && check_pieces "$out" "$chunk"
        else
            mkdir "$out"
            timed gnu_split "$out" "$chunk"
        fi
        (( run == 0 )) || times[$side]+=" $last_time"
        rm -rf "$out"
        settle "$medium" "$work"
    done
}

# One Tessel join and one GNU join of the pieces in $1; each writes a new file beside them.
join_round() {
    local pieces=$1 run=$2 side order=(tessel gnu)
    (( run % 2 == 0 )) && order=(gnu tessel)
    for side in "${order[@]}"; do
        if [ "$side" = tessel ]; then
            timed tessel_join "$pieces"
            note_peak_rss
            (( run == 1 )) && { cmp -s "$pieces/data.bin" "$input" ||
                { echo "FAULT: Tessel's join differs from the input" >&2; exit 1; }; }
            rm -f "$pieces/data.bin"
        else
            timed gnu_join "$pieces"
            rm -f "$pieces/gnu.joined"
        fi
        (( run == 0 )) || times[$side]+=" $last_time"
        settle "$medium" "$work"
    done
}

ratio() { awk -v t="$1" -v g="$2" 'BEGIN { printf "%.3f", t / g }'; }

# Appends one row to the result table: medium, operation, chunk, best times and their ratio
# (which the target is checked on), the ratio of the medians, and Tessel's peak memory.
record() {
    local target=$1 tessel_best gnu_best best_ratio median_ratio verdict rss_verdict=PASS
    # shellcheck disable=SC2086  # the recorded times are words
    {
        tessel_best=$(best_of ${times[tessel]}) gnu_best=$(best_of ${times[gnu]})
        median_ratio=$(ratio "$(median_of ${times[tessel]})" "$(median_of ${times[gnu]})")
    }
    best_ratio=$(ratio "$tessel_best" "$gnu_best")
    verdict=$(awk -v r="$best_ratio" -v t="$target" 'BEGIN { print (r <= t) ? "PASS" : "FAIL" }')
    (( rss < rss_target_kib )) || rss_verdict=FAIL
    rows+=("$(printf '%-6s %-5s %10s %7.3f %7.3f %6s %6s %6s  %-4s %6.1f  %-4s' "$medium" "$op" \
        "$chunk" "$tessel_best" "$gnu_best" "$best_ratio" "<=$target" "$median_ratio" \
        "$verdict" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$rss_verdict")")
    [ "$verdict" = PASS ] || failures=$((failures + 1))
    [ "$rss_verdict" = PASS ] || failures=$((failures + 1))
}

# Measures split and join at every chunk size of one medium.
measure_medium() {
    medium=$1 work=$2 input=$2/data.bin
    local target=$3 run
    shift 3
    for chunk in "$@"; do
        op=split times=([tessel]="" [gnu]="") rss=0
        echo "  $medium: split at $chunk bytes"
        for ((run = 0; run <= runs; run++)); do split_round "$chunk" "$run"; done
        record "$target"

        op=join times=([tessel]="" [gnu]="") rss=0
        echo "  $medium: join of pieces of $chunk bytes"
        tessel split "$input" "$work/pieces" "$chunk"
        mapfile -t piece_files < <(piece_list "$work/pieces/data.bin" \
            "$(pieces_needed "$chunk" "$data_bytes")")
        rm -f "$work/pieces/data.bin"
        settle "$medium" "$work"
        for ((run = 0; run <= runs; run++)); do join_round "$work/pieces" "$run"; done
        rm -rf "$work/pieces"
        record "$target"
    done
}

print_table() {
    stage "Results (best of $runs runs, in seconds; peak RSS in MiB)"
    printf '%-6s %-5s %10s %7s %7s %6s %6s %6s  %-4s %6s  %-4s\n' medium op chunk tessel gnu \
        ratio target median time RSS "<32M"
    printf '%s\n' "${rows[@]}"
    echo
    echo "ratio = Tessel's best time / GNU's best time (the target is checked on it);"
    echo "median = the same ratio of the median times, for judging noise."
    echo "memory = /dev/shm: Tessel vs 'split -b CHUNK' and 'cat pieces > target'."
    echo "disk   = ext4 under the build folder, every piece on the medium: Tessel (fsync per"
    echo "         piece) vs split then 'sync' of every piece, and cat then 'sync' of the target."
    if (( failures == 0 )); then echo "All targets met."; else echo "$failures target(s) missed."; fi
}

run_copy_experiment() {
    stage "Copy strategies (bench/copy_experiment; seconds, best and median of $runs)"
    local medium folder chunk
    for medium in "$shm" "$disk"; do
        for chunk in "${disk_chunks[@]}"; do
            folder=$(mktemp -d "$medium/copy.XXXXXX")
            "$build/bench/copy_experiment" "$medium/data.bin" "$folder" "$chunk" "$runs"
            rm -rf "$folder"
        done
    done
}

cleanup() { rm -rf "${shm:-}" "${disk:-}"; }

main() {
    stage "Build ($build)"
    build_tools
    shm=$(mktemp -d /dev/shm/tessel-bench.XXXXXX)
    disk=$(mktemp -d "$build/bench-disk.XXXXXX")
    trap cleanup EXIT
    stage "Machine"
    describe_machine

    stage "Data: ${size_mib} MiB of random bytes, made once"
    head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$shm/data.bin"
    cp "$shm/data.bin" "$disk/data.bin"
    sync -- "$disk/data.bin"
    cat "$disk/data.bin" >/dev/null  # the disk copy is read from the page cache by both sides
    data_bytes=$(stat -c %s "$shm/data.bin")

    rows=() failures=0 piece_files=()
    declare -gA times
    stage "Measuring"
    # Both sides run at the same raised priority, when allowed, so that other work on a shared
    # machine disturbs the timings less.
    renice -n -10 -p $$ >/dev/null 2>&1 || true
    local started=$SECONDS
    measure_medium memory "$shm" "$memory_ratio_target" "${memory_chunks[@]}"
    measure_medium disk "$disk" "$disk_ratio_target" "${disk_chunks[@]}"
    echo "  measured in $((SECONDS - started)) s; load average now $(cut -d' ' -f1-3 /proc/loadavg)"
    print_table
    [ "$copy_experiment" = no ] || run_copy_experiment
    echo "bench.sh took $SECONDS s"
    exit 0
}

main
