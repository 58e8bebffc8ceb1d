#!/usr/bin/env bash
# Times Tessel's split and join on the same 512 MiB file against GNU tools: bare split and cat,
# and the GNU way of the same checked outputs (split then sha256sum of the pieces; sha256sum -c
# then cat), plus a join of a set whose checksum file was removed against cat. It measures in
# memory (/dev/shm), on the machine's disk and, when run as root, on XFS (with reflink) and btrfs
# loop images; it reports how near the in-memory times come to the two-core hashing floor and
# Tessel's peak memory, and prints PASS or FAIL for each target. This is a benchmark, not a test:
# it exits 0 whatever the figures are, and non-zero only when it cannot run or Tessel returns
# wrong bytes.
#
# Usage: bash scripts/bench.sh [--copy-experiment]
#   --copy-experiment  afterwards also compares copy strategies (buffer sizes, copy_file_range,
#                      ways of flushing) with bench/copy_experiment; adds several minutes.
# Environment: BENCH_RUNS (timed runs per measurement, default 3; the best counts),
#              BENCH_SIZE_MIB (size of the test file, default 512),
#              BENCH_MEDIA (the media to measure, default "memory disk xfs btrfs"),
#              BENCH_TESSEL (another tessel_bench to time instead of the one built here, to
#              try a change of the engine against the same baseline).
# shellcheck disable=SC2317  # the timed sides and the exit trap are called by name
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-bench

tessel_bin=${BENCH_TESSEL:-$build/bench/tessel_bench}
runs=${BENCH_RUNS:-3}
size_mib=${BENCH_SIZE_MIB:-512}
read -r -a media <<<"${BENCH_MEDIA:-memory disk xfs btrfs}"
copy_experiment=no
for arg in "$@"; do
    case $arg in
        --copy-experiment) copy_experiment=yes ;;
        *) echo "usage: bash scripts/bench.sh [--copy-experiment]" >&2; exit 2 ;;
    esac
done

# Targets: Tessel's time over the other side's, at most.
readonly gnu_way_target=0.50          # checked split and join against the GNU way, everywhere
readonly disk_target=1.25             # against bare split or cat + sync on the disk
readonly shared_extents_target=1.00   # the split against bare split + sync on XFS and btrfs
readonly unchecked_join_target=1.00   # a join without a checksum file against cat, everywhere
readonly rss_target_kib=$((16 * 1024))
readonly memory_chunks=(1457644 104857600 1073741824) chunks=(1457644 104857600)
# The loop images: room for the input, one set of pieces and one joined file at once.
readonly image_mib=2560
# What is timed: Tessel's side first, then the GNU sides it is compared with.
readonly split_sides=(tessel_split gnu_split gnu_split_sha256sum)
readonly join_sides=(tessel_join tessel_join_unchecked gnu_cat gnu_sha256sum_cat)

stage() { printf '\n==== %s ====\n' "$*"; }

build_tools() {
    bash scripts/setup.sh
    cmake --preset bench >/dev/null  # builds in $build
    cmake --build --preset bench -j2
}

