#!/usr/bin/env bash
# Times Tessel's split and join on the same random file against GNU tools: bare split and cat,
# and the GNU way of the same checked outputs (split then sha256sum of the pieces; sha256sum -c
# then cat), plus a join of a set whose checksum file was removed against cat, and splits with
# recovery pieces and joins that rebuild one. It measures in memory (/dev/shm), on the machine's
# disk and, when run as root, on XFS (with reflink) and btrfs loop images. hyperfine does the
# timing (a warm-up, then the runs; min, median and max kept as JSON); this script makes the
# media and the data, says what to time, checks every byte Tessel wrote, and hands the results
# (kept in build-bench/bench-results) to scripts/bench_report.py, which prints them with each
# target and its verdict. This is a benchmark, not a test: it exits 0 whatever the figures are,
# and non-zero only when it cannot run or Tessel returns wrong bytes.
#
# Usage: bash scripts/bench.sh [--copy-experiment]
#   --copy-experiment  afterwards also compares copy strategies (buffer sizes, copy_file_range,
#                      ways of flushing) with bench/copy_experiment; adds several minutes.
# Environment: BENCH_RUNS (timed runs per measurement after one warm-up, default 3),
#              BENCH_SIZE_MIB (size of the test file, default 512),
#              BENCH_MEDIA (the media to measure, default "memory disk xfs btrfs"),
#              BENCH_TESSEL (another tessel_bench to time instead of the one built here, to
#              try a change of the engine against the same baseline).
# shellcheck disable=SC2016  # the commands hyperfine runs expand their variables in sh
# shellcheck disable=SC2317  # the exit trap is called by name
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
for setting in "BENCH_RUNS=$runs" "BENCH_SIZE_MIB=$size_mib"; do
    [[ $setting =~ =[1-9][0-9]*$ ]] ||
        { echo "${setting%%=*} must be a whole number from 1" >&2; exit 2; }
done

readonly memory_chunks=(1457644 104857600 1073741824) chunks=(1457644 104857600)
# The recovery rows: on these media, splits with these recovery counts against the same split
# without recovery pieces, and joins of a set with one recovery piece.
readonly recovery_media=(memory disk) recovery_counts=(0 1 4) rebuild_recovery=1
# The loop images: room for the input, one set of pieces and one joined file at once.
readonly image_mib=$(( size_mib * 5 > 1024 ? size_mib * 5 : 1024 ))
readonly python=/usr/bin/python3  # Debian's, for the report

stage() { printf '\n==== %s ====\n' "$*"; }
fault() { echo "FAULT: $*" >&2; exit 1; }

build_tools() {
    bash scripts/setup.sh
    cmake --preset bench >/dev/null  # builds in $build
    cmake --build --preset bench -j2
}