# What only the benchmark uses: mkfs for the XFS and btrfs images, and openssl for the hashing
# speed. Installed only when run as root (loop images need root anyway); where one cannot be
# had, the rows that need it are skipped.
install_bench_extras() {
    local packages=(xfsprogs btrfs-progs openssl) missing=() package
    (( EUID == 0 )) || return 0
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    (( ${#missing[@]} > 0 )) || return 0
    echo "Installing: ${missing[*]}"
    { DEBIAN_FRONTEND=noninteractive apt-get update -q &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            "${missing[@]}"; } >/dev/null ||
        echo "Could not install ${missing[*]}: the rows that need them are skipped."
}

describe_machine() {
    local name note
    echo "cores: $(nproc)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')" \
        "($(grep -qw sha_ni /proc/cpuinfo && echo with || echo without) SHA instructions)"
    echo "kernel: $(uname -r)"
    echo "memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
    echo "gnu: $(split --version | head -1), $(sha256sum --version | head -1)"
    command -v openssl >/dev/null && echo "openssl: $(openssl version)"
    for name in "${media[@]}"; do
        [ -n "${folder[$name]:-}" ] || continue
        note=""
        case $name in xfs | btrfs) note=", a ${image_mib} MiB loop image on the disk, direct I/O" ;; esac
        printf '%-7s %s (%s%s)\n' "$name:" "${folder[$name]}" \
            "$(findmnt -no FSTYPE,SOURCE -T "${folder[$name]}" | head -1 | tr -s ' ')" "$note"
    done
    echo "tessel: $tessel_bin"
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews timings)"
}

# Seconds, as a decimal, between two $EPOCHREALTIME readings.
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
# The smallest and the median of the times given as arguments.
best_of() { printf '%s\n' "$@" | sort -g | head -1; }
median_of() { printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
ratio() { awk -v t="$1" -v g="$2" 'BEGIN { printf "%.3f", t / g }'; }

# Runs "$@" and stores its wall time in $last_time. Timing uses the shell's own clock, so no
# extra process sits inside the measured span.
timed() {
    local start=$EPOCHREALTIME
    "$@"
    last_time=$(elapsed "$start" "$EPOCHREALTIME")
}

# The words after the first, rotated left by the first: run N puts a different side first, so
# that no side always inherits another's leftovers in the caches.
rotated() {
    local turn=$1
    shift
    turn=$((turn % $#))
    echo "${@:turn+1}" "${@:1:turn}"
}

fault() { echo "FAULT: $*" >&2; exit 1; }

# Lets the file system settle between runs: deletions are committed before the next timing.
settle() { [ "$medium" = memory ] || sync -f "$work"; }
# A GNU side ends by putting what it wrote on the medium, as Tessel does for itself.
flush_files() { [ "$medium" = memory ] || sync -- "$@"; }

pieces_needed() { echo $(( ($2 + $1 - 1) / $1 )); }

# The pieces Tessel names for base $1, numbered 1 to $2, one per line.
piece_list() { local n; for ((n = 1; n <= $2; n++)); do echo "$1.$n.BRK"; done; }

# Fails the whole bench when Tessel's pieces in $1 are not the input cut at $2 bytes, or when
# its checksum file does not list each of them with its right SHA-256.
check_split() {
    local folder=$1 chunk=$2 count
    count=$(pieces_needed "$chunk" "$data_bytes")
    [ "$(find "$folder" -name '*.BRK' | wc -l)" -eq "$count" ] ||
        fault "Tessel wrote the wrong number of pieces in $folder"
    piece_list "$folder/data.bin" "$count" | xargs cat | cmp -s - "$input" ||
        fault "Tessel's pieces in $folder do not rebuild the input"
    [ "$(grep -vc '^#' "$folder/data.bin.sha256")" -eq "$count" ] ||
        fault "Tessel's checksum file in $folder does not list every piece"
    (cd "$folder" && sha256sum --strict --quiet -c data.bin.sha256) ||
        fault "sha256sum -c rejects Tessel's checksum file in $folder"
}

# Fails the whole bench when Tessel's join in $1 differs from the input, or did not take the
# path it was timed for: verified against the checksum file ($2 = yes) or not ($2 = no).
check_join() {
    cmp -s "$1/data.bin" "$input" || fault "Tessel's join in $1 differs from the input"
    grep -qx "verified=$2" "$stderr_file" ||
        fault "Tessel's join in $1 was not the one timed (expected verified=$2)"
}

# Keeps in rss[$1] the highest peak resident memory (KiB) that tessel_bench has reported.
note_peak_rss() {
    local kib
    kib=$(sed -n 's/^peak_rss_kib=//p' "$stderr_file")
    (( kib <= ${rss[$1]:-0} )) || rss[$1]=$kib
}

# Runs tessel_bench with "$@"; its stderr (peak memory, failure text) goes to $stderr_file, and
# a failure ends the bench, since the figures would mean nothing.
tessel() {
    "$tessel_bin" "$@" 2>"$stderr_file" || fault "tessel_bench $* failed: $(cat "$stderr_file")"
}

# The sides of a split: each writes the pieces of $input at chunk $2 into folder $1.
tessel_split() { tessel split "$input" "$1" "$2"; }
gnu_split() {
    split -b "$2" -- "$input" "$1/data.bin."
    flush_files "$1"/data.bin.*
}
gnu_split_sha256sum() {
    split -b "$2" -- "$input" "$1/data.bin."
    (cd "$1" && sha256sum -- data.bin.* >data.bin.sha256)
    flush_files "$1"/data.bin.*
}

# The sides of a join: each joins Tessel's pieces in folder $1 into a new file beside them.
# The unchecked join is the same call; its round moves the checksum file away around it.
tessel_join() { tessel join "$1/data.bin"; }
tessel_join_unchecked() { tessel join "$1/data.bin"; }
gnu_cat() {
    cat -- "${piece_files[@]}" >"$1/gnu.joined"
    flush_files "$1/gnu.joined"
}
gnu_sha256sum_cat() {
    (cd "$1" && sha256sum --quiet -c data.bin.sha256) ||
        fault "sha256sum -c rejects Tessel's pieces in $1"
    gnu_cat "$1"
}

# One timing of each split side at chunk $1, each into a fresh folder; run $2 (0 is the untimed
# warm-up) decides the order.
split_round() {
    local chunk=$1 run=$2 side out
    for side in $(rotated "$run" "${split_sides[@]}"); do
        out=$work/split-$side
        [ "$side" = tessel_split ] || mkdir "$out"
        timed "$side" "$out" "$chunk"
        if [ "$side" = tessel_split ]; then
            note_peak_rss "$side"
            (( run != 1 )) || check_split "$out" "$chunk"
        fi
        (( run == 0 )) || times[$side]+=" $last_time"
        rm -rf "$out"
        settle
    done
}

# One timing of each join side of the pieces in $1; run $2 decides the order.
join_round() {
    local pieces=$1 run=$2 side
    for side in $(rotated "$run" "${join_sides[@]}"); do
        if [ "$side" = tessel_join_unchecked ]; then
            mv "$pieces/data.bin.sha256" "$work/aside.sha256"
        fi
        timed "$side" "$pieces"
        case $side in
            tessel_join | tessel_join_unchecked)
                note_peak_rss "$side"
                if (( run == 1 )); then
                    if [ "$side" = tessel_join ]; then check_join "$pieces" yes
                    else check_join "$pieces" no; fi
                fi
                rm -f "$pieces/data.bin" ;;
            *) rm -f "$pieces/gnu.joined" ;;
        esac
        if [ "$side" = tessel_join_unchecked ]; then
            mv "$work/aside.sha256" "$pieces/data.bin.sha256"
        fi
        (( run == 0 )) || times[$side]+=" $last_time"
        settle
    done
}

# The target of one comparison on this medium, or "info" where none applies: in memory copying
# is bound by hashing (the floor is reported instead), and on XFS and btrfs cat shares the
# pieces' extents and reads no byte, which no join that checks every byte can match.
target_of() {
    case $1 in
        split-gnu-way | join-gnu-way) echo "$gnu_way_target" ;;
        join-unchecked) echo "$unchecked_join_target" ;;
        split-bare)
            case $medium in
                memory) echo info ;;
                disk) echo "$disk_target" ;;
                *) echo "$shared_extents_target" ;;
            esac ;;
        join-bare) if [ "$medium" = disk ]; then echo "$disk_target"; else echo info; fi ;;
    esac
}

verdict_of() {
    if [ "$2" = info ]; then echo info; return; fi
    awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "PASS" : "FAIL" }'
}

# Appends one row to the result table: Tessel's side $1 against side $2, labelled $3 and $4,
# checked against the target of comparison $5. The target is checked on the ratio of the best
# times; the ratio of the medians is shown beside it for judging noise.
record() {
    local ours=$1 theirs=$2 target ours_best theirs_best best_ratio median_ratio verdict
    local rss_verdict=PASS
    target=$(target_of "$5")
    # shellcheck disable=SC2086  # the recorded times are words
    {
        ours_best=$(best_of ${times[$ours]}) theirs_best=$(best_of ${times[$theirs]})
        median_ratio=$(ratio "$(median_of ${times[$ours]})" "$(median_of ${times[$theirs]})")
    }
    best_ratio=$(ratio "$ours_best" "$theirs_best")
    verdict=$(verdict_of "$best_ratio" "$target")
    (( rss[$ours] < rss_target_kib )) || rss_verdict=FAIL
    [ "$target" = info ] || target="<=$target"
    rows+=("$(printf '%-6s %-16s %-20s %10s %7.3f %7.3f %6s %6s %6s  %-7s %6.1f  %-4s' \
        "$medium" "$3" "$4" "$chunk" "$ours_best" "$theirs_best" "$best_ratio" "$target" \
        "$median_ratio" "$verdict" "$(awk -v k="${rss[$ours]}" 'BEGIN { print k / 1024 }')" \
        "$rss_verdict")")
    [ "$verdict" != FAIL ] || failures=$((failures + 1))
    # Each of Tessel's runs counts once against the memory target, however many rows show it.
    if [ "$rss_verdict" = FAIL ] && [[ " $rss_failed " != *" $medium/$chunk/$ours "* ]]; then
        rss_failed+=" $medium/$chunk/$ours"
        failures=$((failures + 1))
    fi
}