# What only the benchmark uses: hyperfine to time, Python to print the report, openssl for one
# core's hashing speed, and, as root (loop images need root anyway), mkfs for the XFS and btrfs
# images of the media asked for. Where a file system's tools cannot be had, its rows are skipped.
install_bench_tools() {
    local packages=(hyperfine python3 openssl) missing=() package sudo=""
    (( EUID == 0 )) || sudo=sudo
    if (( EUID == 0 )); then
        [[ " ${media[*]} " != *" xfs "* ]] || packages+=(xfsprogs)
        [[ " ${media[*]} " != *" btrfs "* ]] || packages+=(btrfs-progs)
    fi
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    if (( ${#missing[@]} > 0 )); then
        echo "Installing: ${missing[*]}"
        { $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q &&
            $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
                --no-install-recommends "${missing[@]}"; } >/dev/null ||
            echo "Could not install ${missing[*]}."
    fi
    command -v hyperfine >/dev/null || fault "the benchmark needs hyperfine"
    [ -x "$python" ] || fault "the benchmark needs Debian's python3"
}

describe_machine() {
    local name note
    echo "cores: $(nproc)"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')" \
        "($(sha_instructions && echo with || echo without) SHA instructions, the sha_ni flag)"
    echo "kernel: $(uname -r)"
    echo "memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
    echo "gnu: $(split --version | head -1), $(sha256sum --version | head -1)"
    command -v openssl >/dev/null && echo "openssl: $(openssl version)"
    echo "timing: $(hyperfine --version), 1 warm-up and $runs runs per measurement"
    for name in "${media[@]}"; do
        [ -n "${folder[$name]:-}" ] || continue
        note=""
        case $name in
            xfs | btrfs) note=", a ${image_mib} MiB loop image on the disk, direct I/O" ;;
        esac
        printf '%-7s %s (%s%s)\n' "$name:" "${folder[$name]}" \
            "$(findmnt -no FSTYPE,SOURCE -T "${folder[$name]}" | head -1 | tr -s ' ')" "$note"
    done
    echo "tessel: $tessel_bin"
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews timings)"
}

sha_instructions() { grep -qw sha_ni /proc/cpuinfo; }

pieces_needed() { echo $(( ($2 + $1 - 1) / $1 )); }

# The names of the pieces Tessel writes for data.bin, numbered 1 to $1, one per line.
piece_names() { local n; for ((n = 1; n <= $1; n++)); do echo "data.bin.$n.BRK"; done; }

# Fails the whole bench when the split in folder $1 at chunk $2 with $3 recovery pieces did not
# write the input cut at $2 bytes and that many recovery pieces, or when its checksum file does
# not list each of them with its right SHA-256.
check_split() {
    local out=$1 chunk=$2 recovery=$3 count
    count=$(pieces_needed "$chunk" "$data_bytes")
    [ "$(find "$out" -name 'data.bin.[0-9]*.BRK' | wc -l)" -eq "$count" ] ||
        fault "Tessel wrote the wrong number of pieces in $out"
    [ "$(find "$out" -name 'data.bin.R[0-9]*.BRK' | wc -l)" -eq "$recovery" ] ||
        fault "Tessel wrote the wrong number of recovery pieces in $out"
    (cd "$out" && piece_names "$count" | xargs cat) | cmp -s - "$input" ||
        fault "Tessel's pieces in $out do not rebuild the input"
    [ "$(grep -vc '^#' "$out/data.bin.sha256")" -eq $((count + recovery)) ] ||
        fault "Tessel's checksum file in $out does not list every piece"
    (cd "$out" && sha256sum --strict --quiet -c data.bin.sha256) ||
        fault "sha256sum -c rejects Tessel's checksum file in $out"
}

# Fails the whole bench when Tessel's join into $1 differs from the input, or, when $2 is given,
# when a join timed did not take the path it was timed for: verified against the checksum file
# ($2 = yes) or not ($2 = no).
check_join() {
    cmp -s "$1" "$input" || fault "Tessel's join into $1 differs from the input"
    if [ -n "${2:-}" ] && [ "$(grep '^verified=' "$tessel_log" | sort -u)" != "verified=$2" ]; then
        fault "Tessel's join into $1 was not the one timed (expected verified=$2)"
    fi
    rm -f "$1"  # its room is needed by the next join on a loop image
}

# The commands hyperfine runs in sh find their files in these variables, so that no path needs
# quoting inside a command.
export bench_tessel=$tessel_bin bench_input bench_out bench_pieces bench_unchecked bench_lost
export bench_piece_names bench_log bench_work

# What each run starts with: off memory, deletions are committed before the clock starts.
settled() {
    if [ "$medium" = memory ]; then echo "$1"; else echo "$1 && sync -f \"\$bench_work\""; fi
}
# How a GNU side ends: off memory, it puts what it wrote on the medium, as Tessel does itself.
flushed() { if [ "$medium" = memory ]; then echo "$1"; else echo "$1 && sync -- $2"; fi; }

# Times side $1: hyperfine runs the sh command $2 before each run (the warm-up's included) and
# times the sh command $3. The results go to $results/$place/SIDE.json, and the highest peak
# memory tessel_bench reported, if any, to SIDE.rss beside it.
time_side() {
    local side=$1 prepare=$2 command=$3 out=$results/$place
    mkdir -p "$out"
    : >"$tessel_log"
    if ! hyperfine --style none --warmup 1 --runs "$runs" --prepare "$prepare" \
        --command-name "$side" --export-json "$out/$side.json" "$command" >"$hyperfine_log" 2>&1
    then
        cat "$hyperfine_log" "$tessel_log" >&2
        fault "$side could not be timed ($place)"
    fi
    ! grep -q '^peak_rss_kib=' "$tessel_log" ||
        sed -n 's/^peak_rss_kib=//p' "$tessel_log" | sort -n | tail -1 >"$out/$side.rss"
}

# Runs tessel_bench untimed with "$@", to make a set of pieces to time joins on.
tessel() {
    "$tessel_bin" "$@" 2>"$tessel_log" || fault "tessel_bench $* failed: $(cat "$tessel_log")"
}

readonly tessel_split='"$bench_tessel" split "$bench_input" "$bench_out"'
readonly tessel_join='"$bench_tessel" join'

# Every split of the input at chunk $1 into a fresh folder: Tessel's, GNU split's, and GNU
# split's followed by sha256sum of the pieces.
measure_splits() {
    local chunk=$1
    time_side tessel_split "$(settled 'rm -rf "$bench_out"')" \
        "$tessel_split $chunk 2>>\"\$bench_log\""
    check_split "$bench_out" "$chunk" 0
    local fresh='rm -rf "$bench_out" && mkdir "$bench_out"'
    time_side gnu_split "$(settled "$fresh")" \
        "$(flushed "split -b $chunk -- \"\$bench_input\" \"\$bench_out/data.bin.\"" \
            '"$bench_out"/data.bin.*')"
    time_side gnu_split_sha256sum "$(settled "$fresh")" \
        "$(flushed "split -b $chunk -- \"\$bench_input\" \"\$bench_out/data.bin.\" &&
            cd \"\$bench_out\" && sha256sum -- data.bin.* >data.bin.sha256" 'data.bin.*')"
    rm -rf "$bench_out"
}