record_chunk() {
    record tessel_split gnu_split split "split -b" split-bare
    record tessel_split gnu_split_sha256sum split "split; sha256sum" split-gnu-way
    record tessel_join gnu_cat join cat join-bare
    record tessel_join gnu_sha256sum_cat join "sha256sum -c; cat" join-gnu-way
    record tessel_join_unchecked gnu_cat "join, no .sha256" cat join-unchecked
    # The in-memory times, for the comparison with the hashing floor.
    # shellcheck disable=SC2086  # the recorded times are words
    [ "$medium" != memory ] ||
        floor_rows+=("$chunk $(best_of ${times[tessel_split]}) $(best_of ${times[tessel_join]})")
}

# Measures every comparison at every chunk size given, on medium $1 in folder $2.
measure_medium() {
    medium=$1 work=$2 input=$2/data.bin
    shift 2
    local run side
    for chunk in "$@"; do
        for side in "${split_sides[@]}" "${join_sides[@]}"; do times[$side]="" rss[$side]=0; done
        echo "  $medium: splits at $chunk bytes"
        for ((run = 0; run <= runs; run++)); do split_round "$chunk" "$run"; done

        echo "  $medium: joins of pieces of $chunk bytes"
        tessel split "$input" "$work/pieces" "$chunk"
        mapfile -t piece_files < <(piece_list "$work/pieces/data.bin" \
            "$(pieces_needed "$chunk" "$data_bytes")")
        rm -f "$work/pieces/data.bin"
        settle
        for ((run = 0; run <= runs; run++)); do join_round "$work/pieces" "$run"; done
        rm -rf "$work/pieces"
        settle
        record_chunk
    done
}

# Sets hash_speed to the bytes per second OpenSSL's SHA-256 hashes on one core (the best of
# $runs), and sha256sum_speed to coreutils sha256sum's on the in-memory input; 0 when unknown.
measure_hash_speeds() {
    local i speed start
    hash_speed=0 sha256sum_speed=0
    command -v openssl >/dev/null || { echo "  openssl is not installed: no floor"; return 0; }
    for ((i = 0; i < runs; i++)); do
        speed=$(openssl speed -evp sha256 -bytes 1048576 -seconds 1 2>/dev/null |
            awk '$1 == "sha256" { sub(/k$/, "", $2); printf "%.0f", $2 * 1000 }')
        (( ${speed:-0} <= hash_speed )) || hash_speed=$speed
    done
    for ((i = 0; i < runs; i++)); do
        timed sha256sum -- "${folder[memory]}/data.bin" >/dev/null
        speed=$(awk -v b="$data_bytes" -v t="$last_time" 'BEGIN { printf "%.0f", b / t }')
        (( speed <= sha256sum_speed )) || sha256sum_speed=$speed
    done
}

print_table() {
    stage "Results (best of $runs runs, in seconds; peak RSS in MiB)"
    printf '%-6s %-16s %-20s %10s %7s %7s %6s %6s %6s  %-7s %6s  %-4s\n' medium tessel \
        "against" chunk tessel other ratio target median verdict RSS "<16M"
    printf '%s\n' "${rows[@]}"
    cat <<EOF

Each row times one of Tessel's operations against another way to the same end:
  split            / split -b           GNU split alone: the same pieces, no checksum file.
  split            / split; sha256sum   the GNU way of the same output: split -b, then
                                        sha256sum of the pieces into a checksum file.
  join             / cat                cat of the pieces into one file, nothing checked.
  join             / sha256sum -c; cat  the GNU way of a checked join: sha256sum --quiet -c
                                        of the checksum file, then cat.
  join, no .sha256 / cat                Tessel joining the same set after its checksum file
                                        was removed, so nothing is checked, against cat.
Media: memory = /dev/shm; disk = ext4 under the build folder; xfs (reflink=1) and btrfs = loop
images on that disk. Off memory every GNU side ends with 'sync' of the files it wrote; Tessel
flushes for itself (the split each piece, then its checksum file once; the join once at its end).
ratio = Tessel's best time / the other side's best time (the target is checked on it);
median = the same ratio of the median times, for judging noise.
Targets (ratio at most):
  ${gnu_way_target}  split and join against the GNU way, on every medium;
  ${disk_target}  split and join against bare split and cat + sync, on the disk;
  ${shared_extents_target}  split against bare split + sync, on xfs and btrfs;
  ${unchecked_join_target}  the join without a checksum file against cat, on every medium;
and Tessel's peak RSS under $((rss_target_kib / 1024)) MiB everywhere.
info = no target: in memory a checked copy is bound by hashing (see the floor below); on xfs
and btrfs cat shares the pieces' extents and reads no byte, while a checked join reads and
hashes every one, so there the join's targets are the GNU way and, without a checksum file,
cat itself.
EOF
}

# How near the in-memory checked split and join came to the floor that hashing sets on two
# cores: with one core copying and the other hashing, neither can take less than the input's
# size over the hashing speed of one core.
print_floor() {
    local row floor chunk split_time join_time
    [ ${#floor_rows[@]} -gt 0 ] || return 0
    stage "Two-core hashing floor in memory"
    if (( hash_speed == 0 )); then echo "OpenSSL's hashing speed is unknown: no floor."; return 0; fi
    floor=$(awk -v b="$data_bytes" -v s="$hash_speed" 'BEGIN { printf "%.4f", b / s }')
    printf 'OpenSSL SHA-256 on one core: %.0f MB/s (openssl speed -evp sha256, 1 MiB blocks, best of %s)\n' \
        "$(awk -v s="$hash_speed" 'BEGIN { print s / 1e6 }')" "$runs"
    printf 'coreutils sha256sum of the file in /dev/shm: %.0f MB/s (best of %s)\n' \
        "$(awk -v s="$sha256sum_speed" 'BEGIN { print s / 1e6 }')" "$runs"
    printf 'floor = %s bytes / %s bytes/s = %.3f s\n' "$data_bytes" "$hash_speed" "$floor"
    printf '%10s %8s %8s %8s %8s\n' chunk split "x floor" join "x floor"
    for row in "${floor_rows[@]}"; do
        read -r chunk split_time join_time <<<"$row"
        printf '%10s %8.3f %8.2f %8.3f %8.2f\n' "$chunk" "$split_time" \
            "$(ratio "$split_time" "$floor")" "$join_time" "$(ratio "$join_time" "$floor")"
    done
}

# What starting each program costs, since every timing above starts one: tessel_bench loads
# libcrypto and the C++ runtime, cat only the C library. Where a join shares extents and takes
# a few hundredths of a second, this is most of it.
print_start_costs() {
    local i tessel_times="" cat_times=""
    for ((i = 0; i < 10; i++)); do
        timed tessel_start
        tessel_times+=" $last_time"
        timed cat </dev/null
        cat_times+=" $last_time"
    done
    # shellcheck disable=SC2086  # the recorded times are words
    printf '\nStarting a program (best of 10): tessel_bench %.1f ms, cat %.1f ms.\n' \
        "$(awk -v t="$(best_of $tessel_times)" 'BEGIN { print t * 1000 }')" \
        "$(awk -v t="$(best_of $cat_times)" 'BEGIN { print t * 1000 }')"
}
# tessel_bench without arguments only prints its usage.
tessel_start() { "$tessel_bin" 2>/dev/null || true; }

run_copy_experiment() {
    stage "Copy strategies (bench/copy_experiment; seconds, best and median of $runs)"
    local name dir chunk
    for name in memory disk; do
        [ -n "${folder[$name]:-}" ] || continue
        for chunk in "${chunks[@]}"; do
            dir=$(mktemp -d "${folder[$name]}/copy.XXXXXX")
            "$build/bench/copy_experiment" "${folder[$name]}/data.bin" "$dir" "$chunk" "$runs"
            rm -rf "$dir"
        done
    done
}

# Makes, mounts and records a loop image of file system $1 under the work folder; says why and
# fails where it cannot.
mount_image() {
    local fs=$1 image=$scratch/$1.img mountpoint=$scratch/$1 device
    if (( EUID != 0 )); then echo "  $fs: skipped: loop images need root"; return 1; fi
    if ! command -v "mkfs.$fs" >/dev/null; then
        echo "  $fs: skipped: mkfs.$fs is not installed"
        return 1
    fi
    fallocate -l "${image_mib}M" "$image" 2>/dev/null || truncate -s "${image_mib}M" "$image"
    case $fs in
        xfs) mkfs.xfs -q -K -m reflink=1 "$image" >/dev/null 2>&1 ;;
        btrfs) mkfs.btrfs -q -K "$image" >/dev/null 2>&1 ;;
    esac || { echo "  $fs: skipped: mkfs.$fs failed"; return 1; }
    if ! device=$(losetup --find --show --direct-io=on "$image" 2>/dev/null); then
        echo "  $fs: skipped: no loop device could be set up"
        return 1
    fi
    loop_devices+=("$device")
    mkdir "$mountpoint"
    if ! mount "$device" "$mountpoint" 2>/dev/null; then
        echo "  $fs: skipped: $device could not be mounted"
        return 1
    fi
    mounted+=("$mountpoint")
    folder[$fs]=$mountpoint/work
}