# Every join of Tessel's pieces of the input at chunk $1: Tessel's checked join, Tessel's join
# of the same pieces without their checksum file (hard links in another folder), cat of the
# pieces, and sha256sum -c of the checksum file followed by cat.
measure_joins() {
    local chunk=$1
    tessel split "$input" "$bench_pieces" "$chunk"
    rm -f "$bench_pieces/data.bin"
    mkdir "$bench_unchecked"
    ln "$bench_pieces"/*.BRK "$bench_unchecked/"
    bench_piece_names=$(piece_names "$(pieces_needed "$chunk" "$data_bytes")" | tr '\n' ' ')
    sync -f "$work"
    time_side tessel_join "$(settled 'rm -f "$bench_pieces/data.bin"')" \
        "$tessel_join \"\$bench_pieces/data.bin\" 2>>\"\$bench_log\""
    check_join "$bench_pieces/data.bin" yes
    time_side tessel_join_unchecked "$(settled 'rm -f "$bench_unchecked/data.bin"')" \
        "$tessel_join \"\$bench_unchecked/data.bin\" 2>>\"\$bench_log\""
    check_join "$bench_unchecked/data.bin" no
    local fresh='rm -f "$bench_pieces/gnu.joined"'
    time_side gnu_cat "$(settled "$fresh")" \
        "$(flushed 'cd "$bench_pieces" && cat -- $bench_piece_names >gnu.joined' gnu.joined)"
    time_side gnu_sha256sum_cat "$(settled "$fresh")" \
        "$(flushed 'cd "$bench_pieces" && sha256sum --quiet --strict -c data.bin.sha256 &&
            cat -- $bench_piece_names >gnu.joined' gnu.joined)"
    rm -rf "$bench_pieces" "$bench_unchecked"
}

# Sets recovery to yes when tessel_bench split takes a recovery count, no when it refuses a
# fifth argument as wrong usage (exit status 2).
probe_recovery() {
    local probe=$tmp_shm/probe status=0
    head -c 4096 /dev/urandom >"$probe.bin"
    "$tessel_bin" split "$probe.bin" "$probe" 1024 1 2>"$tessel_log" || status=$?
    rm -rf "$probe" "$probe.bin"
    case $status in
        0) recovery=yes ;;
        2) recovery=no ;;
        *) fault "tessel_bench split with a recovery count failed: $(cat "$tessel_log")" ;;
    esac
}

# Splits of the input at chunk $1 with each recovery count, then joins of a set with recovery
# pieces: one of every piece, and one whose first piece was removed (hard links in another
# folder), which the join must rebuild.
measure_recovery() {
    local chunk=$1 count
    for count in "${recovery_counts[@]}"; do
        time_side "tessel_split_r$count" "$(settled 'rm -rf "$bench_out"')" \
            "$tessel_split $chunk $count 2>>\"\$bench_log\""
        check_split "$bench_out" "$chunk" "$count"
    done
    rm -rf "$bench_out"

    tessel split "$input" "$bench_pieces" "$chunk" "$rebuild_recovery"
    rm -f "$bench_pieces/data.bin"
    mkdir "$bench_lost"
    ln "$bench_pieces"/* "$bench_lost/"
    rm "$bench_lost/data.bin.1.BRK"
    sync -f "$work"
    time_side tessel_join_intact "$(settled 'rm -f "$bench_pieces/data.bin"')" \
        "$tessel_join \"\$bench_pieces/data.bin\" 2>>\"\$bench_log\""
    check_join "$bench_pieces/data.bin" yes
    time_side tessel_join_rebuild "$(settled 'rm -f "$bench_lost/data.bin"')" \
        "$tessel_join \"\$bench_lost/data.bin\" 2>>\"\$bench_log\""
    check_join "$bench_lost/data.bin"
    [ ! -e "$bench_lost/data.bin.1.BRK" ] || fault "Tessel's join wrote a piece it rebuilt"
    rm -rf "$bench_pieces" "$bench_lost"
}

# Measures every comparison at every chunk size given, on medium $1 in folder $2.
measure_medium() {
    medium=$1 work=$2
    shift 2
    input=$work/data.bin bench_input=$work/data.bin bench_work=$work
    bench_out=$work/out bench_pieces=$work/pieces
    bench_unchecked=$work/unchecked bench_lost=$work/lost
    for chunk in "$@"; do
        place=$medium/$chunk
        echo "  $medium: splits at $chunk bytes"
        measure_splits "$chunk"
        echo "  $medium: joins of pieces of $chunk bytes"
        measure_joins "$chunk"
        if [ "$recovery" = yes ] && [[ " ${recovery_media[*]} " == *" $medium "* ]] &&
            [[ " ${chunks[*]} " == *" $chunk "* ]]; then
            echo "  $medium: recovery pieces at $chunk bytes"
            measure_recovery "$chunk"
        fi
    done
}

# One core's time to hash the input in memory, by coreutils and by OpenSSL (whose libcrypto
# Tessel uses), for the all-core floor.
measure_hashing() {
    place=hash bench_input=${folder[memory]}/data.bin
    time_side sha256sum 'true' 'sha256sum -- "$bench_input" >/dev/null'
    if command -v openssl >/dev/null; then
        time_side openssl 'true' 'openssl dgst -sha256 "$bench_input" >/dev/null'
    fi
}

# What starting each program costs, since every timing starts one: tessel_bench loads libcrypto
# and the C++ runtime, cat only the C library. Without arguments tessel_bench only prints its
# usage (exit status 2, which is ignored here).
measure_start() {
    local out=$results/start
    mkdir -p "$out"
    hyperfine --style none -N -i --warmup 3 --runs 30 --export-json "$out/tessel_bench.json" \
        --command-name tessel_bench "'$tessel_bin'" >"$hyperfine_log" 2>&1 ||
        { cat "$hyperfine_log" >&2; fault "could not time tessel_bench's start"; }
    hyperfine --style none -N --warmup 3 --runs 30 --export-json "$out/cat.json" \
        --command-name cat 'cat /dev/null' >"$hyperfine_log" 2>&1 ||
        { cat "$hyperfine_log" >&2; fault "could not time cat's start"; }
}

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
        cat "${folder[$name]}/data.bin" >/dev/null  # every side reads the input from the page cache
    done
}

json_bool() { if "$@"; then echo true; else echo false; fi; }

# What the report needs besides the timings.
write_context() {
    local measured=() name
    for name in "${media[@]}"; do [ -z "${folder[$name]:-}" ] || measured+=("$name"); done
    cat >"$results/context.json" <<EOF
{"cores": $(nproc), "sha_instructions": $(json_bool sha_instructions),
 "runs": $runs, "data_bytes": $data_bytes, "recovery": $(json_bool [ "$recovery" = yes ]),
 "media": [$(printf '"%s",' "${measured[@]}" | sed 's/,$//')]}
EOF
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
    install_bench_tools
    declare -gA folder=()
    mounted=() loop_devices=() recovery=no
    tmp_shm=$(mktemp -d /dev/shm/tessel-bench.XXXXXX)
    scratch=$(mktemp -d "$build/bench-work.XXXXXX")
    results=$build/bench-results tessel_log=$tmp_shm/tessel.log hyperfine_log=$tmp_shm/hyperfine.log
    rm -rf "$results"
    mkdir "$results"
    bench_log=$tessel_log
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
    probe_recovery
    [ "$recovery" = yes ] || echo "  tessel_bench takes no recovery count: no recovery rows"
    echo "  start-up and hashing speed"
    measure_start
    measure_hashing
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
    write_context
    "$python" scripts/bench_report.py "$results"
    echo "hyperfine's JSON of every timing: $results (print the report again with" \
        "$python scripts/bench_report.py ${results#"$root/"})"
    [ "$copy_experiment" = no ] || run_copy_experiment
    echo "bench.sh took $SECONDS s"
    exit 0
}

main