# Makes the folder of every medium to be measured, each with its copy of the input.
prepare_media() {
    local name
    folder[memory]=$tmp_shm/memory
    mkdir "${folder[memory]}"
    head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"${folder[memory]}/data.bin"
    data_bytes=$(stat -c %s "${folder[memory]}/data.bin")
    for name in "${media[@]}"; do
        case $name in
            memory) ;;
            disk) folder[disk]=$scratch/disk ;;
            xfs | btrfs) mount_image "$name" || continue ;;
            *) echo "  $name: skipped: not a medium this bench knows" ;;
        esac
        if [ -z "${folder[$name]:-}" ] || [ "$name" = memory ]; then continue; fi
        mkdir "${folder[$name]}"
        cp "${folder[memory]}/data.bin" "${folder[$name]}/data.bin"
        sync -f "${folder[$name]}"
        cat "${folder[$name]}/data.bin" >/dev/null  # both sides read the input from the page cache
    done
}

cleanup() {
    set +e
    local point device
    for point in "${mounted[@]}"; do umount "$point" 2>/dev/null || umount -l "$point"; done
    for device in "${loop_devices[@]}"; do losetup -d "$device" 2>/dev/null; done
    rm -rf --one-file-system "${tmp_shm:-}" "${scratch:-}"
}

main() {
    stage "Build ($build)"
    build_tools
    install_bench_extras
    declare -gA folder=() times=() rss=()
    mounted=() loop_devices=() rows=() floor_rows=() piece_files=() failures=0 rss_failed=""
    tmp_shm=$(mktemp -d /dev/shm/tessel-bench.XXXXXX)
    scratch=$(mktemp -d "$build/bench-work.XXXXXX")
    stderr_file=$tmp_shm/stderr
    trap cleanup EXIT
    trap 'exit 130' INT TERM

    stage "Media and data: ${size_mib} MiB of random bytes, made once, copied to each medium"
    prepare_media
    stage "Machine"
    describe_machine

    stage "Measuring"
    # Every side runs at the same raised priority, when allowed, so that other work on a shared
    # machine disturbs the timings less.
    renice -n -10 -p $$ >/dev/null 2>&1 || true
    local started=$SECONDS name medium_started
    if [ -n "${folder[memory]:-}" ] && [[ " ${media[*]} " == *" memory "* ]]; then
        echo "  hashing speeds"
        measure_hash_speeds
    fi
    for name in "${media[@]}"; do
        [ -n "${folder[$name]:-}" ] || continue
        medium_started=$SECONDS
        if [ "$name" = memory ]; then
            measure_medium memory "${folder[memory]}" "${memory_chunks[@]}"
        else
            measure_medium "$name" "${folder[$name]}" "${chunks[@]}"
        fi
        echo "  $name took $((SECONDS - medium_started)) s"
    done
    echo "  measured in $((SECONDS - started)) s; load average now $(cut -d' ' -f1-3 /proc/loadavg)"
    print_table
    print_start_costs
    print_floor
    echo
    if (( failures == 0 )); then echo "All targets met."; else echo "$failures target(s) missed."; fi
    [ "$copy_experiment" = no ] || run_copy_experiment
    echo "bench.sh took $SECONDS s"
    exit 0
}

main
